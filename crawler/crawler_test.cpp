#include "crawler/crawler.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "config/settings_store.h"
#include "crawler/crawler_test_util.h"
#include "crawler/extract/extract_test_util.h"
#include "crawler/extract/pst_test_writer.h"
#include "crawler/reconciler.h"
#include "crawler/scan_scope.h"
#include "engine/index/field_generations.h"
#include "engine/index/indexing_pace.h"
#include "engine/query/index_term_source.h"
#include "engine/query/query_escape.h"
#include "engine/query/search_service.h"
#include "platform/text.h"

namespace lun {
namespace {

using namespace std::chrono_literals;

class CrawlerTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store_.ok); }

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

  // The settings and scope of a crawl of `root` with these document types.
  void Configure(const std::string& root, const std::string& document_types,
                 const std::string& other_text = "") {
    SettingsStore& settings = scratch_.settings();
    settings.SetValue(kSearchSection, key::kPermittedPaths, "|" + root + "|");
    settings.SetValue(kSearchSection, key::kDocumentTypes, document_types);
    settings.SetValue(kSearchSection, key::kOtherTextTypes, other_text);
    scope_.Load(settings, root, {});
  }

  // A crawler environment whose service reads the file as it is.
  CrawlerEnvironment Env() {
    CrawlerEnvironment env;
    env.project = project_.get();
    env.search = search_.get();
    env.settings = &scratch_.settings();
    env.scope = &scope_;
    env.writer = writer_.get();
    env.extract_text = [](const std::string& path, std::u16string* text) {
      std::string bytes;
      if (ReadWholeFile(DefaultFileSystem(), path, &bytes) != 0) return CrawlOutcome::kNoText;
      *text = ToWide(bytes);
      return CrawlOutcome::kText;
    };
    env.service_extracts = [](const std::string& token) { return token == "|TXT|"; };
    env.data_path = scratch_.home().path();
    return env;
  }

  // Runs the threads until the walk has ended and the queue is empty.
  void CrawlToTheEnd(Crawler& crawler) {
    crawler.StartIndexing();
    for (int i = 0; i < 3000; ++i) {
      const DataTable* queue = project_->FindTable(kQueueTable);
      if (!crawler.scanning() && (!queue || queue->live_count() == 0)) break;
      std::this_thread::sleep_for(10ms);
    }
    crawler.StopIndexing();  // finishes the entry in hand
  }

  std::u16string TextOf(const std::string& path) {
    std::unique_ptr<Recordset> rs;
    EXPECT_EQ(search_->Search("[文档]:完整路径=" + EscapeQueryText(path), &rs), kEngineOk);
    if (!rs) return u"(no result)";
    rs->MoveFirst();
    if (rs->IsEOF()) return u"(no record)";
    return std::u16string(rs->Value(rs->FindColumn(doc::kText)).AsString());
  }

  // The full paths of the live document records, sorted.
  std::vector<std::string> LivePaths() {
    const DataTable* docs = project_->FindTable(kDocumentTable);
    const int column = docs->FindField(doc::kPath)->position;
    std::vector<std::string> paths;
    for (uint32_t r = 0; r < docs->record_count(); ++r) {
      if (!docs->IsDeleted(r)) paths.push_back(ToNarrow(docs->GetFieldValue(r, column).AsString()));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  // One reconciliation pass over every root with real-time deletion on;
  // what it queues is not indexed.
  bool ReconcileDeletingGoneFiles() {
    ReconcileHooks hooks;
    hooks.queue = [](const std::string&, bool) { return true; };
    hooks.realtime_delete = [] { return true; };
    Reconciler reconciler(scope_, *writer_, hooks);
    std::atomic<bool> stop{false};
    return reconciler.Run(ReconcileRequest{.everything = true, .trees = {}, .prune = false}, stop);
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
  ScanScope scope_;
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
  // The change monitor wrote a file before the walk reached it: the walk's
  // write finds that record instead of appending a second one.
  const std::string early = "/home/u/changed early.txt";
  ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(early, 400), /*force=*/true));
  ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(early, 400), false));
  EXPECT_EQ(docs->live_count(), 3u);
}

// Every path check reads the exact-value index: a path is found again
// whatever its length and whichever characters of the query language it
// holds, and never gets a second record.
TEST_F(CrawlerTest, ThePathCheckFindsEveryPathExactly) {
  std::string long_path = "/home/u";
  while (long_path.size() < 3000)
    long_path += "/目录 with blanks " + std::to_string(long_path.size());
  std::vector<std::string> paths = {long_path + "/end.txt"};
  for (const char c : std::string(" *+-()<>=[]{}:?%\"'&|!^~,;#@$")) {
    paths.push_back(std::string("/home/u/a") + c + "b.txt");
  }
  paths.push_back("/home/u/name %0x0020% literal.txt");
  paths.push_back("/home/u/[完整路径=x].txt");
  DataTable* docs = project_->FindTable(kDocumentTable);
  for (const std::string& path : paths) {
    SCOPED_TRACE(path.substr(0, 80));
    const uint32_t before = docs->live_count();
    ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(path, 100), false));
    ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(path, 100), false));
    EXPECT_EQ(docs->live_count(), before + 1) << "unchanged: one record";
    ASSERT_TRUE(writer_->AddOrUpdateDocument(Record(path, 200), false));
    EXPECT_EQ(docs->live_count(), before + 1) << "changed: replaced";
    EXPECT_EQ(writer_->FindPath(path).size(), 1u);
  }
  // A prefix or a normalised twin of a path is another path.
  EXPECT_TRUE(writer_->FindPath(long_path).empty());
  EXPECT_TRUE(writer_->FindPath("/home/u/A b.txt").empty());
  for (const std::string& path : paths) writer_->RemoveDocuments(path);
  EXPECT_EQ(docs->live_count(), 0u);
}

