#include "crawler/change_monitor.h"

#include <sys/stat.h>

#include <vector>

#include "crawler/crawler.h"
#include "crawler/scan_scope.h"
#include "platform/error_log.h"

namespace lun {
namespace {

bool IsPdf(const std::string& path) { return TypeTokenOf(path) == "|PDF|"; }

}  // namespace

class ChangeMonitor::Handler final : public WatchHandler {
 public:
  explicit Handler(ChangeMonitor& m) : m_(m) {}
  void FileAdded(const std::string& path) override {
    if (Accepted(path)) m_.Touch(path);
  }
  void FileModified(const std::string& path) override {
    if (!IsPdf(path) && Accepted(path)) m_.Touch(path);
  }
  void FileRenamed(const std::string& old_path, const std::string& new_path) override {
    if (!m_.monitoring) return;
    // The file lives on under its new name: the old record goes whatever
    // the deletion setting says, or the file would be listed twice.
    m_.Forget(old_path);
    FileAdded(new_path);
  }
  // Told by the event, not by looking: the directory may have moved on
  // again by the time the event is read.
  void DirectoryRenamed(const std::string& old_path, const std::string& new_path) override {
    if (m_.monitoring) m_.DirectoryMoved(old_path, new_path);
  }
  void FileRemoved(const std::string& path) override {
    if (Accepted(path)) m_.Removed(path, /*directory=*/false);
  }
  void DirectoryRemoved(const std::string& path) override {
    if (m_.monitoring) m_.Removed(path, /*directory=*/true);
  }
  void WatchLimitReached(const std::string& directory) override { m_.Unwatched(directory); }
  void EventsLost() override {
    if (m_.options_.on_rescan) m_.options_.on_rescan("inotify event queue overflowed");
  }

