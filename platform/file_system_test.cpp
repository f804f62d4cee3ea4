#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/fault_file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

std::string Contents(const std::string& path) {
  std::string data;
  EXPECT_EQ(ReadWholeFile(DefaultFileSystem(), path, &data), 0);
  return data;
}

TEST(FileSystemTest, WriteFullyLoopsOverShortWrites) {
  ScratchDir dir;
  FaultFileSystem fs;
  fs.ShortWriteEvery(1);
  const std::string data(10000, 'q');
  int fd = -1;
  ASSERT_EQ(fs.Open(dir.File("f"), O_RDWR | O_CREAT, 0644, &fd), 0);
  ASSERT_EQ(WriteFully(fs, fd, data.data(), data.size(), 0), 0);
  ASSERT_EQ(fs.Close(fd), 0);
  EXPECT_EQ(Contents(dir.File("f")), data);
}

TEST(FileSystemTest, ReadFullyReportsEndOfFile) {
  ScratchDir dir;
  FileSystem& fs = DefaultFileSystem();
  ASSERT_EQ(ReplaceFileAtomically(fs, dir.File("f"), "abc"), 0);
  int fd = -1;
  ASSERT_EQ(fs.Open(dir.File("f"), O_RDONLY, 0, &fd), 0);
  ScopedFd owner(fs, fd);
  char buf[8];
  size_t got = 0;
  EXPECT_EQ(ReadFully(fs, fd, buf, 8, 1, &got), EIO);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(ReadFully(fs, fd, buf, 2, 1), 0);
  EXPECT_EQ(std::string(buf, 2), "bc");
}

TEST(FileSystemTest, MissingFileIsEnoent) {
  std::string data;
  EXPECT_EQ(ReadWholeFile(DefaultFileSystem(), "/nonexistent/x", &data), ENOENT);
}

// A failure or a crash at any operation of a replacement leaves the old file
// whole or the new one whole, and no temporary file behind when the call
// could clean up.
TEST(FileSystemTest, ReplaceIsAllOrNothingAtEveryOperation) {
  const std::string old_data(5000, 'o'), new_data(7000, 'n');
  uint64_t ops = 0;
  {
    ScratchDir dir;
    FaultFileSystem counter;
    ASSERT_EQ(ReplaceFileAtomically(counter, dir.File("target"), old_data), 0);
    ops = counter.operations();
  }
  ASSERT_GT(ops, 4u);
  for (int error : {EIO, ENOSPC}) {
    for (bool persistent : {false, true}) {
      for (uint64_t n = 1; n <= ops; ++n) {
        SCOPED_TRACE(testing::Message() << "error " << error << " persistent " << persistent
                                        << " at op " << n);
        ScratchDir dir;
        const std::string path = dir.File("target");
        ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, old_data), 0);
        FaultFileSystem fs;
        fs.FailAt(n, error, persistent);
        const int rc = ReplaceFileAtomically(fs, path, new_data);
        const std::string now = Contents(path);
        if (rc == 0) {
          EXPECT_EQ(now, new_data);
        } else {
          EXPECT_TRUE(now == old_data || now == new_data);
        }
        size_t files = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
        // Only a persistent failure can also stop the clean-up itself.
        if (!persistent) {
          EXPECT_EQ(files, 1u);
        }
      }
    }
  }
}

}  // namespace
}  // namespace lun
