// The deletion list of a table as a unit, under failing I/O (the FileSystem
// seam).
#include "engine/storage/deletion_list.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/fault_file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

std::vector<uint32_t> Loaded(const std::string& path, uint32_t records = 100) {
  DeletionList list(DefaultFileSystem());
  EXPECT_TRUE(list.Load(path, records).ok());
  return list.records();
}

// Each operation of a deletion fails in turn: a refused deletion changes
// neither the list nor the file, an acknowledged one is on disk at once.
TEST(DeletionListTest, EachFailingOperationOfADeletionLeavesNoTrace) {
  ScratchDir dir;
  const std::string path = dir.File("T.Del");
  FaultFileSystem fs;
  DeletionList list(fs);
  ASSERT_TRUE(list.Load(path, 100).ok());
  std::vector<uint32_t> acknowledged;
  uint32_t next = 90;
  for (uint64_t n = 1; n <= 4; ++n) {
    for (int error : {EIO, ENOSPC}) {
      SCOPED_TRACE(testing::Message() << "operation " << n << " errno " << error);
      const std::vector<uint32_t> before = list.records();
      fs.FailAt(fs.operations() + n, error, false);
      const DeletionList::Outcome outcome = list.Delete(next);
      fs.FailAt(0, 0, false);
      if (outcome == DeletionList::Outcome::kDeleted) {
        acknowledged.push_back(next);
      } else {
        EXPECT_EQ(outcome, DeletionList::Outcome::kRefused);
        EXPECT_EQ(list.records(), before);
      }
      std::vector<uint32_t> sorted = acknowledged;
      std::sort(sorted.begin(), sorted.end());
      EXPECT_EQ(Loaded(path), sorted);  // written when made, nothing held back
      next -= 7;
    }
  }
  EXPECT_FALSE(acknowledged.empty());
  EXPECT_EQ(list.Delete(acknowledged.front()), DeletionList::Outcome::kAlreadyDeleted);
}

// A rewrite (after a drop renumbered the list) stopped at any operation
// leaves the old file or the new one whole.
TEST(DeletionListTest, RewriteStoppedAtAnyOperationLeavesOldOrNewFile) {
  for (uint64_t n = 1; n <= 8; ++n) {
    SCOPED_TRACE(testing::Message() << "operation " << n);
    ScratchDir dir;
    const std::string path = dir.File("T.Del");
    {
      DeletionList list(DefaultFileSystem());
      ASSERT_TRUE(list.Load(path, 100).ok());
      for (uint32_t r : {40u, 5u, 12u, 70u}) {
        ASSERT_EQ(list.Delete(r), DeletionList::Outcome::kDeleted);
      }
    }
    FaultFileSystem fs;
    DeletionList list(fs);
    ASSERT_TRUE(list.Load(path, 100).ok());
    ASSERT_TRUE(list.RemoveRange(10, 20));  // records 10-29 dropped
    EXPECT_EQ(list.records(), (std::vector<uint32_t>{5, 20, 50}));
    fs.FailAt(fs.operations() + n, EIO, true);
    (void)list.Rewrite();
    const std::vector<uint32_t> read = Loaded(path);
    EXPECT_TRUE(read == (std::vector<uint32_t>{5, 12, 40, 70}) ||
                read == (std::vector<uint32_t>{5, 20, 50}));
  }
}

// Numbers beyond the table (they would delete records appended later) and
// a torn last entry are repaired at load.
TEST(DeletionListTest, LoadDropsNumbersBeyondTheTableAndATornEntry) {
  ScratchDir dir;
  const std::string path = dir.File("T.Del");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path,
                                  std::string("\x03\0\0\0\x09\0\0\0\x01\0\0\0\x07\0", 14)),
            0);
  EXPECT_EQ(Loaded(path, 8), (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(Loaded(path, 100), (std::vector<uint32_t>{1, 3}));  // 9 is gone for good
  std::string data;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), path, &data), 0);
  EXPECT_EQ(data.size(), 8u);
}

}  // namespace
}  // namespace lun
