#include "platform/directory_watcher.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/paths.h"

namespace lun {
namespace {

constexpr uint32_t kMask = IN_CREATE | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

}  // namespace

int DirectoryWatcher::AddWatch(const std::string& directory) {
  if (fail_watch_) {
    if (const int error = fail_watch_(directory)) {
      errno = error;
      return -1;
    }
  }
  {
    std::lock_guard lock(mutex_);
    if (watch_limit_ != 0 && directories_.size() >= watch_limit_) {
      errno = ENOSPC;
      return -1;
    }
  }
  return inotify_add_watch(inotify_fd_, directory.c_str(), kMask);
}

struct DirectoryWatcher::Tree {
  std::string root;
  WatchHandler* handler;
  std::function<bool(const std::string&)> skip;
};

DirectoryWatcher::DirectoryWatcher() {
  inotify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

DirectoryWatcher::~DirectoryWatcher() {
  UnwatchAll();
  if (inotify_fd_ >= 0) close(inotify_fd_);
  if (wake_fd_ >= 0) close(wake_fd_);
}

int DirectoryWatcher::Watch(const std::string& root, WatchHandler* handler,
                            std::function<bool(const std::string&)> skip) {
  if (inotify_fd_ < 0 || wake_fd_ < 0) return EMFILE;
  struct stat st;
  if (stat(root.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  Tree* tree;
  {
    std::lock_guard lock(mutex_);
    auto t = std::make_unique<Tree>(Tree{root, handler, std::move(skip)});
    tree = t.get();
    trees_[root] = std::move(t);
  }
  const int wd = AddWatch(root);
  if (wd < 0) {
    const int error = errno;
    std::lock_guard lock(mutex_);
    trees_.erase(root);
    return error;
  }
  {
    std::lock_guard lock(mutex_);
    directories_[wd] = {root, tree};
  }
  AddTree(tree, root, /*report_files=*/false);
  if (!worker_.joinable()) worker_ = std::thread(&DirectoryWatcher::Run, this);
  return 0;
}

void DirectoryWatcher::AddTree(Tree* tree, const std::string& directory, bool report_files) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) return;
  std::vector<std::string> subdirectories;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = JoinPath(directory, name);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    if (S_ISDIR(st.st_mode)) {
      subdirectories.push_back(path);
    } else if (report_files && S_ISREG(st.st_mode)) {
      tree->handler->FileAdded(path);
    }
  }
  closedir(dir);
  for (const std::string& sub : subdirectories) {
    if (tree->skip && tree->skip(sub)) continue;
    const int wd = AddWatch(sub);
    if (wd < 0) {
      if (errno == ENOSPC) tree->handler->WatchLimitReached(sub);
      continue;
    }
    {
      std::lock_guard lock(mutex_);
      directories_[wd] = {sub, tree};
    }
    if (report_files) tree->handler->FileAdded(sub);
    AddTree(tree, sub, report_files);
  }
}

void DirectoryWatcher::RemoveWatchesUnder(const std::string& directory) {
  std::lock_guard lock(mutex_);
  const std::string prefix = directory + "/";
  for (auto it = directories_.begin(); it != directories_.end();) {
    const std::string& path = it->second.first;
    if (path == directory || path.compare(0, prefix.size(), prefix) == 0) {
      inotify_rm_watch(inotify_fd_, it->first);
      it = directories_.erase(it);
    } else {
      ++it;
    }
  }
}

void DirectoryWatcher::RenameWatchesUnder(const std::string& from, const std::string& to) {
  // The watches follow their directories (they belong to the inodes), only
  // the names kept for them change. Renamed by name, not by watching the
  // new name again: by the time the event is read the directory may have
  // moved on, and the events still queued for it name it as it was then.
  const std::string prefix = from + "/";
  auto below = [&](const std::string& path) {
    return path == from || path.compare(0, prefix.size(), prefix) == 0;
  };
  {
    std::lock_guard lock(mutex_);
    for (auto& [wd, entry] : directories_) {
      if (below(entry.first)) entry.first = to + entry.first.substr(from.size());
    }
  }
  std::map<std::string, Tree*> late;
  for (const auto& [path, tree] : late_) late[below(path) ? to + path.substr(from.size()) : path] = tree;
  late_.swap(late);
}

void DirectoryWatcher::UnwatchAll() {
  if (worker_.joinable()) {
    stopping_ = true;
    const uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof(one));
    worker_.join();
    stopping_ = false;
  }
  std::lock_guard lock(mutex_);
  for (const auto& [wd, entry] : directories_) inotify_rm_watch(inotify_fd_, wd);
  directories_.clear();
  trees_.clear();
  late_.clear();
  uint64_t drained;
  (void)!read(wake_fd_, &drained, sizeof(drained));
}

void DirectoryWatcher::InjectOverflowForTesting() {
  overflow_injected_ = true;
  const uint64_t one = 1;
  (void)!write(wake_fd_, &one, sizeof(one));
}

size_t DirectoryWatcher::watch_count() {
  std::lock_guard lock(mutex_);
  return directories_.size();
}

