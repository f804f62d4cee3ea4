// The web UI's results page over HTTP, against a running `lun --headless`
// (run_results_page.sh starts one on a scratch home and drives this).
//
//   results_page_bench PORT IDCODE QUERIES [CONNECTIONS [SECONDS [SEED]]]
//
// QUERIES is bench/corpus/queries.txt (id, class, query; tab-separated).
// Each connection takes the queries in its own seeded random order, again
// and again, so that queries alternate as a user's session does and no
// query is repeated back to back; it sends GET /LUN/Search.shl?IDCODE=..
// &SearchText=.. (HTTP/1.0, one request per connection), reads the answer
// to the end and asks again at once, for SECONDS (default 10). The page
// searches names and texts, ranks by relevance and writes ten rows with
// their snippets. Printed: requests per second, and p50/p95/max of the
// round trip as the client saw it, over all requests and per query class.
// An answer that is not a results page (status, no count) is counted as an
// error and kept out of the times.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pages/page_encoding.h"
#include "web/loopback_client.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Query {
  std::string klass;
  std::string text;
};

std::vector<Query> ReadQueries(const char* path) {
  std::vector<Query> queries;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t a = line.find('\t');
    const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (b == std::string::npos) continue;
    queries.push_back({line.substr(a + 1, b - a - 1), line.substr(b + 1)});
  }
  return queries;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

struct Sample {
  size_t query;
  double ms;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: results_page_bench PORT IDCODE QUERIES [CONNECTIONS [SECONDS [SEED]]]\n");
    return 2;
  }
  const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
  const std::string code = argv[2];
  const std::vector<Query> queries = ReadQueries(argv[3]);
  const int connections = argc > 4 ? std::atoi(argv[4]) : 1;
  const double seconds = argc > 5 ? std::atof(argv[5]) : 10.0;
  const unsigned seed = argc > 6 ? static_cast<unsigned>(std::atoi(argv[6])) : 1;
  if (queries.empty() || connections < 1) {
    std::fprintf(stderr, "no queries in %s\n", argv[3]);
    return 2;
  }
  std::vector<std::string> requests;
  for (const Query& q : queries) {
    requests.push_back("GET /LUN/Search.shl?IDCODE=" + code + "&SearchText=" +
                       lun::UrlEncode(q.text) + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  }

  std::mutex mutex;
  std::vector<Sample> samples;
  size_t errors = 0;
  const auto start = Clock::now();
  const auto end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> clients;
  for (int c = 0; c < connections; ++c) {
    clients.emplace_back([&, c] {
      std::mt19937 rng(seed * 1000 + static_cast<unsigned>(c));
      std::vector<size_t> order(requests.size());
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::vector<Sample> mine;
      size_t my_errors = 0;
      size_t next = order.size();
      while (Clock::now() < end) {
        if (next == order.size()) {
          std::shuffle(order.begin(), order.end(), rng);
          next = 0;
        }
        const size_t q = order[next++];
        const auto sent = Clock::now();
        const std::string answer = lun::ExchangeOverLoopback(port, requests[q], 60);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        if (answer.compare(0, 12, "HTTP/1.0 200") != 0 &&
            answer.compare(0, 12, "HTTP/1.1 200") != 0) {
          ++my_errors;
        } else if (answer.find("id=\"count\"") == std::string::npos &&
                   answer.find("没有找到") == std::string::npos) {
          ++my_errors;
        } else {
          mine.push_back({q, ms});
        }
      }
      std::lock_guard<std::mutex> lock(mutex);
      samples.insert(samples.end(), mine.begin(), mine.end());
      errors += my_errors;
    });
  }
  for (std::thread& t : clients) t.join();
  const double took = std::chrono::duration<double>(Clock::now() - start).count();

  std::map<std::string, std::vector<double>> by_class;
  std::vector<double> all;
  for (const Sample& s : samples) {
    all.push_back(s.ms);
    by_class[queries[s.query].klass].push_back(s.ms);
  }
  std::printf("connections %d: %zu pages in %.1f s (%.0f/s), %zu errors\n", connections,
              samples.size(), took, static_cast<double>(samples.size()) / took, errors);
  std::printf("  %-6s n=%-6zu p50 %7.2f ms  p95 %7.2f ms  max %7.1f ms\n", "all", all.size(),
              Percentile(all, 0.5), Percentile(all, 0.95), Percentile(all, 1.0));
  for (const auto& [klass, ms] : by_class) {
    std::printf("  %-6s n=%-6zu p50 %7.2f ms  p95 %7.2f ms  max %7.1f ms\n", klass.c_str(),
                ms.size(), Percentile(ms, 0.5), Percentile(ms, 0.95), Percentile(ms, 1.0));
  }
  return errors == 0 ? 0 : 1;
}
