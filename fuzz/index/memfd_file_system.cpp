#include "memfd_file_system.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lun {

MemfdFileSystem::~MemfdFileSystem() {
  for (auto& [path, fd] : files_) ::close(fd);
}

void MemfdFileSystem::Put(const std::string& path, std::string_view contents) {
  (void)Unlink(path);
  const int fd = ::memfd_create("lun-fuzz", MFD_CLOEXEC);
  if (fd < 0) return;
  size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::pwrite(fd, contents.data() + done, contents.size() - done, off_t(done));
    if (n <= 0) break;
    done += size_t(n);
  }
  files_[path] = fd;
}

int MemfdFileSystem::Open(const std::string& path, int flags, unsigned, int* fd) {
  auto it = files_.find(path);
  if (it == files_.end()) {
    if (!(flags & O_CREAT)) return ENOENT;
    Put(path, {});
    it = files_.find(path);
    if (it == files_.end()) return EIO;
  }
  *fd = ::dup(it->second);
  if (*fd < 0) return errno;
  if ((flags & O_TRUNC) && ::ftruncate(*fd, 0) != 0) return errno;
  return 0;
}

int MemfdFileSystem::Close(int fd) { return ::close(fd) == 0 ? 0 : errno; }

int MemfdFileSystem::PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) {
  const ssize_t r = ::pread(fd, buf, n, off_t(offset));
  if (r < 0) return errno;
  *done = size_t(r);
  return 0;
}

int MemfdFileSystem::PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) {
  // Files of a fuzz run stay small: refuse to grow one past 64 MB.
  if (offset + n > (uint64_t{64} << 20)) return ENOSPC;
  const ssize_t r = ::pwrite(fd, buf, n, off_t(offset));
  if (r < 0) return errno;
  *done = size_t(r);
  return 0;
}

int MemfdFileSystem::Truncate(int fd, uint64_t size) {
  if (size > (uint64_t{64} << 20)) return ENOSPC;
  return ::ftruncate(fd, off_t(size)) == 0 ? 0 : errno;
}

int MemfdFileSystem::Size(int fd, uint64_t* size) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  *size = uint64_t(st.st_size);
  return 0;
}

int MemfdFileSystem::Rename(const std::string& from, const std::string& to) {
  auto it = files_.find(from);
  if (it == files_.end()) return ENOENT;
  (void)Unlink(to);
  files_[to] = it->second;
  files_.erase(from);
  return 0;
}

int MemfdFileSystem::Unlink(const std::string& path) {
  auto it = files_.find(path);
  if (it == files_.end()) return ENOENT;
  ::close(it->second);
  files_.erase(it);
  return 0;
}

}  // namespace lun
