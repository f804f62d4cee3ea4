// lundb query: runs one query through the search service, as the pages do,
// and prints the result code, the count, the time and one page of rows.
// With --stdin it runs one query per input line in the same process and
// prints one result per line: a session's sequence of different queries,
// timed warm, for benchmarks and scripts.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "automation/variant.h"
#include "engine/query/highlighter.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "engine/storage/engine_error.h"
#include "platform/text.h"
#include "tools/lundb/lundb_cli.h"

namespace lun {
namespace {

struct QueryOptions {
  std::string db, query;
  uint32_t page = 1;
  uint32_t size = 10;
  std::vector<std::string> fields;  // empty: every column
  std::string snippet;              // column shown as a highlighted snippet
  bool json = false;
  bool from_stdin = false;          // queries are the lines of standard input
};

std::string ValueText(const Variant& v) {
  std::u16string text;
  if (v.is_empty() || ToText(v, &text) != S_OK) return "";
  return ToNarrow(text);
}

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof(esc), "\\u%04x", c);
          out += esc;
        } else {
          out.push_back(c);
        }
    }
  }
  return out + "\"";
}

// At most `width` characters of one line of text, for the table form.
std::string Cell(const std::string& text, size_t width) {
  std::u16string w = ToWide(text);
  for (char16_t& c : w) {
    if (c == u'\r' || c == u'\n' || c == u'\t') c = u' ';
  }
  if (w.size() > width) w = w.substr(0, width - 1) + u"…";
  return ToNarrow(w);
}

bool ParseOptions(const std::vector<std::string>& args, QueryOptions* o) {
  if (args.size() < 2) return false;
  o->db = args[0];
  o->from_stdin = args[1] == "--stdin";
  if (!o->from_stdin) o->query = args[1];
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json") {
      o->json = true;
      continue;
    }
    if (i + 1 >= args.size()) return false;
    const std::string& v = args[++i];
    uint64_t n = 0;
    if (a == "--page" && ParseUnsigned(v, &n) && n > 0) {
      o->page = static_cast<uint32_t>(n);
    } else if (a == "--size" && ParseUnsigned(v, &n) && n > 0) {
      o->size = static_cast<uint32_t>(n);
    } else if (a == "--fields") {
      for (size_t start = 0; start <= v.size();) {
        const size_t comma = std::min(v.find(',', start), v.size());
        if (comma > start) o->fields.push_back(v.substr(start, comma - start));
        start = comma + 1;
      }
    } else if (a == "--snippet") {
      o->snippet = v;
    } else {
      return false;
    }
  }
  return true;
}

