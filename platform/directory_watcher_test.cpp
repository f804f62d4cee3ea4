#include "platform/directory_watcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

class Recorder : public WatchHandler {
 public:
  void FileAdded(const std::string& p) override { Add("added " + p); }
  void FileRemoved(const std::string& p) override { Add("removed " + p); }
  void FileRenamed(const std::string& a, const std::string& b) override {
    Add("renamed " + a + " " + b);
  }
  void FileModified(const std::string& p) override { Add("modified " + p); }
  void EventsLost() override { Add("lost"); }

  // Waits (up to 10 s) until `event` has been seen.
  bool WaitFor(const std::string& event) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    });
  }
  bool Seen(const std::string& event) {
    std::lock_guard lock(mutex_);
    return std::find(events_.begin(), events_.end(), event) != events_.end();
  }

 private:
  void Add(std::string e) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(e));
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
};

void Write(const std::string& path) {
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("text", f);
  fclose(f);
}

TEST(DirectoryWatcherTest, ReportsChangesAnywhereInTheTree) {
  ScratchDir dir;
  const std::string root = dir.File("root");
  ASSERT_TRUE(MakeDirectories(root + "/old/deep"));
  ASSERT_TRUE(MakeDirectories(root + "/skipped"));
  ASSERT_TRUE(MakeDirectories(dir.File("outside/x")));
  Write(dir.File("outside/x/f.txt"));
  Recorder r;
  DirectoryWatcher watcher;
  ASSERT_EQ(watcher.Watch(root, &r, [&](const std::string& d) { return d == root + "/skipped"; }),
            0);
  EXPECT_EQ(watcher.Watch(dir.File("missing"), &r), ENOENT);

  Write(root + "/old/deep/a.txt");
  EXPECT_TRUE(r.WaitFor("added " + root + "/old/deep/a.txt"));
  EXPECT_TRUE(r.WaitFor("modified " + root + "/old/deep/a.txt"));

  // A directory created later is watched too.
  ASSERT_TRUE(MakeDirectories(root + "/new"));
  EXPECT_TRUE(r.WaitFor("added " + root + "/new"));
  Write(root + "/new/b.txt");
  EXPECT_TRUE(r.WaitFor("added " + root + "/new/b.txt"));
  ASSERT_EQ(rename((root + "/new/b.txt").c_str(), (root + "/new/c.txt").c_str()), 0);
  EXPECT_TRUE(r.WaitFor("renamed " + root + "/new/b.txt " + root + "/new/c.txt"));
  ASSERT_EQ(unlink((root + "/new/c.txt").c_str()), 0);
  EXPECT_TRUE(r.WaitFor("removed " + root + "/new/c.txt"));

  // A renamed directory reports its new paths afterwards.
  ASSERT_EQ(rename((root + "/old").c_str(), (root + "/moved").c_str()), 0);
  EXPECT_TRUE(r.WaitFor("renamed " + root + "/old " + root + "/moved"));
  Write(root + "/moved/deep/d.txt");
  EXPECT_TRUE(r.WaitFor("added " + root + "/moved/deep/d.txt"));

  // A tree moved in from outside: its files were never seen, so they count
  // as added.
  ASSERT_EQ(rename(dir.File("outside/x").c_str(), (root + "/x").c_str()), 0);
  EXPECT_TRUE(r.WaitFor("added " + root + "/x/f.txt"));

  Write(root + "/skipped/s.txt");
  Write(root + "/last.txt");
  EXPECT_TRUE(r.WaitFor("added " + root + "/last.txt"));
  EXPECT_FALSE(r.Seen("added " + root + "/skipped/s.txt"));
  watcher.UnwatchAll();
}

