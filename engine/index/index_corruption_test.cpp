// Damaged index files at rest: a table's word index (with the letter-gram
// index beside it) and exact-value index are damaged in many seeded ways (truncations, bit flips,
// lengths and links overwritten with hostile values), then checked the way `lundb check` does and
// opened the way the application does. Every case must end without a crash, without any allocation
// above a cap and without hanging; damage the engine finds must be routed to the rebuild, after
// which every search gives the counts of the clean index again (and the searches that found it
// already give them). The formats carry no checksums, so some damage shows
// only against the records: `lundb check` must report it. Damage that
// nothing reports must not change any search.
//
// The cases run in this one process, one after another (a fork per case
// would cost more than the case under the sanitizers). Memory: this binary
// replaces the global operator new, and an allocation above kAllocationCap
// while a case runs ends the test naming the case. Time: a watchdog ends the
// test when one case runs longer than kCaseHangLimit, which only an endless
// loop reaches (a case takes milliseconds).
//
// The number of cases is LUN_CORRUPTION_CASES (default 100); the labelled
// long run of CTest runs 1,000. LUN_CORRUPTION_SEED changes the seed and
// LUN_CORRUPTION_FIRST skips to a case (to replay one).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <random>
#include <thread>

#include "automation/variant.h"
#include "config/settings_store.h"
#include "engine/index/field_generations.h"
#include "engine/index/field_lookup.h"
#include "engine/index/word_index_format.h"
#include "engine/storage/search_project.h"
#include "engine/storage/storage_files.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"

