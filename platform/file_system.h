// The seam through which the engine and the settings writer reach the disk.
//
// Every operation that changes stored data goes through a FileSystem, so that
// tests can count operations, fail the Nth one, return short writes or drop
// unsynced data (see fault_file_system.h). Production code uses
// DefaultFileSystem(), a thin layer over POSIX calls.
//
// Operations return 0 on success or an errno value; they never throw. A
// FileSystem is shared by all threads; implementations are thread-safe.
#ifndef LUN_PLATFORM_FILE_SYSTEM_H_
#define LUN_PLATFORM_FILE_SYSTEM_H_

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lun {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // open(2): `flags` and `mode` as there (O_CLOEXEC is always added).
  virtual int Open(const std::string& path, int flags, unsigned mode, int* fd) = 0;
  virtual int Close(int fd) = 0;
  // pread(2)/pwrite(2): may transfer fewer bytes than asked; `*done` says how
  // many. Use ReadFully/WriteFully for whole transfers.
  virtual int PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) = 0;
  virtual int PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) = 0;
  virtual int Sync(int fd) = 0;
  virtual int Truncate(int fd, uint64_t size) = 0;
  virtual int Size(int fd, uint64_t* size) = 0;
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  virtual int Unlink(const std::string& path) = 0;
  virtual int MakeDirectory(const std::string& path, unsigned mode) = 0;
  // Makes the directory entries of `dir` durable (fsync of the directory).
  virtual int SyncDirectory(const std::string& dir) = 0;
};

// The process-wide POSIX file system.
FileSystem& DefaultFileSystem();

// Writes all `n` bytes at `offset`, looping over short writes and EINTR.
int WriteFully(FileSystem& fs, int fd, const void* buf, size_t n, uint64_t offset);

// Reads exactly `n` bytes at `offset`; a file that ends first gives EIO
// (`*got`, when given, says how many bytes arrived).
int ReadFully(FileSystem& fs, int fd, void* buf, size_t n, uint64_t offset, size_t* got = nullptr);

// Reads the whole of `path` into `*data`. ENOENT when it does not exist.
// Files larger than `max_size` give EFBIG.
int ReadWholeFile(FileSystem& fs, const std::string& path, std::string* data,
                  uint64_t max_size = uint64_t{1} << 30);

// Replaces `path` with `data` so that a crash at any moment leaves either the
// old or the new file whole: writes "$" + UUID in the same directory, syncs
// it, renames it over `path` and syncs the directory. The temporary file is
// removed on failure.
int ReplaceFileAtomically(FileSystem& fs, const std::string& path, std::string_view data,
                          unsigned mode = 0644);

// Opens `path` and closes it again, creating it empty when missing.
int TouchFile(FileSystem& fs, const std::string& path, unsigned mode = 0644);

// Owner of a descriptor opened through a FileSystem: closes it when
// destroyed or given another. Movable, so that descriptors can live in
// containers and members; an empty holder (get() < 0) closes nothing.
class ScopedFd {
 public:
  ScopedFd() = default;
  ScopedFd(FileSystem& fs, int fd) : fs_(&fs), fd_(fd) {}
  ~ScopedFd() { (void)Close(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ScopedFd(ScopedFd&& other) noexcept : fs_(other.fs_), fd_(other.fd_) { other.fd_ = -1; }
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) {
      (void)Close();
      fs_ = other.fs_;
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }

  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }
  // Closes what the holder owns, then opens `path` (FileSystem::Open);
  // 0 or the errno value, the holder staying empty on failure.
  int Open(FileSystem& fs, const std::string& path, int flags, unsigned mode) {
    (void)Close();
    fs_ = &fs;
    const int rc = fs.Open(path, flags, mode, &fd_);
    if (rc != 0) fd_ = -1;
    return rc;
  }
  // Closes now and reports the result of close(2).
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 ? fs_->Close(fd) : 0;
  }

 private:
  FileSystem* fs_ = nullptr;
  int fd_ = -1;
};

}  // namespace lun

#endif  // LUN_PLATFORM_FILE_SYSTEM_H_
