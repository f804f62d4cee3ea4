// Golden files of the word index and the exact-value index: a small fixed
// set of records written in two flushes must give exactly the stored bytes
// in golden/ (gzip-compressed, since the term directory is 1.8 MB of mostly
// zeros), and the stored bytes must read back to the same look-ups as the
// records. A failure of the first test means the written format changed;
// one of the second means a stored index of an earlier build would no longer
// be read the same. Both formats are fixed: change the golden files only
// with a deliberate, documented format change
// (LUN_UPDATE_GOLDEN=1 index_test --gtest_filter='GoldenFormat*' rewrites
// them).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/index/char_filter.h"
#include "engine/index/exact_index_segment.h"
#include "engine/index/word_index_segment.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

constexpr int kWordDefinition = 3;
constexpr int kExactDefinition = 1;

// Chinese (simplified and traditional), Latin in both widths and cases,
// separators, a repeated value, an empty one and a character outside the
// basic plane.
const std::vector<std::u16string> kTexts = {
    u"桌面搜索 desktop search",   u"資料庫，数据库；Database",
    u"ＦＵＬＬ width and full",   u"the port of call",
    u"",                          u"the port of call",
    u"一二三四五六七八九十 123",  u"emoji 😀 after 搜索",
};
constexpr size_t kFirstFlush = 3;

// The stored files and who writes them.
struct GoldenFile {
  const char* name;
  int definition;
  const char* extension;
};
const GoldenFile kFiles[] = {
    {"word.Ha0", kWordDefinition, "Ha"},   {"word.Ix0", kWordDefinition, "Ix"},
    {"word.RL0", kWordDefinition, "RL"},   {"exact.Ha0", kExactDefinition, "Ha"},
    {"exact.Ix0", kExactDefinition, "Ix"},
};

std::string GoldenPath(const GoldenFile& file) {
  return std::string(LUN_GOLDEN_DIR) + "/" + file.name + ".gz";
}

bool ReadGzip(const std::string& path, std::string* bytes) {
  gzFile in = gzopen(path.c_str(), "rb");
  if (!in) return false;
  bytes->clear();
  char buffer[65536];
  int n;
  while ((n = gzread(in, buffer, sizeof buffer)) > 0) bytes->append(buffer, size_t(n));
  return gzclose(in) == Z_OK && n == 0;
}

bool WriteGzip(const std::string& path, const std::string& bytes) {
  gzFile out = gzopen(path.c_str(), "wb9");
  if (!out) return false;
  const bool written = gzwrite(out, bytes.data(), unsigned(bytes.size())) == int(bytes.size());
  return gzclose(out) == Z_OK && written;
}

struct Indexes {
  Indexes() {
    for (char16_t c : kStandardSeparators) filter.AddSeparator(c);
  }
  std::string Path(const GoldenFile& file) const {
    return IndexFilePath(dir.path(), file.definition, file.extension, 0);
  }
  // Writes the records in two flushes, as the table's flushes would.
  void Write() {
    auto word = WordIndexSegment::CreateNew(fs, filter, dir.path(), kWordDefinition, 0, 0);
    auto exact = ExactIndexSegment::CreateNew(fs, dir.path(), kExactDefinition, 0, 0);
    for (size_t i = 0; i < kTexts.size(); ++i) {
      if (i == kFirstFlush) ASSERT_TRUE(word->Flush() && exact->Flush());
      word->AddText(kTexts[i]);
      exact->AddValue(kTexts[i]);
    }
    ASSERT_TRUE(word->Flush() && exact->Flush());
  }
  FileSystem& fs = DefaultFileSystem();
  CharFilter filter;
  ScratchDir dir;
};

TEST(GoldenFormatTest, WritingTheRecordsGivesTheStoredBytes) {
  Indexes written;
  ASSERT_NO_FATAL_FAILURE(written.Write());
  const bool update = std::getenv("LUN_UPDATE_GOLDEN") != nullptr;
  for (const GoldenFile& file : kFiles) {
    std::string bytes, golden;
    ASSERT_EQ(ReadWholeFile(written.fs, written.Path(file), &bytes), 0) << file.name;
    if (update) {
      ASSERT_TRUE(WriteGzip(GoldenPath(file), bytes)) << GoldenPath(file);
      continue;
    }
    ASSERT_TRUE(ReadGzip(GoldenPath(file), &golden)) << GoldenPath(file);
    EXPECT_EQ(bytes.size(), golden.size()) << file.name;
    EXPECT_TRUE(bytes == golden) << file.name << " differs from its golden file";
  }
}

TEST(GoldenFormatTest, StoredBytesReadBackAsTheRecords) {
  Indexes stored;
  for (const GoldenFile& file : kFiles) {
    std::string golden;
    ASSERT_TRUE(ReadGzip(GoldenPath(file), &golden)) << GoldenPath(file);
    std::ofstream(stored.Path(file), std::ios::binary) << golden;
  }
  std::string error;
  auto word = WordIndexSegment::OpenExisting(stored.fs, stored.filter, stored.dir.path(),
                                             kWordDefinition, 0, 0, &error);
  ASSERT_TRUE(word) << error;
  auto exact = ExactIndexSegment::OpenExisting(stored.fs, stored.dir.path(), kExactDefinition,
                                               0, 0, &error);
  ASSERT_TRUE(exact) << error;

  // The same records, kept in memory only, are what the stored ones must
  // equal.
  Indexes memory;
  auto expected_word =
      WordIndexSegment::CreateNew(memory.fs, memory.filter, memory.dir.path(), 9, 0, 0);
  auto expected_exact = ExactIndexSegment::CreateNew(memory.fs, memory.dir.path(), 8, 0, 0);
  for (const std::u16string& text : kTexts) {
    expected_word->AddText(text);
    expected_exact->AddValue(text);
  }
  EXPECT_EQ(word->records(), kTexts.size());
  EXPECT_EQ(word->position_counter(), expected_word->position_counter());
  EXPECT_EQ(word->boundaries(), expected_word->boundaries());
  for (const std::u16string& text : kTexts) {
    for (char16_t c : text) {
      std::vector<uint32_t> got, want;
      EXPECT_TRUE(word->ReadPositions(c, &got));
      EXPECT_TRUE(expected_word->ReadPositions(c, &want));
      EXPECT_EQ(got, want) << "positions of U+" << std::hex << int(c);
    }
    std::vector<uint32_t> got, want;
    exact->Lookup(text, &got);
    expected_exact->Lookup(text, &want);
    EXPECT_EQ(got, want);
  }
  EXPECT_FALSE(word->damaged());
  EXPECT_FALSE(exact->damaged());
}

}  // namespace
}  // namespace lun
