#include "engine/query/search_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

#include "engine/query/query_parser.h"
#include "engine/storage/storage_test_util.h"
#include "platform/normalize.h"
#include "platform/text.h"

namespace lun {
namespace {

using namespace std::chrono_literals;

// Looks terms up by scanning the stored text of the table: a term's weight is
// its number of occurrences. Optionally blocks every look-up until released,
// to hold a search in flight.
class ScanSource : public TermSource {
 public:
  ScanSource(DataTable& table, std::shared_future<void> gate, std::atomic<int>* lookups)
      : table_(table), gate_(gate), lookups_(lookups) {}
  uint32_t SlotCount() const override { return table_.record_count(); }
  std::vector<int32_t> AnyFieldList() const override {
    return {table_.any_fields().begin(), table_.any_fields().end()};
  }
  std::span<const uint32_t> Deletions() const override {
    deleted_ = table_.DeletedRecords();
    return deleted_;
  }
  bool Lookup(int32_t field, std::u16string_view text, Comparison, ResultSet* out) override {
    ++*lookups_;
    if (gate_.valid()) gate_.wait();
    const std::u16string needle = Normalize(text);
    for (uint32_t r = 0; r < table_.record_count(); ++r) {
      const std::u16string value = Normalize(table_.GetFieldValue(r, field).AsString());
      uint32_t n = 0;
      for (size_t at = value.find(needle); !needle.empty() && at != std::u16string::npos;
           at = value.find(needle, at + needle.size())) {
        ++n;
      }
      if (n > 0) {
        out->records.push_back(r);
        out->weights.push_back(n);
      }
    }
    return true;
  }

 private:
  DataTable& table_;
  std::shared_future<void> gate_;
  std::atomic<int>* lookups_;
  mutable std::vector<uint32_t> deleted_;
};

class SearchServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    project_ = scratch_.Make();
    ASSERT_TRUE(project_->CreateProject(scratch_.project_path()).ok());
    ASSERT_TRUE(project_->CreateTable("", "", "文档", "").ok());
    ASSERT_TRUE(project_->CreateTable("", "", "日志", "").ok());
    table_ = project_->FindTable("文档");
    ASSERT_TRUE(table_->AddField("文件名称", "", kFieldText, kWordIndex).ok());
    ASSERT_TRUE(table_->AddField("文本内容", "", kFieldText, kWordIndex).ok());
    ASSERT_TRUE(table_->AddField("文件大小", "", kFieldInteger, kNoIndex).ok());
  }

  void Add(const char* name, const char* text, int size = 0) {
    RecordWriter writer = table_->NewRecord();
    ASSERT_TRUE(writer.valid());
    writer.SetValue("文件名称", Variant::Bstr(ToWide(name)));
    writer.SetValue("文本内容", Variant::Bstr(ToWide(text)));
    writer.SetValue("文件大小", Variant::I4(size));
    ASSERT_TRUE(writer.Commit().ok());
  }

  std::unique_ptr<SearchService> Service(std::chrono::milliseconds watchdog = 2min,
                                         uint32_t read_timeout_ms = 15000) {
    return std::make_unique<SearchService>(
        *project_,
        [this](DataTable& t, const std::atomic<bool>*) {
          return std::make_unique<ScanSource>(t, lookup_gate_, &lookups_);
        },
        watchdog, read_timeout_ms);
  }

  // Record numbers of every row in row order, walking with MoveNext.
  static std::vector<int64_t> Rows(Recordset& rs) {
    std::vector<int64_t> rows;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) rows.push_back(rs.RecordNumber());
    return rows;
  }

  ScratchProject scratch_;
  std::unique_ptr<SearchProject> project_;
  DataTable* table_ = nullptr;
  std::shared_future<void> lookup_gate_;
  std::atomic<int> lookups_{0};
};

TEST_F(SearchServiceTest, WholeTableIsNewestFirstAndPaged) {
  for (int i = 0; i < 16; ++i) Add("f", "t");
  ASSERT_TRUE(table_->DeleteRecord(3));
  auto service = Service();
  std::unique_ptr<Recordset> rs;
  ASSERT_EQ(service->Search("[文档]:", &rs), kEngineOk);
  EXPECT_EQ(rs->count(), 15u);
  EXPECT_TRUE(rs->IsEOF()) << "no current row until the caller moves";
  rs->SetPageSize(7);
  EXPECT_EQ(rs->page_count(), 3u);
  rs->MovePage(3);
  EXPECT_EQ(rs->current_page_size(), 1u);
  EXPECT_EQ(rs->RecordNumber(), 0);
  rs->MovePage(1);
  EXPECT_EQ(rs->RecordNumber(), 15);

  ASSERT_EQ(service->Search("文档: in all", &rs), kEngineOk);
  EXPECT_EQ(rs->count(), 16u);
}