// Reconciliation compares by stat alone: only what changed is queued, gone
// files follow the deletion rule, renamed ones leave no old record, and
// records out of scope go.
TEST_F(CrawlerTest, ReconciliationQueuesWhatChangedAndRemovesWhatLeft) {
  const std::string root = tree_.path();
  Configure(root, "txt");
  for (const char* name :
       {"same.txt", "changed.txt", "gone.txt", "moved.txt", "hidden/x.txt", "sub/kept.txt"}) {
    Write(tree_.File(name), name, 1000000);
  }
  Crawler crawler(Env());
  for (const char* name :
       {"same.txt", "changed.txt", "gone.txt", "moved.txt", "hidden/x.txt", "sub/kept.txt"}) {
    crawler.IndexFile(tree_.File(name), true);
  }
  // What happens while lun is not running.
  Write(tree_.File("changed.txt"), "changed, longer now", 1000000);  // same time, new size
  Write(tree_.File("new.txt"), "new");
  ASSERT_EQ(unlink(tree_.File("gone.txt").c_str()), 0);
  ASSERT_EQ(rename(tree_.File("moved.txt").c_str(), tree_.File("sub/renamed.txt").c_str()), 0);
  scratch_.settings().SetValue(kSearchSection, key::kForbiddenPaths,
                               "|" + tree_.File("hidden") + "|");
  scope_.Load(scratch_.settings(), root, {});

  std::vector<std::string> queued;
  for (const bool realtime_delete : {false, true}) {
    queued.clear();
    ReconcileHooks hooks;
    hooks.queue = [&](const std::string& path, bool) {
      queued.push_back(path);
      return true;
    };
    hooks.realtime_delete = [realtime_delete] { return realtime_delete; };
    Reconciler reconciler(scope_, *writer_, hooks);
    std::atomic<bool> stop{false};
    ASSERT_TRUE(
        reconciler.Run(ReconcileRequest{.everything = true, .trees = {}, .prune = false}, stop));
    std::sort(queued.begin(), queued.end());
    EXPECT_EQ(queued, (std::vector<std::string>{tree_.File("changed.txt"), tree_.File("new.txt"),
                                                tree_.File("sub/renamed.txt")}));
    std::vector<std::string> expected = {tree_.File("changed.txt"), tree_.File("same.txt"),
                                         tree_.File("sub/kept.txt")};
    if (!realtime_delete) expected.insert(expected.begin() + 1, tree_.File("gone.txt"));
    EXPECT_EQ(LivePaths(), expected) << "realtime_delete " << realtime_delete;
  }
  // A stopped pass removes nothing.
  ReconcileHooks hooks;
  hooks.queue = [](const std::string&, bool) { return true; };
  Reconciler reconciler(scope_, *writer_, hooks);
  std::atomic<bool> stop{true};
  EXPECT_FALSE(
      reconciler.Run(ReconcileRequest{.everything = true, .trees = {}, .prune = false}, stop));
}

// Files of no admitted type are indexed as text when their content is text
// and the detector is on; binary ones are not.
TEST_F(CrawlerTest, UnknownTypesAreAdmittedByTheirContent) {
  Write(tree_.File("README"), "安装说明 install notes");
  Write(tree_.File("notes.weird"), "weird extension, plain words");
  Write(tree_.File("blob"), std::string("\x7F"
                                        "ELF\0\0binary",
                                        11));
  Configure(tree_.path(), "txt");
  for (const bool on : {false, true}) {
    CrawlerEnvironment env = Env();
    env.detects_text = [on] { return on; };
    scratch_.settings().SetValue(kSearchSection, key::kFullScanDone, "FALSE");
    Crawler crawler(env);
    crawler.StartScan();
    CrawlToTheEnd(crawler);
    if (!on) {
      EXPECT_TRUE(LivePaths().empty());
      continue;
    }
    EXPECT_EQ(LivePaths(),
              (std::vector<std::string>{tree_.File("README"), tree_.File("notes.weird")}));
    EXPECT_EQ(Paths("[文档]:文本内容=安装说明"), std::vector<std::string>{tree_.File("README")});
    EXPECT_EQ(Paths("[文档]:分类=其它"), LivePaths());
  }
}

