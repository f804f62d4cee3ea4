#include "engine/index/word_index_segment.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/index/index_test_util.h"
#include "engine/index/packed_list.h"
#include "engine/index/word_index_format.h"
#include "platform/fault_file_system.h"
#include "platform/file_system.h"
#include "platform/normalize.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

struct Fixture {
  Fixture() {
    for (char16_t c : kStandardSeparators) filter.AddSeparator(c);
  }
  std::unique_ptr<WordIndexSegment> Fresh() {
    return WordIndexSegment::CreateNew(fs, filter, dir.path(), 3, 0, 0);
  }
  std::unique_ptr<WordIndexSegment> Reopen(std::string* error = nullptr) {
    std::string ignored;
    return WordIndexSegment::OpenExisting(fs, filter, dir.path(), 3, 0, 0,
                                          error ? error : &ignored);
  }
  std::string Path(const char* ext) { return IndexFilePath(dir.path(), 3, ext, 0); }
  FileSystem& fs = DefaultFileSystem();
  CharFilter filter;
  ScratchDir dir;
};

std::vector<uint32_t> PositionsOf(const WordIndexSegment& s, char16_t c) {
  std::vector<uint32_t> out;
  EXPECT_TRUE(s.ReadPositions(c, &out));
  return out;
}

TEST(WordIndexSegmentTest, FirstRecordTakesPositions1ToNAndBoundaries0AndNPlus1) {
  Fixture f;
  auto s = f.Fresh();
  s->AddText(u"abc");
  EXPECT_EQ(PositionsOf(*s, u'a'), std::vector<uint32_t>{1});
  EXPECT_EQ(PositionsOf(*s, u'c'), std::vector<uint32_t>{3});
  EXPECT_EQ(s->boundaries(), (std::vector<uint32_t>{0, 4}));
  ASSERT_TRUE(s->Flush());
  std::string rl;
  ASSERT_EQ(ReadWholeFile(f.fs, f.Path("RL"), &rl), 0);
  std::vector<uint8_t> expected;
  EncodePackedList(std::vector<uint32_t>{0, 4}, &expected);
  EXPECT_EQ(std::vector<uint8_t>(rl.begin(), rl.end()), expected);
  std::string ha;
  ASSERT_EQ(ReadWholeFile(f.fs, f.Path("Ha"), &ha), 0);
  EXPECT_EQ(ha.size(), word_index::kDirectorySize);
  auto again = f.Reopen();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->records(), 1u);
  EXPECT_EQ(again->position_counter(), 4u);
  EXPECT_EQ(PositionsOf(*again, u'b'), std::vector<uint32_t>{2});
}