TEST_F(SearchServiceTest, RelevanceAndFieldOrder) {
  Add("b", "apple apple");  // 0
  Add("a", "apple apple apple pie");  // 1
  Add("c", "pie");  // 2
  Add("a", "apple pie pie");  // 3
  auto service = Service();
  std::unique_ptr<Recordset> rs;

  ASSERT_EQ(service->Search("[文档]:文本内容=apple*pie order by 相关度 desc", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{1, 3}));
  rs->MoveFirst();
  EXPECT_EQ(rs->Relevance(), 4);

  ASSERT_EQ(service->Search("[文档]:文本内容=apple order by 相关度", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{3, 0, 1}));

  // Equal smallest names: ascending puts the later row first.
  ASSERT_EQ(service->Search("[文档]:文本内容=p order by 文件名称", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{3, 1, 0, 2}));
  ASSERT_EQ(service->Search("[文档]:文本内容=p order by 文件名称 desc", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{2, 0, 1, 3}));
  EXPECT_EQ(rs->Relevance(), -1) << "not ordered by relevance";

  ASSERT_EQ(service->Search("[文档]:文本内容=p order by 没有这个字段", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{0, 1, 2, 3}));

  ASSERT_EQ(service->Search("[文档]:-(文本内容=apple) order by 相关度 desc", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{2}));
  rs->MoveFirst();
  EXPECT_EQ(rs->Relevance(), -1) << "a negation has no weights";
}

TEST_F(SearchServiceTest, NoMatchGivesAnEmptyRecordset) {
  Add("a", "text");
  auto service = Service();
  std::unique_ptr<Recordset> rs;
  ASSERT_EQ(service->Search("[文档]:nothing", &rs), kEngineOk);
  EXPECT_EQ(rs->count(), 0u);
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_EQ(rs->page_count(), 0u);
  rs->MovePage(1);
  EXPECT_EQ(rs->cursor(), Recordset::kNoRow);
}

TEST_F(SearchServiceTest, KeywordListsFollowTheTerms) {
  Add("a b", "x y");
  auto service = Service();
  std::unique_ptr<Recordset> rs;
  ASSERT_EQ(service->Search("[文档]:文件名称=a%0x0020%b+x", &rs), kEngineOk);
  const auto& columns = rs->columns();
  EXPECT_EQ(columns[0].keywords, (std::vector<std::u16string>{u"a b", u"x"}));
  EXPECT_EQ(columns[1].keywords, std::vector<std::u16string>{})
      << "x was searched in 文件名称, the field named before it at its level";
}

TEST_F(SearchServiceTest, SearchWithin) {
  Add("1", "a b");  // 0
  Add("2", "a");    // 1
  Add("3", "a c");  // 2
  Add("4", "c");    // 3
  Add("5", "b c");  // 4
  auto service = Service();
  std::unique_ptr<Recordset> previous, rs;
  ASSERT_EQ(service->Search("[文档]:文本内容=a", &previous), kEngineOk);
  ASSERT_EQ(service->SearchWithin(*previous, "[文档]:文本内容=c", WithinMode::kIntersect, &rs), 0);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{2}));
  EXPECT_EQ(rs->expression, "文本内容=c");
  ASSERT_EQ(service->SearchWithin(*previous, "[文档]:文本内容=c", WithinMode::kUnite, &rs), 0);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{0, 1, 2, 3, 4}));
  ASSERT_EQ(service->SearchWithin(*previous, "[文档]:文本内容=c", WithinMode::kExclude, &rs), 0);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{0, 1}));
  // Chained: a, within b, within c gives c ∩ b, since only the expression of
  // the previous rows is evaluated again.
  std::unique_ptr<Recordset> within_b, chained;
  ASSERT_EQ(service->SearchWithin(*previous, "[文档]:文本内容=b", WithinMode::kIntersect, &within_b), 0);
  EXPECT_EQ(Rows(*within_b), (std::vector<int64_t>{0}));
  ASSERT_EQ(service->SearchWithin(*within_b, "[文档]:文本内容=c", WithinMode::kIntersect, &chained), 0);
  EXPECT_EQ(Rows(*chained), (std::vector<int64_t>{4}));
  // Another table: the previous rows are ignored.
  ASSERT_EQ(service->SearchWithin(*previous, "[日志]:", WithinMode::kIntersect, &rs), 0);
  EXPECT_EQ(rs->count(), 0u);
}

