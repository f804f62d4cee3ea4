// A FileSystem for fuzz targets whose files live in memory: each path is a
// memfd created on first open, so a target can hand an index arbitrary file
// contents, let it map and grow them, and touch no real file.
#ifndef LUN_FUZZ_INDEX_MEMFD_FILE_SYSTEM_H_
#define LUN_FUZZ_INDEX_MEMFD_FILE_SYSTEM_H_

#include <map>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace lun {

class MemfdFileSystem final : public FileSystem {
 public:
  MemfdFileSystem() = default;
  ~MemfdFileSystem() override;
  MemfdFileSystem(const MemfdFileSystem&) = delete;
  MemfdFileSystem& operator=(const MemfdFileSystem&) = delete;

  // Creates (or replaces) `path` with `contents`.
  void Put(const std::string& path, std::string_view contents);

  int Open(const std::string& path, int flags, unsigned mode, int* fd) override;
  int Close(int fd) override;
  int PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) override;
  int PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) override;
  int Sync(int) override { return 0; }
  int Truncate(int fd, uint64_t size) override;
  int Size(int fd, uint64_t* size) override;
  int Rename(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int MakeDirectory(const std::string&, unsigned) override { return 0; }
  int SyncDirectory(const std::string&) override { return 0; }

 private:
  std::map<std::string, int> files_;  // path -> memfd owned here
};

}  // namespace lun

#endif  // LUN_FUZZ_INDEX_MEMFD_FILE_SYSTEM_H_
