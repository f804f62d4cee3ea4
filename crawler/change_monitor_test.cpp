#include "crawler/change_monitor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "config/settings_store.h"
#include "crawler/crawler.h"
#include "crawler/crawler_test_util.h"
#include "crawler/scan_scope.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/query_escape.h"
#include "engine/query/search_service.h"
#include "platform/text.h"

namespace lun {
namespace {

using namespace std::chrono_literals;

class ChangeMonitorTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.ok);
    root_ = tree_.File("root");
    MakeDirectories(root_);
    SettingsStore& settings = scratch_.settings();
    settings.SetValue(kSearchSection, key::kPermittedPaths, "|" + root_ + "|");
    settings.SetValue(kSearchSection, key::kDocumentTypes, "txt|pdf");
    scope_.Load(settings, root_, {});
    CrawlerEnvironment env;
    env.project = project_.get();
    env.search = search_.get();
    env.settings = &settings;
    env.scope = &scope_;
    env.writer = writer_.get();
    env.data_path = scratch_.home().path();
    crawler_ = std::make_unique<Crawler>(env);
    monitor_ = std::make_unique<ChangeMonitor>(*crawler_, *writer_, scope_, Options());
    ASSERT_EQ(monitor_->Start(), "");
  }

  // The quiet period passes only when the test moves the clock, so the
  // writes of one test always fall inside it, however loaded the machine.
  ChangeMonitorOptions Options() {
    ChangeMonitorOptions options;
    options.quiet_period = kQuietPeriod;
    options.pass_interval = 20ms;
    options.clock = [this] { return std::chrono::steady_clock::now() + skew_.load(); };
    return options;
  }
  void PassQuietPeriod() { skew_ = skew_.load() + kQuietPeriod + 1ms; }

  void Write(const std::string& name, const char* text = "x") {
    FILE* f = fopen(JoinPath(root_, name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(text, f);
    fclose(f);
  }

  size_t RecordsOf(const std::string& name) {
    std::unique_ptr<Recordset> rs;
    const std::string path = JoinPath(root_, name);
    if (search_->Search("[文档]:完整路径=" + EscapeQueryText(path), &rs) != 0) return 99;
    return rs->count();
  }

  // Waits until `name` has `count` records, up to 10 s, letting the quiet
  // period of every change seen pass.
  bool WaitForRecords(const std::string& name, size_t count,
                      const ChangeMonitor* monitor = nullptr) {
    if (!monitor) monitor = monitor_.get();
    for (int i = 0; i < 1000; ++i) {
      if (RecordsOf(name) == count && monitor->pending() == 0) return true;
      if (monitor->pending() > 0) PassQuietPeriod();
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  DocumentStore store_;
  ScratchProject& scratch_ = store_.scratch;
  std::unique_ptr<SearchProject>& project_ = store_.project;
  std::unique_ptr<SearchService>& search_ = store_.search;
  std::unique_ptr<DocumentWriter>& writer_ = store_.writer;
  ScratchDir tree_;
  std::string root_;
  ScanScope scope_;
  std::unique_ptr<Crawler> crawler_;
  std::unique_ptr<ChangeMonitor> monitor_;
  static constexpr std::chrono::milliseconds kQuietPeriod = std::chrono::hours(1);
  std::atomic<std::chrono::milliseconds> skew_{0ms};
};

TEST_F(ChangeMonitorTest, ANewFileIsIndexedOnceAfterItsQuietPeriod) {
  DataTable* docs = project_->FindTable(kDocumentTable);
  for (int i = 0; i < 10; ++i) Write("a.txt", "saved again and again");
  EXPECT_TRUE(WaitForRecords("a.txt", 1));
  EXPECT_EQ(docs->record_count(), 1u) << "ten saves, one indexing run";
}

TEST_F(ChangeMonitorTest, DeletionsFollowTheRealTimeDeletionSetting) {
  Write("keep.txt");
  Write("gone.txt");
  ASSERT_TRUE(WaitForRecords("keep.txt", 1));
  ASSERT_TRUE(WaitForRecords("gone.txt", 1));

  monitor_->realtime_delete = false;
  ASSERT_EQ(unlink(JoinPath(root_, "keep.txt").c_str()), 0);
  // Events arrive in order: once a later file is in, the deletion is seen.
  Write("sentinel.txt");
  ASSERT_TRUE(WaitForRecords("sentinel.txt", 1));
  EXPECT_EQ(RecordsOf("keep.txt"), 1u);

  monitor_->realtime_delete = true;
  ASSERT_EQ(unlink(JoinPath(root_, "gone.txt").c_str()), 0);
  EXPECT_TRUE(WaitForRecords("gone.txt", 0));
}

TEST_F(ChangeMonitorTest, RenamesMoveTheRecordWhateverTheDeletionSetting) {
  for (const bool realtime_delete : {true, false}) {
    monitor_->realtime_delete = realtime_delete;
    const std::string from = realtime_delete ? "a.txt" : "a.pdf";
    const std::string to = realtime_delete ? "b.txt" : "b.pdf";
    Write(from);
    ASSERT_TRUE(WaitForRecords(from, 1));
    ASSERT_EQ(rename(JoinPath(root_, from).c_str(), JoinPath(root_, to).c_str()), 0);
    EXPECT_TRUE(WaitForRecords(to, 1)) << "PDF files too";
    EXPECT_EQ(RecordsOf(from), 0u) << "a renamed file is not listed twice";
  }
}

// Every directory under the root is watched at every moment: those made
// after the start, moved in from outside, and renamed ones, whose files'
// records follow them.
TEST_F(ChangeMonitorTest, NewMovedInAndRenamedDirectoriesAreFollowed) {
  MakeDirectories(JoinPath(root_, "d1/deep/er"));
  Write("d1/deep/er/inner.txt", "inner");
  ASSERT_TRUE(WaitForRecords("d1/deep/er/inner.txt", 1));
  Write("d1/deep/er/more.txt", "more");
  ASSERT_TRUE(WaitForRecords("d1/deep/er/more.txt", 1));

  ASSERT_EQ(rename(JoinPath(root_, "d1").c_str(), JoinPath(root_, "d6").c_str()), 0);
  EXPECT_TRUE(WaitForRecords("d6/deep/er/inner.txt", 1));
  EXPECT_TRUE(WaitForRecords("d6/deep/er/more.txt", 1));
  EXPECT_EQ(RecordsOf("d1/deep/er/inner.txt"), 0u);
  EXPECT_EQ(RecordsOf("d1/deep/er/more.txt"), 0u);
  Write("d6/deep/er/after.txt");
  EXPECT_TRUE(WaitForRecords("d6/deep/er/after.txt", 1)) << "watched under its new name";

  // A tree moved in from outside the root.
  const std::string outside = tree_.File("outside");
  MakeDirectories(JoinPath(outside, "x/y"));
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), JoinPath(outside, "x/y/z.txt"), "z"), 0);
  ASSERT_EQ(rename(JoinPath(outside, "x").c_str(), JoinPath(root_, "x").c_str()), 0);
  EXPECT_TRUE(WaitForRecords("x/y/z.txt", 1));
  Write("x/y/later.txt");
  EXPECT_TRUE(WaitForRecords("x/y/later.txt", 1));

  // Moved out again with real-time deletion on: its records go, and so
  // do its watches.
  const size_t watches = monitor_->watch_count();
  monitor_->realtime_delete = true;
  ASSERT_EQ(rename(JoinPath(root_, "x").c_str(), JoinPath(outside, "x").c_str()), 0);
  EXPECT_TRUE(WaitForRecords("x/y/z.txt", 0));
  EXPECT_TRUE(WaitForRecords("x/y/later.txt", 0));
  EXPECT_EQ(monitor_->watch_count(), watches - 2);
}

