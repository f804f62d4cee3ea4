// Search benchmark: loads the benchmark corpus into our engine and into
// SQLite FTS5 (trigram and unicode61 tokenizers) in the same run, runs the
// same query set against all of them and prints, per query, the number of
// matching documents and the latency p50/p95 of counting the whole result,
// next to the count the query must give.
//
//   search_bench CORPUS_DIR MANIFEST QUERIES TRUTH [--work DIR] [--no-sqlite]
//                [--repeat N] [--limit DOCS] [--reuse]
//
// --reuse opens the databases an earlier run left in the work folder instead
// of loading the corpus again (no load figures then): for repeating the
// queries while changing the search code.
//
// CORPUS_DIR and MANIFEST come from shared/bench/build_corpus.sh; QUERIES
// and TRUTH are shared/bench/queries.txt and truth.tsv. Our count must equal
// the truth's engine_docs column (normalised text, separators match any
// character); FTS5 trigram is compared with docs (plain substrings). A "!"
// after a count marks one that differs from the count it must give.
#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/query_escape.h"
#include "engine/query/search_service.h"
#include "engine/storage/data_table.h"
#include "engine/storage/search_project.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Query {
  std::string id, cls, text;
  long docs = -1, engine_docs = -1;
};

struct Stats {
  double p50 = 0, p95 = 0;
};

std::vector<std::vector<std::string>> ReadTsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, '\t');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

std::string ReadFile(const std::string& path) {
  std::string data;
  (void)lun::ReadWholeFile(lun::DefaultFileSystem(), path, &data);
  return data;
}

Stats Percentiles(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  Stats s;
  s.p50 = ms[ms.size() / 2];
  s.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
  return s;
}

double PeakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

uint64_t DirectoryBytes(const std::string& dir) {
  uint64_t total = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) total += e.file_size();
  }
  return total;
}

// ---- our engine

class Engine {
 public:
  Engine(const std::string& work, bool reuse) : work_(work) {
    if (!reuse) std::filesystem::remove_all(work);
    lun::MakeDirectories(work, 0700);
    lun::SetApplicationHome(work);
    (void)settings_.Load(lun::JoinPath(work, "Setting"));
    lun::SearchProjectOptions options;
    options.settings = &settings_;
    options.index_factory = lun::MakeFieldIndexFactory();
    project_ = std::make_unique<lun::SearchProject>(std::move(options));
  }

  bool Create() {
    if (!project_->CreateProject(lun::JoinPath(work_, "Data/local.db")).ok()) return false;
    (void)settings_.Save();
    if (!project_->CreateTable("", "", "文档", "").ok()) return false;
    table_ = project_->FindTable("文档");
    return table_->AddField("文件名称", "", lun::kFieldText, lun::kWordIndex).ok() &&
           table_->AddField("文本内容", "", lun::kFieldText, lun::kWordIndex).ok();
  }

  bool Add(const std::string& name, const std::string& text) {
    lun::RecordWriter writer = table_->NewRecord();
    if (!writer.valid()) return false;
    writer.SetValue("文件名称", lun::Variant::Bstr(lun::ToWide(name)));
    writer.SetValue("文本内容", lun::Variant::Bstr(lun::ToWide(text)));
    return writer.Commit().ok();
  }

  bool Finish() { return table_->FlushIndexes().ok(); }

  // Opens the project an earlier run created (its path is in the settings).
  bool Reopen() {
    if (!project_->ReopenProject(lun::JoinPath(work_, "Setting")).ok()) return false;
    table_ = project_->FindTable("文档");
    return table_ != nullptr && table_->is_open();
  }

  void StartSearching() {
    service_ = std::make_unique<lun::SearchService>(*project_, lun::MakeIndexTermSource);
  }

  long Count(const std::string& query) {
    std::unique_ptr<lun::Recordset> rs;
    const int code = service_->Search(
        "[文档]:文本内容=" + lun::EscapeQueryText(query), &rs);
    return code == 0 && rs ? static_cast<long>(rs->count()) : -1 - code;
  }

