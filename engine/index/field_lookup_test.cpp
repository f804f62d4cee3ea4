#include "engine/index/field_lookup.h"

#include <gtest/gtest.h>

#include <random>

#include "automation/variant.h"
#include "engine/index/char_filter.h"
#include "engine/index/field_generations.h"
#include "platform/file_system.h"
#include "platform/normalize.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"

namespace lun {
namespace {

// A field of a table: stored values plus an index over the first
// `indexed` of them.
struct Field {
  Field(IndexKind kind, std::vector<Variant> stored_values, int field_type = 1)
      : values(std::move(stored_values)) {
    FieldIndexSpec index_spec;
    index_spec.index_folder = dir.path();
    index_spec.project_folder = dir.path();
    index_spec.index_kind = kind;
    index_spec.field_type = field_type;
    index_spec.file_system = &DefaultFileSystem();
    filter = ProjectCharFilter(DefaultFileSystem(), dir.path());
    if (kind >= 0) index = FieldGenerations::Open(index_spec, filter);
    request.filter = filter.get();
    request.field_type = field_type;
    request.index_kind = kind;
    request.index = index.get();
    request.stored.record_count = uint32_t(values.size());
    request.stored.read = [this](uint32_t r) { return r < values.size() ? values[r] : Variant(); };
  }
  void IndexAll(size_t count = SIZE_MAX) {
    for (uint32_t r = 0; r < values.size() && r < count; ++r) {
      ASSERT_TRUE(index->AddRecord(r, values[r]));
      if (index->WantsFlush()) ASSERT_TRUE(index->Flush());
    }
  }
  LookupResult Find(std::u16string_view term, int comparison = 0) {
    request.term = term;
    request.comparison = comparison;
    LookupResult result;
    EXPECT_EQ(FieldLookup(request, &result), LookupStatus::kOk);
    return result;
  }
  ScratchDir dir;
  std::vector<Variant> values;
  std::shared_ptr<const CharFilter> filter;
  std::unique_ptr<FieldGenerations> index;
  FieldLookupRequest request;
};

std::vector<Variant> Texts(std::initializer_list<const char16_t*> texts) {
  std::vector<Variant> v;
  for (auto t : texts) v.push_back(t ? Variant::Bstr(t) : Variant());
  return v;
}

struct TextCase {
  const char16_t* term;
  std::vector<uint32_t> records;
  std::vector<uint32_t> weights;
};

const std::vector<Variant>& WordCorpus() {
  static const std::vector<Variant> corpus = Texts({
      u"the quick brown fox",    // 0
      u"Quick fox, quick fox",   // 1
      u"数据库系统",              // 2
      u"資料庫",                  // 3 (traditional)
      u"fox",                    // 4
      nullptr,                   // 5 missing
      u"box of foxes",           // 6
      u"a b",                    // 7
  });
  return corpus;
}

const TextCase kWordCases[] = {
    {u"fox", {0, 1, 4, 6}, {1, 2, 1, 1}},
    {u"quick fox", {1}, {2}},
    {u"QUICK", {0, 1}, {1, 2}},
    {u"ｆｏｘ", {0, 1, 4, 6}, {1, 2, 1, 1}},       // full width
    {u"[fox]", {4}, {1}},
    {u"[quick", {1}, {1}},
    {u"fox]", {0, 1, 4}, {1, 1, 1}},
    {u"f?x", {0, 1, 4, 6}, {1, 2, 1, 1}},
    {u"?ox", {0, 1, 4, 6}, {1, 2, 1, 2}},         // "box" and "fox"
    {u"[?ox]", {4}, {1}},
    {u"fox?", {1, 6}, {1, 1}},  // guards: "?" never matches the gap after record 0
    {u"a,b", {7}, {1}},                          // a separator matches any one character
    {u"ab", {}, {}},                             // the space keeps a and b apart
    {u"資料", {3}, {1}},                          // traditional term, simplified index
    {u"资料库", {3}, {1}},
    {u"数据库系统", {2}, {1}},
    {u"[???]", {3, 4, 7}, {1, 1, 1}},            // only wildcards: by value length
    {u"zebra", {}, {}},
    {u"[", {}, {}},
};

TEST(FieldLookupTest, WordFormFindsPhrasesWithAnchorsAndWildcards) {
  Field f(kWordIndex, WordCorpus());
  f.IndexAll();
  for (const TextCase& c : kWordCases) {
    SCOPED_TRACE(std::string(c.term, c.term + std::char_traits<char16_t>::length(c.term)).size());
    const LookupResult r = f.Find(c.term);
    EXPECT_EQ(std::vector<uint32_t>(r.records.begin(), r.records.end()), c.records);
    EXPECT_EQ(std::vector<uint32_t>(r.weights.begin(), r.weights.end()), c.weights);
  }
}

TEST(FieldLookupTest, RecordsTheIndexHasNotTakenAreComparedWithStoredText) {
  // The same answers with half of the records (or none) in the index, and
  // with no index at all.
  for (size_t indexed : {size_t{0}, size_t{4}}) {
    Field f(kWordIndex, WordCorpus());
    f.IndexAll(indexed);
    for (const TextCase& c : kWordCases) {
      const LookupResult r = f.Find(c.term);
      EXPECT_EQ(std::vector<uint32_t>(r.records.begin(), r.records.end()), c.records);
      EXPECT_EQ(std::vector<uint32_t>(r.weights.begin(), r.weights.end()), c.weights);
    }
  }
  Field none(kNoIndex, WordCorpus());
  EXPECT_EQ(none.Find(u"fox").records.size(), 4u);
}

TEST(FieldLookupTest, AbandonedAlignmentChecksTheStoredText) {
  // After the two rarest characters ("甲", "乙") one candidate is left and
  // the third is frequent, so the stored text decides. (Letters would align
  // as one gram, which the index answers alone.)
  std::vector<Variant> values;
  for (int i = 0; i < 50; ++i) values.push_back(Variant::Bstr(u"丙丙丙丙丙丙丙丙丙丙丙丙丙丙丙丙丙丙丙丙"));
  values.push_back(Variant::Bstr(u"甲乙丙"));
  Field f(kWordIndex, values);
  f.IndexAll();
  EXPECT_EQ(f.Find(u"甲乙丙").records.size(), 1u);
  f.values.back() = Variant::Bstr(u"changed");  // the stored text no longer holds it
  EXPECT_TRUE(f.Find(u"甲乙丙").records.empty());
  EXPECT_EQ(f.Find(u"甲乙").records.size(), 1u);  // two characters: the index alone
}

std::vector<uint32_t> Records(const LookupResult& r) { return {r.records.begin(), r.records.end()}; }

// Long lists (so that the alignment jumps through skip tables and keeps
// lists in the posting cache) against a plain scan of the same texts: terms
// at record starts and ends, the first position of the generation,
// repeated letters, wildcards, phrases longer than any record; letters of
// similar counts (merged) and a rare one against frequent ones (probed).
TEST(FieldLookupTest, LongListsAlignLikeAScanOfTheTexts) {
  std::mt19937 rng(7);
  std::vector<Variant> values;
  for (int i = 0; i < 3000; ++i) {
    std::u16string t;
    const int n = int(rng() % 24);
    for (int j = 0; j < n; ++j) t.push_back(u"aaabbc d"[rng() % 8]);
    if (i % 97 == 3) t.insert(rng() % (t.size() + 1), u"xa");  // a rare letter
    values.push_back(i % 500 == 7 ? Variant() : Variant::Bstr(t));
  }
  values[0] = Variant::Bstr(u"aaa");  // the generation's first positions
  Field f(kWordIndex, values);
  f.IndexAll(2600);  // 2000 stored, 600 in memory, 400 only in the records
  const std::u16string long_phrase(30, u'a');
  for (const std::u16string& term :
       {std::u16string(u"a"), std::u16string(u"aaa"), std::u16string(u"ab"), std::u16string(u"[aa"),
        std::u16string(u"ba]"), std::u16string(u"[abc]"), std::u16string(u"a?b"),
        std::u16string(u"c d"), std::u16string(u"bbcab"), std::u16string(u"xaa"),
        std::u16string(u"ax?b"), std::u16string(u"[xa"), long_phrase}) {
    SCOPED_TRACE(std::string(term.begin(), term.end()));
    std::u16string phrase = term;
    MatchForm form = MatchForm::kOccurrence;
    if (phrase.front() == u'[' && phrase.back() == u']') {
      form = MatchForm::kWhole;
      phrase = phrase.substr(1, phrase.size() - 2);
    } else if (phrase.front() == u'[') {
      form = MatchForm::kStartsWith;
      phrase.erase(0, 1);
    } else if (phrase.back() == u']') {
      form = MatchForm::kEndsWith;
      phrase.pop_back();
    }
    std::vector<uint32_t> expected;
    for (uint32_t r = 0; r < values.size(); ++r) {
      if (values[r].is_string() && MatchStoredText(values[r].AsString(), phrase, form, f.filter.get())) {
        expected.push_back(r);
      }
    }
    EXPECT_EQ(Records(f.Find(term)), expected);
  }
}

// Mixed text (English words, digits, "_", Chinese, full-width and upper-case
// letters, separators) so that terms align on grams, on characters and on
// both; every answer must equal a scan of the texts, with the grams and
// with the characters alone (a look-up with another filter object of the
// same separators reads no grams).
TEST(FieldLookupTest, GramsAlignExactlyLikeAScanOfTheTexts) {
  static const char16_t* const kTokens[] = {
      u"the",  u"kernel", u"mutex", u"pthread_mutex_lock", u"file", u"filesystem", u"0x1f",
      u"v2",   u"ab",     u"aab",   u"abab",               u"数据库", u"文件",      u"ＡＢＣ",
      u"Kernel", u"été",  u"x",     u"theme",              u"a1b2c3", u"of"};
  static const char16_t* const kGlue[] = {u" ", u"", u",", u"-", u"\n", u"?"};
  std::mt19937 rng(11);
  std::vector<Variant> values;
  for (int i = 0; i < 3000; ++i) {
    std::u16string t;
    for (int n = int(rng() % 16); n > 0; --n) {
      t += kTokens[rng() % std::size(kTokens)];
      t += kGlue[rng() % std::size(kGlue)];
    }
    values.push_back(i % 500 == 7 ? Variant() : Variant::Bstr(t));
  }
  Field f(kWordIndex, values);
  f.IndexAll(2600);  // 2000 stored, 600 in memory, 400 only in the records
  auto same_separators = CharFilter::ForProject(DefaultFileSystem(), f.dir.path());
  std::vector<std::u16string> terms = {u"the", u"kernel", u"pthread_mutex_lock", u"mutex_lock",
                                       u"of the",  u"abab", u"a1b2c3", u"0X1F", u"abc", u"[the",
                                       u"lock]",   u"t?e",  u"ker?el", u"数据库file", u"xyzzy"};
  for (int k = 0; k < 150; ++k) {
    const Variant& value = values[rng() % 2600];
    if (!value.is_string() || value.AsString().empty()) continue;
    const std::u16string source(value.AsString());
    const size_t at = rng() % source.size();
    std::u16string term = source.substr(at, 1 + rng() % 12);
    if (rng() % 5 == 0) term[rng() % term.size()] = u'?';
    if (rng() % 10 == 0) term = u"[" + term;
    terms.push_back(term);
  }
  for (const std::u16string& term : terms) {
    SCOPED_TRACE(ToNarrow(term));
    std::u16string phrase = term;
    MatchForm form = MatchForm::kOccurrence;
    if (phrase.size() > 1 && phrase.front() == u'[') {
      form = MatchForm::kStartsWith;
      phrase.erase(0, 1);
    } else if (phrase.size() > 1 && phrase.back() == u']') {
      form = MatchForm::kEndsWith;
      phrase.pop_back();
    }
    phrase = Normalize(phrase);
    std::vector<uint32_t> expected;
    for (uint32_t r = 0; r < values.size(); ++r) {
      if (values[r].is_string() &&
          MatchStoredText(Normalize(values[r].AsString()), phrase, form, f.filter.get())) {
        expected.push_back(r);
      }
    }
    EXPECT_EQ(Records(f.Find(term)), expected);
    f.request.filter = same_separators.get();
    EXPECT_EQ(Records(f.Find(term)), expected);
    f.request.filter = f.filter.get();
  }
}

TEST(FieldLookupTest, LookUpsAfterAFlushSeeTheNewPositions) {
  // "a" has enough stored positions to be kept in the posting cache; the
  // flush must drop the kept list, or the records flushed since vanish.
  std::vector<Variant> values(4100, Variant::Bstr(u"ab"));
  Field f(kWordIndex, values);
  f.request.stored.record_count = 2500;
  f.IndexAll(2500);
  EXPECT_EQ(f.Find(u"ab").records.size(), 2500u);
  f.request.stored.record_count = 4100;
  for (uint32_t r = 2500; r < 4100; ++r) ASSERT_TRUE(f.index->AddRecord(r, values[r]));
  ASSERT_TRUE(f.index->Flush());
  EXPECT_EQ(f.Find(u"ab").records.size(), 4100u);
  EXPECT_EQ(f.Find(u"a").records.size(), 4100u);
}

TEST(FieldLookupTest, ExactFormMatchesWholeNormalisedValues) {
  Field f(kExactIndex, Texts({u"/Home/A.txt", u"/home/a.txt", u"/home/a.txt.bak", u"/home/?"}));
  f.IndexAll(2);  // the rest only in the stored records
  const std::pair<const char16_t*, std::vector<uint32_t>> cases[] = {
      {u"/home/a.txt", {0, 1}}, {u"/home/a.txt.bak", {2}}, {u"/home/?", {3}}, {u"/home/", {}}};
  for (const auto& [term, records] : cases) {
    const LookupResult r = f.Find(term);
    EXPECT_EQ(std::vector<uint32_t>(r.records.begin(), r.records.end()), records);
    EXPECT_FALSE(r.has_weights);
  }
}

TEST(FieldLookupTest, IntegerTermsAndRanges) {
  std::vector<Variant> values;
  for (int v : {0, 1, 2, 3, 4, 5, 6, -1}) values.push_back(Variant::I4(v));
  Field f(kNoIndex, values, 2);
  struct Case {
    const char16_t* term;
    int comparison;
    std::vector<uint32_t> records;
  };
  const Case cases[] = {
      {u"{1~5]", 0, {2, 3, 4, 5}},
      {u"[1~5]", 0, {1, 2, 3, 4, 5}},
      {u"[1~5}", 0, {1, 2, 3, 4}},
      {u"{1~5}", 0, {2, 3, 4}},
      {u" [ 1 ~ 5 ] ", 0, {1, 2, 3, 4, 5}},  // blanks are removed
      {u"1~5", 0, {}},
      {u"[1~5]x", 0, {}},
      {u"[1~5~6]", 0, {}},
      {u"3", 0, {3}},
      {u"3.9", 0, {3}},                      // truncated
      {u"5", 1, {6, 7}},                     // -1 compares above every other value
      {u"5", 2, {5, 6, 7}},
      {u"2", 3, {0, 1}},
      {u"2", 4, {0, 1, 2}},
      {u"-1", 0, {7}},
      {u"abc", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.term, c.term + std::char_traits<char16_t>::length(c.term)).size());
    EXPECT_EQ(Records(f.Find(c.term, c.comparison)), c.records);
  }
}

TEST(FieldLookupTest, ScansCoverEveryRecordNotOnlyTheFirst5000) {
  std::vector<Variant> values;
  for (int i = 0; i < 6000; ++i) values.push_back(Variant::I4(i % 3000));
  Field f(kNoIndex, values, 2);
  EXPECT_EQ(Records(f.Find(u"2999")), (std::vector<uint32_t>{2999, 5999}));
  EXPECT_EQ(f.Find(u"[0~3000]").records.size(), 6000u);
}

TEST(FieldLookupTest, LogicalDateAndNumberTerms) {
  struct Case {
    int type;
    std::vector<Variant> values;
    const char16_t* term;
    int comparison;
    std::vector<uint32_t> records;
  };
  const double day = 37652.0;  // 2003-01-31
  const Case cases[] = {
      {5, {Variant::Bool(true), Variant::Bool(false), Variant()}, u"  TrUe", 0, {0}},
      {5, {Variant::Bool(true), Variant::Bool(false)}, u"1", 0, {0}},
      {5, {Variant::Bool(true), Variant::Bool(false)}, u"yes", 0, {1}},
      {6, {Variant::Date(day), Variant::Date(day + 1)}, u" 2003-1-31", 0, {0}},
      {6, {Variant::Date(day), Variant::Date(day + 1)}, u"2003/1/31", 1, {1}},
      {6, {Variant::Date(day), Variant::Date(-1.0)}, u"not a date", 0, {1}},
      {4, {Variant::R8(1.5), Variant::R8(2.5)}, u" 2.5 ", 0, {1}},
      {4, {Variant::R8(1.5), Variant::R8(2.5)}, u"2", 3, {0}},
      {4, {Variant::R8(1.5)}, u"1.5x", 0, {}},
      {3, {Variant::R4(0.1f), Variant::R4(0.2f)}, u"0.1", 0, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    Field f(kNoIndex, c.values, c.type);
    const LookupResult r = f.Find(c.term, c.comparison);
    EXPECT_EQ(Records(r), c.records);
    EXPECT_FALSE(r.has_weights);
  }
}

TEST(FieldLookupTest, CancelledScanStops) {
  std::vector<Variant> values(5000, Variant::I4(1));
  Field f(kNoIndex, values, 2);
  std::atomic<bool> cancel{true};
  f.request.cancel = &cancel;
  f.request.term = u"1";
  LookupResult r;
  EXPECT_EQ(FieldLookup(f.request, &r), LookupStatus::kCancelled);
}

}  // namespace
}  // namespace lun