TEST_F(CrawlerTest, FullScanIndexesTheAdmittedFilesOfThePermittedRoots) {
  Write(tree_.File("docs/report.txt"), "季度报告 quarterly");
  Write(tree_.File("docs/deep/notes.log"), "meeting notes 会议");
  Write(tree_.File("docs/image.jpg"), "binary");
  Write(tree_.File("docs/.hidden/secret.txt"), "secret");
  Write(tree_.File("docs/skip/x.txt"), "forbidden");
  symlink(tree_.path().c_str(), tree_.File("docs/loop").c_str());

  SettingsStore& settings = scratch_.settings();
  settings.SetValue(kSearchSection, key::kForbiddenPaths, "|" + tree_.File("docs/skip") + "|");
  Configure(tree_.File("docs"), "txt|jpg|directory", "*.log;");

  std::vector<std::string> notices;
  std::mutex notices_mutex;
  CrawlerEnvironment env = Env();
  env.notify = [&](const std::string& title, const std::string&) {
    std::lock_guard lock(notices_mutex);
    notices.push_back(title);
  };
  std::atomic<int> mail_passes{0};
  env.index_mail = [&] { ++mail_passes; };
  writer_->set_fast_insert(true);
  Crawler crawler(env);
  crawler.set_first_pass(true);
  crawler.StartScan();
  crawler.StartIndexing();
  for (int i = 0; i < 3000; ++i) {
    std::lock_guard lock(notices_mutex);
    if (!notices.empty()) break;
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(crawler.first_index()) << "the first indexing is over: the mail passes may run";
  crawler.StopIndexing();
  crawler.StopScan();
  EXPECT_EQ(notices, std::vector<std::string>{"扫描完成"});
  EXPECT_EQ(settings.GetValue(kSearchSection, key::kFullScanDone), "TRUE");
  EXPECT_EQ(mail_passes, 1) << "the scan reads the mail stores once, after the walk";

  EXPECT_EQ(Paths("[文档]:文本内容=报告"), std::vector<std::string>{tree_.File("docs/report.txt")});
  EXPECT_EQ(Paths("[文档]:文本内容=会议"),
            std::vector<std::string>{tree_.File("docs/deep/notes.log")});
  EXPECT_EQ(Paths("[文档]:文件类型=jpg"), std::vector<std::string>{tree_.File("docs/image.jpg")});
  EXPECT_EQ(Paths("[文档]:文件类型=dir"), std::vector<std::string>{tree_.File("docs/deep")});
  EXPECT_EQ(Paths("[文档]:secret+forbidden"), std::vector<std::string>{});
  EXPECT_EQ(Paths("[文档]:分类=图像"), std::vector<std::string>{tree_.File("docs/image.jpg")});
  EXPECT_EQ(writer_->StatusText(), "待索引文件: 0，已索引文件: 4");
}

TEST_F(CrawlerTest, ReindexKeepsOrEmptiesTheTablesAndWalksAgain) {
  Write(tree_.File("docs/a.txt"), "甲文件");
  Write(tree_.File("docs/sub/b.txt"), "乙文件");
  Configure(tree_.File("docs"), "txt");
  SettingsStore& settings = scratch_.settings();
  DataTable* docs = project_->FindTable(kDocumentTable);
  writer_->set_fast_insert(true);
  Crawler crawler(Env());
  crawler.set_first_pass(true);
  crawler.StartScan();
  CrawlToTheEnd(crawler);
  ASSERT_EQ(docs->live_count(), 2u);
  EXPECT_FALSE(crawler.first_index()) << "cleared when the index thread ends";

  // Keeping the index: the walk runs again although the last one finished
  // (the changed file is found), and every file is checked against its
  // record: an unchanged file keeps its one record, a changed one is
  // replaced.
  Write(tree_.File("docs/a.txt"), "甲文件 新版", time(nullptr) + 100);
  crawler.StartIndexing();
  ASSERT_TRUE(crawler.Reindex(/*keep_index=*/true));
  EXPECT_FALSE(writer_->fast_insert());
  CrawlToTheEnd(crawler);
  EXPECT_EQ(docs->live_count(), 2u);
  EXPECT_EQ(Paths("[文档]:文本内容=新版"), std::vector<std::string>{tree_.File("docs/a.txt")});
  EXPECT_EQ(settings.GetValue(kSearchSection, key::kFullScanDone), "TRUE");

  // Discarding it: the tables are emptied, the walk fills them again on the
  // fast path, and the category lists start over.
  Write(tree_.File("docs/sub/b.txt"), "乙文件 第二版", time(nullptr) + 200);
  crawler.StartIndexing();
  ASSERT_TRUE(crawler.Reindex(/*keep_index=*/false));
  EXPECT_FALSE(crawler.clearing());
  CrawlToTheEnd(crawler);
  EXPECT_EQ(docs->live_count(), 2u);
  EXPECT_EQ(Paths("[文档]:文本内容=第二版"),
            std::vector<std::string>{tree_.File("docs/sub/b.txt")});
  EXPECT_EQ(docs->GetFieldValue(docs->record_count() - 1, docs->FindField(doc::kHistory)->position)
                .AsInteger(),
            0);
  EXPECT_EQ(writer_->CategoryList(CategoryIndex("文档")).size(), 2u);
  EXPECT_EQ(settings.GetValue(kSearchSection, key::kFullScanDone), "TRUE");
}

TEST_F(CrawlerTest, AQueueRefilledBehindTheIndexThreadIsTakenWhole) {
  // The index thread has taken three entries; then a new walk empties the
  // queue and fills it past that position before the thread looks again.
  Configure(tree_.path(), "txt");
  Crawler crawler(Env());
  for (const char* name : {"a", "b", "c"}) {
    Write(tree_.File(std::string("old/") + name + ".txt"), "old");
    ASSERT_TRUE(crawler.Queue(tree_.File(std::string("old/") + name + ".txt"), false));
  }
  CrawlToTheEnd(crawler);
  DataTable* queue = project_->FindTable(kQueueTable);
  ASSERT_TRUE(queue->ClearTable().ok());
  std::vector<std::string> fresh;
  for (const char* name : {"1", "2", "3", "4", "5"}) {
    fresh.push_back(tree_.File(std::string("new/") + name + ".txt"));
    Write(fresh.back(), "fresh");
    ASSERT_TRUE(crawler.Queue(fresh.back(), false));
  }
  CrawlToTheEnd(crawler);
  EXPECT_EQ(queue->live_count(), 0u);
  EXPECT_EQ(Paths("[文档]:文本内容=fresh"), fresh);
}

TEST_F(CrawlerTest, AWalkStartsFromAnEmptyQueue) {
  // An interrupted walk left entries behind; the next walk queues its files
  // again, so none of the old entries may be left for the index thread
  // (in fast-insert mode it would write their files twice).
  Configure(tree_.File("docs"), "txt");
  Write(tree_.File("docs/a.txt"), "a");
  Crawler crawler(Env());
  const std::string stale = tree_.File("elsewhere/stale.txt");
  ASSERT_TRUE(crawler.Queue(stale, false));
  ASSERT_TRUE(crawler.Queue(tree_.File("docs/a.txt"), false));
  crawler.StartScan();
  // Emptied before the walk began: nothing the walk does can bring back the
  // entry outside the root.
  const DataTable* queue = project_->FindTable(kQueueTable);
  EXPECT_LE(queue->live_count(), 1u);
  writer_->set_fast_insert(true);
  CrawlToTheEnd(crawler);
  EXPECT_EQ(Paths("[文档]:文件类型=txt"), std::vector<std::string>{tree_.File("docs/a.txt")});
}

TEST_F(CrawlerTest, AFileThatBreaksTheServiceTwiceGetsItsRecordWithoutText) {
  const std::string poison = tree_.File("poison.txt");
  const std::string flaky = tree_.File("flaky.txt");
  const std::string plain = tree_.File("plain.txt");
  Write(poison, "毒");
  Write(flaky, "偶尔");
  Write(plain, "正常");
  Configure(tree_.path(), "txt");
  std::map<std::string, int> calls;
  CrawlerEnvironment env = Env();
  env.extract_text = [&](const std::string& path, std::u16string* text) {
    const int call = ++calls[path];
    // The service dies on the poison file every time, on the flaky one once.
    if (path == poison || (path == flaky && call == 1)) return CrawlOutcome::kServiceFailed;
    *text = path == flaky ? u"偶尔" : u"正常";
    return CrawlOutcome::kText;
  };
  Crawler crawler(env);
  crawler.IndexFile(poison, false);
  crawler.IndexFile(flaky, false);
  crawler.IndexFile(plain, false);
  EXPECT_EQ(calls[poison], 2);
  EXPECT_EQ(calls[flaky], 2) << "one failure is tried again";
  EXPECT_EQ(TextOf(poison), u"");
  EXPECT_EQ(Paths("[文档]:文件名称=poison"), std::vector<std::string>{poison});
  EXPECT_EQ(TextOf(flaky), u"偶尔");
  EXPECT_EQ(TextOf(plain), u"正常");

  // Not sent again in this scan, even when its change is indexed.
  Write(poison, "毒 2", time(nullptr) + 100);
  crawler.IndexFile(poison, true);
  EXPECT_EQ(calls[poison], 2);
  EXPECT_EQ(project_->FindTable(kDocumentTable)->live_count(), 3u);

  // A new scan gives it another chance when it changes.
  scratch_.settings().SetValue(kSearchSection, key::kFullScanDone, "TRUE");
  crawler.StartScan();
  crawler.StopScan();
  crawler.IndexFile(poison, true);
  EXPECT_EQ(calls[poison], 2) << "unchanged since its record: not read again";
  Write(poison, "毒 3", time(nullptr) + 200);
  crawler.IndexFile(poison, true);
  EXPECT_EQ(calls[poison], 4);
}

// A file deleted, or carried away by its folder's move, while it is read:
// the change monitor handled the change before the record existed, so the
// record written afterwards is taken back instead of naming a gone path.
TEST_F(CrawlerTest, AFileGoneWhileItIsReadLeavesNoRecord) {
  const std::string moved = tree_.File("a/moved.txt");
  const std::string deleted = tree_.File("a/deleted.txt");
  const std::string kept = tree_.File("kept.txt");
  Write(moved, "搬走");
  Write(deleted, "删掉");
  Write(kept, "留下");
  Configure(tree_.path(), "txt");
  CrawlerEnvironment env = Env();
  env.extract_text = [&](const std::string& path, std::u16string* text) {
    *text = u"正文";
    if (path == moved) {
      EXPECT_EQ(rename(tree_.File("a").c_str(), tree_.File("b").c_str()), 0);
      writer_->MoveTree(tree_.File("a"), tree_.File("b"));
    } else if (path == deleted) {
      EXPECT_EQ(unlink(path.c_str()), 0);
      writer_->RemoveDocuments(path);
    }
    return CrawlOutcome::kText;
  };
  Crawler crawler(env);
  crawler.IndexFile(deleted, true);
  crawler.IndexFile(moved, true);
  crawler.IndexFile(kept, true);
  EXPECT_EQ(LivePaths(), std::vector<std::string>{kept});
}

TEST_F(CrawlerTest, AFileMetWhileTheServiceIsDownWaitsInTheQueueForItsText) {
  const std::string path = tree_.File("report.txt");
  Write(path, "报告");
  Configure(tree_.path(), "txt");
  std::atomic<int> calls{0};
  CrawlerEnvironment env = Env();
  env.extract_text = [&](const std::string&, std::u16string* text) {
    if (++calls == 1) return CrawlOutcome::kServiceUnavailable;
    *text = u"报告";
    return CrawlOutcome::kText;
  };
  Crawler crawler(env);
  ASSERT_TRUE(crawler.Queue(path, false));
  CrawlToTheEnd(crawler);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(LivePaths(), std::vector<std::string>{path});
  EXPECT_EQ(TextOf(path), u"报告");

  // Outside the queue (the change monitor) the record is written without
  // text, as before: the file's next change brings it.
  calls = 0;
  Write(path, "报告 2", time(nullptr) + 100);
  crawler.IndexFile(path, true);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(TextOf(path), u"");
}

// What each answer of the crawl service makes of a file indexed outside the
// queue, and what IndexFile reports.
TEST_F(CrawlerTest, EachServiceOutcomeGivesItsRecordAndIndexOutcome) {
  const struct {
    CrawlOutcome service;
    IndexOutcome indexed;
    std::u16string text;
  } kCases[] = {
      {CrawlOutcome::kText, IndexOutcome::kWritten, u"文本"},
      {CrawlOutcome::kNoText, IndexOutcome::kWritten, u""},
      {CrawlOutcome::kServiceUntrusted, IndexOutcome::kWritten, u""},
      // Tried twice, then indexed by name and left out of this scan.
      {CrawlOutcome::kServiceFailed, IndexOutcome::kWritten, u""},
      {CrawlOutcome::kServiceUnavailable, IndexOutcome::kWrittenWithoutText, u""},
      {CrawlOutcome::kClosed, IndexOutcome::kWrittenWithoutText, u""},
  };
  Configure(tree_.path(), "txt");
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.service));
    const std::string path = tree_.File("f" + std::to_string(n++) + ".txt");
    Write(path, "文本");
    CrawlerEnvironment env = Env();
    env.extract_text = [&](const std::string&, std::u16string* text) {
      if (c.service == CrawlOutcome::kText) *text = u"文本";
      return c.service;
    };
    Crawler crawler(env);
    EXPECT_EQ(crawler.IndexFile(path, false), c.indexed);
    EXPECT_EQ(TextOf(path), c.text);
  }
}