  double FirstPageByRelevanceMs(const std::string& query) {
    const auto start = Clock::now();
    std::unique_ptr<lun::Recordset> rs;
    if (service_->Search("[文档]:文本内容=" + lun::EscapeQueryText(query) +
                             " order by 相关度 desc",
                         &rs) != 0) {
      return -1;
    }
    for (uint32_t i = 0; i < 10 && !rs->IsEOF(); ++i) rs->MoveNext();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

  uint64_t StoredBytes() const { return DirectoryBytes(lun::JoinPath(work_, "Data")); }

 private:
  std::string work_;
  lun::SettingsStore settings_;
  std::unique_ptr<lun::SearchProject> project_;
  lun::DataTable* table_ = nullptr;
  std::unique_ptr<lun::SearchService> service_;
};

// ---- SQLite FTS5

class Fts5 {
 public:
  Fts5(const std::string& path, const char* tokenizer, bool reuse) : tokenizer_(tokenizer) {
    if (!reuse) std::filesystem::remove(path);
    sqlite3_open(path.c_str(), &db_);
    Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
    if (reuse) return;
    Exec(std::string("CREATE VIRTUAL TABLE docs USING fts5(name, body, tokenize='") + tokenizer +
         "');");
    Exec("BEGIN;");
    sqlite3_prepare_v2(db_, "INSERT INTO docs(name, body) VALUES(?, ?)", -1, &insert_, nullptr);
  }
  ~Fts5() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
  }
  void Add(const std::string& name, const std::string& text) {
    sqlite3_bind_text(insert_, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert_, 2, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    sqlite3_step(insert_);
    sqlite3_reset(insert_);
  }
  void Finish() {
    if (insert_) Exec("COMMIT;");
  }

  long Count(const std::string& query) {
    // The trigram tokenizer cannot match fewer than 3 characters through its
    // index, so an application scans then. Not with LIKE: SQLite 3.40 answers
    // a LIKE pattern of fewer than 3 characters on a trigram table with no
    // rows at all. instr() over the lower-cased text is the same
    // case-insensitive substring test (ASCII folding, as LIKE's) as a scan.
    const bool scan = std::string(tokenizer_) == "trigram" && lun::ToWide(query).size() < 3;
    const char* sql = scan ? "SELECT count(*) FROM docs WHERE instr(lower(body), lower(?)) > 0"
                           : "SELECT count(*) FROM docs WHERE body MATCH ?";
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, sql, -1, &st, nullptr);
    const std::string arg = scan ? query : "\"" + query + "\"";
    sqlite3_bind_text(st, 1, arg.data(), static_cast<int>(arg.size()), SQLITE_TRANSIENT);
    long n = -1;
    if (sqlite3_step(st) == SQLITE_ROW) n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return n;
  }

