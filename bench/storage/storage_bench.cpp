// Record storage throughput: appends and whole-record reads of records that
// hold about 2 KB of Chinese text (1000 UTF-16 code units) and one integer.
//
//   /compressed  prose-like text from a small vocabulary: stored as a gzip
//                member (method 1), so appends pay for deflate and reads for
//                inflate;
//   /plain       random characters over 20,000 code points: the gzip member
//                would be larger, so the text is stored as is (method 0).
//
// items_per_second is records/s; bytes_per_second is UTF-16 text bytes/s.
// Build with the release preset and run:
//   cmake --preset release && cmake --build build/release --target storage_bench
//   build/release/bench/storage/storage_bench --benchmark_min_time=2
// The project lives in $TMPDIR; each append benchmark starts a fresh one.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "engine/storage/data_table.h"
#include "engine/storage/search_project.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "tools/lundb/stress_workload.h"

namespace lun {
namespace {

constexpr uint32_t kChars = 1000;

std::vector<std::u16string> Texts(bool compressible, size_t count) {
  std::vector<std::u16string> out;
  std::mt19937 rng(42);
  for (size_t i = 0; i < count; ++i) {
    if (compressible) {
      out.push_back(StressText(7, static_cast<uint32_t>(i), kChars));
    } else {
      std::u16string t(kChars, u' ');
      for (char16_t& c : t) c = static_cast<char16_t>(0x4E00 + rng() % 20000);
      out.push_back(std::move(t));
    }
  }
  return out;
}

struct BenchProject {
  ScratchDir dir;
  SettingsStore settings;
  std::unique_ptr<SearchProject> project;
  DataTable* table = nullptr;

  BenchProject() {
    SetApplicationHome(dir.path());
    SearchProjectOptions o;
    o.settings = &settings;
    project = std::make_unique<SearchProject>(o);
    (void)project->CreateProject(dir.File("local.db"));
    (void)project->CreateTable("", "", "文档", "");
    table = project->FindTable("文档");
    (void)table->AddField("文本内容", "", kFieldText, kNoIndex);
    (void)table->AddField("文件大小", "", kFieldInteger, kNoIndex);
  }
  bool Append(const std::u16string& text, int32_t n) {
    RecordWriter writer = table->NewRecord();
    if (!writer.valid()) return false;
    writer.SetValueAt(0, Variant::Bstr(text));
    writer.SetValueAt(1, Variant::I4(n));
    return writer.Commit().ok();
  }
};

void BM_Append(benchmark::State& state) {
  const auto texts = Texts(state.range(0) != 0, 256);
  BenchProject p;
  size_t i = 0;
  for (auto _ : state) {
    if (!p.Append(texts[i % texts.size()], static_cast<int32_t>(i))) {
      state.SkipWithError("append failed");
      break;
    }
    ++i;
  }
  state.SetItemsProcessed(static_cast<int64_t>(i));
  state.SetBytesProcessed(static_cast<int64_t>(i) * kChars * 2);
  state.counters["data_file_bytes_per_record"] =
      static_cast<double>(p.table->Segments().empty() ? 0 : p.table->Segments()[0].data_bytes) /
      static_cast<double>(std::max<size_t>(i, 1));
}
BENCHMARK(BM_Append)->Arg(1)->ArgName("compressed")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Append)->Arg(0)->ArgName("plain")->Unit(benchmark::kMicrosecond);

void BM_ReadRecord(benchmark::State& state) {
  constexpr uint32_t kRecords = 20000;
  const auto texts = Texts(state.range(0) != 0, 256);
  BenchProject p;
  for (uint32_t i = 0; i < kRecords; ++i) {
    if (!p.Append(texts[i % texts.size()], static_cast<int32_t>(i))) {
      state.SkipWithError("setup failed");
      return;
    }
  }
  std::vector<Variant> values;
  uint32_t r = 0;
  uint64_t n = 0;
  for (auto _ : state) {
    // A stride through the table, so reads do not stay on one page.
    r = (r + 7919) % kRecords;
    if (!p.table->ReadRecord(r, &values)) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(values.data());
    ++n;
  }
  state.SetItemsProcessed(static_cast<int64_t>(n));
  state.SetBytesProcessed(static_cast<int64_t>(n) * kChars * 2);
}
BENCHMARK(BM_ReadRecord)->Arg(1)->ArgName("compressed")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadRecord)->Arg(0)->ArgName("plain")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lun

BENCHMARK_MAIN();
