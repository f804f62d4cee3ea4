// Test helpers of the FTS and recordset object tests: a scratch project
// whose table "文档" holds a few documents, the FTS environment over it, and
// a runner that executes a small script with "FTS" and an "Out" object whose
// Write collects the values written. Test code only.
#ifndef LUN_PAGES_FTS_TEST_FIXTURE_H_
#define LUN_PAGES_FTS_TEST_FIXTURE_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "automation/member_table.h"
#include "config/settings_store.h"
#include "crawler/crawler_test_util.h"
#include "crawler/scan_scope.h"
#include "pages/fts_environment.h"
#include "pages/fts_object.h"
#include "pages/script/script_engine.h"
#include "platform/text.h"
#include "web/page_runner.h"

namespace lun {

// Out.Write v appends the text of v and ";". Like Response.Write it takes
// a string, so an object is written as its default value and Nothing is a
// type mismatch.
class ScriptOutput : public TableDispatch<ScriptOutput> {
 public:
  ScriptOutput() : TableDispatch(kTable) {}
  static const Table kTable;
  HResult Write(std::span<Variant> args, Variant*, ExcepInfo*) {
    written += ToNarrow(args[0].AsString()) + ";";
    return S_OK;
  }
  std::string written;
};

inline const ScriptOutput::Table ScriptOutput::kTable = {
    {{u"Write", 1, DISPATCH_METHOD, 1, 1, {VT_BSTR}, VT_EMPTY}, &ScriptOutput::Write},
};

// Records what a page asked to send instead of its output.
class RecordingResponder : public PageResponder {
 public:
  // Keeps the name and what the descriptor reads: the bytes a download
  // would send.
  bool SendFile(const std::string& path, int fd) override {
    files.push_back(path);
    std::string bytes;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
    contents.push_back(std::move(bytes));
    close(fd);
    return true;
  }
  void SendMemory(std::string_view extension, std::string_view bytes) override {
    memory_extension = std::string(extension);
    memory = std::string(bytes);
  }
  std::vector<std::string> files;
  std::vector<std::string> contents;
  std::string memory_extension;
  std::string memory;
};

struct ScriptRun {
  bool ok = false;
  std::string output;  // what Out.Write collected
  std::string error;   // the description of the error that stopped the script
};

inline ScriptRun RunWithFts(std::shared_ptr<Dispatch> fts, std::string_view script) {
  auto out = std::make_shared<ScriptOutput>();
  ScriptRun run;
  {
    ScriptEngine engine;
    EXPECT_TRUE(engine.AddNamedItem(u"FTS", std::move(fts), false));
    EXPECT_TRUE(engine.AddNamedItem(u"Out", out, false));
    run.ok = engine.Parse(ToWide(script)) && engine.Run();
    if (const ScriptErrorInfo* e = engine.last_error()) run.error = ToNarrow(e->description);
  }
  run.output = out->written;
  return run;
}

// A project with documents, and an FTS environment over it.
class FtsFixture : public testing::Test {
 protected:
  struct Doc {
    std::string name;
    std::string type;
    std::u16string text;
  };

  void SetUp() override { ASSERT_TRUE(store_.ok); }

  // Fifteen documents "doc<i>.<type>": "alpha" in 0-9, "beta" in 5-14; by
  // number modulo 3 a text file ("txt"), a web page ("htm") or an image
  // ("jpg").
  static std::vector<Doc> AlphaBetaDocuments() {
    std::vector<Doc> docs;
    static const char* const kTypes[] = {"txt", "htm", "jpg"};
    for (int i = 0; i < 15; ++i) {
      std::u16string text = u"第" + ToWide(std::to_string(i)) + u"篇";
      if (i < 10) text += u" alpha";
      if (i >= 5) text += u" beta";
      docs.push_back({"doc" + std::to_string(i) + "." + kTypes[i % 3], kTypes[i % 3], text});
    }
    return docs;
  }

  // Adds the documents (paths "/docs/<name>") and builds the category lists.
  void AddDocuments(const std::vector<Doc>& docs) {
    for (const Doc& d : docs) {
      DocumentRecord r;
      r.name = d.name;
      r.type = d.type;
      r.path = "/docs/" + d.name;
      r.modified = 40000;
      r.text = d.text;
      ASSERT_TRUE(store_.writer->AddOrUpdateDocument(r, false));
    }
    store_.writer->BuildCategoryLists();
  }

  // Indexes the file at `path` as the crawler would (its size and time,
  // with `text`) and permits `root` (empty: the file's folder) in the scope
  // that FTS checks opened files against.
  void IndexFile(const std::string& path, std::string root = {}, std::u16string text = {}) {
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
    DocumentRecord r;
    r.name = path.substr(path.find_last_of('/') + 1);
    r.type = "txt";
    r.path = path;
    r.size = static_cast<uint32_t>(st.st_size);
    r.modified = FileTimeToDate(st.st_mtime);
    r.text = std::move(text);
    ASSERT_TRUE(store_.writer->AddOrUpdateDocument(r, false));
    std::vector<std::string> roots = scope_.PermittedRoots();
    roots.push_back(root.empty() ? path.substr(0, path.find_last_of('/')) : root);
    scope_.SetPermittedRoots(roots);
    env().scope = &scope_;
  }

  FtsEnvironment& env() {
    env_.project = store_.project.get();
    env_.search = store_.search.get();
    env_.settings = &store_.scratch.settings();
    env_.documents = store_.writer.get();
    return env_;
  }

  std::shared_ptr<FtsObject> Fts(FtsPage page = {}) {
    return std::make_shared<FtsObject>(env(), std::move(page));
  }

  ScriptRun Run(std::string_view script, FtsPage page = {}) {
    return RunWithFts(Fts(std::move(page)), script);
  }

  SettingsStore& settings() { return store_.scratch.settings(); }

  DocumentStore store_;
  FtsEnvironment env_;
  ScanScope scope_;
};

}  // namespace lun

#endif  // LUN_PAGES_FTS_TEST_FIXTURE_H_