namespace {

// No allocation of a case may be larger than this; the largest legitimate
// one is the 1.8 MB term directory (and the record files of the fixture).
constexpr size_t kAllocationCap = size_t{64} << 20;
std::atomic<bool> g_cap_armed{false};
std::atomic<int> g_case{-1};

void* Allocate(size_t n) {
  if (g_cap_armed.load(std::memory_order_relaxed) && n > kAllocationCap) {
    std::fprintf(stderr, "case %d: allocation of %zu bytes above the cap\n", g_case.load(), n);
    std::abort();
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace lun {
namespace {

constexpr auto kCaseHangLimit = std::chrono::seconds(120);

constexpr char kTable[] = "文档";
constexpr char kContent[] = "内容";  // word index, definition 0
constexpr char kPath[] = "路径";     // exact-value index, definition 1
constexpr uint32_t kRecords = 2600;  // one flush at 2000, the rest at close

std::u16string ContentOf(uint32_t i) {
  static const char16_t* words[] = {u"的",   u"数据库", u"文件系统", u"配置", u"kernel",
                                    u"死锁", u"索引",   u"的的",     u"资料", u"搜索引擎"};
  std::mt19937 rng(i * 7919u);
  std::u16string text = u"uid" + ToWide(std::to_string(i)) + u" ";
  const int n = 4 + int(rng() % 10);
  for (int k = 0; k < n; ++k) text += words[rng() % 10];
  return text;
}
std::u16string PathOf(uint32_t i) { return u"/home/u/" + ToWide(std::to_string(i % 97)) + u".txt"; }

const std::vector<std::u16string>& WordTerms() {
  static const std::vector<std::u16string> terms = {
      u"的", u"数据库", u"文件系统配置", u"kernel", u"[uid7", u"uid1234 ", u"引擎]"};
  return terms;
}
const std::vector<std::u16string>& PathTerms() {
  static const std::vector<std::u16string> terms = {PathOf(0), PathOf(5), PathOf(96),
                                                    u"/home/u/none.txt"};
  return terms;
}

// The disk seam without syncs: durability is not what these cases test,
// and a thousand rebuilds' fsyncs on a loaded machine would be most of the
// run.
class NoSyncFileSystem final : public FileSystem {
 public:
  int Open(const std::string& path, int flags, unsigned mode, int* fd) override {
    return base_.Open(path, flags, mode, fd);
  }
  int Close(int fd) override { return base_.Close(fd); }
  int PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) override {
    return base_.PRead(fd, buf, n, offset, done);
  }
  int PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) override {
    return base_.PWrite(fd, buf, n, offset, done);
  }
  int Sync(int) override { return 0; }
  int Truncate(int fd, uint64_t size) override { return base_.Truncate(fd, size); }
  int Size(int fd, uint64_t* size) override { return base_.Size(fd, size); }
  int Rename(const std::string& from, const std::string& to) override {
    return base_.Rename(from, to);
  }
  int Unlink(const std::string& path) override { return base_.Unlink(path); }
  int MakeDirectory(const std::string& path, unsigned mode) override {
    return base_.MakeDirectory(path, mode);
  }
  int SyncDirectory(const std::string&) override { return 0; }

 private:
  FileSystem& base_ = DefaultFileSystem();
};

class Database {
 public:
  Database(const std::string& home, bool with_indexes) {
    static NoSyncFileSystem fs;
    SearchProjectOptions options;
    options.file_system = &fs;
    options.settings = &settings_;
    if (with_indexes) options.index_factory = MakeFieldIndexFactory();
    project_ = std::make_unique<SearchProject>(std::move(options));
    const std::string path = JoinPath(home, "Data/local.db");
    settings_.SetValue("检索设置", "数据源", path);
    if (!project_->OpenProject().ok()) {
      EXPECT_TRUE(project_->CreateProject(path).ok());
      EXPECT_TRUE(project_->CreateTable("", "", kTable, "").ok());
      table_ = project_->FindTable(kTable);
      EXPECT_TRUE(table_->AddField(kContent, "", 1, kWordIndex).ok());
      EXPECT_TRUE(table_->AddField(kPath, "", 1, kExactIndex).ok());
    }
    table_ = project_->FindTable(kTable);
  }
  DataTable& table() { return *table_; }

  void Append(uint32_t i) {
    RecordWriter writer = table_->NewRecord();
    ASSERT_TRUE(writer.valid());
    writer.SetValue(kContent, Variant::Bstr(ContentOf(i)));
    writer.SetValue(kPath, Variant::Bstr(PathOf(i)));
    ASSERT_TRUE(writer.Commit().ok());
  }

  std::vector<uint32_t> Find(const char* field_name, std::u16string_view term) {
    const TableField* field = table_->FindField(field_name);
    FieldLookupRequest request;
    request.field_type = field->type;
    request.index_kind = field->index_kind;
    request.index = dynamic_cast<const FieldGenerations*>(field->index.get());
    request.stored.record_count = table_->record_count();
    DataTable* table = table_;
    const int position = field->position;
    request.stored.read = [table, position](uint32_t r) {
      return table->GetFieldValue(r, position);
    };
    request.term = term;
    LookupResult result;
    EXPECT_EQ(FieldLookup(request, &result), LookupStatus::kOk);
    return {result.records.begin(), result.records.end()};
  }

  // Every term of both fields, in one list of results.
  std::vector<std::vector<uint32_t>> FindAll() {
    std::vector<std::vector<uint32_t>> out;
    for (const auto& t : WordTerms()) out.push_back(Find(kContent, t));
    for (const auto& t : PathTerms()) out.push_back(Find(kPath, t));
    return out;
  }

  // Whether an index was reset at open or found damaged by a read.
  bool DamageFound() {
    for (const char* name : {kContent, kPath}) {
      const auto* index =
          dynamic_cast<const FieldGenerations*>(table_->FindField(name)->index.get());
      if (index && (index->was_reset() || index->damaged())) return true;
    }
    return false;
  }

 private:
  SettingsStore settings_;
  std::unique_ptr<SearchProject> project_;
  DataTable* table_ = nullptr;
};

// Ends the process when a case runs past the hang limit.
class Watchdog {
 public:
  Watchdog()
      : thread_([this] {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!stop_) {
            const int at = g_case.load();
            if (!wake_.wait_for(lock, kCaseHangLimit,
                                [&] { return stop_ || g_case.load() != at; }) &&
                at >= 0) {
              std::fprintf(stderr, "case %d: still running after the hang limit\n", at);
              std::abort();
            }
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Started(int n) {
    g_case = n;
    wake_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

struct StoredFile {
  std::string path;
  std::string bytes;
};

void WriteFile(const std::string& path, const std::string& bytes) {
  FileSystem& fs = DefaultFileSystem();
  int fd = -1;
  ASSERT_EQ(fs.Open(path, O_RDWR | O_CREAT | O_TRUNC, 0644, &fd), 0) << path;
  ASSERT_EQ(WriteFully(fs, fd, bytes.data(), bytes.size(), 0), 0);
  (void)fs.Close(fd);
}

void Put32(std::string* bytes, size_t at, uint32_t v) {
  if (at + 4 > bytes->size()) return;
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = char(uint8_t(v >> (8 * i)));
}
uint32_t Get32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(bytes[at + i]);
  return v;
}

// Offsets of the 4-byte words that hold lengths, counts, pages and links in
// the pristine files: where an overwritten length does the most harm.
std::vector<size_t> LengthWords(const std::string& name, const std::string& bytes) {
  std::vector<size_t> words;
  if (name == "D0.Ha0" || name == "D0.Ta0") {
    for (size_t c = 0; c < word_index::kTermCount; ++c) {
      const size_t at = c * word_index::kEntrySize;
      if (at + word_index::kEntrySize > bytes.size() || Get32(bytes, at + 8) == 0) continue;
      for (size_t f = 0; f < 24; f += 4) words.push_back(at + f);
    }
  } else if (name == "D0.Ix0") {
    for (size_t at = 4; at < 20; at += 4) words.push_back(at);
    for (size_t page = 4096; page + 8 <= bytes.size(); page += 4096) {
      words.push_back(page);      // next run
      words.push_back(page + 4);  // pages - 1 (and the list's first bytes)
    }
  } else if (name == "D0.Tx0") {
    for (size_t at = 4; at < 20; at += 4) words.push_back(at);
    for (size_t page = word_index::kGramPageSize; page + 8 <= bytes.size();
         page += word_index::kGramPageSize) {
      words.push_back(page);
      words.push_back(page + 4);
    }
  } else if (name == "D0.RL0" || name == "D0.TL0") {
    words = {0, 5};
    if (bytes.size() >= 4) words.push_back(bytes.size() - 4);
  } else if (name == "D1.Ha0") {
    words = {0, 8};
    for (size_t at = 1024; at + 4 <= bytes.size(); at += 4) words.push_back(at);
  } else if (name == "D1.Ix0") {
    for (size_t at = 4; at < 20; at += 4) words.push_back(at);
    for (size_t page = 2048; page + 4 <= bytes.size(); page += 2048) words.push_back(page);
  }
  return words;
}

// Damages one file of `files` (already holding the pristine bytes) for
// case `n`; returns what was done, for the failure messages.
std::string Damage(std::mt19937_64& rng, std::vector<StoredFile>& files) {
  StoredFile& f = files[rng() % files.size()];
  const std::string name = BaseName(f.path);
  std::string& b = f.bytes;
  switch (rng() % 3) {
    case 0: {  // truncation, sometimes to nothing, often near the end
      const size_t size = b.empty()
                              ? 0
                              : (rng() % 2 ? rng() % b.size()
                                           : b.size() - 1 - rng() % std::min<size_t>(b.size(), 64));
      b.resize(size);
      return name + " cut to " + std::to_string(size);
    }
    case 1: {  // bit flips, half of them inside the length words' region
      const std::vector<size_t> words = LengthWords(name, b);
      std::string what = name + " bits";
      const int flips = 1 + int(rng() % 8);
      for (int i = 0; i < flips && !b.empty(); ++i) {
        const size_t at = (rng() % 2 && !words.empty()) ? words[rng() % words.size()] + rng() % 4
                                                        : rng() % b.size();
        if (at >= b.size()) continue;
        const int bit = int(rng() % 8);
        b[at] = char(uint8_t(b[at]) ^ (1u << bit));
        what += " " + std::to_string(at) + "." + std::to_string(bit);
      }
      return what;
    }
    default: {  // a length, count, page or link overwritten
      const std::vector<size_t> words = LengthWords(name, b);
      if (words.empty()) return name + " (nothing to overwrite)";
      const size_t at = words[rng() % words.size()];
      const uint32_t old = Get32(b, at);
      const uint32_t hostile[] = {0xFFFFFFFFu,        0xFFFFFFF0u, 0x80000000u, 0x7FFFFFFFu,
                                  uint32_t(b.size()), old + 1,     old - 1,     old * 2,
                                  uint32_t(rng())};
      const uint32_t v = hostile[rng() % std::size(hostile)];
      Put32(&b, at, v);
      return name + " word " + std::to_string(at) + " " + std::to_string(old) + " -> " +
             std::to_string(v);
    }
  }
}

int CaseCount() {
  const char* env = std::getenv("LUN_CORRUPTION_CASES");
  return env ? std::max(1, std::atoi(env)) : 100;
}
uint64_t Seed() {
  const char* env = std::getenv("LUN_CORRUPTION_SEED");
  return env ? std::strtoull(env, nullptr, 10) : 20261210;
}

TEST(IndexCorruptionTest, DamagedGenerationsAreFoundAndRebuiltWithinBounds) {
  ScratchDir home;
  ASSERT_TRUE(SetApplicationHome(home.path()));
  std::vector<std::vector<uint32_t>> expected;
  std::string index_folder;
  {
    Database db(home.path(), true);
    for (uint32_t i = 0; i < kRecords; ++i) ASSERT_NO_FATAL_FAILURE(db.Append(i));
    ASSERT_TRUE(db.table().FlushIndexes().ok());
    expected = db.FindAll();
    index_folder = db.table().index_folder();
  }
  // The clean index finds what it should (the exact paths every 97th record).
  ASSERT_EQ(expected[WordTerms().size()].size(), (kRecords + 96) / 97);
  ASSERT_FALSE(expected[0].empty());
  std::vector<StoredFile> pristine;
  for (const char* name :
       {"D0.Ha0", "D0.Ix0", "D0.RL0", "D0.Ta0", "D0.Tx0", "D0.TL0", "D1.Ha0", "D1.Ix0"}) {
    StoredFile f{JoinPath(index_folder, name), {}};
    ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), f.path, &f.bytes), 0) << name;
    pristine.push_back(std::move(f));
  }

  const int cases = CaseCount();
  const uint64_t seed = Seed();
  int found_at_open = 0, found_by_search = 0, found_by_check = 0, unnoticed = 0;
  Watchdog watchdog;
  const char* first_case = std::getenv("LUN_CORRUPTION_FIRST");
  for (int n = first_case ? std::atoi(first_case) : 0; n < cases; ++n) {
    watchdog.Started(n);
    std::mt19937_64 rng(seed * 1000003u + uint64_t(n));
    std::vector<StoredFile> files = pristine;
    const std::string what = Damage(rng, files);
    SCOPED_TRACE("case " + std::to_string(n) + ": " + what);
    // Every case starts from the clean files with exactly one file damaged;
    // the case before may have left other index files and the marker (the
    // folder also holds the table's record files).
    for (const std::string& file : ListFiles(index_folder)) {
      if (file[0] == 'D' || file == kIndexWriteMarkerName) {
        (void)DefaultFileSystem().Unlink(JoinPath(index_folder, file));
      }
    }
    for (const StoredFile& f : files) ASSERT_NO_FATAL_FAILURE(WriteFile(f.path, f.bytes));
    g_cap_armed = true;

    // `lundb check` on the damaged files: it must end, and report or not.
    std::vector<std::string> check_problems;
    {
      Database db(home.path(), false);
      CheckTableIndexes(db.table(), &check_problems, &check_problems);
    }
    // The application's open, then every search.
    bool found = false;
    std::vector<std::vector<uint32_t>> first;
    {
      Database db(home.path(), true);
      const bool at_open = db.DamageFound();
      first = db.FindAll();
      found = db.DamageFound();
      if (at_open) {
        ++found_at_open;
      } else if (found) {
        ++found_by_search;
      }
    }
    // After the damage path (the reopen rebuilds what was found damaged),
    // the searches give the clean counts and the files check clean.
    {
      Database db(home.path(), true);
      const std::vector<std::vector<uint32_t>> again = db.FindAll();
      ASSERT_TRUE(db.table().FlushIndexes().ok());
      std::vector<std::string> problems;
      CheckTableIndexes(db.table(), &problems);
      if (found) {
        // Found damage is never trusted, so even the searches of the
        // damaged session give the clean counts (a damaged generation is
        // read from its records).
        EXPECT_EQ(first, expected);
        EXPECT_EQ(again, expected);
        EXPECT_TRUE(problems.empty()) << problems.front();
      } else if (!check_problems.empty()) {
        // Damage only a comparison with the records shows (the formats
        // carry no checksums: say, two bit flips that keep a boundary list
        // decodable): `lundb check` reports it.
        ++found_by_check;
      } else {
        ++unnoticed;
        // Damage no check could see (bytes the format does not constrain):
        // the searches must still be the clean ones.
        EXPECT_EQ(first, expected);
        EXPECT_EQ(again, expected);
      }
    }
    g_cap_armed = false;
    if (HasFailure()) break;
  }
  watchdog.Started(-1);
  std::printf(
      "%d cases (seed %llu): damage found at open %d, by a search %d, only by the check %d, "
      "harmless %d\n",
      cases, static_cast<unsigned long long>(seed), found_at_open, found_by_search, found_by_check,
      unnoticed);
}

}  // namespace
}  // namespace lun
