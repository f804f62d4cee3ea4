// Index benchmark: builds a table with a word-indexed text field and an
// exact-indexed path field from a corpus of UTF-8 text files through the
// storage's RecordWriter::Commit (every flush included), then times the term
// look-up (alignment and mapping to records) of each query.
//
//   index_bench CORPUS_DIR MANIFEST QUERIES TRUTH WORK_DIR [REPEATS]
//
// CORPUS_DIR and MANIFEST come from bench/corpus/build_corpus.sh
// (/tmp/corpus, /tmp/corpus.manifest.tsv); QUERIES and TRUTH are
// bench/corpus/queries.txt and truth.tsv. WORK_DIR is emptied and holds the
// database. Prints build figures, then p50/p95 per query class and whether
// each hit count equals truth.tsv's engine_docs. Run the release build.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "automation/variant.h"
#include "config/settings_store.h"
#include "engine/index/field_generations.h"
#include "engine/index/field_lookup.h"
#include "engine/index/indexing_pace.h"
#include "engine/storage/search_project.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::vector<std::string>> ReadTsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

// CPU time of this thread, which other load on the machine does not inflate.
double ThreadCpuMs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

struct Db {
  explicit Db(const std::string& home) {
    lun::SetApplicationHome(home);
    (void)settings.Load(lun::JoinPath(home, "Setting"));
    lun::SearchProjectOptions o;
    o.settings = &settings;
    o.index_factory = lun::MakeFieldIndexFactory();
    project = std::make_unique<lun::SearchProject>(std::move(o));
    const std::string path = lun::JoinPath(home, "Data/local.db");
    settings.SetValue("检索设置", "数据源", path);
    if (!project->OpenProject().ok()) {
      (void)project->CreateProject(path);
      (void)project->CreateTable("", "", "文档", "");
      lun::DataTable* t = project->FindTable("文档");
      (void)t->AddField("完整路径", "", 1, lun::kExactIndex);
      (void)t->AddField("文本内容", "", 1, lun::kWordIndex);
    }
    table = project->FindTable("文档");
  }
  lun::SettingsStore settings;
  std::unique_ptr<lun::SearchProject> project;
  lun::DataTable* table = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: index_bench CORPUS_DIR MANIFEST QUERIES TRUTH WORK_DIR [REPEATS]\n");
    return 2;
  }
  const std::string corpus = argv[1], work = argv[5];
  const int repeats = argc > 6 ? std::atoi(argv[6]) : 5;
  lun::SetIndexingSpeedMode(1);
  // LUN_BENCH_REUSE=1 keeps an existing database and measures look-ups only.
  const bool reuse = std::getenv("LUN_BENCH_REUSE") && std::filesystem::exists(work);
  if (!reuse) {
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work);
  }

  auto manifest = ReadTsv(argv[2]);
  if (!manifest.empty() && manifest[0][0] == "lang") manifest.erase(manifest.begin());
  uint64_t utf8_bytes = 0, utf16_units = 0, docs = 0;
  double seconds = 0;
  if (!reuse) {
    Db db(work);
    const auto start = Clock::now();
    std::string text;
    for (const auto& row : manifest) {
      if (row.size() < 5) continue;
      std::ifstream in(lun::JoinPath(corpus, row[4]), std::ios::binary);
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      std::u16string wide = lun::ToWide(text);
      utf8_bytes += text.size();
      utf16_units += wide.size();
      lun::RecordWriter writer = db.table->NewRecord();
      if (!writer.valid()) return 1;
      writer.SetValue("完整路径", lun::Variant::Bstr(lun::ToWide(row[4])));
      writer.SetValue("文本内容", lun::Variant::Bstr(std::move(wide)));
      if (!writer.Commit().ok()) return 1;
      ++docs;
    }
    db.project->CloseProject();  // the final flush counts
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  if (!reuse) {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  const std::string data = lun::JoinPath(work, "Data");
  uint64_t index_bytes = 0, record_bytes = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(data)) {
    if (!e.is_regular_file()) continue;
    const std::string name = e.path().filename().string();
    const bool index_file = name[0] == 'D' && (name.find(".Ha") != std::string::npos ||
                                               name.find(".Ix") != std::string::npos ||
                                               name.find(".RL") != std::string::npos);
    (index_file ? index_bytes : record_bytes) += e.file_size();
  }
  std::printf("build: %llu docs, %.1f MB UTF-8 (%.1f MB UTF-16) in %.2f s\n",
              (unsigned long long)docs, utf8_bytes / 1e6, utf16_units * 2 / 1e6, seconds);
  std::printf("build: %.0f docs/s, %.2f MB/s UTF-8 input, %.2f MB/s UTF-16\n", docs / seconds,
              utf8_bytes / 1e6 / seconds, utf16_units * 2 / 1e6 / seconds);
  std::printf("stored: index %.1f MB + records %.1f MB = %.2fx the corpus\n", index_bytes / 1e6,
              record_bytes / 1e6, double(index_bytes + record_bytes) / double(utf8_bytes));
  std::printf("peak RSS during build: %.0f MB; process CPU %.2f s user + %.2f s system\n",
              usage.ru_maxrss / 1024.0, usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
              usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6);
  }

  // Look-ups on the reopened table.
  Db db(work);
  lun::TableField* field = db.table->FindField("文本内容");
  lun::FieldLookupRequest request;
  request.field_type = field->type;
  request.index_kind = field->index_kind;
  request.index = dynamic_cast<const lun::FieldGenerations*>(field->index.get());
  request.stored.record_count = db.table->record_count();
  lun::DataTable* table = db.table;
  const int position = field->position;
  request.stored.read = [table, position](uint32_t r) { return table->GetFieldValue(r, position); };
  std::map<std::string, std::string> truth;
  for (const auto& row : ReadTsv(argv[4])) {
    if (row.size() >= 5 && row[0] != "id") truth[row[0]] = row[4];
  }
  std::map<std::string, std::vector<double>> times, cpu_times;
  int exact = 0, total = 0;
  for (const auto& row : ReadTsv(argv[3])) {
    if (row.size() < 3) continue;
    const std::u16string term = lun::ToWide(row[2]);
    request.term = term;
    size_t hits = 0;
    for (int i = 0; i < repeats; ++i) {
      lun::LookupResult result;
      const auto t0 = Clock::now();
      const double c0 = ThreadCpuMs();
      (void)lun::FieldLookup(request, &result);
      cpu_times[row[1]].push_back(ThreadCpuMs() - c0);
      times[row[1]].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      hits = result.records.size();
    }
    ++total;
    const bool ok = truth.count(row[0]) && std::to_string(hits) == truth[row[0]];
    exact += ok;
    std::printf("  %s %-6s %-24s %7zu hits%s\n", row[0].c_str(), row[1].c_str(), row[2].c_str(), hits,
                ok ? "" : ("  (truth " + truth[row[0]] + ")").c_str());
  }
  for (const auto& [cls, v] : times) {
    std::printf("lookup %-5s wall p50 %8.3f ms  p95 %8.3f ms   cpu p50 %8.3f ms  p95 %8.3f ms  (%zu runs)\n",
                cls.c_str(), Percentile(v, 0.5), Percentile(v, 0.95), Percentile(cpu_times[cls], 0.5),
                Percentile(cpu_times[cls], 0.95), v.size());
  }
  std::printf("exact hit counts: %d/%d\n", exact, total);
  return 0;
}
