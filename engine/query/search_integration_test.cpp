// Searches through the real indexes, checked against a brute-force scan of
// the same documents.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "engine/storage/storage_test_util.h"
#include "platform/normalize.h"
#include "platform/text.h"

namespace lun {
namespace {

class SearchIntegrationTest : public testing::Test {
 protected:
  void SetUp() override {
    project_ = scratch_.Make(MakeFieldIndexFactory());
    ASSERT_TRUE(project_->CreateProject(scratch_.project_path()).ok());
    ASSERT_TRUE(project_->CreateTable("", "", "文档", "").ok());
    table_ = project_->FindTable("文档");
    ASSERT_TRUE(table_->AddField("文件名称", "", kFieldText, kExactIndex).ok());
    ASSERT_TRUE(table_->AddField("文本内容", "", kFieldText, kWordIndex).ok());
    ASSERT_TRUE(table_->AddField("文件大小", "", kFieldInteger, kNoIndex).ok());
    service_ = std::make_unique<SearchService>(*project_, MakeIndexTermSource);
  }

  void Add(const std::u16string& name, const std::u16string& text, int size) {
    RecordWriter writer = table_->NewRecord();
    ASSERT_TRUE(writer.valid());
    writer.SetValue("文件名称", Variant::Bstr(name));
    writer.SetValue("文本内容", Variant::Bstr(text));
    writer.SetValue("文件大小", Variant::I4(size));
    ASSERT_TRUE(writer.Commit().ok());
    names_.push_back(name);
    texts_.push_back(text);
  }

  std::vector<uint32_t> Found(const std::string& query) {
    std::unique_ptr<Recordset> rs;
    EXPECT_EQ(service_->Search(query, &rs), kEngineOk) << query;
    if (!rs) return {};
    std::vector<uint32_t> rows(rs->rows().records.begin(), rs->rows().records.end());
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  ScratchProject scratch_;
  std::unique_ptr<SearchProject> project_;
  DataTable* table_ = nullptr;
  std::unique_ptr<SearchService> service_;
  std::vector<std::u16string> names_, texts_;
};

TEST_F(SearchIntegrationTest, PhrasesFindExactlyTheRecordsThatContainThem) {
  // Short documents over a small alphabet, so that every query has hits and
  // misses; more than 2000 of them, so that some records lie behind the
  // index's last flush and some before it.
  const std::u16string alphabet = u"中文档案搜索引擎ab繁體";
  std::mt19937 rng(7);
  for (int i = 0; i < 2300; ++i) {
    std::u16string text;
    const int length = 3 + static_cast<int>(rng() % 12);
    for (int k = 0; k < length; ++k) text.push_back(alphabet[rng() % alphabet.size()]);
    Add(u"n" + ToWide(std::to_string(i)), text, i);
  }
  const std::u16string queries[] = {u"中", u"文档", u"搜索引", u"ab", u"繁体", u"體", u"档案搜索",
                                     u"AB", u"引擎中文"};
  for (const std::u16string& q : queries) {
    SCOPED_TRACE(ToNarrow(q));
    std::vector<uint32_t> expected;
    const std::u16string nq = Normalize(q);
    for (uint32_t r = 0; r < texts_.size(); ++r) {
      if (Normalize(texts_[r]).find(nq) != std::u16string::npos) expected.push_back(r);
    }
    EXPECT_EQ(Found("[文档]:文本内容=" + ToNarrow(q)), expected);
  }
}

TEST_F(SearchIntegrationTest, ExactValuesAnchorsAndRanges) {
  Add(u"report.doc", u"季度报告 quarterly report", 100);
  Add(u"Report.DOC", u"报告", 150);
  Add(u"notes.txt", u"report notes", 200);
  Add(u"report.doc.bak", u"", 250);
  struct Case {
    const char* query;
    std::vector<uint32_t> rows;
  };
  const Case cases[] = {
      {"[文档]:文件名称=report.doc", {0, 1}},  // exact value, normalised
      {"[文档]:文本内容=[报告]", {1}},          // the whole value
      {"[文档]:文本内容=[report", {2}},          // the start
      {"[文档]:文本内容=report]", {0}},          // the end
      {"[文档]:文本内容=r?port", {0, 2}},
      {"[文档]:文件大小=[100~200}", {0, 1}},
      {"[文档]:文件大小>=200", {2, 3}},
      {"[文档]:文本内容=报告-文本内容=季度", {1}},
      {"[文档]:报告", {0, 1}},  // any field
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Found(c.query), c.rows) << c.query;
  }
}

TEST_F(SearchIntegrationTest, SearchesRunWhileRecordsAreAppendedAndDeleted) {
  for (int i = 0; i < 100; ++i) Add(u"n", i % 2 ? u"桌面搜索" : u"其他文本", i);
  std::atomic<bool> stop{false};
  std::atomic<int> searches{0}, bad{0};
  std::vector<std::thread> searchers;
  for (int t = 0; t < 3; ++t) {
    searchers.emplace_back([&] {
      while (!stop) {
        std::unique_ptr<Recordset> rs;
        const int code = service_->Search("[文档]:文本内容=桌面 order by 相关度 desc", &rs);
        ++searches;
        if (code != kEngineOk) {
          ++bad;
          continue;
        }
        // Every row holds the term: no torn or shifted result.
        for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
          if (rs->Value(1).AsString().find(u"桌面") == std::u16string_view::npos) ++bad;
        }
      }
    });
  }
  for (int i = 100; i < 2600; ++i) {
    RecordWriter writer = table_->NewRecord();
    ASSERT_TRUE(writer.valid());
    writer.SetValue("文本内容", Variant::Bstr(i % 2 ? u"桌面搜索" : u"其他文本"));
    ASSERT_TRUE(writer.Commit().ok());
    if (i % 7 == 0) table_->DeleteRecord(static_cast<uint32_t>(i / 2));
  }
  stop = true;
  for (std::thread& t : searchers) t.join();
  EXPECT_GT(searches, 0);
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace lun