TEST_F(CrawlerTest, IndexFileAndDirectorySayWhenThereIsNothingToWrite) {
  const std::string path = tree_.File("a.txt");
  Write(path, "甲");
  Write(tree_.File("b.bin"), "乙");
  Configure(tree_.path(), "txt");
  Crawler crawler(Env());
  EXPECT_EQ(crawler.IndexFile(path, true), IndexOutcome::kWritten);
  EXPECT_EQ(crawler.IndexFile(path, true), IndexOutcome::kNothingToWrite) << "record is current";
  EXPECT_EQ(crawler.IndexFile(tree_.File("b.bin"), true), IndexOutcome::kNothingToWrite)
      << "no admitted type";
  EXPECT_EQ(crawler.IndexFile(tree_.File("gone.txt"), true), IndexOutcome::kNothingToWrite);
  EXPECT_EQ(crawler.IndexDirectory(tree_.path()), IndexOutcome::kWritten);
  EXPECT_EQ(crawler.IndexDirectory(tree_.File("gone")), IndexOutcome::kNothingToWrite);
  EXPECT_EQ(crawler.IndexDirectory(path), IndexOutcome::kNothingToWrite) << "a file";
}

TEST_F(CrawlerTest, CompiledHelpBecomesOneRecordPerPage) {
  const std::string chm = tree_.File("help/manual.chm");
  Write(chm, MakeChm({{"/html/intro.htm", "<p>帮助 introduction</p>"},
                      {"/html/sub/Deep.HTML", "<p>深层 page</p>"},
                      {"/style.css", "p { color: red }"},
                      {"/logo.gif", "GIF89a"}}));
  const std::string key = "mk:@MSITStore:" + chm + "::";
  const std::vector<std::string> pages{key + "/html/intro.htm", key + "/html/sub/Deep.HTML"};
  Configure(tree_.path(), "txt|chm");
  Crawler crawler(Env());
  crawler.IndexFile(chm, false);
  EXPECT_EQ(LivePaths(), pages) << "no record of the file itself, its style sheet or image";
  EXPECT_EQ(Paths("[文档]:文本内容=深层"), std::vector<std::string>{pages[1]});
  EXPECT_EQ(Paths("[文档]:文件名称=deep"), std::vector<std::string>{pages[1]});
  EXPECT_EQ(Paths("[文档]:文件类型=chm"), pages);
  EXPECT_EQ(Paths("[文档]:分类=网页"), pages);

  // A changed help file indexed by the change monitor (force) replaces its
  // pages' records, fast-insert mode or not.
  writer_->set_fast_insert(true);
  Write(chm,
        MakeChm({{"/html/intro.htm", "<p>新的介绍</p>"}, {"/html/sub/Deep.HTML", "<p>深层</p>"}}),
        time(nullptr) + 100);
  crawler.IndexFile(chm, /*force=*/true);
  EXPECT_EQ(LivePaths(), pages);
  EXPECT_EQ(Paths("[文档]:文本内容=新的介绍"), std::vector<std::string>{pages[0]});

  // Without "|CHM|" among the document types a .chm is a file like others.
  ASSERT_TRUE(project_->FindTable(kDocumentTable)->ClearTable().ok());
  Configure(tree_.path(), "txt|filename");
  Crawler by_name(Env());
  by_name.IndexFile(chm, false);
  EXPECT_EQ(LivePaths(), std::vector<std::string>{chm});
}

