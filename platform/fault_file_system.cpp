#include "platform/fault_file_system.h"

namespace lun {

void FaultFileSystem::FailAt(uint64_t n, int error, bool persistent) {
  error_ = error;
  persistent_ = persistent;
  fail_at_ = n;
}

void FaultFileSystem::ShortWriteEvery(uint64_t k) { short_every_ = k; }

int FaultFileSystem::Next() {
  const uint64_t n = ++count_;
  const uint64_t at = fail_at_.load();
  if (at == 0) return 0;
  if (n == at || (persistent_ && n > at)) {
    ++failures_;
    return error_.load();
  }
  return 0;
}

int FaultFileSystem::Open(const std::string& path, int flags, unsigned mode, int* fd) {
  if (const int e = Next()) {
    *fd = -1;
    return e;
  }
  return base_.Open(path, flags, mode, fd);
}

// A failed close still releases the descriptor, as close(2) does on Linux.
int FaultFileSystem::Close(int fd) {
  const int e = Next();
  const int rc = base_.Close(fd);
  return e ? e : rc;
}

int FaultFileSystem::PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) {
  *done = 0;
  if (const int e = Next()) return e;
  return base_.PRead(fd, buf, n, offset, done);
}

int FaultFileSystem::PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) {
  *done = 0;
  if (const int e = Next()) return e;
  const uint64_t k = short_every_.load();
  if (k != 0 && n > 1 && ++writes_ % k == 0) n /= 2;
  return base_.PWrite(fd, buf, n, offset, done);
}

int FaultFileSystem::Sync(int fd) {
  if (const int e = Next()) return e;
  return base_.Sync(fd);
}

int FaultFileSystem::Truncate(int fd, uint64_t size) {
  if (const int e = Next()) return e;
  return base_.Truncate(fd, size);
}

int FaultFileSystem::Size(int fd, uint64_t* size) {
  if (const int e = Next()) return e;
  return base_.Size(fd, size);
}

int FaultFileSystem::Rename(const std::string& from, const std::string& to) {
  if (const int e = Next()) return e;
  return base_.Rename(from, to);
}

int FaultFileSystem::Unlink(const std::string& path) {
  if (const int e = Next()) return e;
  return base_.Unlink(path);
}

int FaultFileSystem::MakeDirectory(const std::string& path, unsigned mode) {
  if (const int e = Next()) return e;
  return base_.MakeDirectory(path, mode);
}

int FaultFileSystem::SyncDirectory(const std::string& dir) {
  if (const int e = Next()) return e;
  return base_.SyncDirectory(dir);
}

}  // namespace lun
