// The results page under load: a ".shl" page that searches the document
// table for a word and writes the first ten rows with their snippets, served
// by the application's own web server, page runner and FTS object over a
// project built from the bench corpus.
//
//   pages_bench DB [SECONDS [TERM...]]
//
// DB is a project made by `lundb crawl DB /tmp/corpus` (see RESULTS.md).
// The results page runs at 1 and then 8 connections, then at 1 connection
// the same page without snippets and the search alone. Each connection asks
// for the page again and again for SECONDS (default 10), the terms taken in
// turn (default: ten two-character Chinese words), one request per
// connection as browsers of HTTP/1.0 do. Printed for each run: requests per second,
// and p50/p95/max of the server-side time of a request (HandleRequest:
// parsing, the page run with its search, the answer's head; no socket I/O)
// and of the round trip the client saw.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/document_table.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "engine/storage/search_project.h"
#include "pages/fts_environment.h"
#include "pages/fts_factory.h"
#include "pages/page_encoding.h"
#include "pages/script_page_runner.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "web/loopback_client.h"
#include "web/web_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// The results page, in parts: the search of the web UI's results page (name
// or text, ranked) with the count, then ten rows with name, snippet, path,
// size and time. The rows without snippets and the search alone are
// measured too, to tell where the time goes.
constexpr char kSearchPart[] = R"(<%
q = QueryString("q")
t = FTS.TransformCommand(q)
Set rs = FTS.Execute("[文档]:(文本内容=(" & t & ")+文件名称=(" & t & ")) order by 相关度 desc")
%><html><head><meta charset="utf-8"><title><%= Server.HTMLEncode(q) %> 的搜索结果</title></head>
<body>
<p>找到 <b><%= rs.RecordCount %></b> 个结果，耗时 <b><%= FormatNumber(rs.ElapsedSecond, 3) %></b> 秒</p>
)";
constexpr char kRowsHead[] = R"(<ol>
<%
rs.PageSize = 10
rs.MovePage 1
For i = 1 To rs.CurPageSize
  If rs.Eof Then Exit For
%><li><a href="ShowFile.shl?RecordNO=<%= rs.PhysicsRecordNO %>&amp;SearchText=<%= Server.URLEncode(q) %>"><%= Server.HTMLEncode(rs("文件名称")) %></a>
)";
constexpr char kSnippet[] = R"(<div class="snippet"><%= rs("文本内容").HTMLValue %></div>
)";
constexpr char kRowsTail[] =
    R"(<div class="meta"><%= Server.HTMLEncode(rs("完整路径")) %> · <%= rs("文件大小") %> · <%= rs("修改时间") %></div></li>
<%
  rs.MoveNext
Next
rs.Close
%></ol>
)";
constexpr char kPageEnd[] = "</body></html>\n";

struct BenchPage {
  const char* name;
  std::string text;
};

std::vector<BenchPage> BenchPages() {
  const std::string search = kSearchPart;
  const std::string rows = std::string(kRowsHead) + kSnippet + kRowsTail;
  const std::string plain_rows = std::string(kRowsHead) + kRowsTail;
  return {{"results.shl", search + rows + kPageEnd},
          {"no_snippets.shl", search + plain_rows + kPageEnd},
          {"search_only.shl", search + kPageEnd}};
}

// The web server, timing each request it handles.
class TimedWebServer : public lun::WebServer {
 public:
  using WebServer::WebServer;
  // The client threads call HandleRequest until Shutdown returns.
  ~TimedWebServer() override { Shutdown(); }

  bool HandleRequest(const lun::ConnectionInfo& connection, std::string_view request,
                     lun::Reply* reply) override {
    const Clock::time_point start = Clock::now();
    const bool answered = WebServer::HandleRequest(connection, request, reply);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::lock_guard lock(mutex_);
    times_ms_.push_back(ms);
    return answered;
  }

