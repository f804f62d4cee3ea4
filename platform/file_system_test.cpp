#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <vector>

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

// Descriptors change hands without being closed twice or lost: the fault
// file system counts the closes.
TEST(FileSystemTest, ScopedFdClosesOnceWhereverItMoves) {
  ScratchDir dir;
  FaultFileSystem fs;
  ASSERT_EQ(ReplaceFileAtomically(fs, dir.File("f"), "abc"), 0);
  const uint64_t start = fs.operations();
  std::vector<ScopedFd> held;
  {
    ScopedFd a;
    ASSERT_EQ(a.Open(fs, dir.File("f"), O_RDONLY, 0), 0);
    ScopedFd b = std::move(a);
    EXPECT_FALSE(a.is_open());
    held.push_back(std::move(b));
    EXPECT_EQ(a.Open(fs, dir.File("missing"), O_RDONLY, 0), ENOENT);
    EXPECT_FALSE(a.is_open());
  }
  EXPECT_EQ(fs.operations() - start, 2u);  // two opens, nothing closed yet
  ScopedFd c;
  ASSERT_EQ(c.Open(fs, dir.File("f"), O_RDONLY, 0), 0);
  held.front() = std::move(c);  // closes the first descriptor
  EXPECT_EQ(fs.operations() - start, 4u);
  char byte = 0;
  EXPECT_EQ(ReadFully(fs, held.front().get(), &byte, 1, 1), 0);
  EXPECT_EQ(byte, 'b');
  held.clear();
  EXPECT_EQ(fs.operations() - start, 6u);  // the read and the last close
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
        SCOPED_TRACE(testing::Message()
                     << "error " << error << " persistent " << persistent << " at op " << n);
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
