#include "engine/index/exact_index_segment.h"

#include <gtest/gtest.h>

#include "engine/index/exact_index_format.h"
#include "engine/index/index_test_util.h"
#include "engine/index/word_index_segment.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

struct Fixture {
  std::unique_ptr<ExactIndexSegment> Fresh() {
    return ExactIndexSegment::CreateNew(fs, dir.path(), 1, 0, 0);
  }
  std::unique_ptr<ExactIndexSegment> Reopen(std::string* error = nullptr) {
    std::string ignored;
    return ExactIndexSegment::OpenExisting(fs, dir.path(), 1, 0, 0, error ? error : &ignored);
  }
  std::string Path(const char* ext) { return IndexFilePath(dir.path(), 1, ext, 0); }
  uint32_t NextFreePage() {
    std::string ix;
    EXPECT_EQ(ReadWholeFile(fs, Path("Ix"), &ix), 0);
    return uint8_t(ix[4]) | uint8_t(ix[5]) << 8;
  }
  FileSystem& fs = DefaultFileSystem();
  ScratchDir dir;
};

std::vector<uint32_t> Find(const ExactIndexSegment& s, std::u16string_view v) {
  std::vector<uint32_t> out;
  s.Lookup(v, &out);
  return out;
}

TEST(ExactIndexSegmentTest, SingleOccurrenceStaysInlineUntilASecondOneMovesItToAPage) {
  Fixture f;
  auto s = f.Fresh();
  s->AddValue(u"/home/a.txt");
  s->AddValue(u"/home/b.txt");
  ASSERT_TRUE(s->Flush());
  EXPECT_EQ(f.NextFreePage(), 1u);  // no record-list page yet
  s->AddValue(u"/home/a.txt");
  EXPECT_EQ(Find(*s, u"/home/a.txt"), (std::vector<uint32_t>{0, 2}));  // stored, then unwritten
  ASSERT_TRUE(s->Flush());
  EXPECT_EQ(f.NextFreePage(), 2u);
  auto again = f.Reopen();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->records(), 3u);
  EXPECT_EQ(Find(*again, u"/home/a.txt"), (std::vector<uint32_t>{0, 2}));
  EXPECT_EQ(Find(*again, u"/home/b.txt"), (std::vector<uint32_t>{1}));
  EXPECT_EQ(Find(*again, u"/HOME/B.TXT"), (std::vector<uint32_t>{1}));  // normalised
  EXPECT_TRUE(Find(*again, u"/home/c.txt").empty());
}

TEST(ExactIndexSegmentTest, PrefixValuesGetTheirOwnLeaves) {
  Fixture f;
  auto s = f.Fresh();
  for (auto v : {u"ab", u"abc", u"a", u"", u"abd", u"b"}) s->AddValue(v);
  ASSERT_TRUE(s->Flush());
  auto again = f.Reopen();
  const std::pair<const char16_t*, std::vector<uint32_t>> expected[] = {
      {u"ab", {0}},  {u"abc", {1}}, {u"a", {2}},  {u"", {3}},
      {u"abd", {4}}, {u"b", {5}},   {u"abcd", {}}};
  for (const auto& [v, records] : expected) EXPECT_EQ(Find(*again, v), records);
  std::vector<std::string> problems;
  again->Check(&problems);
  EXPECT_TRUE(problems.empty());
}

TEST(ExactIndexSegmentTest, RecordListPagesHold511Records) {
  for (uint32_t n : {511u, 512u}) {
    SCOPED_TRACE(n);
    Fixture f;
    auto s = f.Fresh();
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < n; ++i) {
      s->AddValue(u"same");
      expected.push_back(i);
    }
    ASSERT_TRUE(s->Flush());
    EXPECT_EQ(f.NextFreePage(), n == 511 ? 2u : 3u);
    EXPECT_EQ(Find(*f.Reopen(), u"same"), expected);
  }
}