TEST_F(CrawlerTest, ArchivesBecomeOneRecordPerMember) {
  const std::string zip = tree_.File("mail/bundle.zip");
  Write(zip, MakeArchive("zip", "",
                         {{"docs/报告.txt", "季度 figures"},
                          {"inner.tar.gz", MakeArchive("tar", "gzip", {{"n.txt", "内层"}})},
                          {"photo.jpg", "not text"}}));
  Configure(tree_.path(), "txt|zip|gz");
  CrawlerEnvironment env = Env();
  env.archive_reader = LUNCRAWL_PATH;
  Crawler crawler(env);
  crawler.IndexFile(zip, false);
  const std::vector<std::string> all{zip, zip + "::docs/报告.txt", zip + "::inner.tar.gz::n.txt"};
  EXPECT_EQ(LivePaths(), all) << "the archive, and the members whose type wants text";
  EXPECT_EQ(Paths("[文档]:文本内容=季度"), std::vector<std::string>{all[1]});
  EXPECT_EQ(Paths("[文档]:文本内容=内层"), std::vector<std::string>{all[2]});
  EXPECT_EQ(Paths("[文档]:文件名称=报告"), std::vector<std::string>{all[1]});
  // The archive's own record is found by its members' names.
  EXPECT_EQ(Paths("[文档]:文本内容=photo"), std::vector<std::string>{zip});

  // Without the archive's type among the document types it is not opened.
  ASSERT_TRUE(project_->FindTable(kDocumentTable)->ClearTable().ok());
  Configure(tree_.path(), "txt|filename");
  Crawler by_name(env);
  by_name.IndexFile(zip, false);
  EXPECT_EQ(LivePaths(), std::vector<std::string>{zip});
}