 private:
  void Exec(const std::string& sql) { sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }
  const char* tokenizer_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

template <typename Counter>
std::pair<long, Stats> Measure(Counter&& count, int repeat) {
  long n = count();
  std::vector<double> ms;
  for (int i = 0; i < repeat; ++i) {
    const auto start = Clock::now();
    n = count();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return {n, Percentiles(ms)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: %s CORPUS_DIR MANIFEST QUERIES TRUTH [--work DIR] [--no-sqlite] "
                 "[--repeat N] [--limit DOCS]\n",
                 argv[0]);
    return 2;
  }
  const std::string corpus = argv[1];
  std::string work = "/tmp/search_bench";
  bool sqlite = true;
  int repeat = 7;
  size_t limit = SIZE_MAX;
  bool reuse = false;
  for (int i = 5; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--work" && i + 1 < argc) work = argv[++i];
    if (a == "--no-sqlite") sqlite = false;
    if (a == "--repeat" && i + 1 < argc) repeat = std::max(1, std::atoi(argv[++i]));
    if (a == "--limit" && i + 1 < argc) limit = std::strtoul(argv[++i], nullptr, 10);
    if (a == "--reuse") reuse = true;
  }

  std::vector<std::string> paths;
  for (const auto& row : ReadTsv(argv[2])) {
    if (row.size() >= 5 && row[0] != "lang") paths.push_back(row[4]);
  }
  if (paths.size() > limit) paths.resize(limit);
  std::vector<Query> queries;
  for (const auto& row : ReadTsv(argv[3])) {
    if (row.size() >= 3) queries.push_back({row[0], row[1], row[2]});
  }
  std::map<std::string, std::pair<long, long>> truth;
  for (const auto& row : ReadTsv(argv[4])) {
    if (row.size() >= 5 && row[0] != "id") truth[row[0]] = {std::atol(row[3].c_str()), std::atol(row[4].c_str())};
  }
  for (Query& q : queries) {
    if (truth.count(q.id)) std::tie(q.docs, q.engine_docs) = truth[q.id];
  }

  // Read the corpus once, so that the loads measure the engines only.
  std::vector<std::pair<std::string, std::string>> docs;
  uint64_t corpus_bytes = 0;
  for (const std::string& p : reuse ? std::vector<std::string>{} : paths) {
    docs.emplace_back(p, ReadFile(lun::JoinPath(corpus, p)));
    corpus_bytes += docs.back().second.size();
  }
  const double corpus_mb = corpus_bytes / 1048576.0;
  if (!reuse) std::printf("corpus: %zu documents, %.1f MB\n", docs.size(), corpus_mb);

  Engine engine(lun::JoinPath(work, "lun"), reuse);
  if (reuse) {
    if (!engine.Reopen()) {
      std::fprintf(stderr, "no project of an earlier run in %s\n", work.c_str());
      return 1;
    }
  } else {
    if (!engine.Create()) {
      std::fprintf(stderr, "cannot create the engine's project\n");
      return 1;
    }
    const auto start = Clock::now();
    for (const auto& [name, text] : docs) {
      if (!engine.Add(name, text)) {
        std::fprintf(stderr, "append failed: %s\n", name.c_str());
        return 1;
      }
    }
    if (!engine.Finish()) std::fprintf(stderr, "final index flush failed\n");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("lun load: %.1f s, %.1f MB/s, %.0f docs/s, stored %.2fx corpus, peak RSS %.0f MB\n",
                seconds, corpus_mb / seconds, docs.size() / seconds,
                engine.StoredBytes() / static_cast<double>(corpus_bytes), PeakRssMb());
  }
  engine.StartSearching();

  std::unique_ptr<Fts5> trigram, unicode;
  if (sqlite) {
    for (const char* tok : {"trigram", "unicode61"}) {
      const std::string db = lun::JoinPath(work, std::string("fts5-") + tok + ".db");
      const auto start = Clock::now();
      auto fts = std::make_unique<Fts5>(db, tok, reuse);
      if (!reuse) {
        for (const auto& [name, text] : docs) fts->Add(name, text);
      }
      fts->Finish();
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      if (!reuse) {
        std::printf("fts5 %s load: %.1f s, %.1f MB/s, stored %.2fx corpus\n", tok, seconds,
                    corpus_mb / seconds,
                    std::filesystem::file_size(db) / static_cast<double>(corpus_bytes));
      }
      (std::string(tok) == "trigram" ? trigram : unicode) = std::move(fts);
    }
  }
  docs.clear();

  std::printf("\n%-4s %-5s %-22s %8s %8s %8s %8s | %8s %8s %8s | %8s %8s\n", "id", "class",
              "query", "truth", "lun", "p50 ms", "p95 ms", "trigram", "p50 ms", "ratio",
              "unicode", "p50 ms");
  std::map<std::string, std::vector<double>> class_p50;
  std::vector<double> all_p95;
  int exact = 0;
  for (const Query& q : queries) {
    const auto [ours, ours_t] = Measure([&] { return engine.Count(q.text); }, repeat);
    exact += ours == q.engine_docs;
    class_p50[q.cls].push_back(ours_t.p50);
    all_p95.push_back(ours_t.p95);
    std::printf("%-4s %-5s %-22s %8ld %8ld%s %8.3f %8.3f", q.id.c_str(), q.cls.c_str(),
                q.text.c_str(), q.engine_docs, ours, ours == q.engine_docs ? " " : "!", ours_t.p50,
                ours_t.p95);
    if (sqlite) {
      const auto [tri, tri_t] = Measure([&] { return trigram->Count(q.text); }, repeat);
      const auto [uni, uni_t] = Measure([&] { return unicode->Count(q.text); }, repeat);
      std::printf(" | %8ld%s %8.3f %8.2f | %8ld %8.3f", tri, tri == q.docs ? " " : "!", tri_t.p50,
                  ours_t.p50 / tri_t.p50, uni, uni_t.p50);
    }
    std::printf("\n");
  }
  std::printf("\nexact counts: %d/%zu\n", exact, queries.size());
  for (auto& [cls, v] : class_p50) {
    std::printf("class %-5s p50 of p50: %.3f ms\n", cls.c_str(), Percentiles(v).p50);
  }
  std::printf("p95 over all queries: %.3f ms\n", Percentiles(all_p95).p95);
  std::printf("first page of '的' by relevance: %.2f ms\n", engine.FirstPageByRelevanceMs("的"));
  std::printf("peak RSS: %.0f MB\n", PeakRssMb());
  return exact == static_cast<int>(queries.size()) ? 0 : 1;
}
