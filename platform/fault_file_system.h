// A FileSystem for tests that fails on purpose.
//
// It forwards to another FileSystem and numbers every operation from 1. It
// can fail operation N (once, or that one and every later one, which is how a
// test models a crash or a full disk) and can cut writes short, so tests can
// prove that callers report errors, loop on short writes and never leave a
// half-written file behind.
#ifndef LUN_PLATFORM_FAULT_FILE_SYSTEM_H_
#define LUN_PLATFORM_FAULT_FILE_SYSTEM_H_

#include <atomic>
#include <mutex>

#include "platform/file_system.h"

namespace lun {

class FaultFileSystem final : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& base = DefaultFileSystem()) : base_(base) {}

  // Operation `n` (1-based) fails with `error`; with `persistent`, every
  // operation after it fails too. n = 0 turns failing off.
  void FailAt(uint64_t n, int error, bool persistent);
  // Every `k`-th write transfers only half of its bytes (at least one).
  void ShortWriteEvery(uint64_t k);
  // Number of operations seen so far.
  uint64_t operations() const { return count_.load(); }
  // Number of operations that were made to fail.
  uint64_t failures() const { return failures_.load(); }

  int Open(const std::string& path, int flags, unsigned mode, int* fd) override;
  int Close(int fd) override;
  int PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) override;
  int PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) override;
  int Sync(int fd) override;
  int Truncate(int fd, uint64_t size) override;
  int Size(int fd, uint64_t* size) override;
  int Rename(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int MakeDirectory(const std::string& path, unsigned mode) override;
  int SyncDirectory(const std::string& dir) override;

 private:
  // Numbers one operation and says with which error it must fail (0: none).
  int Next();

  FileSystem& base_;
  std::atomic<uint64_t> count_{0};
  std::atomic<uint64_t> failures_{0};
  std::atomic<uint64_t> writes_{0};
  std::atomic<uint64_t> fail_at_{0};
  std::atomic<int> error_{0};
  std::atomic<bool> persistent_{false};
  std::atomic<uint64_t> short_every_{0};
};

}  // namespace lun

#endif  // LUN_PLATFORM_FAULT_FILE_SYSTEM_H_