// Members follow their archive: a changed archive loses the records of the
// members it no longer holds, a deleted one (seen by the change monitor, by
// a reconciliation, or with its folder) all of them; a moved folder takes
// them along, and a reconciliation never takes a member for a lost file.
TEST_F(CrawlerTest, ArchiveMembersFollowTheirArchive) {
  const std::string zip = tree_.File("box/bundle.zip");
  auto members = [&](std::vector<std::string> inner) {
    std::vector<std::string> paths{zip};
    for (const std::string& m : inner) paths.push_back(zip + "::" + m);
    return paths;
  };
  Configure(tree_.path(), "txt|zip|gz");
  CrawlerEnvironment env = Env();
  env.archive_reader = LUNCRAWL_PATH;
  Crawler crawler(env);
  auto index = [&](const ZipEntries& entries, std::time_t mtime) {
    Write(zip, MakeArchive("zip", "", entries), mtime);
    crawler.IndexFile(zip, /*force=*/true);
  };
  index({{"a.txt", "alpha"},
         {"b.txt", "beta"},
         {"inner.tar.gz", MakeArchive("tar", "gzip", {{"n.txt", "nested"}})}},
        time(nullptr) - 100);
  ASSERT_EQ(LivePaths(), members({"a.txt", "b.txt", "inner.tar.gz::n.txt"}));
  index({{"a.txt", "alpha again"}, {"c.txt", "gamma"}}, time(nullptr));
  EXPECT_EQ(LivePaths(), members({"a.txt", "c.txt"}));
  EXPECT_EQ(Paths("[文档]:文本内容=again"), std::vector<std::string>{zip + "::a.txt"});
  EXPECT_TRUE(Paths("[文档]:文本内容=beta").empty());

  // A reconciliation finds nothing lost, even with real-time deletion on.
  ASSERT_TRUE(ReconcileDeletingGoneFiles());
  EXPECT_EQ(LivePaths(), members({"a.txt", "c.txt"}));

  // The folder moves: the members' keys follow.
  const std::string moved = tree_.File("moved/bundle.zip");
  std::filesystem::rename(tree_.File("box"), tree_.File("moved"));
  writer_->MoveTree(tree_.File("box"), tree_.File("moved"));
  EXPECT_EQ(LivePaths(), (std::vector<std::string>{moved, moved + "::a.txt", moved + "::c.txt"}));
  std::filesystem::rename(tree_.File("moved"), tree_.File("box"));
  writer_->MoveTree(tree_.File("moved"), tree_.File("box"));

  // Deleted: as the change monitor sees it, as a reconciliation finds it,
  // with its folder.
  writer_->RemoveDocuments(zip);
  EXPECT_TRUE(LivePaths().empty());
  index({{"a.txt", "alpha"}}, time(nullptr) + 100);
  std::filesystem::remove(zip);
  ASSERT_TRUE(ReconcileDeletingGoneFiles());
  EXPECT_TRUE(LivePaths().empty());
  index({{"a.txt", "alpha"}}, time(nullptr) + 200);
  writer_->RemoveTree(tree_.File("box"));
  EXPECT_TRUE(LivePaths().empty());
}