// A file deleted just before its folder is renamed: whether its deletion
// is carried out before the move, during the pass that took it, or after,
// the record goes and is not carried along to the new name. The pauses
// between the two put the rename at every point of a pass.
TEST_F(ChangeMonitorTest, AFileDeletedJustBeforeItsFolderMovesLeavesNoRecord) {
  constexpr int kRounds = 12;
  MakeDirectories(JoinPath(root_, "p0"));
  for (int i = 0; i < kRounds; ++i) Write("p0/f" + std::to_string(i) + ".txt");
  ASSERT_TRUE(WaitForRecords("p0/f" + std::to_string(kRounds - 1) + ".txt", 1));
  DataTable* docs = project_->FindTable(kDocumentTable);
  ASSERT_EQ(docs->live_count(), static_cast<uint32_t>(kRounds));
  monitor_->realtime_delete = true;
  for (int i = 0; i < kRounds; ++i) {
    const std::string folder = JoinPath(root_, "p" + std::to_string(i));
    ASSERT_EQ(unlink(JoinPath(folder, "f" + std::to_string(i) + ".txt").c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(i % 4 * 7));
    const std::string next = JoinPath(root_, "p" + std::to_string(i + 1));
    ASSERT_EQ(rename(folder.c_str(), next.c_str()), 0);
  }
  for (int i = 0; i < 1000 && (docs->live_count() > 0 || monitor_->pending() > 0); ++i) {
    if (monitor_->pending() > 0) PassQuietPeriod();
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(docs->live_count(), 0u);
}

TEST_F(ChangeMonitorTest, CreatedAndDeletedWithinTheQuietPeriodLeavesNothing) {
  DataTable* docs = project_->FindTable(kDocumentTable);
  Write("brief.txt");
  ASSERT_EQ(unlink(JoinPath(root_, "brief.txt").c_str()), 0);
  // Events arrive in order: once a later file is in, so is the deletion.
  Write("later.txt");
  ASSERT_TRUE(WaitForRecords("later.txt", 1));
  EXPECT_EQ(docs->record_count(), 1u);
  EXPECT_EQ(RecordsOf("brief.txt"), 0u);
}

TEST_F(ChangeMonitorTest, NothingIsSeenWhileMonitoringIsOff) {
  monitor_->monitoring = false;
  Write("unseen.txt");
  std::this_thread::sleep_for(50ms);  // the watcher delivers the event
  EXPECT_EQ(monitor_->pending(), 0u);
  PassQuietPeriod();
  EXPECT_EQ(RecordsOf("unseen.txt"), 0u);
  monitor_->monitoring = true;
  Write("seen.txt");
  EXPECT_TRUE(WaitForRecords("seen.txt", 1));
}

TEST_F(ChangeMonitorTest, TreesBeyondTheWatchLimitAreReconciledInstead) {
  monitor_->Stop();
  for (const char* d : {"a", "b", "c", "d"}) MakeDirectories(JoinPath(root_, d));
  std::vector<std::string> notices;
  ChangeMonitorOptions options = Options();
  options.rewalk_interval = 100ms;
  options.watch_limit_for_testing = 3;  // the root and two of its four folders
  options.notify = [&](const std::string& title, const std::string&) { notices.push_back(title); };
  ChangeMonitor limited(*crawler_, *writer_, scope_, options);
  ASSERT_EQ(limited.Start(), "");
  EXPECT_EQ(limited.watch_count(), 3u);
  EXPECT_EQ(limited.unwatched().size(), 2u);
  EXPECT_EQ(notices, std::vector<std::string>{"警告"}) << "said once";
  EXPECT_NE(limited.StatusText().find("未能监控"), std::string::npos);
  EXPECT_NE(scratch_.ErrorLog().find("未能监控"), std::string::npos);
  // A file in an unwatched folder still arrives, through the periodic
  // reconciliation and the index thread.
  crawler_->StartIndexing();
  Write("d/late.txt");
  Write("c/late.txt");
  EXPECT_TRUE(WaitForRecords("d/late.txt", 1, &limited));
  EXPECT_TRUE(WaitForRecords("c/late.txt", 1, &limited));
  limited.Stop();
}

TEST_F(ChangeMonitorTest, LostEventsAskForARescanAndMonitoringGoesOn) {
  monitor_->Stop();
  std::mutex mutex;
  std::condition_variable asked;
  std::vector<std::string> reasons;
  ChangeMonitorOptions options = Options();
  options.on_rescan = [&](const std::string& reason) {
    std::lock_guard lock(mutex);
    reasons.push_back(reason);
    asked.notify_all();
  };
  ChangeMonitor monitor(*crawler_, *writer_, scope_, options);
  ASSERT_EQ(monitor.Start(), "");
  monitor.InjectOverflowForTesting();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(asked.wait_for(lock, 10s, [&] { return !reasons.empty(); }));
    EXPECT_EQ(reasons.size(), 1u) << "one request per overflow";
  }
  Write("after.txt");
  EXPECT_TRUE(WaitForRecords("after.txt", 1, &monitor));
  monitor.Stop();
}

}  // namespace
}  // namespace lun
