// lundb crawl: the application's crawl of one folder, from a terminal.
//
// The project gets the tables the application uses ("文档", "日志",
// "待扫描文件"); ROOT becomes the only permitted root; the real crawl service
// (luncrawl beside lundb) is started through the application's client; and
// the Crawler's own scan and index threads walk ROOT into the queue and
// index it. Progress is printed once a second, then the figures and where
// the time went; the wall time includes the start of the service.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/crawl_service_client.h"
#include "app/crawl_service_text.h"
#include "config/settings_store.h"
#include "crawler/crawler.h"
#include "crawler/document_table.h"
#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/text_filters.h"
#include "crawler/scan_scope.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "engine/storage/data_table.h"
#include "engine/storage/storage_files.h"
#include "platform/paths.h"
#include "tools/lundb/lundb_cli.h"
#include "tools/lundb/lundb_project.h"

namespace lun {
namespace {

using Clock = std::chrono::steady_clock;

// What a crawl takes from a settings file given with --settings: the type
// lists and the forbidden paths. The file itself is never written (the
// crawl's own root and progress stay in memory).
constexpr const char* kCopiedKeys[] = {key::kDocumentTypes, key::kOtherTextTypes, key::kPlugTypes,
                                       key::kMsnPlugTypes, key::kForbiddenPaths};

bool IsUnder(const std::string& path, const std::string& dir) {
  return path.compare(0, dir.size(), dir) == 0 &&
         (path.size() == dir.size() || path[dir.size()] == '/' || dir.back() == '/');
}

double Seconds(int64_t ns) { return static_cast<double>(ns) / 1e9; }

void PrintStage(const char* name, int64_t ns, double wall) {
  std::printf("  %-22s %8.2f s %6.1f%%\n", name, Seconds(ns),
              wall > 0 ? 100.0 * Seconds(ns) / wall : 0.0);
}

uint32_t LiveCount(SearchProject& project, const char* table) {
  const DataTable* t = project.FindTable(table);
  return t ? t->live_count() : 0;
}

}  // namespace

int CmdCrawl(const std::vector<std::string>& args, const std::string& settings_file) {
  if (args.size() != 2 && args.size() != 4) return Usage("crawl takes DB ROOT [--port N]");
  uint64_t port = kCrawlServicePort;
  if (args.size() == 4 &&
      (args[2] != "--port" || !ParseUnsigned(args[3], &port) || port == 0 || port > 65535)) {
    return Usage("--port takes a port number");
  }
  const std::string db = AbsolutePath(args[0]);
  const std::string root = AbsolutePath(args[1]);
  if (!IsDirectory(root)) return Fail("not a folder: " + root);
  // The crawl would index the database files while it writes them.
  if (IsUnder(db, root)) return Usage("the database must lie outside ROOT");

  Session s;
  if (!settings_file.empty()) {
    SettingsStore file;
    if (!file.Load(settings_file)) return Fail("cannot read " + settings_file);
    for (const char* k : kCopiedKeys)
      s.settings.SetValue(kSearchSection, k, file.GetValue(kSearchSection, k));
  }
  // Without chosen types, every type the crawl service reads.
  if (s.settings.GetValue(kSearchSection, key::kDocumentTypes).empty()) {
    s.settings.SetValue(kSearchSection, key::kDocumentTypes, kServiceExtractableTypes);
  }
  s.settings.SetValue(kSearchSection, key::kPermittedPaths, "|" + root + "|");
  s.settings.SetValue(kSearchSection, key::kFullScanDone, kFalse);
  s.project = MakeLundbProject(&s.settings, db);
  if (EngineStatus st = PathExists(db) ? s.project->OpenProject() : s.project->CreateProject(db);
      !st) {
    return Fail(st.message());
  }
  DataTable* documents = EnsureDocumentTable(*s.project);
  if (!documents || !EnsureLogTable(*s.project) || !EnsureQueueTable(*s.project)) {
    return Fail("cannot create the tables of " + db);
  }

  ScanScope scope;
  scope.Load(s.settings, root, {});
  SearchService search(*s.project, MakeIndexTermSource);
  DocumentWriter writer(*s.project, search);
  // As at the application's start: an empty table is filled without the
  // per-file duplicate check.
  const bool empty = documents->live_count() == 0;
  writer.set_fast_insert(empty);

  const Clock::time_point start = Clock::now();
  auto elapsed = [&start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  CrawlServiceClientOptions client_options;
  client_options.port = static_cast<uint16_t>(port);
  // lundb starts a service of its own: one quick look for one already
  // running, then start it (the application's 2.5 s of looking first would
  // be part of every figure).
  client_options.connect_tries = 1;
  client_options.connect_retry_ms = 0;
  client_options.extra_arguments = {"--port", std::to_string(port)};
  client_options.notifier = [](std::string_view caption, std::string_view text, int) {
    std::fprintf(stderr, "lundb: %.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
  };
  CrawlServiceClient client(client_options);
  if (!client.Launch()) return 1;  // the notifier has said why
  if (client.service_pid() < 0) {
    // Its figures and its failures are not this crawl's alone.
    std::printf("using the crawl service already running on port %llu\n",
                static_cast<unsigned long long>(port));
  }

  CrawlerEnvironment env;
  env.project = s.project.get();
  env.search = &search;
  env.settings = &s.settings;
  env.scope = &scope;
  env.writer = &writer;
  // Requests that brought no text for a reason other than the file's.
  std::atomic<uint64_t> failed{0}, unavailable{0};
  env.extract_text = CrawlServiceTextSource(client, [&](CrawlOutcome outcome) {
    if (outcome == CrawlOutcome::kServiceFailed) ++failed;
    if (outcome == CrawlOutcome::kServiceUnavailable) ++unavailable;
  });
  env.service_extracts = [&scope](const std::string& token) {
    return scope.ServiceExtracts(token);
  };
  env.archive_reader = JoinPath(ProgramDirectory(), "luncrawl");
  env.notify = [](const std::string& title, const std::string& text) {
    std::fprintf(stderr, "lundb: %s: %s\n", title.c_str(), text.c_str());
  };
  env.data_path = DirName(db);

  Crawler crawler(env);
  crawler.set_first_pass(empty);
  crawler.StartScan();
  crawler.StartIndexing();
  double next_report = 1.0;
  // Done when the walk has ended and the queue is empty; StopIndexing then
  // lets the entries in hand finish. While no service can be reached the
  // crawler keeps its entries queued and waits; a tool run ends instead
  // (the client has said why).
  while ((crawler.scanning() || LiveCount(*s.project, kQueueTable) > 0) && unavailable == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (elapsed() >= next_report) {
      std::printf("%6.1f s: %llu files indexed, %u waiting\n", elapsed(),
                  static_cast<unsigned long long>(crawler.stats().files),
                  LiveCount(*s.project, kQueueTable));
      std::fflush(stdout);
      next_report += 1.0;
    }
  }
  crawler.StopIndexing();
  crawler.StopScan();
  const double wall = elapsed();
  client.SendExit();

  const CrawlStats stats = crawler.stats();
  std::printf(
      "crawled %s: %llu files, %u records, %.1f MB of text (%llu UTF-16 units) in %.2f s: "
      "%.0f files/s\n",
      root.c_str(), static_cast<unsigned long long>(stats.files), documents->live_count(),
      static_cast<double>(stats.text_units) * 2 / 1e6,
      static_cast<unsigned long long>(stats.text_units), wall,
      wall > 0 ? static_cast<double>(stats.files) / wall : 0.0);
  std::printf("time by stage (summed per thread; the scan, index and writer threads overlap):\n");
  PrintStage("walk", stats.walk_ns, wall);
  PrintStage("queue", stats.queue_ns, wall);
  PrintStage("service round trips", stats.extract_ns, wall);
  PrintStage("record writing", stats.write_ns, wall);
  PrintStage("index flush", stats.flush_ns, wall);
  if (failed) {
    std::printf("crawl service: %llu failed exchanges\n",
                static_cast<unsigned long long>(failed.load()));
  }
  if (unavailable) {
    return Fail("the crawl service could not be reached; the files not indexed stay queued in " +
                db);
  }
  return 0;
}

}  // namespace lun
