// Whole-word matches of Latin terms: the boundary rule, the ranking of rows
// ordered by relevance, and " whole words", through the real indexes.
#include "engine/query/whole_word.h"

#include <gtest/gtest.h>

#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "engine/storage/storage_test_util.h"
#include "platform/text.h"

namespace lun {
namespace {

TEST(WholeWord, OccurrencesAndTheirBoundaries) {
  const struct {
    std::u16string_view text, term;
    uint32_t all, whole;
  } cases[] = {
      {u"port", u"port", 1, 1},
      {u"the port, a port.", u"port", 2, 2},
      {u"portable supported report", u"port", 3, 0},
      {u"port2 port_x", u"port", 2, 1},  // a digit is part of the word, "_" is not
      {u"端口port使用", u"port", 1, 1},  // Chinese neighbours are boundaries
      {u"sport port", u"port", 2, 1},
      {u"pörtport port", u"port", 2, 1},  // a Latin-1 letter is part of the word
      {u"aaaa", u"aa", 2, 0},             // non-overlapping, from the left
      {u"p0rt pxrt", u"p?rt", 2, 2},      // "?" matches any character
      {u"desktop\nsearch", u"desktop search", 1, 1},
      {u"", u"port", 0, 0},
      {u"The PORT, ＰＯＲＴＳ", u"port", 2, 1},  // the text is normalised as it is read
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToNarrow(c.text));
    const WordOccurrences found = CountOccurrences(c.text, c.term);
    EXPECT_EQ(found.all, c.all);
    EXPECT_EQ(found.whole, c.whole);
  }
  EXPECT_TRUE(IsLatinTerm(u"port"));
  EXPECT_TRUE(IsLatinTerm(u"c++"));
  EXPECT_TRUE(IsLatinTerm(u"café 2"));
  EXPECT_FALSE(IsLatinTerm(u"端口"));
  EXPECT_FALSE(IsLatinTerm(u"port端口")) << "mixed terms are left as they are";
  EXPECT_FALSE(IsLatinTerm(u"++"));
  EXPECT_FALSE(IsLatinTerm(u""));
}

class WholeWordSearchTest : public testing::Test {
 protected:
  void SetUp() override {
    project_ = scratch_.Make(MakeFieldIndexFactory());
    ASSERT_TRUE(project_->CreateProject(scratch_.project_path()).ok());
    ASSERT_TRUE(project_->CreateTable("", "", "文档", "").ok());
    table_ = project_->FindTable("文档");
    ASSERT_TRUE(table_->AddField("文件名称", "", kFieldText, kWordIndex).ok());
    ASSERT_TRUE(table_->AddField("文本内容", "", kFieldText, kWordIndex).ok());
    service_ = std::make_unique<SearchService>(*project_, MakeIndexTermSource);
    // Record 0: three occurrences, none whole; 1: one whole; 2: two of
    // three whole; 3: between Chinese characters; 4: no "port"; 5: port in
    // a longer word, and a CJK term.
    for (const char16_t* text : {u"supported portable report", u"the port", u"port report port",
                                 u"端口port使用", u"nothing", u"passport 端口"}) {
      RecordWriter writer = table_->NewRecord();
      ASSERT_TRUE(writer.valid());
      writer.SetValue("文件名称", Variant::Bstr(u"name.txt"));
      writer.SetValue("文本内容", Variant::Bstr(text));
      ASSERT_TRUE(writer.Commit().ok());
    }
  }

  // Record numbers in the order the recordset gives them, with relevance.
  std::vector<std::pair<int64_t, int64_t>> Rows(const std::string& query) {
    std::unique_ptr<Recordset> rs;
    EXPECT_EQ(service_->Search(query, &rs), kEngineOk) << query;
    std::vector<std::pair<int64_t, int64_t>> rows;
    if (!rs) return rows;
    for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
      rows.emplace_back(rs->RecordNumber(), rs->Relevance());
    }
    return rows;
  }

  ScratchProject scratch_;
  std::unique_ptr<SearchProject> project_;
  DataTable* table_ = nullptr;
  std::unique_ptr<SearchService> service_;
};