// An Outlook store is read like an archive, one mail record per message:
// a message the store no longer holds loses its record, a reconciliation
// never takes a message for a lost file, a damaged store gets its own
// record and a line among the files without text, and a deleted store
// takes its messages along.
TEST_F(CrawlerTest, OutlookStoresGiveOneMailRecordPerMessage) {
  const std::string pst = tree_.File("mail/backup.pst");
  const TestPstMessage first{"季度预算审批", "张三", "李四", "预算审批已经通过", "",
                             1700000000,     {},     0x10001};
  const TestPstMessage second{"Lunch", "Alice",    "Bob", "dumplings at noon",
                              "",      1700003600, {},    0x10002};
  const TestPstMessage third{"第三封", "王五", "赵六", "长城 trip", "", 1700007200, {}, 0x10003};
  Configure(tree_.path(), "txt|pst");
  CrawlerEnvironment env = Env();
  env.archive_reader = LUNCRAWL_PATH;
  Crawler crawler(env);
  auto index = [&](std::vector<TestPstMessage> messages, std::time_t mtime) {
    Write(pst, MakeTestPst({{"Inbox", std::move(messages), {}}}), mtime);
    crawler.IndexFile(pst, /*force=*/true);
  };
  auto key = [&](uint32_t id) { return pst + "::Inbox/" + std::to_string(id << 5 | 4) + ".eml"; };
  index({first, second, third}, time(nullptr) - 100);
  ASSERT_EQ(LivePaths(), (std::vector<std::string>{pst, key(0x10001), key(0x10002), key(0x10003)}));
  EXPECT_EQ(Paths("[文档]:文本内容=预算审批"), std::vector<std::string>{key(0x10001)});
  EXPECT_EQ(Paths("[文档]:文件名称=预算审批"), std::vector<std::string>{key(0x10001)});
  EXPECT_EQ(Paths("[文档]:分类=邮件").size(), 4u) << "the store and its messages";
  EXPECT_EQ(Paths("[文档]:文件类型=OUTLOOK").size(), 3u);

  index({first, third}, time(nullptr));
  EXPECT_EQ(LivePaths(), (std::vector<std::string>{pst, key(0x10001), key(0x10003)}));
  EXPECT_TRUE(Paths("[文档]:文本内容=dumplings").empty());

  ASSERT_TRUE(ReconcileDeletingGoneFiles());
  EXPECT_EQ(LivePaths(), (std::vector<std::string>{pst, key(0x10001), key(0x10003)}));

  writer_->RemoveDocuments(pst);
  EXPECT_TRUE(LivePaths().empty());

  const std::string whole = MakeTestPst({{"Inbox", {first}, {}}});
  Write(pst, whole.substr(0, whole.size() / 2), time(nullptr) + 100);
  crawler.IndexFile(pst, /*force=*/true);
  EXPECT_EQ(LivePaths(), std::vector<std::string>{pst});
  EXPECT_EQ(crawler.skipped().Snapshot().at(kSkipExtractFailed).latest.back(), pst);
}

