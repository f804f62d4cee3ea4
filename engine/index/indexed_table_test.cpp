// The indexes behind real tables: records committed through storage are
// found by every look-up, also after reopening and after the process was
// killed at any point while indexing (kill points inside the flushes too).
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>
#include <random>

#include "automation/variant.h"
#include "config/settings_store.h"
#include "engine/index/char_filter.h"
#include "engine/index/field_generations.h"
#include "engine/index/field_lookup.h"
#include "engine/index/index_test_util.h"
#include "engine/index/letter_grams.h"
#include "engine/index/word_index_format.h"
#include "engine/storage/search_project.h"
#include "engine/storage/storage_files.h"
#include "platform/fault_file_system.h"
#include "platform/file_system.h"
#include "platform/normalize.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"

extern char** environ;

namespace lun {
namespace {

constexpr char kTable[] = "文档";
constexpr char kContent[] = "内容";  // text, word index
constexpr char kPath[] = "路径";     // text, exact-value index
constexpr char kSize[] = "大小";     // integer, no index

// Record i of the workload, the same in every process.
std::u16string ContentOf(uint32_t i) {
  static const char16_t* words[] = {u"kernel", u"数据库", u"文件系统", u"Config", u"配置文件",
                                    u"死锁",   u"the",    u"ＦＵＬＬ", u"資料",   u"?x"};
  std::mt19937 rng(i);
  std::u16string text = u"uid" + ToWide(std::to_string(i)) + u" ";
  const int n = int(rng() % 12);
  for (int k = 0; k < n; ++k) {
    text += words[rng() % 10];
    text += (rng() % 4 == 0) ? u"，" : u" ";
  }
  return text;
}
std::u16string PathOf(uint32_t i) {
  return u"/home/u/" + ToWide(std::to_string(i % 700)) + u".txt";
}

// A project in a fixed home, opened the way the application opens it.
class Database {
 public:
  explicit Database(const std::string& home, FileSystem* fs = nullptr) : home_(home) {
    EXPECT_TRUE(SetApplicationHome(home));
    (void)settings_.Load(JoinPath(home, "Setting"));
    SearchProjectOptions options;
    options.file_system = fs;
    options.settings = &settings_;
    options.index_factory = MakeFieldIndexFactory();
    project_ = std::make_unique<SearchProject>(std::move(options));
    const std::string path = JoinPath(home, "Data/local.db");
    settings_.SetValue("检索设置", "数据源", path);
    if (!project_->OpenProject().ok()) {
      EXPECT_TRUE(project_->CreateProject(path).ok());
    }
    table_ = project_->FindTable(kTable);
    if (!table_) {
      EXPECT_TRUE(project_->CreateTable("", "", kTable, "").ok());
      table_ = project_->FindTable(kTable);
    }
    // Each field is its own durable step: a child killed between them left
    // the rest to add (the kill test's first child may die there).
    const struct {
      const char* name;
      uint32_t type;
      IndexKind index_kind;
    } fields[] = {{kContent, 1, kWordIndex}, {kPath, 1, kExactIndex}, {kSize, 2, kNoIndex}};
    for (const auto& f : fields) {
      if (!table_->FindField(f.name)) {
        EXPECT_TRUE(table_->AddField(f.name, "", f.type, f.index_kind).ok());
      }
    }
  }
  DataTable& table() { return *table_; }

  bool Append(uint32_t i) {
    RecordWriter writer = table_->NewRecord();
    if (!writer.valid()) return false;
    writer.SetValue(kContent, Variant::Bstr(ContentOf(i)));
    writer.SetValue(kPath, Variant::Bstr(PathOf(i)));
    writer.SetValue(kSize, Variant::I4(int32_t(i % 100)));
    return writer.Commit().ok();
  }

  std::vector<uint32_t> Find(const char* field_name, std::u16string_view term, int comparison = 0) {
    TableField* field = table_->FindField(field_name);
    FieldLookupRequest request;
    request.field_type = field->type;
    request.index_kind = field->index_kind;
    request.index = dynamic_cast<const FieldGenerations*>(field->index.get());
    request.stored.record_count = table_->record_count();
    const int position = field->position;
    DataTable* table = table_;
    request.stored.read = [table, position](uint32_t r) {
      return table->GetFieldValue(r, position);
    };
    request.term = term;
    request.comparison = comparison;
    LookupResult result;
    EXPECT_EQ(FieldLookup(request, &result), LookupStatus::kOk);
    return {result.records.begin(), result.records.end()};
  }

