// The change monitor: after the first full scan the index follows the disk
// by itself.
//
// Every permitted root is watched (platform/directory_watcher.h). Events
// become entries of a pending-change map, path -> time of the last event;
// the processing thread indexes an entry once its path has been quiet for
// the quiet period (5 s), so that a program saving a file ten times causes
// one indexing run. A deletion removes the path's records when real-time
// deletion ("实时文件删除") is on; a file created and deleted within the quiet
// period leaves no trace. Events are ignored while monitoring ("实时监控")
// is off. PDF files are not re-indexed on mere modification.
//
// Every directory under the roots is watched, also those created, moved in
// or renamed later (the watcher adds them as they appear). A renamed file's
// old record goes at once (it is not a deletion: the file is indexed under
// its new name); a renamed directory takes the records of the files below
// it along (MoveTree), without reading them again; a directory deleted or
// moved out counts as the deletion of everything below it.
//
// When the kernel drops events `on_rescan` runs so that the owner can
// reconcile; trees the watch limit keeps unwatched are reconciled every
// rewalk interval instead (each logged, one notice): nothing is missed
// silently. The watch count is logged at start.
//
// Thread safety: all members may be called from any thread.
#ifndef LUN_CRAWLER_CHANGE_MONITOR_H_
#define LUN_CRAWLER_CHANGE_MONITOR_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/directory_watcher.h"

namespace lun {

class Crawler;
class DocumentWriter;
class ScanScope;

struct ChangeMonitorOptions {
  std::chrono::milliseconds quiet_period{5000};
  std::chrono::milliseconds pass_interval{1000};
  // How often the trees that could not be watched are reconciled.
  std::chrono::milliseconds rewalk_interval{std::chrono::minutes(10)};
  // Events were lost: the owner should reconcile.
  std::function<void(const std::string& reason)> on_rescan;
  // A notice for the user (title, text); shown once per watch-limit problem.
  std::function<void(const std::string& title, const std::string& text)> notify;
  // The clock of the quiet period and the rewalk interval; null: the
  // monotonic clock. Tests move a clock of their own instead of sleeping.
  std::function<std::chrono::steady_clock::time_point()> clock;
  // Tests: pretend the system allows only this many watches (0: no limit).
  size_t watch_limit_for_testing = 0;
};

class ChangeMonitor {
 public:
  // Everything given must outlive the monitor.
  ChangeMonitor(Crawler& crawler, DocumentWriter& writer, ScanScope& scope,
                ChangeMonitorOptions options = {});
  ~ChangeMonitor();  // Stop
  ChangeMonitor(const ChangeMonitor&) = delete;
  ChangeMonitor& operator=(const ChangeMonitor&) = delete;

  // Watches every permitted root that exists and starts the processing
  // thread; nothing when already started. Returns the roots that could not
  // be watched, one line each with the reason.
  std::string Start();
  // Watches the permitted roots not watched yet (the roots changed); the
  // report as Start's. Paths outside the roots are ignored from now on.
  std::string WatchNewRoots();
  // Stops watching and processing; pending changes are dropped.
  void Stop();
  bool running() const;

  std::atomic<bool> monitoring{true};        // "实时监控"
  std::atomic<bool> realtime_delete{false};  // "实时文件删除"

  // Number of paths waiting for their quiet period or being indexed now
  // (for status displays; 0 means every change seen so far is in the index).
  size_t pending() const;
  // Directories watched, and the trees left unwatched by the watch limit
  // (they are walked every rewalk interval instead).
  size_t watch_count() const;
  std::vector<std::string> unwatched() const;
  // One line for status displays: the watch count, and the unwatched trees
  // when there are any.
  std::string StatusText() const;

  // Tests: the watcher reports a kernel queue overflow (only while started).
  void InjectOverflowForTesting();

 private:
  class Handler;
  void Process();
  void Touch(const std::string& path);
  // The records of `path` go after the pass, whatever the deletion setting.
  void Forget(const std::string& path);
  void Removed(const std::string& path, bool directory);
  void DirectoryMoved(const std::string& from, const std::string& to);
  void Unwatched(const std::string& directory);
  std::chrono::steady_clock::time_point Now() const;

  Crawler& crawler_;
  DocumentWriter& writer_;
  ScanScope& scope_;
  ChangeMonitorOptions options_;
  std::unique_ptr<Handler> handler_;
  std::unique_ptr<DirectoryWatcher> watcher_;
  std::thread thread_;
  bool stop_ = false;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  // path -> last event time, or deleted (remove its records; with the
  // records below it for a directory) or cancelled.
  struct Pending {
    std::chrono::steady_clock::time_point last;
    enum State { kChanged, kDeleted, kTreeDeleted, kCancelled } state = kChanged;
  };
  std::map<std::string, Pending> pending_;
  // The entries the pass in hand took from pending_, in order, and how many
  // of them are carried out. A directory moved meanwhile renames those not
  // started yet, as it does the entries of pending_.
  struct Due {
    std::string path;
    Pending::State state;
  };
  std::vector<Due> due_;
  size_t due_done_ = 0;
  // Held while a due deletion is carried out and while a directory move
  // renames the entries and the records below it, so that the two happen
  // in the order of their events: a file deleted just before its folder
  // moved loses its record whichever runs first.
  std::mutex tree_mutex_;
  // Carries out one due entry (Process, without mutex_): a deletion under
  // tree_mutex_, which `tree` holds and which is released for indexing.
  void Apply(const Due& entry, std::unique_lock<std::mutex>& tree);
  std::vector<std::string> unwatched_;
  std::vector<std::string> watched_roots_;
  std::mutex watch_mutex_;  // one WatchNewRoots at a time
  std::chrono::steady_clock::time_point last_rewalk_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_CHANGE_MONITOR_H_
