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
    if (IsPdf(new_path)) return;
    FileRemoved(old_path);
    FileAdded(new_path);
  }
  void FileRemoved(const std::string& path) override {
    if (Accepted(path)) m_.Removed(path);
  }
  void WatchLimitReached(const std::string& directory) override {
    if (m_.options_.on_rescan) {
      m_.options_.on_rescan("inotify watch limit reached at " + directory);
    }
  }
  void EventsLost() override {
    if (m_.options_.on_rescan) m_.options_.on_rescan("inotify event queue overflowed");
  }

 private:
  bool Accepted(const std::string& path) const {
    return m_.monitoring && !m_.scope_.IsFileExcluded(path);
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

size_t ChangeMonitor::pending() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

std::string ChangeMonitor::Start() {
  std::unique_lock lock(mutex_);
  if (watcher_) return {};
  watcher_ = std::make_unique<DirectoryWatcher>();
  stop_ = false;
  lock.unlock();
  std::string report;
  for (const std::string& root : scope_.PermittedRoots()) {
    const int rc = watcher_->Watch(root, handler_.get(), [this](const std::string& dir) {
      return scope_.IsDirectoryExcluded(dir);
    });
    if (rc != 0) report += root + ": " + ErrorText(rc) + "\r\n";
  }
  thread_ = std::thread(&ChangeMonitor::Process, this);
  return report;
}

void ChangeMonitor::Stop() {
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
  p.last = std::chrono::steady_clock::now();
  p.state = Pending::kChanged;
}

void ChangeMonitor::Removed(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto it = pending_.find(path);
  if (it != pending_.end()) {
    // Created (or changed) and deleted before it was indexed: a pending
    // change is simply cancelled, and the deletion still counts when the
    // file had a record before.
    it->second.state = realtime_delete ? Pending::kDeleted : Pending::kCancelled;
  } else if (realtime_delete) {
    pending_[path] = Pending{std::chrono::steady_clock::now(), Pending::kDeleted};
  }
}

void ChangeMonitor::Process() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::pair<std::string, Pending::State>> due;
    for (auto it = pending_.begin(); it != pending_.end();) {
      const Pending& p = it->second;
      if (p.state == Pending::kCancelled) {
        it = pending_.erase(it);
      } else if (p.state == Pending::kDeleted || now - p.last > options_.quiet_period) {
        due.emplace_back(it->first, p.state);
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
    // Index without holding the map: events keep arriving meanwhile.
    lock.unlock();
    for (const auto& [path, state] : due) {
      if (state == Pending::kDeleted) {
        writer_.RemoveDocuments(path);
        continue;
      }
      struct stat st;
      if (stat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        if (ListContainsToken(scope_.TypeList(TypeListKind::kDocument), "|DIRECTORY|")) {
          crawler_.IndexDirectory(path);
        }
      } else {
        crawler_.IndexFile(path, /*force=*/true);
      }
    }
    lock.lock();
    wake_.wait_for(lock, options_.pass_interval, [&] { return stop_; });
  }
}

}  // namespace lun