 private:
  bool Accepted(const std::string& path) const {
    return m_.monitoring && m_.scope_.IsInPermittedRoot(path) && !m_.scope_.IsFileExcluded(path);
  }
  ChangeMonitor& m_;
};

ChangeMonitor::ChangeMonitor(Crawler& crawler, DocumentWriter& writer, ScanScope& scope,
                             ChangeMonitorOptions options)
    : crawler_(crawler),
      writer_(writer),
      scope_(scope),
      options_(std::move(options)),
      handler_(std::make_unique<Handler>(*this)) {}

ChangeMonitor::~ChangeMonitor() { Stop(); }

bool ChangeMonitor::running() const {
  std::lock_guard lock(mutex_);
  return watcher_ != nullptr;
}

size_t ChangeMonitor::watch_count() const {
  std::lock_guard lock(mutex_);
  return watcher_ ? watcher_->watch_count() : 0;
}

std::vector<std::string> ChangeMonitor::unwatched() const {
  std::lock_guard lock(mutex_);
  return unwatched_;
}

std::string ChangeMonitor::StatusText() const {
  std::string text = "监控目录: " + std::to_string(watch_count());
  const std::vector<std::string> left = unwatched();
  if (!left.empty()) {
    text += "，未能监控(定期扫描): " + std::to_string(left.size());
  }
  return text;
}

void ChangeMonitor::InjectOverflowForTesting() {
  std::lock_guard lock(mutex_);
  if (watcher_) watcher_->InjectOverflowForTesting();
}

void ChangeMonitor::Unwatched(const std::string& directory) {
  bool first = false;
  {
    std::lock_guard lock(mutex_);
    first = unwatched_.empty();
    unwatched_.push_back(directory);
  }
  AppendEngineErrorLog("inotify监控数量已达上限，未能监控(定期核对): " + directory);
  // The notice is given once: the system limit (fs.inotify.max_user_watches)
  // is too low for the trees to watch, and changes there arrive late.
  if (!first) return;
  if (options_.notify) {
    options_.notify(
        "警告", "文件监控数量已达到系统上限(fs.inotify.max_user_watches)，部分目录将定期扫描。");
  }
}

size_t ChangeMonitor::pending() const {
  std::lock_guard lock(mutex_);
  return pending_.size() + due_.size() - due_done_;
}

std::string ChangeMonitor::Start() {
  std::unique_lock lock(mutex_);
  if (watcher_) return {};
  watcher_ = std::make_unique<DirectoryWatcher>();
  watcher_->SetWatchLimitForTesting(options_.watch_limit_for_testing);
  stop_ = false;
  unwatched_.clear();
  watched_roots_.clear();
  lock.unlock();
  std::string report = WatchNewRoots();
  thread_ = std::thread(&ChangeMonitor::Process, this);
  AppendEngineErrorLog(StatusText());
  return report;
}

std::string ChangeMonitor::WatchNewRoots() {
  std::lock_guard watching(watch_mutex_);
  std::string report;
  for (const std::string& root : scope_.PermittedRoots()) {
    {
      std::lock_guard lock(mutex_);
      if (!watcher_) break;
      bool known = false;
      for (const std::string& w : watched_roots_) known = known || IsPathUnder(root, w);
      if (known) continue;
    }
    const int rc = watcher_->Watch(root, handler_.get(), [this](const std::string& dir) {
      return scope_.IsDirectoryExcluded(dir);
    });
    if (rc != 0) {
      report += root + ": " + ErrorText(rc) + "\r\n";
      continue;
    }
    std::lock_guard lock(mutex_);
    watched_roots_.push_back(root);
  }
  return report;
}

void ChangeMonitor::Stop() {
  std::lock_guard watching(watch_mutex_);
  std::unique_ptr<DirectoryWatcher> watcher;
  {
    std::lock_guard lock(mutex_);
    watcher = std::move(watcher_);
    stop_ = true;
  }
  if (watcher) watcher->UnwatchAll();
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  pending_.clear();
}

void ChangeMonitor::Touch(const std::string& path) {
  std::lock_guard lock(mutex_);
  Pending& p = pending_[path];
  p.last = Now();
  p.state = Pending::kChanged;
}

void ChangeMonitor::Forget(const std::string& path) {
  std::lock_guard lock(mutex_);
  pending_[path] = Pending{Now(), Pending::kDeleted};
}

void ChangeMonitor::Removed(const std::string& path, bool directory) {
  std::lock_guard lock(mutex_);
  if (directory) {
    // Changes waiting below it have nothing left to index.
    const std::string prefix = path + "/";
    for (auto it = pending_.lower_bound(prefix);
         it != pending_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
      it->second.state = Pending::kCancelled;
    }
  }
  const Pending::State deleted = directory ? Pending::kTreeDeleted : Pending::kDeleted;
  const auto it = pending_.find(path);
  if (it != pending_.end()) {
    // Created (or changed) and deleted before it was indexed: a pending
    // change is simply cancelled, and the deletion still counts when the
    // file had a record before.
    it->second.state = realtime_delete ? deleted : Pending::kCancelled;
  } else if (realtime_delete) {
    pending_[path] = Pending{Now(), deleted};
  }
}

void ChangeMonitor::DirectoryMoved(const std::string& from, const std::string& to) {
  std::lock_guard tree(tree_mutex_);
  {
    // Changes waiting below the old name wait on under the new one, those
    // of the pass in hand included.
    std::lock_guard lock(mutex_);
    const std::string prefix = from + "/";
    auto below = [&](const std::string& path) {
      return path.compare(0, prefix.size(), prefix) == 0;
    };
    std::vector<std::pair<std::string, Pending>> moved;
    for (auto it = pending_.lower_bound(prefix); it != pending_.end() && below(it->first);) {
      moved.emplace_back(to + it->first.substr(from.size()), it->second);
      it = pending_.erase(it);
    }
    for (auto& [path, p] : moved) pending_[path] = p;
    for (size_t i = due_done_; i < due_.size(); ++i) {
      if (below(due_[i].path)) due_[i].path = to + due_[i].path.substr(from.size());
    }
    pending_[from] = Pending{Now(), Pending::kDeleted};
    pending_[to] = Pending{Now(), Pending::kChanged};
  }
  // The records below follow the directory, text and all; a directory moved
  // somewhere the crawler does not look loses them.
  if (scope_.IsDirectoryExcluded(to)) {
    writer_.RemoveTree(from);
  } else {
    writer_.MoveTree(from, to);
  }
}

void ChangeMonitor::Apply(const Due& entry, std::unique_lock<std::mutex>& tree) {
  if (entry.state == Pending::kDeleted || entry.state == Pending::kTreeDeleted) {
    writer_.RemoveDocuments(entry.path);
    if (entry.state == Pending::kTreeDeleted) writer_.RemoveTree(entry.path);
    return;
  }
  // Reading a file can take long; a directory moved meanwhile is handled by
  // the indexing itself (a file gone by the time its record is written
  // takes the record back: Crawler::IndexFile).
  tree.unlock();
  struct stat st;
  if (stat(entry.path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (ListContainsToken(scope_.TypeList(TypeListKind::kDocument), "|DIRECTORY|")) {
      crawler_.IndexDirectory(entry.path);
    }
    return;
  }
  crawler_.IndexFile(entry.path, /*force=*/true);
}

std::chrono::steady_clock::time_point ChangeMonitor::Now() const {
  return options_.clock ? options_.clock() : std::chrono::steady_clock::now();
}

void ChangeMonitor::Process() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const auto now = Now();
    due_.clear();
    due_done_ = 0;
    for (auto it = pending_.begin(); it != pending_.end();) {
      const Pending& p = it->second;
      if (p.state == Pending::kCancelled) {
        it = pending_.erase(it);
      } else if (p.state == Pending::kDeleted || p.state == Pending::kTreeDeleted ||
                 now - p.last > options_.quiet_period) {
        due_.push_back(Due{it->first, p.state});
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
    // Index without holding the map: events keep arriving meanwhile.
    const size_t count = due_.size();
    lock.unlock();
    for (size_t i = 0; i < count; ++i) {
      std::unique_lock tree(tree_mutex_);
      Due entry;
      {
        std::lock_guard taken(mutex_);
        entry = due_[i];
      }
      Apply(entry, tree);
      std::lock_guard counted(mutex_);
      ++due_done_;
    }
    lock.lock();
    due_.clear();
    due_done_ = 0;
    if (!unwatched_.empty() && now - last_rewalk_ >= options_.rewalk_interval) {
      last_rewalk_ = now;
      ReconcileRequest request;
      request.trees = unwatched_;
      lock.unlock();
      crawler_.RequestReconcile(request);
      lock.lock();
    }
    wake_.wait_for(lock, options_.pass_interval, [&] { return stop_; });
  }
}

}  // namespace lun
