#include "app/search_command.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/home_index.h"
#include "app/instance_socket.h"
#include "automation/date_time.h"
#include "automation/variant.h"
#include "config/tab_fields.h"
#include "crawler/document_table.h"
#include "engine/query/highlighter.h"
#include "engine/query/recordset.h"
#include "engine/query/search_service.h"
#include "engine/storage/engine_error.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace lun {
namespace {

constexpr char kRequestVerb[] = "search";
constexpr uint32_t kDefaultLimit = 10;
constexpr uint32_t kMaxLimit = 100000;
// A search of the running instance; its own searches give up after 120 s.
constexpr int kAskTimeoutMs = 125000;

constexpr char kUsage[] =
    "用法: lun search 查询... [--home 目录] [--limit N] [--json] [--files-only]\n"
    "  查询          与快速搜索相同的写法: a*b 同时包含, a+b 包含其一, a-b 不包含;\n"
    "                几个查询参数须同时满足; 在文件名和内容中查找\n"
    "  --limit N     最多显示 N 个结果 (默认 10)\n"
    "  --json        以 JSON 输出\n"
    "  --files-only  只输出文件路径, 每行一个\n"
    "退出状态: 0 找到, 1 没有找到, 2 参数错误或搜索失败\n";

struct CommandOptions {
  std::vector<std::string> words;
  std::string home;
  uint32_t limit = kDefaultLimit;
  bool json = false;
  bool files_only = false;
};

bool ParseLimit(const std::string& text, uint32_t* limit) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > static_cast<long>(kMaxLimit)) {
    return false;
  }
  *limit = static_cast<uint32_t>(value);
  return true;
}

bool ParseArguments(const std::vector<std::string>& args, CommandOptions* o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--json") {
      o->json = true;
    } else if (a == "--files-only") {
      o->files_only = true;
    } else if (a == "--limit" && has_value) {
      if (!ParseLimit(args[++i], &o->limit)) return false;
    } else if (a == "--home" && has_value) {
      o->home = args[++i];
    } else if (a.starts_with("--")) {
      return false;
    } else if (!a.empty()) {
      o->words.push_back(a);
    }
  }
  return !o->words.empty();
}

// "2024-05-06 09:30" for a date value; "" for anything else.
std::string TimeText(const Variant& value) {
  Variant date;
  DateParts parts;
  if (ChangeType(value, VT_DATE, &date) != S_OK || !SerialToParts(date.AsDouble(), &parts)) {
    return "";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", parts.year, parts.month, parts.day,
                parts.hour, parts.minute);
  return text;
}

// The size field holds 32 bits; values of 2 GiB and more read as negative.
uint64_t SizeValue(const Variant& value) {
  Variant number;
  if (ChangeType(value, VT_R8, &number) != S_OK) return 0;
  const double size = number.AsDouble();
  return static_cast<uint64_t>(size < 0 ? size + 4294967296.0 : size);
}

// The result page's snippet with its marks as kMarkStart/kMarkEnd and the
// page escapes undone, on one line.
std::string PlainSnippet(std::u16string_view text, const std::vector<std::u16string>& keywords) {
  std::u16string html = HighlightedSnippet(text, keywords);
  std::u16string out;
  out.reserve(html.size());
  for (size_t i = 0; i < html.size();) {
    if (html.compare(i, 5, u"<font") == 0) {
      const size_t end = html.find(u'>', i);
      if (end == std::u16string::npos) break;
      out += static_cast<char16_t>(kMarkStart);
      i = end + 1;
    } else if (html.compare(i, 7, u"</font>") == 0) {
      out += static_cast<char16_t>(kMarkEnd);
      i += 7;
    } else if (html.compare(i, 4, u"&lt;") == 0 || html.compare(i, 4, u"&gt;") == 0) {
      out += html[i + 1] == u'l' ? u'<' : u'>';
      i += 4;
    } else {
      const char16_t c = html[i++];
      const bool blank = c == u'\r' || c == u'\n' || c == u'\t' || c == u' ';
      if (!blank) {
        out += c;
      } else if (!out.empty() && out.back() != u' ') {
        out += u' ';
      }
    }
  }
  return ToNarrow(out);
}

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}