using RowList = std::vector<std::pair<int64_t, int64_t>>;

TEST_F(WholeWordSearchTest, WholeWordHitsRankAboveHitsInsideLongerWords) {
  // By weight alone: 0 (3), 2 (3), 5 (1)... Whole words first, each tier
  // by weight, equal weights in record order.
  EXPECT_EQ(Rows("[文档]:文本内容=port order by 相关度 desc"),
            (RowList{{2, 3}, {1, 1}, {3, 1}, {0, 3}, {5, 1}}));
  // Ascending relevance and other orders are left as they were.
  EXPECT_EQ(Rows("[文档]:文本内容=port order by 相关度"),
            (RowList{{1, 1}, {3, 1}, {5, 1}, {0, 3}, {2, 3}}));
  // A CJK term is not judged: record 5 ranks by its weight.
  EXPECT_EQ(Rows("[文档]:文本内容=端口 order by 相关度 desc"), (RowList{{3, 1}, {5, 1}}));
  // Either term: record 5 holds "port" only inside "passport", so it ranks
  // below the whole-word hits, although 端口 adds to its weight.
  EXPECT_EQ(Rows("[文档]:文本内容=(端口+port) order by 相关度 desc"),
            (RowList{{2, 3}, {3, 2}, {1, 1}, {0, 3}, {5, 2}}));
}

TEST_F(WholeWordSearchTest, WholeWordsKeepsOnlyWholeWordMatchesOfLatinTerms) {
  EXPECT_EQ(Rows("[文档]:文本内容=port whole words order by 相关度 desc"),
            (RowList{{2, 2}, {1, 1}, {3, 1}}));
  EXPECT_EQ(Rows("[文档]:文本内容=port whole words in all order by 相关度 desc"),
            (RowList{{2, 2}, {1, 1}, {3, 1}}));
  // CJK terms are unaffected; the union keeps 5 through 端口.
  EXPECT_EQ(Rows("[文档]:文本内容=(port+端口) WHOLE WORDS order by 相关度 desc"),
            (RowList{{2, 2}, {3, 2}, {1, 1}, {5, 1}}));
  // Without the modifier nothing is dropped.
  EXPECT_EQ(Rows("[文档]:文本内容=port order by 相关度 desc").size(), 5u);
}

// The ranker reads long texts piece by piece: a match that straddles two
// pieces, its neighbour in the next piece, and a whole word far behind many
// partial ones are judged as on the text read at once.
TEST_F(WholeWordSearchTest, TheRankerJudgesLongTextsAsTheWholeText) {
  constexpr size_t kPiece = 8192;  // UTF-16 units of one piece of a stored text
  std::vector<std::u16string> texts;
  for (const size_t piece_end : {kPiece, 2 * kPiece, 5 * kPiece}) {
    for (size_t back = 0; back <= 5; ++back) {
      for (const char16_t* around : {u" port ", u"xport ", u" portx", u" port\u7aef"}) {
        std::u16string text(piece_end - back, u'a');
        text[text.size() - 1] = u' ';
        text += around;
        text += std::u16string(kPiece, u'b');
        texts.push_back(std::move(text));
      }
    }
  }
  std::u16string far;
  for (int i = 0; i < 9000; ++i) far += u"support ";
  texts.push_back(far + u"port.");
  texts.push_back(far + u"sports");
  const uint32_t first = table_->record_count();
  for (const std::u16string& text : texts) {
    RecordWriter writer = table_->NewRecord();
    writer.SetValue("文本内容", Variant::Bstr(text));
    ASSERT_TRUE(writer.Commit().ok());
  }
  const WholeWordRanker ranker(*table_, {{table_->FindField("文本内容")->position, {u"port"}}});
  ASSERT_TRUE(ranker.active());
  for (size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(i);
    const WordOccurrences expected = CountOccurrences(texts[i], u"port");
    EXPECT_EQ(ranker.WholeIn(first + static_cast<uint32_t>(i)),
              expected.all == 0 || expected.whole > 0);
  }
}

}  // namespace
}  // namespace lun
