// Helpers of the index tests.
#ifndef LUN_ENGINE_INDEX_INDEX_TEST_UTIL_H_
#define LUN_ENGINE_INDEX_INDEX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace lun {

// Overwrites `bytes` at `offset` of the file `path` (to damage it).
inline void PatchFile(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
  FileSystem& fs = DefaultFileSystem();
  int fd = -1;
  ASSERT_EQ(fs.Open(path, O_RDWR, 0, &fd), 0) << path;
  EXPECT_EQ(WriteFully(fs, fd, bytes.data(), bytes.size(), offset), 0);
  (void)fs.Close(fd);
}

// Reads `n` bytes at `offset` of `path`.
inline std::vector<uint8_t> ReadAt(const std::string& path, uint64_t offset, size_t n) {
  FileSystem& fs = DefaultFileSystem();
  std::vector<uint8_t> out(n);
  int fd = -1;
  EXPECT_EQ(fs.Open(path, O_RDONLY, 0, &fd), 0) << path;
  EXPECT_EQ(ReadFully(fs, fd, out.data(), n, offset), 0);
  (void)fs.Close(fd);
  return out;
}

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_INDEX_TEST_UTIL_H_