// Turning "图片文字识别" on reads again the pictures indexed while it was
// off, the PDFs that had no text and the archives holding pictures (whose
// members the crawl service's program reads, here with a stand-in engine
// first in PATH); other files, and PDFs with text, are not read again, and
// no file gets a second record.
TEST_F(CrawlerTest, PicturesAreReadAgainWhenRecognitionIsTurnedOn) {
  const std::vector<std::string> files{tree_.File("d/scan.png"), tree_.File("d/photo.jpg"),
                                       tree_.File("d/scanned.pdf"), tree_.File("d/paper.pdf"),
                                       tree_.File("d/notes.txt")};
  for (const std::string& f : files) Write(f, "bytes of " + f, time(nullptr) - 100);
  const std::string zip = tree_.File("d/scans.zip");
  Write(zip, MakeArchive("zip", "", {{"inner.png", "\x89PNG\r\n\x1a\n"}, {"a.txt", "alpha"}}),
        time(nullptr) - 100);
  // A mail store whose message carries a picture.
  const std::string pst = tree_.File("d/mail.pst");
  const TestPstMessage scanned{"扫描件", "张三", "李四", "见附件", "", 1700000000,
                               {{"scan.png", "\x89PNG\r\n\x1a\n"}}, 0x10001};
  Write(pst, MakeTestPst({{"Inbox", {scanned}, {}}}), time(nullptr) - 100);
  const std::string message = pst + "::Inbox/" + std::to_string(0x10001 << 5 | 4) + ".eml";
  const std::string bin = JoinPath(scratch_.home().path(), "bin");
  Write(JoinPath(bin, "tesseract"), "#!/bin/sh\ncat >/dev/null\necho 压缩包里的字\n");
  chmod(JoinPath(bin, "tesseract").c_str(), 0755);
  const std::string path_before = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (bin + ":" + path_before).c_str(), 1);
  Configure(tree_.path(), "png|jpg|pdf|txt|zip|pst");
  bool recognition = false;
  std::map<std::string, int> reads;
  CrawlerEnvironment env = Env();
  env.archive_reader = LUNCRAWL_PATH;
  env.service_extracts = [](const std::string&) { return true; };
  // The service's answers: what each file gives with recognition off / on.
  env.extract_text = [&](const std::string& path, std::u16string* text) {
    const std::string name = BaseName(path);
    ++reads[name];
    const std::map<std::string, std::pair<std::u16string, std::u16string>> answers{
        {"scan.png", {u"", u"识别文字"}},
        {"photo.jpg", {u"Canon", u"Canon 灯塔"}},
        {"scanned.pdf", {u"", u"发票扫描"}},
        {"paper.pdf", {u"paper layer", u"paper layer"}},
        {"notes.txt", {u"notes", u"notes"}}};
    const auto& answer = answers.at(name);
    *text = recognition ? answer.second : answer.first;
    return text->empty() ? CrawlOutcome::kNoText : CrawlOutcome::kText;
  };
  Crawler crawler(env);
  for (const std::string& f : files) crawler.IndexFile(f, false);
  crawler.IndexFile(zip, false);
  crawler.IndexFile(pst, false);
  ASSERT_TRUE(Paths("[文档]:文本内容=识别文字").empty());
  ASSERT_TRUE(Paths("[文档]:文本内容=压缩包里的字").empty());

  recognition = true;
  scratch_.settings().SetValue(kSearchSection, key::kImageTextRecognition, "TRUE");
  std::vector<std::string> queued;
  ReconcileHooks hooks;
  hooks.queue = [&](const std::string& path, bool) {
    queued.push_back(path);
    return true;
  };
  Reconciler reconciler(scope_, *writer_, hooks);
  std::atomic<bool> stop{false};
  ASSERT_TRUE(reconciler.Run(
      {.everything = true, .trees = {}, .prune = false, .reread_pictures = true}, stop));
  std::sort(queued.begin(), queued.end());
  EXPECT_EQ(queued, (std::vector<std::string>{pst, files[1], files[0], files[2], zip}));
  for (const std::string& f : queued) crawler.IndexFile(f, false);
  setenv("PATH", path_before.c_str(), 1);
  EXPECT_EQ(Paths("[文档]:文本内容=压缩包里的字"),
            (std::vector<std::string>{message, zip + "::inner.png"}));
  EXPECT_EQ(Paths("[文档]:文本内容=识别文字"), std::vector<std::string>{files[0]});
  EXPECT_EQ(Paths("[文档]:文本内容=灯塔"), std::vector<std::string>{files[1]});
  EXPECT_EQ(Paths("[文档]:文本内容=发票扫描"), std::vector<std::string>{files[2]});
  EXPECT_EQ(reads, (std::map<std::string, int>{{"scan.png", 2},
                                               {"photo.jpg", 2},
                                               {"scanned.pdf", 2},
                                               {"paper.pdf", 1},
                                               {"notes.txt", 1}}));
  std::vector<std::string> all = files;
  all.insert(all.end(), {zip, zip + "::a.txt", zip + "::inner.png", pst, message});
  std::sort(all.begin(), all.end());
  EXPECT_EQ(LivePaths(), all);

  // Read once: the next pass finds nothing to do.
  queued.clear();
  ASSERT_TRUE(reconciler.Run({.everything = true, .trees = {}, .prune = false}, stop));
  EXPECT_TRUE(queued.empty());
}

// A file over the size limit is found by its name and attributes, its text
// never read, and counted for the status views.
TEST_F(CrawlerTest, FilesOverTheSizeLimitAreRecordedByNameAndCounted) {
  const std::string big = tree_.File("docs/huge log.txt");
  Write(tree_.File("docs/small.txt"), "smallword");
  Write(big, std::string(kMaxIndexedFileSize + 1, 'x'));
  Configure(tree_.File("docs"), "txt");
  EXPECT_EQ(CountOversizeDocuments(*search_), 0);
  Crawler crawler(Env());
  crawler.IndexFile(tree_.File("docs/small.txt"), false);
  crawler.IndexFile(big, false);
  EXPECT_EQ(Paths("[文档]:文件名称=huge"), std::vector<std::string>{big});
  EXPECT_EQ(TextOf(big), u"");
  EXPECT_EQ(CountOversizeDocuments(*search_), 1);
}

// The index flushes take the pace the crawler runs at: the speed menu and
// the idle state reach the engine's own switch.
TEST_F(CrawlerTest, TheSpeedModeReachesTheIndexFlushes) {
  Write(tree_.File("docs/a.txt"), "paceword");
  Configure(tree_.File("docs"), "txt");
  Crawler crawler(Env());
  crawler.set_speed_mode(SpeedMode::kLowSpeed);
  crawler.set_first_pass(true);
  crawler.StartScan();
  crawler.StartIndexing();
  for (int i = 0; i < 3000 && IndexingSpeedMode() != 2; ++i) std::this_thread::sleep_for(10ms);
  crawler.StopIndexing();
  crawler.StopScan();
  EXPECT_EQ(IndexingSpeedMode(), 2);
  SetIndexingSpeedMode(1);  // the process-wide default of the other tests
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