  uint32_t IndexRecordCount(const char* field_name) {
    return table_->FindField(field_name)->index->RecordCount();
  }

 private:
  std::string home_;
  SettingsStore settings_;
  std::unique_ptr<SearchProject> project_;
  DataTable* table_ = nullptr;
};

// What a clean build must answer: every record whose stored text holds the
// term, computed from the stored records without any index.
std::vector<uint32_t> BruteForce(const std::vector<std::u16string>& texts, std::u16string_view term,
                                 const CharFilter& filter) {
  std::vector<uint32_t> out;
  const std::u16string phrase = Normalize(term);
  for (uint32_t r = 0; r < texts.size(); ++r) {
    if (MatchStoredText(texts[r], phrase, MatchForm::kOccurrence, &filter) > 0) out.push_back(r);
  }
  return out;
}

void ExpectLookupsMatchStoredRecords(Database& db) {
  DataTable& t = db.table();
  const uint32_t records = t.record_count();
  ASSERT_EQ(db.IndexRecordCount(kContent), records);
  ASSERT_EQ(db.IndexRecordCount(kPath), records);
  std::vector<std::u16string> texts(records);
  const int content = t.FindField(kContent)->position;
  for (uint32_t r = 0; r < records; ++r) {
    const Variant v = t.GetFieldValue(r, content);
    ASSERT_EQ(v.AsString(), ContentOf(r)) << r;  // acknowledged records are whole
    texts[r] = Normalize(v.AsString());
  }
  auto filter = CharFilter::ForProject(DefaultFileSystem(), "/nonexistent");
  std::vector<std::u16string> terms = {u"kernel",    u"数据库", u"资料", u"full",
                                       u"config 文", u"死锁?",  u"uid1", u"the kernel"};
  std::mt19937 rng(records);
  for (int k = 0; k < 12 && records > 0; ++k)
    terms.push_back(u"uid" + ToWide(std::to_string(rng() % records)) + u" ");
  for (const auto& term : terms) {
    SCOPED_TRACE(ToNarrow(term));
    EXPECT_EQ(db.Find(kContent, term), BruteForce(texts, term, *filter));
  }
  for (uint32_t v : {0u, 5u, 699u}) {
    std::vector<uint32_t> expected;
    for (uint32_t r = v; r < records; r += 700) expected.push_back(r);
    EXPECT_EQ(db.Find(kPath, PathOf(v)), expected);
  }
  std::vector<uint32_t> sizes;
  for (uint32_t r = 0; r < records; ++r) {
    if (r % 100 >= 97) sizes.push_back(r);
  }
  EXPECT_EQ(db.Find(kSize, u"{96~99]"), sizes);
  // The files as written (the check reads them from disk).
  ASSERT_TRUE(t.FlushIndexes().ok());
  std::vector<std::string> problems;
  CheckTableIndexes(t, &problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(IndexedTableTest, CommittedRecordsAreFoundBeforeAndAfterReopening) {
  ScratchDir home;
  {
    Database db(home.path());
    for (uint32_t i = 0; i < 4500; ++i) ASSERT_TRUE(db.Append(i));
    ExpectLookupsMatchStoredRecords(db);
  }
  Database db(home.path());
  ExpectLookupsMatchStoredRecords(db);
  // Deleted index files are rebuilt from the records when the table opens.
}

TEST(IndexedTableTest, DeletedIndexFilesAreRebuiltFromTheRecords) {
  ScratchDir home;
  std::string index_folder;
  {
    Database db(home.path());
    for (uint32_t i = 0; i < 2100; ++i) ASSERT_TRUE(db.Append(i));
    index_folder = db.table().index_folder();
  }
  for (const char* name : {"D0.Ha0", "D0.Ix0", "D0.RL0", "D1.Ix0"}) {
    ASSERT_EQ(DefaultFileSystem().Unlink(JoinPath(index_folder, name)), 0);
  }
  {
    Database db(home.path());
    ExpectLookupsMatchStoredRecords(db);
  }
  // A project stored before the gram index existed: caught up at open.
  for (int file = 0; file < 3; ++file) {
    const char* ext = WordIndexSegment::FileExtension(SegmentKeys::kLetterGrams, file);
    ASSERT_EQ(DefaultFileSystem().Unlink(IndexFilePath(index_folder, 0, ext, 0)), 0);
  }
  Database db(home.path());
  ExpectLookupsMatchStoredRecords(db);
}

// Damage that only reading a list finds, in the word index or in the gram
// index beside it: the search that finds it still answers exactly (from the
// records, or from the characters when only the grams are damaged), the
// generation is never trusted again, and the next index write rebuilds the
// index (the marker left meanwhile makes a crash rebuild it at open instead).
TEST(IndexedTableTest, DamageFoundBySearchIsAnsweredExactlyAndRebuilt) {
  const int ker[] = {GramSymbol(u'k'), GramSymbol(u'e'), GramSymbol(u'r')};
  struct Case {
    const char* directory;
    const char* postings;
    uint32_t page_size;
    uint32_t key;
    std::u16string term;
  };
  // The letter alone reads the list of 'k' itself, where a longer Latin
  // term would be answered by the letter grams; "kernel" reads "ker" first.
  const Case cases[] = {
      {"D0.Ha0", "D0.Ix0", word_index::kPageSize, u'k', u"k"},
      {"D0.Ta0", "D0.Tx0", word_index::kGramPageSize, GramKey(ker), u"kernel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.postings);
    ScratchDir home;
    std::string index_folder;
    {
      Database db(home.path());
      for (uint32_t i = 0; i < 2100; ++i) ASSERT_TRUE(db.Append(i));
      index_folder = db.table().index_folder();
    }
    // The stream of the list overwritten with ones.
    const std::vector<uint8_t> entry =
        ReadAt(JoinPath(index_folder, c.directory), uint64_t{word_index::kEntrySize} * c.key, 4);
    const uint32_t run = entry[0] | entry[1] << 8 | entry[2] << 16;
    ASSERT_NE(run, 0u);
    PatchFile(JoinPath(index_folder, c.postings), uint64_t{run} * c.page_size + 6 + 9,
              std::vector<uint8_t>(40, 0xFF));

    Database db(home.path());
    const auto* index =
        dynamic_cast<const FieldGenerations*>(db.table().FindField(kContent)->index.get());
    ASSERT_FALSE(index->damaged());  // nothing at open tells
    std::vector<uint32_t> holding;
    for (uint32_t r = 0; r < 2100; ++r) {
      if (Normalize(ContentOf(r)).find(c.term) != std::u16string::npos) holding.push_back(r);
    }
    ASSERT_FALSE(holding.empty());
    EXPECT_EQ(db.Find(kContent, c.term), holding);
    EXPECT_TRUE(index->damaged());
    EXPECT_TRUE(PathExists(db.table().IndexMarkerPath()));
    EXPECT_EQ(db.Find(kContent, c.term), holding);  // still exact

    for (uint32_t i = 2100; i < 4100; ++i) ASSERT_TRUE(db.Append(i));  // takes an index write
    index = dynamic_cast<const FieldGenerations*>(db.table().FindField(kContent)->index.get());
    EXPECT_FALSE(index->damaged());
    ExpectLookupsMatchStoredRecords(db);
  }
}

// An I/O error at any operation of the 2000-record flush (and every
// operation after it failing too, as after a crash or a full disk): the
// next open must give exactly what a clean build gives.
TEST(IndexedTableTest, FailureAtAnyOperationOfAFlushIsRecoveredAtOpen) {
  uint64_t first = 0, last = 0;
  {
    ScratchDir home;
    FaultFileSystem counting;
    Database db(home.path(), &counting);
    for (uint32_t i = 0; i < 1999; ++i) ASSERT_TRUE(db.Append(i));
    first = counting.operations();
    ASSERT_TRUE(db.Append(1999));  // takes the flush
    last = counting.operations();
  }
  ASSERT_GT(last, first + 10);
  const uint64_t step = std::max<uint64_t>(1, (last - first) / 10);
  for (uint64_t n = first + 1; n <= last; n += step) {
    SCOPED_TRACE(n);
    ScratchDir home;
    {
      FaultFileSystem faulty;
      faulty.FailAt(n, EIO, true);
      Database db(home.path(), &faulty);
      for (uint32_t i = 0; i < 2010; ++i) (void)db.Append(i);
    }
    Database db(home.path());
    ExpectLookupsMatchStoredRecords(db);
    if (HasFatalFailure()) return;
  }
}

// The child side of the kill test: appends records to the database named
// by the environment until it is done or a kill point ends it.
TEST(IndexKillTest, ChildWorkload) {
  const char* home = std::getenv("LUN_INDEX_KILL_HOME");
  if (!home) GTEST_SKIP() << "run by KilledAnywhereThenReopenedEqualsCleanBuild";
  Database db(home);
  const uint32_t start = db.table().record_count();
  const uint32_t count = uint32_t(std::strtoul(std::getenv("LUN_INDEX_KILL_RECORDS"), nullptr, 10));
  for (uint32_t i = start; i < start + count; ++i) ASSERT_TRUE(db.Append(i));
}

TEST(IndexKillTest, KilledAnywhereThenReopenedEqualsCleanBuild) {
  ScratchDir home, logs;
  const std::string kill_log = logs.File("kills");
  std::mt19937 rng(20261210);
  int killed = 0;
  // Each cycle names the kill point it aims at (empty: any point at the
  // given odds; "black box": SIGKILL from here at a random moment).
  struct Aim {
    const char* point;
    int odds;
  };
  const Aim aims[] = {
      {"index.exact.insert.unlinked", 100},  // new keys are inserted in the first flush only
      {"index.word.flush.term_written", 30},
      {"index.exact.flush.list_written", 200},
      {"black box", 0},
      {"", 3000},
      {"index.word.flush.directory_written", 1},
      {"index.word.flush.boundaries_written", 1},
      {"black box", 0},
      {"index.exact.flush.header_written", 1},
      {"index.word.flush.header_written", 1},
      {"", 500},
      {"black box", 0},
  };
  for (int cycle = 0; cycle < int(std::size(aims)); ++cycle) {
    SCOPED_TRACE(cycle);
    const Aim& aim = aims[cycle];
    const bool black_box = std::string_view(aim.point) == "black box";
    // More than 2000 records, so that every child runs at least one flush.
    const std::string records = std::to_string(2100 + rng() % 1900);
    std::vector<std::string> env_text = {"LUN_INDEX_KILL_HOME=" + home.path(),
                                         "LUN_INDEX_KILL_RECORDS=" + records,
                                         "LUN_KILL_ODDS=" + std::to_string(aim.odds),
                                         "LUN_KILL_LOG=" + kill_log, "ASAN_OPTIONS=detect_leaks=0"};
    if (*aim.point && !black_box) env_text.push_back(std::string("LUN_KILL_ONLY=") + aim.point);
    std::vector<char*> env;
    for (auto& e : env_text) env.push_back(e.data());
    for (char** e = environ; *e; ++e) {
      if (std::string_view(*e).starts_with("LUN_") || std::string_view(*e).starts_with("ASAN_"))
        continue;
      env.push_back(*e);
    }
    env.push_back(nullptr);
    std::string self = "/proc/self/exe", filter = "--gtest_filter=IndexKillTest.ChildWorkload";
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, env.data()), 0);
    int status = 0;
    if (black_box) {
      usleep(useconds_t(200000 + rng() % 1500000));
      kill(pid, SIGKILL);
    }
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status) || WEXITSTATUS(status) == 137) {
      ++killed;
    } else {
      ASSERT_EQ(WEXITSTATUS(status), 0);
    }
    // Reopen as the application would: storage catches the indexes up (or
    // rebuilds them) before anyone looks.
    Database db(home.path());
    ExpectLookupsMatchStoredRecords(db);
    if (HasFatalFailure()) return;
  }
  std::string log;
  (void)ReadWholeFile(DefaultFileSystem(), kill_log, &log);
  std::map<std::string, int> points;
  for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
    ++points[log.substr(at, end - at)];
  }
  for (const auto& [point, n] : points) std::printf("kill point %s: %d\n", point.c_str(), n);
  EXPECT_GT(killed, 0);
}

}  // namespace
}  // namespace lun