TEST_F(SearchServiceTest, ErrorCodes) {
  ASSERT_TRUE(table_->AddField("修改时间", "", kFieldDate, kNoIndex).ok());
  Add("a", "b");
  auto service = Service();
  std::unique_ptr<Recordset> rs;
  struct Case {
    std::string query;
    int code;
  };
  const Case cases[] = {
      {"", kQueryEmpty},
      {"文档:" + std::string(kMaxQueryBytes, 'a'), kQueryTooLong},
      {"[没有]:a", kNoSuchTable},
      {"[文档]:a*", kQuerySyntaxError},
      {"[文档]:无此字段=a", kQuerySyntaxError},
      {"no colon", kQuerySyntaxError},
      // A date that cannot be read is a mistake to tell the user, not a
      // comparison with "no date" that selects every record.
      {"[文档]:修改时间>=9999-99-99", kQuerySyntaxError},
      {"[文档]:修改时间>=9999%0x002D%99%0x002D%99", kQuerySyntaxError},
      {"[文档]:修改时间<=", kQuerySyntaxError},
      {"[文档]:a*修改时间>明天", kQuerySyntaxError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query.substr(0, 40));
    EXPECT_EQ(service->Search(c.query, &rs), c.code);
    EXPECT_EQ(rs, nullptr);
  }
  EXPECT_NE(scratch_.ErrorLog().find("解析错误"), std::string::npos);
  // Readable dates, also in the escaped form the pages send, still search.
  for (const char* query : {"[文档]:修改时间>=2005/1/1", "[文档]:修改时间>=2005%0x002D%1%0x002D%1",
                            "[文档]:修改时间<= 2005/1/1 23:59:59"}) {
    SCOPED_TRACE(query);
    EXPECT_EQ(service->Search(query, &rs), kEngineOk);
  }

  // 1023 UTF-16 units of expression are evaluated, 1024 are too long (the
  // query string itself stays below its byte limit).
  EXPECT_EQ(service->Search("文档:" + std::string(1023, 'a'), &rs), kEngineOk);
  EXPECT_EQ(service->Search("文档:" + std::string(1024, 'a'), &rs), kQueryTooLong);

  // A writer holding the project gate: searches fail at once.
  project_->gate().Enter();
  EXPECT_EQ(service->Search("[文档]:a", &rs), kDatabaseLocked);
  project_->gate().Leave();
  EXPECT_EQ(service->Search("[文档]:a", &rs), kEngineOk);

  // A writer holding the table longer than the read time-out.
  auto impatient = Service(2min, /*read_timeout_ms=*/50);
  table_->WriteLock();
  EXPECT_EQ(impatient->Search("[文档]:a", &rs), kTableLocked);
  table_->Unlock();
  EXPECT_EQ(impatient->Search("[文档]:a", &rs), kEngineOk);
}

TEST_F(SearchServiceTest, ChannelsAndWatchdog) {
  Add("a", "b");
  std::promise<void> release;
  lookup_gate_ = release.get_future().share();
  auto service = Service(/*watchdog=*/30s);
  service->Configure({/*channels=*/1, /*wait_timeout_ms=*/50});

  std::unique_ptr<Recordset> first;
  auto running = std::async(std::launch::async, [&] { return service->Search("[文档]:b", &first); });
  // While the only channel is taken, a second search times out waiting.
  std::unique_ptr<Recordset> second;
  int code = kEngineOk;
  for (int i = 0; i < 200 && code != kWaitTimedOut; ++i) {
    code = service->Search("[文档]:", &second);
    if (code == kEngineOk) std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(code, kWaitTimedOut);
  release.set_value();
  EXPECT_EQ(running.get(), kEngineOk);
  EXPECT_EQ(first->count(), 1u);
  EXPECT_EQ(service->Search("[文档]:", &second), kEngineOk) << "the channel is free again";
}

TEST_F(SearchServiceTest, AbandonedSearchReturnsResetAndFreesItsChannel) {
  Add("a", "b");
  std::promise<void> release;
  lookup_gate_ = release.get_future().share();
  auto service = Service(/*watchdog=*/100ms);
  service->Configure({1, 5000});
  std::unique_ptr<Recordset> rs;
  EXPECT_EQ(service->Search("[文档]:b", &rs), kSearchServerReset);
  EXPECT_EQ(rs, nullptr);
  EXPECT_NE(scratch_.ErrorLog().find("回收线程"), std::string::npos);
  release.set_value();  // the worker notices its cancellation and ends
  EXPECT_EQ(service->Search("[文档]:", &rs), kEngineOk);
}

size_t ThreadCount() {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) n += e.exists();
  return n;
}

