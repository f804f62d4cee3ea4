#include "platform/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/kill_point.h"
#include "platform/paths.h"

namespace lun {
namespace {

int ErrnoOr0(int rc) { return rc < 0 ? errno : 0; }

class PosixFileSystem final : public FileSystem {
 public:
  int Open(const std::string& path, int flags, unsigned mode, int* fd) override {
    do {
      *fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (*fd < 0 && errno == EINTR);
    return *fd < 0 ? errno : 0;
  }
  int Close(int fd) override { return ErrnoOr0(::close(fd)); }
  int PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) override {
    const ssize_t r = ::pread(fd, buf, n, static_cast<off_t>(offset));
    *done = r > 0 ? static_cast<size_t>(r) : 0;
    return r < 0 ? errno : 0;
  }
  int PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) override {
    const ssize_t r = ::pwrite(fd, buf, n, static_cast<off_t>(offset));
    *done = r > 0 ? static_cast<size_t>(r) : 0;
    return r < 0 ? errno : 0;
  }
  int Sync(int fd) override { return ErrnoOr0(::fsync(fd)); }
  int Truncate(int fd, uint64_t size) override {
    return ErrnoOr0(::ftruncate(fd, static_cast<off_t>(size)));
  }
  int Size(int fd, uint64_t* size) override {
    struct stat st;
    if (::fstat(fd, &st) < 0) return errno;
    *size = static_cast<uint64_t>(st.st_size);
    return 0;
  }
  int Rename(const std::string& from, const std::string& to) override {
    return ErrnoOr0(::rename(from.c_str(), to.c_str()));
  }
  int Unlink(const std::string& path) override { return ErrnoOr0(::unlink(path.c_str())); }
  int MakeDirectory(const std::string& path, unsigned mode) override {
    return ErrnoOr0(::mkdir(path.c_str(), mode));
  }
  int SyncDirectory(const std::string& dir) override {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int rc = ErrnoOr0(::fsync(fd));
    ::close(fd);
    return rc;
  }
};

}  // namespace

FileSystem& DefaultFileSystem() {
  static PosixFileSystem* fs = new PosixFileSystem;  // never destroyed: used until exit
  return *fs;
}

int WriteFully(FileSystem& fs, int fd, const void* buf, size_t n, uint64_t offset) {
  const auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    size_t done = 0;
    const int rc = fs.PWrite(fd, p, n, offset, &done);
    if (rc == EINTR) continue;
    if (rc != 0) return rc;
    if (done == 0) return EIO;  // no progress and no error: give up rather than spin
    p += done;
    n -= done;
    offset += done;
  }
  return 0;
}

int ReadFully(FileSystem& fs, int fd, void* buf, size_t n, uint64_t offset, size_t* got) {
  auto* p = static_cast<char*>(buf);
  size_t total = 0;
  int rc = 0;
  while (total < n) {
    size_t done = 0;
    rc = fs.PRead(fd, p + total, n - total, offset + total, &done);
    if (rc == EINTR) continue;
    if (rc != 0) break;
    if (done == 0) {
      rc = EIO;  // end of file before `n` bytes
      break;
    }
    total += done;
  }
  if (got) *got = total;
  return rc;
}

int ReadWholeFile(FileSystem& fs, const std::string& path, std::string* data,
                  uint64_t max_size) {
  int fd = -1;
  if (const int rc = fs.Open(path, O_RDONLY, 0, &fd)) return rc;
  ScopedFd owner(fs, fd);
  uint64_t size = 0;
  if (const int rc = fs.Size(fd, &size)) return rc;
  if (size > max_size) return EFBIG;
  data->resize(static_cast<size_t>(size));
  size_t got = 0;
  const int rc = ReadFully(fs, fd, data->data(), data->size(), 0, &got);
  // A file that shrank while we read it is taken as far as it goes.
  data->resize(got);
  return rc == EIO ? 0 : rc;
}

int ReplaceFileAtomically(FileSystem& fs, const std::string& path, std::string_view data,
                          unsigned mode) {
  const std::string dir = DirName(path);
  const std::string temp = TemporaryName(dir);
  int fd = -1;
  if (const int rc = fs.Open(temp, O_WRONLY | O_CREAT | O_EXCL, mode, &fd)) return rc;
  ScopedFd owner(fs, fd);
  int rc = WriteFully(fs, fd, data.data(), data.size(), 0);
  if (rc == 0) rc = fs.Sync(fd);
  const int close_rc = owner.Close();
  if (rc == 0) rc = close_rc;
  // Crash tests kill here to prove that the old file survives whole.
  if (rc == 0) LUN_KILL_POINT("atomic-replace-before-rename");
  if (rc == 0) rc = fs.Rename(temp, path);
  if (rc != 0) {
    (void)fs.Unlink(temp);
    return rc;
  }
  return fs.SyncDirectory(dir);
}

int TouchFile(FileSystem& fs, const std::string& path, unsigned mode) {
  int fd = -1;
  if (const int rc = fs.Open(path, O_RDWR | O_CREAT, mode, &fd)) return rc;
  return fs.Close(fd);
}

}  // namespace lun
