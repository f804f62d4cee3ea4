// What saved searches add to indexing: the document writer's work on
// changed documents (the change monitor's and the reconciliation's path:
// look for the older record, delete it, append the new one) with no saved
// search, and with SEARCHES saved searches watching (the writer's append
// hook, the checker thread and its queries, and a last check at the end so
// that every written document has been checked).
//
// The documents are the first DOCS text files of the corpus, read into
// memory first, so text extraction (the larger part of real indexing) is
// left out: the ratio is the worst case for the saved searches.
//
//   saved_search_bench CORPUS [DOCS=3000] [SEARCHES=10] [ROUNDS=3]
//
// The ratio compares CPU time (all threads); wall times are printed too.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "crawler/crawler_test_util.h"
#include "crawler/saved_searches.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace lun {
namespace {

// Words of the corpus' query list: Chinese and English, common and rare.
constexpr const char* kWords[] = {"使用",        "命令",     "内核",          "并发",
                                  "死锁",        "江湖",     "kernel",        "package",
                                  "memory leak", "配置文件", "nothingmatches"};

std::vector<DocumentRecord> ReadCorpus(const std::string& dir, size_t count) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".txt") {
      paths.push_back(entry.path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  if (paths.size() > count) paths.resize(count);
  std::vector<DocumentRecord> docs;
  for (const std::string& path : paths) {
    std::string data;
    if (ReadWholeFile(DefaultFileSystem(), path, &data) != 0) continue;
    DocumentRecord r;
    r.path = path;
    r.name = std::filesystem::path(path).filename().string();
    r.type = "txt";
    r.size = static_cast<uint32_t>(data.size());
    r.text = ToWide(data);
    r.modified = 1;
    docs.push_back(std::move(r));
  }
  return docs;
}

// CPU seconds of the process so far (every thread): on a loaded machine
// less noisy than the wall clock.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds to write every document once more as changed, with
// `searches` saved searches watching (none: 0); the wall time is printed.
double RunOnce(std::vector<DocumentRecord>& docs, size_t searches) {
  DocumentStore store;
  if (!store.ok) {
    std::fprintf(stderr, "cannot create the scratch project\n");
    std::exit(1);
  }
  store.writer->set_fast_insert(true);  // the first scan: not timed
  for (DocumentRecord& d : docs) store.writer->AddOrUpdateDocument(d, false);
  store.writer->set_fast_insert(false);
  SavedSearches saved(store.scratch.home().File("SavedSearches"), *store.search, *store.project,
                      *store.writer);
  for (size_t i = 0; i < searches; ++i) {
    std::string error;
    const std::string word = kWords[i % std::size(kWords)];
    if (saved.Add(word, "[文档]:(文本内容=" + word + "+文件名称=" + word + ")", "", &error) == 0) {
      std::fprintf(stderr, "cannot save %s: %s\n", word.c_str(), error.c_str());
      std::exit(1);
    }
  }
  size_t hits = 0;
  if (searches > 0) {
    saved.Start([](const std::string&, const std::string&) {});
    store.writer->set_on_append([&saved] { saved.NoteAppended(); });
  }
  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = CpuSeconds();
  for (DocumentRecord& d : docs) {
    d.modified += 1;  // a changed file
    store.writer->AddOrUpdateDocument(d, true);
  }
  if (searches > 0) hits = saved.CheckNow();
  store.writer->set_on_append(nullptr);
  saved.Stop();  // joins the checker: its CPU time is counted
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = CpuSeconds() - cpu_start;
  if (searches > 0) {
    uint64_t unseen = saved.UnseenCount();
    std::printf("  %zu searches: %.3f s CPU, %.3f s wall (last check found %zu, unseen %llu)\n",
                searches, cpu, seconds, hits, static_cast<unsigned long long>(unseen));
  } else {
    std::printf("  no search: %.3f s CPU, %.3f s wall\n", cpu, seconds);
  }
  return cpu;
}

}  // namespace
}  // namespace lun

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: saved_search_bench CORPUS [DOCS] [SEARCHES] [ROUNDS]\n");
    return 2;
  }
  const size_t docs_wanted = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 3000;
  const size_t searches = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 10;
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 3;
  std::vector<lun::DocumentRecord> docs = lun::ReadCorpus(argv[1], docs_wanted);
  size_t units = 0;
  for (const auto& d : docs) units += d.text.size();
  std::printf("%zu documents, %zu UTF-16 units\n", docs.size(), units);
  std::vector<double> ratios;
  for (int r = 0; r < rounds; ++r) {
    // Alternate the order so that neither run always comes first.
    double off, on;
    if (r % 2 == 0) {
      off = lun::RunOnce(docs, 0);
      on = lun::RunOnce(docs, searches);
    } else {
      on = lun::RunOnce(docs, searches);
      off = lun::RunOnce(docs, 0);
    }
    ratios.push_back(on / off);
    std::printf("round %d: +%.1f %%\n", r + 1, (on / off - 1) * 100);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("added time: min %+.1f %%, median %+.1f %%, max %+.1f %%\n",
              (ratios.front() - 1) * 100, (ratios[ratios.size() / 2] - 1) * 100,
              (ratios.back() - 1) * 100);
  return 0;
}