// Runs one query and prints its result: a page of rows, or with `one_line`
// only the summary (the form of --stdin). `wall` is the whole search call
// as its caller waits for it; `elapsed` the evaluation the recordset
// reports. Returns the engine code, or -1 after a usage error (printed).
int RunOne(SearchService& service, const QueryOptions& o, const std::string& query,
           bool one_line) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<Recordset> rs;
  const int code = service.Search(query, &rs);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::vector<int> columns;
  if (rs) {
    for (const std::string& f : o.fields) {
      const int c = rs->FindColumn(f);
      if (c < 0) {
        Usage(("no field " + f).c_str());
        return -1;
      }
      columns.push_back(c);
    }
    if (o.fields.empty() && !one_line) {
      for (int c = 0; c < static_cast<int>(rs->columns().size()); ++c) columns.push_back(c);
    }
    rs->SetPageSize(o.size);
    rs->MovePage(o.page);
  }
  const int snippet = rs && !o.snippet.empty() ? rs->FindColumn(o.snippet) : -1;
  if (rs && !o.snippet.empty() && snippet < 0) {
    Usage(("no field " + o.snippet).c_str());
    return -1;
  }

  const uint32_t count = rs ? rs->count() : 0;
  const double elapsed = rs ? rs->elapsed_seconds : 0;
  std::vector<std::vector<std::string>> rows;  // record, relevance, values..., snippet
  const bool want_rows = !one_line || !columns.empty() || snippet >= 0;
  if (rs && count > 0 && want_rows) {
    for (uint32_t i = 0; i < rs->current_page_size() && !rs->IsEOF(); ++i, rs->MoveNext()) {
      std::vector<std::string> row = {std::to_string(rs->RecordNumber()),
                                      std::to_string(rs->Relevance())};
      for (const int c : columns) row.push_back(ValueText(rs->Value(c)));
      if (snippet >= 0) {
        row.push_back(ToNarrow(
            HighlightedSnippet(rs->Value(snippet).AsString(), rs->columns()[snippet].keywords)));
      }
      rows.push_back(std::move(row));
    }
  }

  if (o.json) {
    std::printf("{\"code\":%d,\"message\":%s,\"count\":%u,\"elapsed\":%.6f,\"wall\":%.6f,"
                "\"page\":%u,\"pages\":%u,\"rows\":[",
                code, JsonString(EngineErrorText(code)).c_str(), count, elapsed, wall,
                rs ? rs->current_page() : 0, rs ? rs->page_count() : 0);
    for (size_t r = 0; r < rows.size(); ++r) {
      std::printf("%s{\"record\":%s,\"relevance\":%s,\"fields\":{", r ? "," : "",
                  rows[r][0].c_str(), rows[r][1].c_str());
      for (size_t k = 0; k < columns.size(); ++k) {
        std::printf("%s%s:%s", k ? "," : "", JsonString(rs->columns()[columns[k]].name).c_str(),
                    JsonString(rows[r][k + 2]).c_str());
      }
      std::printf("}");
      if (snippet >= 0) std::printf(",\"snippet\":%s", JsonString(rows[r].back()).c_str());
      std::printf("}");
    }
    std::printf("]}\n");
    return code;
  }

  std::printf("%d %s: %u 条记录, 耗时 %.3f 秒", code, EngineErrorText(code), count, elapsed);
  if (rs && rs->page_count() > 0 && !one_line) {
    std::printf(", 第 %u/%u 页", rs->current_page(), rs->page_count());
  }
  std::printf("\n");
  for (const auto& row : rows) {
    std::printf("#%s", row[0].c_str());
    if (row[1] != "-1") std::printf(" 相关度 %s", row[1].c_str());
    std::printf("\n");
    for (size_t k = 0; k < columns.size(); ++k) {
      std::printf("  %s: %s\n", rs->columns()[columns[k]].name.c_str(),
                  Cell(row[k + 2], 100).c_str());
    }
    if (snippet >= 0) std::printf("  >> %s\n", row.back().c_str());
  }
  return code;
}

}  // namespace

int CmdQuery(const std::vector<std::string>& args, const std::string& settings_file) {
  QueryOptions o;
  if (!ParseOptions(args, &o)) {
    return Usage("query takes DB 'QUERY' | --stdin [--page N] [--size N] [--fields F,F...] "
                 "[--snippet FIELD] [--json]");
  }
  Session s;
  if (const int rc = OpenSession(o.db, settings_file, &s)) return rc;
  SearchService service(*s.project, MakeIndexTermSource);
  service.Configure(ChannelSettings::From(s.settings));
  service.ConfigurePool(BufferPoolSettings::From(s.settings));
  if (!o.from_stdin) {
    const int code = RunOne(service, o, o.query, /*one_line=*/false);
    return code < 0 ? kUsage : code == kEngineOk ? 0 : 1;
  }
  // Every line is answered (an empty one with its engine code), so that
  // output line n always belongs to input line n; the exit code says
  // whether every query succeeded.
  bool all_ok = true;
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const int code = RunOne(service, o, line, /*one_line=*/true);
    if (code < 0) return kUsage;
    all_ok = all_ok && code == kEngineOk;
    std::fflush(stdout);
  }
  return all_ok ? 0 : 1;
}

}  // namespace lun
