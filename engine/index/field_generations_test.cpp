#include "engine/index/field_generations.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "automation/variant.h"
#include "engine/index/index_test_util.h"
#include "engine/index/letter_grams.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

FieldIndexSpec IndexSpecIn(const ScratchDir& dir, IndexKind kind) {
  FieldIndexSpec index_spec;
  index_spec.index_folder = dir.path();
  index_spec.project_folder = dir.path();
  index_spec.definition_number = 2;
  index_spec.index_kind = kind;
  index_spec.field_type = 1;
  index_spec.file_system = &DefaultFileSystem();
  return index_spec;
}

// Feeds records the way a table does: in order, flushing when asked.
void Feed(FieldIndex& index, uint32_t from, uint32_t to, const char16_t* text) {
  for (uint32_t r = from; r < to; ++r) {
    ASSERT_TRUE(index.AddRecord(r, Variant::Bstr(text)));
    if (index.WantsFlush()) ASSERT_TRUE(index.Flush());
  }
}

TEST(FieldGenerationsTest, GenerationRollsOverAfter100001Records) {
  for (IndexKind kind : {kWordIndex, kExactIndex}) {
    SCOPED_TRACE(kind);
    ScratchDir dir;
    {
      auto index = FieldGenerations::Open(IndexSpecIn(dir, kind), nullptr);
      Feed(*index, 0, 100002, u"v");
      ASSERT_TRUE(index->Flush());
      EXPECT_EQ(index->RecordCount(), 100002u);
    }
    auto index = FieldGenerations::Open(IndexSpecIn(dir, kind), nullptr);
    EXPECT_EQ(index->RecordCount(), 100002u);
    if (kind == kWordIndex) {
      ASSERT_EQ(index->word_generations().size(), 2u);
      EXPECT_EQ(index->word_generations()[0]->records(), 100001u);
      EXPECT_EQ(index->word_generations()[1]->base(), 100001u);
      EXPECT_NE(index->GramsOf(0), nullptr);  // the grams roll over with the words
      ASSERT_NE(index->GramsOf(1), nullptr);
      EXPECT_EQ(index->GramsOf(1)->base(), 100001u);
    } else {
      ASSERT_EQ(index->exact_generations().size(), 2u);
      EXPECT_EQ(index->exact_generations()[1]->base(), 100001u);
      std::vector<uint32_t> records;
      index->exact_generations()[1]->Lookup(u"v", &records);
      EXPECT_EQ(records, (std::vector<uint32_t>{100001}));
    }
  }
}

TEST(FieldGenerationsTest, RecordsMustArriveInOrder) {
  ScratchDir dir;
  auto index = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
  EXPECT_FALSE(index->AddRecord(1, Variant::Bstr(u"x")));
  EXPECT_TRUE(index->AddRecord(0, Variant::Bstr(u"x")));
  EXPECT_FALSE(index->AddRecord(0, Variant::Bstr(u"x")));
  EXPECT_EQ(index->RecordCount(), 1u);
}

TEST(FieldGenerationsTest, WantsFlushEvery2000Records) {
  ScratchDir dir;
  auto index = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
  for (uint32_t r = 0; r < 1999; ++r) ASSERT_TRUE(index->AddRecord(r, Variant()));
  EXPECT_FALSE(index->WantsFlush());
  ASSERT_TRUE(index->AddRecord(1999, Variant()));
  EXPECT_TRUE(index->WantsFlush());
}

TEST(FieldGenerationsTest, DamagedIndexRestartsEmptySoTheTableRebuildsIt) {
  ScratchDir dir;
  {
    auto index = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
    Feed(*index, 0, 10, u"text");
    ASSERT_TRUE(index->Flush());
  }
  ASSERT_EQ(truncate(IndexFilePath(dir.path(), 2, "Ix", 0).c_str(), 7), 0);
  auto index = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
  EXPECT_TRUE(index->was_reset());
  EXPECT_EQ(index->RecordCount(), 0u);
  Feed(*index, 0, 10, u"text");
  ASSERT_TRUE(index->Flush());
  auto reopened = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
  EXPECT_FALSE(reopened->was_reset());
  EXPECT_EQ(reopened->RecordCount(), 10u);
}

TEST(FieldGenerationsTest, UnflushedRecordsAreNotCountedAfterReopen) {
  // What a crash between flushes leaves: the table catches the rest up.
  ScratchDir dir;
  {
    auto index = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
    Feed(*index, 0, 2500, u"text");
    EXPECT_EQ(index->RecordCount(), 2500u);
  }  // destroyed without Flush: the table would have flushed at close
  auto index = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
  EXPECT_EQ(index->RecordCount(), 2000u);
}