TEST(ExactIndexSegmentTest, ManyValuesAcrossFlushesAndLongKeys) {
  Fixture f;
  auto s = f.Fresh();
  // Keys longer than one step of file growth need a larger step.
  const std::u16string long_key(3000, u'k');
  uint32_t record = 0;
  std::vector<uint32_t> long_records;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 2000; ++i, ++record) {
      if (i % 500 == 0) {
        s->AddValue(long_key);
        long_records.push_back(record);
      } else {
        s->AddValue(u"value " + std::u16string(1, char16_t(0x4E00 + i)));
      }
    }
    ASSERT_TRUE(s->Flush());
  }
  auto again = f.Reopen();
  ASSERT_TRUE(again);
  EXPECT_EQ(Find(*again, long_key), long_records);
  EXPECT_EQ(Find(*again, u"value 一").size(), 0u);  // i = 0 took the long key
  EXPECT_EQ(Find(*again, u"value 丁"), (std::vector<uint32_t>{1, 2001, 4001}));
  std::vector<std::string> problems;
  again->Check(&problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(ExactIndexSegmentTest, DamagedFilesGiveWhatCanBeRead) {
  struct Case {
    const char* what;
    void (*damage)(Fixture& f);
    bool opens;
  };
  const Case cases[] = {
      {"root past the end of the trie",
       [](Fixture& f) {
         PatchFile(f.Path("Ha"), 0, {0, 0, 0, 0x10});
       },
       false},
      {"trie cut to its header",
       [](Fixture& f) { ASSERT_EQ(truncate(f.Path("Ha").c_str(), 100), 0); }, false},
      {"record lists cut", [](Fixture& f) { ASSERT_EQ(truncate(f.Path("Ix").c_str(), 10), 0); },
       false},
      {"record chain that loops",
       [](Fixture& f) {
         PatchFile(f.Path("Ix"), 2048, {1, 0, 0, 0});
       },  // page 1 names itself
       true},
      {"every trie node zeroed into branches",
       [](Fixture& f) {
         std::string ha;
         ASSERT_EQ(ReadWholeFile(f.fs, f.Path("Ha"), &ha), 0);
         PatchFile(f.Path("Ha"), 1024, std::vector<uint8_t>(ha.size() - 1024, 0));
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    {
      auto s = f.Fresh();
      for (int i = 0; i < 1200; ++i) s->AddValue(i % 2 ? u"odd" : u"even");
      ASSERT_TRUE(s->Flush());
    }
    c.damage(f);
    std::string error;
    auto s = f.Reopen(&error);
    EXPECT_EQ(s != nullptr, c.opens) << error;
    if (!s) continue;
    EXPECT_LE(Find(*s, u"odd").size(), 600u);
    std::vector<std::string> problems;
    s->Check(&problems);
    EXPECT_FALSE(problems.empty());
  }
}

// The trie carries no checksum: a key changed at rest into another sound
// key would read as an absent value. Look-ups check the leaf they end at
// against its first record, so the change counts as damage, on a hit and on
// a miss; changed zero bytes are damage without any record.
TEST(ExactIndexSegmentTest, LeafThatDisagreesWithItsRecordIsDamage) {
  const std::u16string values[] = {u"/home/u/1.txt", u"/home/u/2.txt", u"/home/u/3.txt"};
  const ExactIndexSegment::StoredText stored = [&](uint32_t r) { return values[r % 3]; };
  // Byte offsets of the first leaf (value 0): its key's "1", the byte after
  // its tag, its terminator.
  const size_t leaf = exact_index::kTrieHeaderSize;
  const size_t digit = leaf + exact_index::kLeafKey + 2 * 8;
  struct Case {
    const char* what;
    size_t at;
    uint8_t byte;
    bool needs_records;
  };
  const Case cases[] = {
      {"key 1 made 5, which agrees with the bits tested on the way", digit, '5', true},
      {"key 1 made 3, which contradicts them", digit, '3', false},
      {"byte after the tag", leaf + 1, 1, false},
      {"terminator", leaf + exact_index::kLeafKey + 2 * values[0].size(), 'x', false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    {
      auto s = f.Fresh();
      for (int i = 0; i < 6; ++i) s->AddValue(values[i % 3]);
      ASSERT_TRUE(s->Flush());
    }
    PatchFile(f.Path("Ha"), c.at, {c.byte});
    for (const std::u16string& v : {values[0], std::u16string(u"/home/u/9.txt")}) {
      auto s = f.Reopen();
      ASSERT_TRUE(s);
      std::vector<uint32_t> records;
      s->Lookup(v, &records, &stored);
      EXPECT_TRUE(s->damaged());
      EXPECT_TRUE(records.empty());
      if (!c.needs_records) continue;
      auto unchecked = f.Reopen();
      unchecked->Lookup(v, &records);
      EXPECT_FALSE(unchecked->damaged());  // only the records show it
    }
  }
  // The sound trie passes the check on hits and misses.
  Fixture f;
  {
    auto s = f.Fresh();
    for (int i = 0; i < 6; ++i) s->AddValue(values[i % 3]);
    ASSERT_TRUE(s->Flush());
  }
  auto s = f.Reopen();
  std::vector<uint32_t> records;
  for (const auto& v : {values[0], values[2], std::u16string(u"/home/u/9.txt"), std::u16string()}) {
    s->Lookup(v, &records, &stored);
  }
  EXPECT_FALSE(s->damaged());
  EXPECT_EQ(records, (std::vector<uint32_t>{0, 3, 2, 5}));
}

}  // namespace
}  // namespace lun