  std::vector<double> TakeTimes() {
    std::lock_guard lock(mutex_);
    return std::exchange(times_ms_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<double> times_ms_;
};

std::string PageRequest(const std::string& page, const std::string& term) {
  return "GET /LUN/" + page + "?q=" + lun::UrlEncode(term) + " HTTP/1.0\r\n\r\n";
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t at = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

struct LoadResult {
  std::vector<double> round_trip_ms;
  size_t failed = 0;
  double seconds = 0;
};

// `connections` clients, each asking again and again for `seconds`.
LoadResult RunLoad(uint16_t port, const std::string& page, const std::vector<std::string>& terms,
                   int connections, double seconds) {
  LoadResult result;
  std::mutex mutex;
  std::atomic<size_t> next_term{0};
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> clients;
  for (int c = 0; c < connections; ++c) {
    clients.emplace_back([&] {
      std::vector<double> mine;
      size_t failed = 0;
      while (Clock::now() < end) {
        const std::string& term = terms[next_term.fetch_add(1) % terms.size()];
        const Clock::time_point sent = Clock::now();
        const std::string answer = lun::ExchangeOverLoopback(port, PageRequest(page, term));
        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        if (answer.rfind("HTTP/1.0 200 OK\r\n", 0) != 0 ||
            answer.find("</html>") == std::string::npos) {
          ++failed;
        }
      }
      std::lock_guard lock(mutex);
      result.round_trip_ms.insert(result.round_trip_ms.end(), mine.begin(), mine.end());
      result.failed += failed;
    });
  }
  for (std::thread& client : clients) client.join();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return result;
}

void Report(const std::string& page, int connections, const LoadResult& load,
            const std::vector<double>& server_ms) {
  const size_t n = load.round_trip_ms.size();
  std::printf("%s, %d connection%s: %zu requests (%zu failed) in %.1f s = %.0f req/s\n",
              page.c_str(), connections, connections == 1 ? "" : "s", n, load.failed, load.seconds,
              static_cast<double>(n) / load.seconds);
  std::printf("  server-side  p50 %6.2f ms  p95 %6.2f ms  max %7.2f ms\n",
              Percentile(server_ms, 0.50), Percentile(server_ms, 0.95), Percentile(server_ms, 1.0));
  std::printf("  round trip   p50 %6.2f ms  p95 %6.2f ms  max %7.2f ms\n",
              Percentile(load.round_trip_ms, 0.50), Percentile(load.round_trip_ms, 0.95),
              Percentile(load.round_trip_ms, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pages_bench DB [SECONDS [TERM...]]\n");
    return 2;
  }
  const std::string db = std::filesystem::absolute(argv[1]).lexically_normal().string();
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
  std::vector<std::string> terms;
  for (int i = 3; i < argc; ++i) terms.push_back(argv[i]);
  if (terms.empty()) {
    terms = {"数据", "文件", "系统", "使用", "程序", "设置", "网络", "内核", "服务", "命令"};
  }

  // The project as the application opens it.
  lun::SettingsStore settings;
  settings.SetValue(lun::kSearchSection, lun::key::kDataSource, db);
  lun::SearchProjectOptions options;
  options.settings = &settings;
  options.index_factory = lun::MakeFieldIndexFactory();
  lun::SearchProject project(std::move(options));
  if (lun::EngineStatus status = project.OpenProject(); !status) {
    std::fprintf(stderr, "pages_bench: %s: %s\n", db.c_str(), status.message().c_str());
    return 1;
  }
  lun::SearchService search(project, lun::MakeIndexTermSource);
  search.Configure(lun::ChannelSettings::From(settings));
  lun::DocumentWriter writer(project, search);
  writer.BuildCategoryLists();
  lun::FtsEnvironment env;
  env.project = &project;
  env.search = &search;
  env.settings = &settings;
  env.documents = &writer;

  lun::ScratchDir dir;
  lun::ScriptPageRunner runner(lun::MakeFtsFactory(env));
  TimedWebServer server(&runner, dir.path());
  if (!lun::MakeDirectories(dir.File("res")) ||
      !server.Start(dir.File("res"), "index.shl", 0, 30000)) {
    std::fprintf(stderr, "pages_bench: the web server does not start\n");
    return 1;
  }
  const std::string page_dir = lun::JoinPath(server.web_root(), "LUN");
  const std::vector<BenchPage> pages = BenchPages();
  bool written = lun::MakeDirectories(page_dir);
  for (const BenchPage& page : pages) {
    written =
        written && lun::ReplaceFileAtomically(lun::DefaultFileSystem(),
                                              lun::JoinPath(page_dir, page.name), page.text) == 0;
  }
  if (!written) {
    std::fprintf(stderr, "pages_bench: cannot write the pages\n");
    return 1;
  }

  // One pass over the terms: their hit counts, and warm caches.
  for (const std::string& term : terms) {
    const std::string answer =
        lun::ExchangeOverLoopback(server.port(), PageRequest(pages[0].name, term));
    const std::string count_mark = "找到 <b>";
    const size_t at = answer.find(count_mark);
    const std::string count =
        at == std::string::npos
            ? "?"
            : answer.substr(at + count_mark.size(),
                            answer.find('<', at + count_mark.size()) - at - count_mark.size());
    size_t rows = 0;
    for (size_t p = answer.find("<li>"); p != std::string::npos; p = answer.find("<li>", p + 4)) {
      ++rows;
    }
    std::printf("%s: %s results, %zu rows, answer of %zu bytes\n", term.c_str(), count.c_str(),
                rows, answer.size());
  }
  server.TakeTimes();
  // The results page at 1 and 8 connections, then the parts of it at 1.
  struct Run {
    const char* page;
    int connections;
  };
  for (const Run& run : {Run{pages[0].name, 1}, Run{pages[0].name, 8}, Run{pages[1].name, 1},
                         Run{pages[2].name, 1}}) {
    const LoadResult load = RunLoad(server.port(), run.page, terms, run.connections, seconds);
    Report(run.page, run.connections, load, server.TakeTimes());
  }
  return 0;
}
