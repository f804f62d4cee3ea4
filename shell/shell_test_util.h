// Test helpers of the shell tests: a backend over a scratch project (real
// engine, real crawler object, its own settings file) that records what
// would have been opened on the desktop, and a scripted password prompter.
// Test code only.
#ifndef LUN_SHELL_SHELL_TEST_UTIL_H_
#define LUN_SHELL_SHELL_TEST_UTIL_H_

#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/index_operations.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/crawler.h"
#include "crawler/crawler_test_util.h"
#include "crawler/scan_scope.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"
#include "shell/countdown_box.h"
#include "shell/file_preview_window.h"
#include "shell/password_check.h"
#include "shell/shell_backend.h"

namespace lun {

class FakeBackend : public ShellBackend {
 public:
  FakeBackend() {
    // The crawler walks an empty folder of its own.
    store_.scratch.settings().SetValue(kSearchSection, key::kPermittedPaths,
                                       "|" + files_.path() + "|");
    scope_.Load(store_.scratch.settings(), files_.path(), {});
    CrawlerEnvironment env;
    env.project = store_.project.get();
    env.search = store_.search.get();
    env.settings = &store_.scratch.settings();
    env.scope = &scope_;
    env.writer = store_.writer.get();
    env.extract_text = [](const std::string&, std::u16string*) { return CrawlOutcome::kNoText; };
    env.service_extracts = [](const std::string&) { return false; };
    env.data_path = store_.scratch.home().path();
    crawler_ = std::make_unique<Crawler>(std::move(env));
  }

  IndexOperations& operations() override { return operations_; }
  SearchProject* project() { return store_.project.get(); }
  SearchService* search() { return store_.search.get(); }
  DocumentWriter* writer() { return store_.writer.get(); }
  Crawler* crawler() { return crawler_.get(); }
  std::string PageBaseUrl() override { return "http://127.0.0.1:8484/LUN/"; }
  std::string SessionCode() override { return "CODE"; }
  void Open(const std::string& target) override { opened.push_back(target); }
  bool SetAutostart(bool on) override {
    autostart.push_back(on);
    return true;
  }
  void Shutdown() override { ++shutdowns; }

  // Writes a document record for `path` with `text`.
  void AddDocument(const std::string& path, const std::string& text, uint32_t size = 0) {
    DocumentRecord record;
    record.name = BaseName(path);
    record.type = "txt";
    record.path = path;
    record.size = size;
    record.text = ToWide(text);
    record.modified = 1;
    (void)store_.writer->AddOrUpdateDocument(record, false);
  }

  const std::string& files() const { return files_.path(); }

  std::vector<std::string> opened;
  std::vector<bool> autostart;
  int shutdowns = 0;
  bool with_crawler = true;
  bool with_engine = true;

 private:
  ScratchDir files_;
  DocumentStore store_;
  ScanScope scope_;
  std::unique_ptr<Crawler> crawler_;
  IndexOperations operations_{[this] {
    IndexParts parts;
    parts.settings = &store_.scratch.settings();
    parts.project = store_.project.get();
    parts.search = with_engine ? store_.search.get() : nullptr;
    parts.writer = store_.writer.get();
    parts.crawler = with_crawler ? crawler_.get() : nullptr;
    parts.document_text = PreviewTextOf;
    return parts;
  }};
};

// Waits (at most 30 s) for a scan the crawler runs to end by itself.
inline void WaitForScanEnd(Crawler& crawler) {
  for (int i = 0; i < 3000 && crawler.scanning(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  crawler.StopScan();
}

// Answers the password dialogs from a script.
class ScriptedPrompter : public PasswordPrompter {
 public:
  PasswordReply AskPassword(const std::string& hint) override {
    hints.push_back(hint);
    return Next();
  }
  PasswordReply AskAnswer(const std::string& question) override {
    questions.push_back(question);
    return Next();
  }
  std::deque<PasswordReply> replies;
  std::vector<std::string> questions;
  std::vector<std::string> hints;
  int asked = 0;

 private:
  PasswordReply Next() {
    ++asked;
    if (replies.empty()) return {PasswordReply::kCancel, {}};
    PasswordReply reply = replies.front();
    replies.pop_front();
    return reply;
  }
};

// A scripted AskFunction: answers in turn (kTimedOut when none is left) and
// keeps what was asked.
struct ScriptedAsk {
  struct Question {
    QString caption;
    QString text;
    int milliseconds;
    BoxButtons buttons;
  };
  std::deque<int> answers;
  std::vector<Question> asked;

  AskFunction Function() {
    return [this](const QString& caption, const QString& text, int ms, BoxButtons buttons,
                  QMessageBox::Icon) {
      asked.push_back({caption, text, ms, buttons});
      if (answers.empty()) return static_cast<int>(kTimedOut);
      const int answer = answers.front();
      answers.pop_front();
      return answer;
    };
  }
};

}  // namespace lun

#endif  // LUN_SHELL_SHELL_TEST_UTIL_H_