TEST_F(SearchServiceTest, WorkersAreKeptForTheNextSearchAndSearchesStillRunTogether) {
  Add("a", "b");
  auto service = Service();
  const size_t before = ThreadCount();
  std::unique_ptr<Recordset> rs;
  for (int i = 0; i < 30; ++i) ASSERT_EQ(service->Search("[文档]:b", &rs), kEngineOk);
  EXPECT_LE(ThreadCount(), before + 1) << "one worker serves searches one after another";

  // Searches in flight together each have a worker of their own.
  std::promise<void> release;
  lookup_gate_ = release.get_future().share();
  std::vector<std::future<int>> running;
  std::unique_ptr<Recordset> results[3];
  for (auto& r : results) {
    running.push_back(std::async(std::launch::async, [&] { return service->Search("[文档]:b", &r); }));
  }
  while (lookups_ < 30 + 3) std::this_thread::sleep_for(1ms);
  release.set_value();
  for (auto& r : running) EXPECT_EQ(r.get(), kEngineOk);
  for (auto& r : results) EXPECT_EQ(r->count(), 1u);
  EXPECT_LE(ThreadCount(), before + SearchService::kIdleWorkers);
}

TEST_F(SearchServiceTest, BufferPoolServesRepeatsAndNeverStaleResults) {
  Add("a", "apple");
  Add("b", "apple pie");
  ScratchDir pool_dir;
  auto service = Service();
  service->ConfigurePool({/*size=*/4, std::chrono::hours(1), pool_dir.path()});
  std::unique_ptr<Recordset> rs;
  ASSERT_EQ(service->Search("[文档]:文本内容=apple", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{0, 1}));

  // A repeat is served from the pool: the look-up is not run again.
  const int lookups = lookups_;
  ASSERT_EQ(service->Search("[文档]:文本内容=apple", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(lookups_, lookups);

  // An append or a deletion changes the answer, so the stored one is not used.
  Add("c", "apple");
  ASSERT_EQ(service->Search("[文档]:文本内容=apple", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{0, 1, 2}));
  ASSERT_TRUE(table_->DeleteRecord(0));
  ASSERT_EQ(service->Search("[文档]:文本内容=apple", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{1, 2}));
  ASSERT_EQ(service->Search("[文档]:文本内容=apple in all", &rs), kEngineOk);
  EXPECT_EQ(Rows(*rs), (std::vector<int64_t>{0, 1, 2}));
}

TEST(BufferPoolTest, LongKeysAreNotCached) {
  TokenList postfix(1);
  postfix[0].text = std::u16string(1000, u'x');
  EXPECT_TRUE(BufferPoolKey(postfix, false, 1, 0));
  postfix[0].text = std::u16string(1020, u'x');
  EXPECT_FALSE(BufferPoolKey(postfix, false, 1, 0));
}

TEST(ChannelSettingsTest, Clamping) {
  ScratchDir dir;
  SettingsStore settings;
  ASSERT_TRUE(settings.Load(dir.File("Setting")));
  const std::tuple<const char*, const char*, int, int> cases[] = {
      {"", "", 10, 3000},        {"0", "60000", 10, 60000}, {"301", "60001", 300, 3000},
      {"300", "1", 300, 1},      {"7", "0", 7, 3000},
  };
  for (const auto& [channels, wait, want_channels, want_wait] : cases) {
    settings.SetValue(kSearchSection, key::kChannelCount, channels);
    settings.SetValue(kSearchSection, key::kSearchWaitTimeout, wait);
    const ChannelSettings s = ChannelSettings::From(settings);
    EXPECT_EQ(s.channels, want_channels) << channels;
    EXPECT_EQ(s.wait_timeout_ms, want_wait) << wait;
  }
}

}  // namespace
}  // namespace lun
