// Watching directory trees for file changes (inotify).
//
// A DirectoryWatcher watches any number of trees with one inotify
// descriptor and one worker thread. Each tree is watched recursively:
// directories created or moved in later are watched as they appear (and the
// files already inside them are reported as added, since they may have been
// written before the watch existed). Events go to the tree's handler on the
// worker thread.
//
// Failures are reported, never silent: a directory that cannot be watched
// because the per-user watch limit (fs.inotify.max_user_watches) is reached
// gives WatchLimitReached for it, and a kernel queue overflow
// (events lost) gives EventsLost, after which the owner should rescan.
//
// Thread safety: Watch and UnwatchAll may be called from any thread. Handler
// methods run on the worker thread, one at a time; UnwatchAll returns after
// the last handler call has finished.
#ifndef LUN_PLATFORM_DIRECTORY_WATCHER_H_
#define LUN_PLATFORM_DIRECTORY_WATCHER_H_

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lun {

class WatchHandler {
 public:
  virtual ~WatchHandler() = default;
  virtual void FileAdded(const std::string& path) = 0;
  virtual void FileRemoved(const std::string& path) = 0;
  virtual void FileRenamed(const std::string& old_path, const std::string& new_path) = 0;
  virtual void FileModified(const std::string& path) = 0;
  // A directory was renamed (or moved) within the watched trees.
  virtual void DirectoryRenamed(const std::string& old_path, const std::string& new_path) {
    FileRenamed(old_path, new_path);
  }
  // A directory was deleted or moved out of the watched trees: nothing
  // below it is there any more. Handlers that keep nothing per directory
  // take it as one removed path.
  virtual void DirectoryRemoved(const std::string& path) { FileRemoved(path); }
  // The watch limit stopped `directory` (and what lies below it) from being
  // watched. Called for every such directory.
  virtual void WatchLimitReached(const std::string& /*directory*/) {}
  // The kernel dropped events; what changed meanwhile is unknown.
  virtual void EventsLost() {}
};

// A handler for owners that only need to know which files appeared or
// changed (added, written, renamed to): it calls `changed` with the path.
// Removals are ignored. `lost`, when given, runs when events were lost.
class ChangeCallbackHandler final : public WatchHandler {
 public:
  explicit ChangeCallbackHandler(std::function<void(const std::string& path)> changed,
                                 std::function<void()> lost = nullptr)
      : changed_(std::move(changed)), lost_(std::move(lost)) {}
  void FileAdded(const std::string& path) override { changed_(path); }
  void FileModified(const std::string& path) override { changed_(path); }
  void FileRenamed(const std::string&, const std::string& new_path) override { changed_(new_path); }
  void FileRemoved(const std::string&) override {}
  void EventsLost() override {
    if (lost_) lost_();
  }

 private:
  std::function<void(const std::string& path)> changed_;
  std::function<void()> lost_;
};

class DirectoryWatcher {
 public:
  DirectoryWatcher();
  ~DirectoryWatcher();  // UnwatchAll
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // Watches the tree below `root`. Sub-directories for which `skip` returns
  // true are not watched (nor anything below them). `handler` must outlive
  // the watch. Returns 0 or an errno value (the root itself could not be
  // watched).
  int Watch(const std::string& root, WatchHandler* handler,
            std::function<bool(const std::string& directory)> skip = nullptr);

  // Stops every watch and the worker thread.
  void UnwatchAll();

  // Directories watched at the moment (one inotify watch each).
  size_t watch_count();

  // Tests: behave as if the system allowed only `limit` watches (0: no
  // limit of our own).
  void SetWatchLimitForTesting(size_t limit) { watch_limit_ = limit; }
  // Tests: watching a directory fails with the errno value `fail` returns
  // for it (0: watch as usual). Set before the first Watch.
  void SetWatchFailureForTesting(std::function<int(const std::string& directory)> fail) {
    fail_watch_ = std::move(fail);
  }
  // Tests: the worker handles a kernel queue overflow as if inotify had
  // reported one (every handler's EventsLost). Only while something is
  // watched.
  void InjectOverflowForTesting();

 private:
  struct Tree;
  void Run();
  // Adds watches for `directory` and its sub-directories; with
  // `report_files`, reports the files found as added.
  void AddTree(Tree* tree, const std::string& directory, bool report_files);
  void HandleEvents(const char* buffer, size_t length);
  // Watches a directory that appeared (created or moved in) and the tree
  // below it, reporting the files found there as added. Returns 0, or the
  // error of the watch of `directory` itself (ENOSPC reported already).
  int WatchNewDirectory(Tree* tree, const std::string& directory);
  // inotify_add_watch, or ENOSPC beyond the testing limit.
  int AddWatch(const std::string& directory);
  // Forgets the watches of `directory` and below (moved out of the trees:
  // inotify would go on reporting them under their old paths).
  void RemoveWatchesUnder(const std::string& directory);
  // A directory inside the watched trees was renamed from `from` to `to`:
  // the watches of it and below it are known under the new names.
  void RenameWatchesUnder(const std::string& from, const std::string& to);
  // Directories that appeared but had moved on (a folder moved in, then its
  // parent renamed) before their event was read cannot be watched by the
  // name the event gives. They are kept in late_, renamed along with the
  // watches, dropped when deleted or moved out, and watched, their files
  // reported as added, once no event is left to read.
  void ForgetLateUnder(const std::string& directory);
  void WatchLateDirectories();

  int inotify_fd_ = -1;
  int wake_fd_ = -1;
  std::thread worker_;
  std::mutex mutex_;                                          // guards the maps below
  std::map<int, std::pair<std::string, Tree*>> directories_;  // watch descriptor -> path, tree
  std::map<std::string, std::unique_ptr<Tree>> trees_;
  size_t watch_limit_ = 0;
  std::function<int(const std::string&)> fail_watch_;
  // The wake-up descriptor says why: stopping, or an injected overflow.
  std::atomic<bool> stopping_{false};
  std::atomic<bool> overflow_injected_{false};
  std::map<std::string, Tree*> late_;  // path -> tree, see above (worker thread only)
};

}  // namespace lun

#endif  // LUN_PLATFORM_DIRECTORY_WATCHER_H_
