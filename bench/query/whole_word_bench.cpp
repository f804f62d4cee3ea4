// What whole-word ranking adds to a search that shows its first page.
//
//   whole_word_bench DB QUERY... [--repeat N]
//
// DB is a project made by `lundb create/table/load` (a table "文档" with
// "文件名称" and "文本内容"). For each QUERY (user words, searched in names
// and contents as the result page does) it times, N times each:
//   plain:  the search, its rows ordered by relevance and the first 10 rows
//           read as a result page reads them, with the recordset's keywords
//           cleared while the rows are ordered (so no row is judged: the
//           order by weight alone);
//   ranked: the same with the keywords kept (whole-word ranking on).
// It prints the p50 of both, their ratio and the hit count. The search
// itself runs once per timing in both, so the ratio is the share that
// ranking adds to what a user waits for.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/recordset.h"
#include "engine/query/search_service.h"
#include "engine/storage/search_project.h"

namespace lun {
namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One search and its first page; returns milliseconds and the hit count.
// Keeps the rows' values alive past the optimiser.
volatile size_t g_sink = 0;

double TimeOnce(SearchService& search, const std::string& query, bool ranked, uint32_t* hits) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<Recordset> rs;
  if (search.Search(query, &rs) != 0 || !rs) return -1;
  std::vector<Recordset::Column> kept = rs->columns();
  if (!ranked) {
    for (Recordset::Column& c : rs->columns()) c.keywords.clear();
  }
  rs->SetSort(kRelevanceField, false);
  rs->SetPageSize(10);
  rs->MovePage(1);       // orders the first page
  rs->columns() = kept;  // the page marks the keywords either way
  size_t bytes = 0;
  for (uint32_t i = 0; i < rs->current_page_size() && !rs->IsEOF(); ++i, rs->MoveNext()) {
    for (int c = 0; c < static_cast<int>(rs->columns().size()); ++c) {
      const Variant v = rs->Value(c);
      if (v.type() == VT_BSTR) bytes += v.AsString().size();
    }
  }
  g_sink = g_sink + bytes;
  *hits = rs->count();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace
}  // namespace lun

int main(int argc, char** argv) {
  using namespace lun;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DB QUERY... [--repeat N]\n", argv[0]);
    return 2;
  }
  int repeat = 15;
  std::vector<std::string> queries;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      queries.push_back(a);
    }
  }
  SettingsStore settings;
  settings.SetValue("检索设置", "数据源", argv[1]);
  SearchProjectOptions options;
  options.settings = &settings;
  options.index_factory = MakeFieldIndexFactory();
  SearchProject project(std::move(options));
  if (!project.OpenProject()) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  SearchService search(project, MakeIndexTermSource);
  std::printf("%-16s %8s %10s %10s %7s\n", "query", "hits", "plain ms", "ranked ms", "ratio");
  for (const std::string& words : queries) {
    // No order clause: the search leaves its rows unordered, and each
    // variant orders them itself.
    const std::string query = "[文档]:文本内容=(" + words + ")+文件名称=(" + words + ")";
    std::vector<double> plain, ranked;
    uint32_t hits = 0;
    // Alternating, after one warm-up of each, so that load swings hit both.
    TimeOnce(search, query, false, &hits);
    TimeOnce(search, query, true, &hits);
    for (int r = 0; r < repeat; ++r) {
      plain.push_back(TimeOnce(search, query, false, &hits));
      ranked.push_back(TimeOnce(search, query, true, &hits));
    }
    const double p = Median(plain), k = Median(ranked);
    std::printf("%-16s %8u %10.3f %10.3f %6.2fx\n", words.c_str(), hits, p, k, p > 0 ? k / p : 0);
  }
  return 0;
}