// The snippet with its marks shown as `start` and `end`.
std::string ShowMarks(const std::string& snippet, const char* start, const char* end) {
  std::string out;
  for (const char c : snippet) {
    if (c == kMarkStart) {
      out += start;
    } else if (c == kMarkEnd) {
      out += end;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string SizeText(uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu 字节", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
  } else if (bytes < 1024ull * 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
  } else {
    std::snprintf(text, sizeof text, "%.2f GB", bytes / 1073741824.0);
  }
  return text;
}

void PrintAnswer(const SearchAnswer& answer, const CommandOptions& o) {
  if (o.json) {
    std::printf("{\"count\":%u,\"hits\":[", answer.count);
    for (size_t i = 0; i < answer.hits.size(); ++i) {
      const SearchHit& h = answer.hits[i];
      std::printf("%s{\"path\":%s,\"modified\":%s,\"size\":%llu,\"snippet\":%s}", i ? "," : "",
                  JsonString(h.path).c_str(), JsonString(h.modified).c_str(),
                  static_cast<unsigned long long>(h.size),
                  JsonString(ShowMarks(h.snippet, "【", "】")).c_str());
    }
    std::printf("]}\n");
    return;
  }
  if (o.files_only) {
    for (const SearchHit& h : answer.hits) std::printf("%s\n", h.path.c_str());
    return;
  }
  const bool terminal = isatty(STDOUT_FILENO) == 1;
  for (const SearchHit& h : answer.hits) {
    std::printf("%s\n  %s  %s\n", h.path.c_str(), h.modified.c_str(), SizeText(h.size).c_str());
    if (!h.snippet.empty()) {
      std::printf("  %s\n", terminal ? ShowMarks(h.snippet, "\033[1;31m", "\033[0m").c_str()
                                     : ShowMarks(h.snippet, "【", "】").c_str());
    }
  }
  std::printf("共找到 %u 个结果", answer.count);
  if (answer.count > answer.hits.size()) {
    std::printf(", 显示前 %zu 个 (--limit 可显示更多)", answer.hits.size());
  }
  std::printf("\n");
}

}  // namespace

std::string TerminalSearchQuery(const std::vector<std::string>& words) {
  std::string t;
  for (const std::string& w : words) {
    if (!t.empty()) t += "*";
    t += words.size() > 1 ? "(" + w + ")" : w;
  }
  return std::string("[") + kDocumentTable + "]:" + doc::kText + "=(" + t + ")+" + doc::kName +
         "=(" + t + ") order by 相关度 desc";
}

SearchAnswer CollectHits(SearchService& search, std::string_view query, uint32_t limit) {
  SearchAnswer answer;
  std::unique_ptr<Recordset> rs;
  answer.code = search.Search(query, &rs);
  answer.message = EngineErrorText(answer.code);
  if (answer.code != kEngineOk || !rs) return answer;
  answer.count = rs->count();
  const int path = rs->FindColumn(doc::kPath);
  const int modified = rs->FindColumn(doc::kModified);
  const int size = rs->FindColumn(doc::kSize);
  const int text = rs->FindColumn(doc::kText);
  rs->SetPageSize(limit);
  rs->MovePage(1);
  for (uint32_t i = 0; i < limit && !rs->IsEOF(); ++i, rs->MoveNext()) {
    SearchHit hit;
    std::u16string value;
    if (path >= 0 && ToText(rs->Value(path), &value) == S_OK) hit.path = ToNarrow(value);
    if (modified >= 0) hit.modified = TimeText(rs->Value(modified));
    if (size >= 0) hit.size = SizeValue(rs->Value(size));
    if (text >= 0 && ToText(rs->Value(text), &value) == S_OK) {
      hit.snippet = PlainSnippet(value, rs->columns()[text].keywords);
    }
    answer.hits.push_back(std::move(hit));
  }
  return answer;
}

std::string SearchRequestLine(std::string_view query, uint32_t limit) {
  std::string line = std::string(kRequestVerb) + "\t" + std::to_string(limit) + "\t";
  line += EscapeField(query);
  return line;
}

std::string AnswerSearchRequest(SearchService& search, std::string_view request) {
  const std::vector<std::string> fields = SplitFields(request);
  uint32_t limit = 0;
  if (fields.size() != 3 || fields[0] != kRequestVerb || !ParseLimit(fields[1], &limit)) {
    return "";
  }
  return EncodeAnswer(CollectHits(search, fields[2], limit));
}

std::string EncodeAnswer(const SearchAnswer& answer) {
  std::string out = std::to_string(answer.code) + "\t" + std::to_string(answer.count) + "\t";
  out += EscapeField(answer.message);
  out += "\n";
  for (const SearchHit& h : answer.hits) {
    out += EscapeField(h.path);
    out += "\t";
    out += EscapeField(h.modified);
    out += "\t" + std::to_string(h.size) + "\t";
    out += EscapeField(h.snippet);
    out += "\n";
  }
  return out;
}

bool DecodeAnswer(std::string_view text, SearchAnswer* answer) {
  *answer = SearchAnswer();
  bool head = true;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;  // cut short
    const std::vector<std::string> f = SplitFields(text.substr(0, end));
    text.remove_prefix(end + 1);
    char* stop = nullptr;
    if (head) {
      if (f.size() != 3) return false;
      answer->code = static_cast<int>(std::strtol(f[0].c_str(), &stop, 10));
      if (*stop != '\0' || f[0].empty()) return false;
      answer->count = static_cast<uint32_t>(std::strtoul(f[1].c_str(), &stop, 10));
      if (*stop != '\0' || f[1].empty()) return false;
      answer->message = f[2];
      head = false;
      continue;
    }
    if (f.size() != 4) return false;
    SearchHit hit{f[0], f[1], std::strtoull(f[2].c_str(), &stop, 10), f[3]};
    if (*stop != '\0') return false;
    answer->hits.push_back(std::move(hit));
  }
  return !head;
}

int RunSearchCommand(const std::vector<std::string>& args) {
  CommandOptions o;
  if (!ParseArguments(args, &o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string home = ResolveApplicationHome(o.home);
  const std::string query = TerminalSearchQuery(o.words);
  SearchAnswer answer;
  std::string reply;
  if (AskInstance(home, SearchRequestLine(query, o.limit), &reply, kAskTimeoutMs)) {
    if (!DecodeAnswer(reply, &answer)) {
      std::fprintf(stderr, "lun: 正在运行的 lun 的回答无法读取\n");
      return 2;
    }
  } else if (const std::string failed = WithHomeIndex(
                 home, [&](SearchProject&, SearchService& search) {
                   answer = CollectHits(search, query, o.limit);
                 });
             !failed.empty()) {
    std::fprintf(stderr, "lun: %s\n", failed.c_str());
    return 2;
  }
  if (answer.code != kEngineOk) {
    std::fprintf(stderr, "lun: 搜索出错: %s\n", answer.message.c_str());
    return 2;
  }
  PrintAnswer(answer, o);
  return answer.count > 0 ? 0 : 1;
}

}  // namespace lun