// Renames quicker than the watcher reads: the events queued for a
// directory name it as it was when they happened, not as it is when they
// are read, nor by the name it had first.
TEST(DirectoryWatcherTest, EventsFollowADirectoryRenamedAgainAndAgain) {
  ScratchDir dir;
  const std::string root = dir.File("root");
  ASSERT_TRUE(MakeDirectories(root + "/p0/deep"));
  for (int i = 0; i < 4; ++i) Write(root + "/p0/deep/f" + std::to_string(i) + ".txt");
  Recorder r;
  DirectoryWatcher watcher;
  ASSERT_EQ(watcher.Watch(root, &r), 0);
  for (int i = 0; i < 4; ++i) {
    const std::string from = root + "/p" + std::to_string(i);
    ASSERT_EQ(unlink((from + "/deep/f" + std::to_string(i) + ".txt").c_str()), 0);
    ASSERT_EQ(rename(from.c_str(), (root + "/p" + std::to_string(i + 1)).c_str()), 0);
  }
  for (int i = 0; i < 4; ++i) {
    const std::string at = root + "/p" + std::to_string(i);
    EXPECT_TRUE(r.WaitFor("removed " + at + "/deep/f" + std::to_string(i) + ".txt"));
    EXPECT_TRUE(r.WaitFor("renamed " + at + " " + root + "/p" + std::to_string(i + 1)));
  }
  watcher.UnwatchAll();
}

// A folder moved in, then its parent renamed before the watcher read the
// first event: the folder is watched under its present name and its files
// are reported.
TEST(DirectoryWatcherTest, AFolderMovedInWhoseParentMovesOnIsStillWatched) {
  ScratchDir dir;
  const std::string root = dir.File("root");
  ASSERT_TRUE(MakeDirectories(root + "/p0"));
  ASSERT_TRUE(MakeDirectories(dir.File("outside/o/inner")));
  Write(dir.File("outside/o/inner/f.txt"));
  Recorder r;
  DirectoryWatcher watcher;
  ASSERT_EQ(watcher.Watch(root, &r), 0);
  ASSERT_EQ(rename(dir.File("outside/o").c_str(), (root + "/p0/o").c_str()), 0);
  ASSERT_EQ(rename((root + "/p0").c_str(), (root + "/p1").c_str()), 0);
  EXPECT_TRUE(r.WaitFor("added " + root + "/p1/o/inner/f.txt"));
  Write(root + "/p1/o/inner/g.txt");
  EXPECT_TRUE(r.WaitFor("added " + root + "/p1/o/inner/g.txt"));
  watcher.UnwatchAll();
}

TEST(DirectoryWatcherTest, OverflowReachesEveryTreeAndWatchingGoesOn) {
  ScratchDir dir;
  ASSERT_TRUE(MakeDirectories(dir.File("a")));
  ASSERT_TRUE(MakeDirectories(dir.File("b")));
  ASSERT_TRUE(MakeDirectories(dir.File("c")));
  Recorder ra, rb, rc;
  ChangeCallbackHandler callbacks([](const std::string&) {}, [&] { rc.FileAdded("lost"); });
  DirectoryWatcher watcher;
  ASSERT_EQ(watcher.Watch(dir.File("a"), &ra), 0);
  ASSERT_EQ(watcher.Watch(dir.File("b"), &rb), 0);
  ASSERT_EQ(watcher.Watch(dir.File("c"), &callbacks), 0);
  watcher.InjectOverflowForTesting();
  EXPECT_TRUE(ra.WaitFor("lost"));
  EXPECT_TRUE(rb.WaitFor("lost"));
  EXPECT_TRUE(rc.WaitFor("added lost"));
  Write(dir.File("a/after.txt"));
  EXPECT_TRUE(ra.WaitFor("added " + dir.File("a/after.txt")));
}

TEST(DirectoryWatcherTest, ATreeThatCannotBeWatchedLeavesTheOthersWatched) {
  ScratchDir dir;
  ASSERT_TRUE(MakeDirectories(dir.File("bad")));
  ASSERT_TRUE(MakeDirectories(dir.File("good")));
  Recorder r;
  DirectoryWatcher watcher;
  watcher.SetWatchFailureForTesting(
      [&](const std::string& d) { return d == dir.File("bad") ? EACCES : 0; });
  EXPECT_EQ(watcher.Watch(dir.File("bad"), &r), EACCES);
  ASSERT_EQ(watcher.Watch(dir.File("good"), &r), 0);
  EXPECT_EQ(watcher.watch_count(), 1u);
  Write(dir.File("good/g.txt"));
  EXPECT_TRUE(r.WaitFor("added " + dir.File("good/g.txt")));
}

}  // namespace
}  // namespace lun