void DirectoryWatcher::Run() {
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    pollfd fds[2] = {{inotify_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents & POLLIN) {
      if (stopping_) return;
      uint64_t drained;
      (void)!read(wake_fd_, &drained, sizeof(drained));
      if (overflow_injected_.exchange(false)) {
        inotify_event overflow{};
        overflow.wd = -1;
        overflow.mask = IN_Q_OVERFLOW;
        HandleEvents(reinterpret_cast<const char*>(&overflow), sizeof(overflow));
      }
      continue;
    }
    const ssize_t n = read(inotify_fd_, buffer, sizeof(buffer));
    if (n <= 0) continue;
    HandleEvents(buffer, static_cast<size_t>(n));
  }
}

void DirectoryWatcher::HandleEvents(const char* buffer, size_t length) {
  // A move inside the watched trees arrives as MOVED_FROM and MOVED_TO with
  // one cookie, normally next to each other in one read.
  std::string moved_from;
  uint32_t moved_cookie = 0;
  bool moved_directory = false;
  Tree* moved_tree = nullptr;
  // A move whose other half never came left the watched trees.
  auto flush_move = [&] {
    if (moved_tree && moved_directory) {
      RemoveWatchesUnder(moved_from);
      ForgetLateUnder(moved_from);
      moved_tree->handler->DirectoryRemoved(moved_from);
    } else if (moved_tree) {
      moved_tree->handler->FileRemoved(moved_from);
    }
    moved_tree = nullptr;
  };
  size_t pos = 0;
  while (pos + sizeof(inotify_event) <= length) {
    const auto* ev = reinterpret_cast<const inotify_event*>(buffer + pos);
    pos += sizeof(inotify_event) + ev->len;
    if (ev->mask & IN_Q_OVERFLOW) {
      flush_move();
      std::vector<WatchHandler*> handlers;
      {
        std::lock_guard lock(mutex_);
        for (const auto& [root, tree] : trees_) handlers.push_back(tree->handler);
      }
      for (WatchHandler* h : handlers) h->EventsLost();
      continue;
    }
    std::string directory;
    Tree* tree = nullptr;
    {
      std::lock_guard lock(mutex_);
      const auto it = directories_.find(ev->wd);
      if (it == directories_.end()) continue;
      if (ev->mask & IN_IGNORED) {
        directories_.erase(it);
        continue;
      }
      directory = it->second.first;
      tree = it->second.second;
    }
    if (ev->len == 0) continue;  // events on the directory itself
    const std::string path = JoinPath(directory, ev->name);
    const bool is_dir = ev->mask & IN_ISDIR;
    if (is_dir && tree->skip && tree->skip(path)) continue;

    if (ev->mask & IN_MOVED_FROM) {
      flush_move();
      moved_from = path;
      moved_cookie = ev->cookie;
      moved_directory = is_dir;
      moved_tree = tree;
      continue;
    }
    if ((ev->mask & IN_MOVED_TO) && moved_tree == tree && ev->cookie == moved_cookie) {
      moved_tree = nullptr;
      if (is_dir) {
        tree->handler->DirectoryRenamed(moved_from, path);
      } else {
        tree->handler->FileRenamed(moved_from, path);
      }
      if (is_dir) RenameWatchesUnder(moved_from, path);
      continue;
    }
    flush_move();
    if (ev->mask & (IN_CREATE | IN_MOVED_TO)) {
      tree->handler->FileAdded(path);
      if (is_dir) {
        const int error = WatchNewDirectory(tree, path);
        if (error == ENOENT || error == ENOTDIR) late_[path] = tree;
      }
    } else if (ev->mask & IN_CLOSE_WRITE) {
      tree->handler->FileModified(path);
    } else if ((ev->mask & IN_DELETE) && is_dir) {
      ForgetLateUnder(path);
      tree->handler->DirectoryRemoved(path);
    } else if (ev->mask & IN_DELETE) {
      tree->handler->FileRemoved(path);
    }
  }
  flush_move();
  WatchLateDirectories();
}

void DirectoryWatcher::ForgetLateUnder(const std::string& directory) {
  const std::string prefix = directory + "/";
  for (auto it = late_.begin(); it != late_.end();) {
    if (it->first == directory || it->first.compare(0, prefix.size(), prefix) == 0) {
      it = late_.erase(it);
    } else {
      ++it;
    }
  }
}

void DirectoryWatcher::WatchLateDirectories() {
  if (late_.empty()) return;
  // Their names are as the events read so far leave them; only once no
  // event is left to read are those the names they have now.
  int unread = 0;
  if (ioctl(inotify_fd_, FIONREAD, &unread) != 0 || unread > 0) return;
  std::map<std::string, Tree*> late;
  late.swap(late_);
  // A failure now means gone for good (deleted, or moved out of the
  // trees), or no watch left to give.
  for (const auto& [path, tree] : late) (void)WatchNewDirectory(tree, path);
}

int DirectoryWatcher::WatchNewDirectory(Tree* tree, const std::string& directory) {
  const int wd = AddWatch(directory);
  if (wd < 0) {
    const int error = errno;
    if (error == ENOSPC) tree->handler->WatchLimitReached(directory);
    return error;
  }
  {
    std::lock_guard lock(mutex_);
    directories_[wd] = {directory, tree};
  }
  AddTree(tree, directory, /*report_files=*/true);
  return 0;
}

}  // namespace lun