TEST(FieldGenerationsTest, FactoryUsesTheProjectFilter) {
  ScratchDir dir;
  const std::string codes("x\0\0\0", 4);
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), JoinPath(dir.path(), "Filter.Chr"), codes),
            0);
  auto factory = MakeFieldIndexFactory();
  auto made = factory(IndexSpecIn(dir, kWordIndex));
  auto* index = dynamic_cast<FieldGenerations*>(made.get());
  ASSERT_NE(index, nullptr);
  EXPECT_TRUE(index->filter().IsSeparator(u'x'));
  EXPECT_TRUE(index->filter().IsSeparator(u'\u3002'));
  ASSERT_TRUE(index->AddRecord(0, Variant::Bstr(u"axb")));
  EXPECT_EQ(index->word_generations()[0]->PositionCount(u'x'), 0u);
  EXPECT_EQ(factory(IndexSpecIn(dir, kNoIndex)), nullptr);
}

// The gram index beside a whole word index: missing (a project stored before
// it existed), damaged, of an older layout, or from another history (other
// record boundaries).
// The word index stays; the index counts only the records both sides hold,
// and feeding the records again, as the table does, completes the grams.
TEST(FieldGenerationsTest, GramIndexIsCaughtUpWhenMissingDamagedOrForeign) {
  const auto gram_file = [](const ScratchDir& dir, int file) {
    return IndexFilePath(dir.path(), 2,
                         WordIndexSegment::FileExtension(SegmentKeys::kLetterGrams, file), 0);
  };
  ScratchDir foreign;
  {
    auto index = FieldGenerations::Open(IndexSpecIn(foreign, kWordIndex), nullptr);
    Feed(*index, 0, 30, u"other records, other lengths");
    ASSERT_TRUE(index->Flush());
  }
  // The log line each case leaves: an older layout is an upgrade, not damage.
  struct Case {
    const char* what;
    const char* log;
    std::function<void(const ScratchDir&)> harm;
  };
  const Case cases[] = {
      {"missing", "",
       [&](const ScratchDir& dir) {
         for (int file = 0; file < 3; ++file) ASSERT_EQ(unlink(gram_file(dir, file).c_str()), 0);
       }},
      {"damaged", "索引文件损坏:",
       [&](const ScratchDir& dir) { ASSERT_EQ(truncate(gram_file(dir, 0).c_str(), 7), 0); }},
      {"written with the word index's page size", "索引升级:",
       [&](const ScratchDir& dir) {
         PatchFile(gram_file(dir, 0), 0, {0x00, 0x10, 0, 0});
       }},
      {"foreign", "索引文件损坏:",
       [&](const ScratchDir& dir) {
         for (int file = 0; file < 3; ++file) {
           std::string data;
           ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), gram_file(foreign, file), &data), 0);
           ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), gram_file(dir, file), data), 0);
         }
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir, home;
    ASSERT_TRUE(SetApplicationHome(home.path()));
    {
      auto index = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
      Feed(*index, 0, 2500, u"kernel text");
      ASSERT_TRUE(index->Flush());
      ASSERT_NE(index->GramsOf(0), nullptr);
    }
    c.harm(dir);
    auto index = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
    std::string log;
    (void)ReadWholeFile(DefaultFileSystem(), JoinPath(home.path(), kEngineErrorLogName), &log);
    // One line (time, tab, message) or none.
    const size_t tab = log.find('\t');
    EXPECT_EQ(tab == std::string::npos ? "" : log.substr(tab + 1, strlen(c.log)), c.log) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), *c.log ? 1 : 0) << log;
    EXPECT_FALSE(index->was_reset());
    EXPECT_EQ(index->word_generations()[0]->records(), 2500u);
    EXPECT_EQ(index->RecordCount(), 0u);
    EXPECT_EQ(index->GramsOf(0), nullptr);  // look-ups read the characters meanwhile
    Feed(*index, 0, 2500, u"kernel text");
    ASSERT_TRUE(index->Flush());
    EXPECT_EQ(index->word_generations()[0]->records(), 2500u);  // taken once only
    const WordIndexSegment* grams = index->GramsOf(0);
    ASSERT_NE(grams, nullptr);
    const int kernel[] = {GramSymbol(u'k'), GramSymbol(u'e'), GramSymbol(u'r')};
    EXPECT_EQ(grams->PositionCount(char16_t(GramKey(kernel))), 2500u);
    auto reopened = FieldGenerations::Open(IndexSpecIn(dir, kWordIndex), nullptr);
    EXPECT_EQ(reopened->RecordCount(), 2500u);
    EXPECT_NE(reopened->GramsOf(0), nullptr);
  }
}

}  // namespace
}  // namespace lun
