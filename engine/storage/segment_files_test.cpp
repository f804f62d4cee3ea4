// The record files of a table as a unit, under failing I/O (the FileSystem
// seam): appends, syncs and drops.
#include "engine/storage/segment_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "automation/variant.h"
#include "engine/storage/value_codec.h"
#include "platform/fault_file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

const std::vector<int> kTypes = {kFieldText, kFieldInteger};

std::string Body(int i) {
  std::string body;
  EXPECT_EQ(EncodeFieldValue(kFieldText, Variant::Bstr(std::u16string(3 + i % 5, u'记')), &body),
            S_OK);
  EXPECT_EQ(EncodeFieldValue(kFieldInteger, Variant::I4(i), &body), S_OK);
  return body;
}

// The bodies a fresh open of `dir` reads back.
std::vector<std::string> Bodies(const ScratchDir& dir) {
  SegmentFiles segments(DefaultFileSystem(), 2);
  EXPECT_TRUE(segments.Open(dir.path(), "T", kTypes).ok());
  std::vector<std::string> bodies(segments.record_count());
  for (uint32_t r = 0; r < bodies.size(); ++r) EXPECT_TRUE(segments.ReadBody(r, &bodies[r]));
  return bodies;
}

std::vector<uint64_t> FileSizes(const ScratchDir& dir) {
  std::vector<uint64_t> sizes;
  for (int k = 0; k < 6; ++k) {
    for (const char* kind : {".S", ".R"}) {
      std::error_code ec;
      sizes.push_back(
          std::filesystem::file_size(dir.File("T" + std::string(kind) + std::to_string(k)), ec));
    }
  }
  return sizes;
}

// Each operation of an append (segment rolls included) fails in turn: a
// failed append leaves the files and the count as they were, and a failed
// sync is reported and retried by the next one.
TEST(SegmentFilesTest, EachFailingOperationOfAnAppendOrSyncLeavesTheFilesWhole) {
  ScratchDir dir;
  FaultFileSystem fs;
  std::vector<std::string> committed;
  {
    SegmentFiles segments(fs, 2);
    ASSERT_TRUE(segments.Open(dir.path(), "T", kTypes).ok());
    for (uint64_t n = 1; n <= 8; ++n) {
      for (int error : {EIO, ENOSPC}) {
        SCOPED_TRACE(testing::Message() << "operation " << n << " errno " << error);
        const std::string body = Body(static_cast<int>(committed.size() * 7 + n));
        const uint32_t count = segments.record_count();
        const std::vector<uint64_t> sizes = FileSizes(dir);
        fs.FailAt(fs.operations() + n, error, false);
        const EngineStatus s = segments.Append(body);
        fs.FailAt(0, 0, false);
        if (!s.ok()) {
          EXPECT_EQ(segments.record_count(), count);
          EXPECT_EQ(FileSizes(dir), sizes);
          continue;
        }
        committed.push_back(body);
        ASSERT_TRUE(segments.dirty());
        fs.FailAt(fs.operations() + 1, error, false);
        EXPECT_FALSE(segments.Sync());
        EXPECT_TRUE(segments.dirty());
        EXPECT_TRUE(segments.Sync());
        EXPECT_FALSE(segments.dirty());
      }
    }
  }
  EXPECT_GT(committed.size(), 4u);  // rolled over several segments
  EXPECT_EQ(Bodies(dir), committed);
}

// A drop stopped at any operation (every later one failing, as a crash
// would leave it) reads back at the next open as the table before the drop
// or after it, never with records lost or shifted otherwise.
TEST(SegmentFilesTest, DropStoppedAtAnyOperationLeavesTheTableBeforeOrAfter) {
  // Closing the six files comes first, then two removals and four renames.
  for (uint64_t n = 1; n <= 14; ++n) {
    SCOPED_TRACE(testing::Message() << "operation " << n);
    ScratchDir dir;
    std::vector<std::string> before;
    {
      SegmentFiles segments(DefaultFileSystem(), 2);
      ASSERT_TRUE(segments.Open(dir.path(), "T", kTypes).ok());
      for (int i = 0; i < 6; ++i) {
        before.push_back(Body(i));
        ASSERT_TRUE(segments.Append(before.back()).ok());
      }
      ASSERT_TRUE(segments.Sync());
    }
    const std::vector<std::string> after(before.begin() + 2, before.end());
    {
      FaultFileSystem fs;
      SegmentFiles segments(fs, 2);
      ASSERT_TRUE(segments.Open(dir.path(), "T", kTypes).ok());
      fs.FailAt(fs.operations() + n, EIO, true);
      (void)segments.Drop(0);
    }
    const std::vector<std::string> read = Bodies(dir);
    EXPECT_TRUE(read == before || read == after) << read.size() << " records";
  }
}

}  // namespace
}  // namespace lun