TEST(WordIndexSegmentTest, PositionRules) {
  struct Case {
    const char* what;
    std::vector<std::u16string> texts;
    char16_t c;
    std::vector<uint32_t> positions;
    std::vector<uint32_t> boundaries;
  };
  const Case cases[] = {
      {"a separator uses up its position", {u"a b"}, u'b', {3}, {0, 4}},
      {"an empty value takes one position", {u"", u"x"}, u'x', {2}, {0, 1, 3}},
      {"full-width letters and digits read as ASCII", {u"ＡＢＣ１２３"}, u'3', {6}, {0, 7}},
      {"traditional Chinese is indexed as simplified", {u"國"}, u'国', {1}, {0, 2}},
      {"upper case is indexed as lower case", {u"xX"}, u'x', {1, 2}, {0, 3}},
      {"separators are not terms", {u"a,b"}, u',', {}, {0, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    auto s = f.Fresh();
    for (const auto& t : c.texts) s->AddText(t);
    EXPECT_EQ(PositionsOf(*s, c.c), c.positions);
    EXPECT_EQ(s->boundaries(), c.boundaries);
  }
}

// Many flushes of a skewed vocabulary: exercises first runs, rewrites of
// short lists, in-place continuation of long ones and multi-run chains.
TEST(WordIndexSegmentTest, FlushedAndReopenedListsEqualWhatWasAdded) {
  Fixture f;
  auto s = f.Fresh();
  std::mt19937 rng(7);
  std::map<char16_t, std::vector<uint32_t>> truth;
  uint32_t position = 0;
  for (int record = 0; record < 9000; ++record) {
    std::u16string text;
    const int n = int(rng() % 40);
    for (int i = 0; i < n; ++i) {
      // 'a' is frequent (long lists), CJK characters rare.
      const char16_t c =
          rng() % 3 == 0 ? u'a' : char16_t(0x4E00 + rng() % (record % 5 == 0 ? 3000 : 30));
      text.push_back(c);
      truth[NormalizeChar(c)].push_back(position + uint32_t(i) + 1);
    }
    position += uint32_t(n) + 1;
    s->AddText(text);
    if (s->unflushed_records() >= word_index::kFlushEveryRecords) ASSERT_TRUE(s->Flush());
  }
  ASSERT_TRUE(s->Flush());
  for (auto* seg : {s.get()}) {
    for (const auto& [c, list] : truth) ASSERT_EQ(PositionsOf(*seg, c), list) << int(c);
  }
  auto again = f.Reopen();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->records(), 9000u);
  for (const auto& [c, list] : truth) {
    ASSERT_EQ(PositionsOf(*again, c), list) << int(c);
    ASSERT_EQ(again->PositionCount(c), list.size());
    std::vector<uint8_t> packed;
    ASSERT_TRUE(again->Positions(c, &packed));
    std::vector<uint32_t> decoded;
    ASSERT_TRUE(DecodePackedList(packed, &decoded));
    ASSERT_EQ(decoded, list);
  }
  std::vector<std::string> problems;
  again->Check(&problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(WordIndexSegmentTest, UnflushedPositionsContinueTheStoredList) {
  Fixture f;
  auto s = f.Fresh();
  std::vector<uint32_t> expected;
  for (int i = 0; i < 500; ++i) {
    s->AddText(u"zz");
    expected.push_back(3 * i + 1);
    expected.push_back(3 * i + 2);
  }
  ASSERT_TRUE(s->Flush());
  s->AddText(u"z");
  expected.push_back(1501);
  std::vector<uint8_t> packed;
  ASSERT_TRUE(s->Positions(u'z', &packed));
  std::vector<uint32_t> decoded;
  ASSERT_TRUE(DecodePackedList(packed, &decoded));
  EXPECT_EQ(decoded, expected);
  EXPECT_EQ(s->PositionCount(u'z'), 1001u);
}

TEST(WordIndexSegmentTest, RecordsOfMapsPositionsInEachForm) {
  Fixture f;
  auto s = f.Fresh();
  // Records 0..3: "ab", "xab", "abx", "xabx"; then "a" at a record's end.
  for (auto t : {u"ab", u"xab", u"abx", u"xabx", u"ba"}) s->AddText(t);
  std::vector<uint32_t> a_positions = PositionsOf(*s, u'a');
  struct Case {
    MatchForm form;
    uint32_t after;  // characters after 'a' in the phrase
    std::vector<uint32_t> records;
  };
  const Case cases[] = {
      {MatchForm::kOccurrence, 1, {0, 1, 2, 3}},  // "a?": not the "a" that ends record 4
      {MatchForm::kOccurrence, 0, {0, 1, 2, 3, 4}},
      {MatchForm::kStartsWith, 1, {0, 2}},
      {MatchForm::kEndsWith, 1, {0, 1}},
      {MatchForm::kWhole, 1, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.form));
    std::vector<uint32_t> records, counts;
    s->RecordsOf(a_positions, 0, c.after, c.form, &records, &counts);
    EXPECT_EQ(records, c.records);
    EXPECT_EQ(counts.size(), records.size());
  }
}

uint32_t FirstRunOf(Fixture& f, char16_t c) {
  const std::vector<uint8_t> entry = ReadAt(f.Path("Ha"), 28 * c, 4);
  return entry[0] | entry[1] << 8 | entry[2] << 16;
}

TEST(WordIndexSegmentTest, DamagedFilesAreReadAsNothingNotCrashes) {
  // `reads`: the term whose read finds the damage; 0 when the open does.
  // The term directory is read entry by entry, so damage in an entry shows
  // when that entry is read (and in the check, which reads them all).
  struct Case {
    const char* what;
    void (*damage)(Fixture& f);
    char16_t reads;
  };
  const Case cases[] = {
      {"postings cut to the header page",
       [](Fixture& f) { ASSERT_EQ(truncate(f.Path("Ix").c_str(), 4096), 0); }, 0},
      {"postings cut inside the last run",
       [](Fixture& f) {
         std::string ix;
         ASSERT_EQ(ReadWholeFile(f.fs, f.Path("Ix"), &ix), 0);
         ASSERT_EQ(truncate(f.Path("Ix").c_str(), ix.size() - 100), 0);
       },
       0},
      // Stored lengths, pages and counts are checked against the files and
      // the format before anything is sized or read by them.
      {"directory entry pointing past the file",
       [](Fixture& f) {
         PatchFile(f.Path("Ha"), 28 * u'q', {0xFF, 0xFF, 0, 0});
       },
       u'q'},
      {"list length of 4 GiB",
       [](Fixture& f) {
         PatchFile(f.Path("Ha"), 28 * u'q' + 4, {0xFF, 0xFF, 0xFF, 0xFF});
       },
       u'q'},
      {"more positions than the list's bits can hold",
       [](Fixture& f) {
         PatchFile(f.Path("Ha"), 28 * u'q' + 8, {0xFF, 0xFF, 0xFF, 0x0F});
       },
       u'q'},
      {"entry without positions that is not empty",
       [](Fixture& f) { PatchFile(f.Path("Ha"), 28 * u'z' + 4, {0x10}); }, u'z'},
      {"run chain that loops",
       [](Fixture& f) {
         // The first run of 'q' names itself as its successor; the entry
         // claims more data than one run holds (but no more than the file).
         const uint32_t run = FirstRunOf(f, u'q');
         const std::vector<uint8_t> length = ReadAt(f.Path("Ha"), 28 * u'q' + 4, 4);
         PatchFile(f.Path("Ha"), 28 * u'q' + 4, {uint8_t(length[0] + 1), length[1], length[2], 0});
         PatchFile(f.Path("Ix"), uint64_t{run} * 4096, {uint8_t(run), uint8_t(run >> 8), 0, 0});
       },
       u'q'},
      {"corrupt packed list",
       [](Fixture& f) {
         PatchFile(f.Path("Ix"), uint64_t{FirstRunOf(f, u'q')} * 4096 + 6 + 9,
                   std::vector<uint8_t>(200, 0xFF));
       },
       u'q'},
      {"boundary list damaged",
       [](Fixture& f) {
         PatchFile(f.Path("RL"), 0, {0xFF, 0xFF, 0xFF, 0x7F});
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    {
      auto s = f.Fresh();
      for (int i = 0; i < 3000; ++i) s->AddText(u"qqqqrq");
      ASSERT_TRUE(s->Flush());
    }
    c.damage(f);
    std::string error;
    auto s = f.Reopen(&error);
    EXPECT_EQ(s != nullptr, c.reads != 0) << error;
    if (!s) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_FALSE(s->damaged());
    std::vector<uint32_t> out;
    EXPECT_FALSE(s->ReadPositions(c.reads, &out));
    EXPECT_TRUE(s->damaged());  // never trusted again
    std::vector<uint8_t> packed;
    out.clear();
    EXPECT_FALSE(s->Positions(c.reads, &packed) && DecodePackedList(packed, &out));
    std::vector<std::string> problems;
    s->Check(&problems);
    EXPECT_FALSE(problems.empty());
    EXPECT_EQ(PositionsOf(*s, u'r').size(), 3000u);  // other terms still read
  }
}

// A session that only reads never reads the whole directory; the first
// flush does, and refuses to write beside damage it finds there.
TEST(WordIndexSegmentTest, FirstFlushChecksTheWholeDirectory) {
  Fixture f;
  {
    auto s = f.Fresh();
    for (int i = 0; i < 3000; ++i) s->AddText(u"qqqqrq");
    ASSERT_TRUE(s->Flush());
  }
  PatchFile(f.Path("Ha"), 28 * u'z' + 4, {0x10});
  std::string error;
  auto s = f.Reopen(&error);
  ASSERT_NE(s, nullptr) << error;
  EXPECT_EQ(PositionsOf(*s, u'q').size(), 15000u);
  EXPECT_FALSE(s->damaged());
  s->AddText(u"q");
  EXPECT_FALSE(s->Flush());
  EXPECT_TRUE(s->damaged());
}

TEST(WordIndexSegmentTest, FailedWriteFailsTheFlush) {
  Fixture f;
  FaultFileSystem faulty(f.fs);
  auto s = WordIndexSegment::CreateNew(faulty, f.filter, f.dir.path(), 3, 0, 0);
  s->AddText(u"hello");
  faulty.FailAt(faulty.operations() + 5, EIO, true);
  EXPECT_FALSE(s->Flush());
}

TEST(WordIndexSegmentTest, ShortWritesGiveTheSameFiles) {
  Fixture clean, shorted;
  FaultFileSystem faulty(shorted.fs);
  faulty.ShortWriteEvery(2);
  auto a = WordIndexSegment::CreateNew(clean.fs, clean.filter, clean.dir.path(), 3, 0, 0);
  auto b = WordIndexSegment::CreateNew(faulty, shorted.filter, shorted.dir.path(), 3, 0, 0);
  for (int i = 0; i < 2500; ++i) {
    const std::u16string t = u"record " + std::u16string(1, char16_t(u'a' + i % 26)) + u"中文";
    a->AddText(t);
    b->AddText(t);
    if (i % 1000 == 999) {
      ASSERT_TRUE(a->Flush());
      ASSERT_TRUE(b->Flush());
    }
  }
  ASSERT_TRUE(a->Flush());
  ASSERT_TRUE(b->Flush());
  for (const char* ext : {"Ha", "Ix", "RL"}) {
    std::string x, y;
    ASSERT_EQ(ReadWholeFile(clean.fs, clean.Path(ext), &x), 0);
    ASSERT_EQ(ReadWholeFile(shorted.fs, shorted.Path(ext), &y), 0);
    EXPECT_TRUE(x == y) << ext;
  }
}

}  // namespace
}  // namespace lun

namespace lun {
namespace {

TEST(WordIndexSegmentTest, HugeGapAfterADenseListIsReencodedNotContinued) {
  // A continuation keeps the old k (here 1): a gap of 4 million positions
  // would cost 2 million unary bits. The flush encodes the list afresh.
  Fixture f;
  auto s = f.Fresh();
  for (int i = 0; i < 500; ++i) s->AddText(u"z");
  ASSERT_TRUE(s->Flush());
  s->AddText(std::u16string(4000000, u' ') + u"z");  // blanks are not indexed
  ASSERT_TRUE(s->Flush());
  std::string ix;
  ASSERT_EQ(ReadWholeFile(f.fs, f.Path("Ix"), &ix), 0);
  EXPECT_LT(ix.size(), 64u * 1024);
  EXPECT_EQ(PositionsOf(*f.Reopen(), u'z').size(), 501u);
}

}  // namespace
}  // namespace lun
