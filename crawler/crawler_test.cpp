#include "crawler/crawler.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <thread>

#include "config/settings_store.h"
#include "crawler/scan_scope.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/query_escape.h"
#include "engine/query/search_service.h"
#include "crawler/crawler_test_util.h"
#include "platform/text.h"

namespace lun {
namespace {

using namespace std::chrono_literals;

class CrawlerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.ok);
  }

  void Write(const std::string& path, const std::string& text, std::time_t mtime = 0) {
    MakeDirectories(DirName(path));
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, text), 0);
    if (mtime) {
      utimbuf times{mtime, mtime};
      ASSERT_EQ(utime(path.c_str(), &times), 0);
    }
  }

  std::vector<std::string> Paths(const std::string& query) {
    std::unique_ptr<Recordset> rs;
    EXPECT_EQ(search_->Search(query, &rs), kEngineOk) << query;
    std::vector<std::string> paths;
    if (!rs) return paths;
    const int column = rs->FindColumn(doc::kPath);
    for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
      paths.push_back(ToNarrow(rs->Value(column).AsString()));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  DocumentRecord Record(const std::string& path, double modified) {
    DocumentRecord r;
    r.name = BaseName(path);
    r.type = "txt";
    r.path = path;
    r.modified = modified;
    r.text = u"内容";
    return r;
  }

  DocumentStore store_;
  ScratchProject& scratch_ = store_.scratch;
  std::unique_ptr<SearchProject>& project_ = store_.project;
  std::unique_ptr<SearchService>& search_ = store_.search;
  std::unique_ptr<DocumentWriter>& writer_ = store_.writer;
  ScratchDir tree_;
};

TEST_F(CrawlerTest, OneRecordPerPathAndUnchangedFilesAreSkipped) {
  DataTable* docs = project_->FindTable(kDocumentTable);
  const std::string odd = "/home/u/my docs/[draft] (1)+a.txt";
  ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(odd, 100), false));
  ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(odd, 100), false));
  EXPECT_EQ(docs->live_count(), 1u) << "same modification time: unchanged";
  ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(odd, 200), false));
  EXPECT_EQ(docs->live_count(), 1u);
  EXPECT_EQ(docs->GetFieldValue(1, docs->FindField(doc::kHistory)->position).AsInteger(), 1);
  EXPECT_EQ(Paths("[文档]:完整路径=" + EscapeQueryText(odd)), std::vector<std::string>{odd});

  // Paths that differ only in case are two files here.
  ASSERT_TRUE(writer_->AddOrUpdateDocument(Record("/home/u/A.txt", 1), false));
  ASSERT_TRUE(writer_->AddOrUpdateDocument(Record("/home/u/a.txt", 2), false));
  EXPECT_EQ(docs->live_count(), 3u);
  writer_->RemoveDocuments("/home/u/a.txt");
  EXPECT_EQ(docs->live_count(), 2u);
  EXPECT_EQ(writer_->StatusText(), "待索引文件: 0，已索引文件: 2");

  // Fast-insert mode appends without looking.
  writer_->set_fast_insert(true);
  ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(odd, 200), false));
  EXPECT_EQ(docs->live_count(), 3u);
  ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(odd, 300), /*force=*/true));
  EXPECT_EQ(docs->live_count(), 2u) << "force checks even in fast-insert mode";
}

TEST_F(CrawlerTest, FullScanIndexesTheAdmittedFilesOfThePermittedRoots) {
  Write(tree_.File("docs/report.txt"), "季度报告 quarterly");
  Write(tree_.File("docs/deep/notes.log"), "meeting notes 会议");
  Write(tree_.File("docs/image.jpg"), "binary");
  Write(tree_.File("docs/.hidden/secret.txt"), "secret");
  Write(tree_.File("docs/skip/x.txt"), "forbidden");
  symlink(tree_.path().c_str(), tree_.File("docs/loop").c_str());

  SettingsStore& settings = scratch_.settings();
  settings.SetValue(kSearchSection, key::kPermittedPaths, "|" + tree_.File("docs") + "|");
  settings.SetValue(kSearchSection, key::kForbiddenPaths, "|" + tree_.File("docs/skip") + "|");
  settings.SetValue(kSearchSection, key::kDocumentTypes, "txt|jpg|directory");
  settings.SetValue(kSearchSection, key::kOtherTextTypes, "*.log;");
  ScanScope scope;
  scope.Load(settings, tree_.path(), {});

  std::vector<std::string> notices;
  std::mutex notices_mutex;
  CrawlerEnvironment env;
  env.project = project_.get();
  env.search = search_.get();
  env.settings = &settings;
  env.scope = &scope;
  env.writer = writer_.get();
  env.extract_text = [](const std::string& path) -> std::optional<std::u16string> {
    std::string text;
    if (ReadWholeFile(DefaultFileSystem(), path, &text) != 0) return std::nullopt;
    return ToWide(text);
  };
  env.service_extracts = [](const std::string& token) { return token == "|TXT|"; };
  env.notify = [&](const std::string& title, const std::string&) {
    std::lock_guard lock(notices_mutex);
    notices.push_back(title);
  };
  env.data_path = scratch_.home().path();
  writer_->set_fast_insert(true);
  Crawler crawler(env);
  crawler.first_pass = true;
  crawler.StartScan();
  crawler.StartIndexing();
  for (int i = 0; i < 3000; ++i) {
    std::lock_guard lock(notices_mutex);
    if (!notices.empty()) break;
    std::this_thread::sleep_for(10ms);
  }
  crawler.StopIndexing();
  crawler.StopScan();
  EXPECT_EQ(notices, std::vector<std::string>{"扫描完成"});
  EXPECT_EQ(settings.GetValue(kSearchSection, key::kFullScanDone), "TRUE");

  EXPECT_EQ(Paths("[文档]:文本内容=报告"), std::vector<std::string>{tree_.File("docs/report.txt")});
  EXPECT_EQ(Paths("[文档]:文本内容=会议"), std::vector<std::string>{tree_.File("docs/deep/notes.log")});
  EXPECT_EQ(Paths("[文档]:文件类型=jpg"), std::vector<std::string>{tree_.File("docs/image.jpg")});
  EXPECT_EQ(Paths("[文档]:文件类型=dir"), std::vector<std::string>{tree_.File("docs/deep")});
  EXPECT_EQ(Paths("[文档]:secret+forbidden"), std::vector<std::string>{});
  EXPECT_EQ(Paths("[文档]:分类=图像"), std::vector<std::string>{tree_.File("docs/image.jpg")});
  EXPECT_EQ(writer_->StatusText(), "待索引文件: 0，已索引文件: 4");
}

TEST_F(CrawlerTest, FileTimesAreLocalDates) {
  std::tm tm{};
  tm.tm_year = 2003 - 1900;
  tm.tm_mon = 0;
  tm.tm_mday = 31;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  EXPECT_DOUBLE_EQ(FileTimeToDate(mktime(&tm)), 37652.5);
}

}  // namespace
}  // namespace lun
