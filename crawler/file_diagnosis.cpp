#include "crawler/file_diagnosis.h"

#include <sys/stat.h>

#include <algorithm>

#include "automation/date_time.h"
#include "crawler/document_table.h"
#include "crawler/skip_ledger.h"
#include "platform/text.h"

namespace lun {
namespace {

// How much of the text the diagnosis shows.
constexpr size_t kTextStartChars = 120;

// The first characters of `text` on one line: line ends and tabs become
// blanks, runs of blanks one.
std::string OneLineStart(const std::u16string& text) {
  std::u16string start;
  for (char16_t c : text) {
    if (start.size() >= kTextStartChars) break;
    const bool blank = c == u'\r' || c == u'\n' || c == u'\t' || c == u' ';
    if (blank && (start.empty() || start.back() == u' ')) continue;
    start.push_back(blank ? u' ' : c);
  }
  return ToNarrow(start);
}

bool LedgerHas(const SkipLedger& ledger, const char* reason, const std::string& path) {
  const auto all = ledger.Snapshot();
  const auto it = all.find(reason);
  return it != all.end() &&
         std::find(it->second.latest.begin(), it->second.latest.end(), path) !=
             it->second.latest.end();
}

std::string ExtractionNote(const FileDiagnosis& d, const SkipLedger* ledger) {
  if (ledger && LedgerHas(*ledger, kSkipExtractFailed, d.scope.path)) {
    return "读取它时文本提取服务两次失败（超时、崩溃或文件损坏），只按名称和属性索引；"
           "文件改动后或重新扫描时会再试。";
  }
  if (d.scope.verdict == ScopeVerdict::kOverSizeLimit) return "文件太大，内容不读取。";
  if (d.facts.records > 0 && d.facts.text_chars == 0 &&
      d.scope.verdict == ScopeVerdict::kInScope) {
    return "记录中没有文字：文件里没有可读的文字（如扫描的图片）、文件已损坏，"
           "或只按名称索引的类型。";
  }
  return {};
}

}  // namespace

IndexedFacts FactsOfPath(const DocumentWriter& writer, const std::string& path) {
  IndexedFacts facts;
  const std::vector<uint32_t> records = writer.FindPath(path);
  facts.records = records.size();
  if (records.empty()) return facts;
  // The newest record is the one searches show first.
  StoredFile file;
  std::u16string text;
  if (!writer.ReadFileState(records.back(), &file, &text)) return facts;
  facts.modified = file.modified;
  facts.size = file.size;
  facts.text_chars = text.size();
  facts.text_start = OneLineStart(text);
  struct stat st;
  facts.changed_since = stat(path.c_str(), &st) == 0 &&
                        (FileTimeToDate(st.st_mtime) != file.modified ||
                         static_cast<uint32_t>(st.st_size) != file.size);
  return facts;
}

FileDiagnosis DiagnoseFile(const ScanScope& scope, const DocumentWriter& writer,
                           std::string_view path, bool detects_text, const SkipLedger* ledger) {
  FileDiagnosis d;
  d.scope = ExplainScope(scope, path, detects_text);
  d.facts = FactsOfPath(writer, d.scope.path);
  d.extraction = ExtractionNote(d, ledger);
  return d;
}

bool CanIndexNow(const FileDiagnosis& d) {
  return d.scope.verdict == ScopeVerdict::kInScope ||
         d.scope.verdict == ScopeVerdict::kOverSizeLimit;
}

std::vector<DiagnosisLine> DiagnosisLines(const FileDiagnosis& d) {
  std::vector<DiagnosisLine> lines;
  lines.push_back({"scope", "索引范围", DescribeScope(d.scope)});
  lines.push_back({"records", "索引记录",
                   d.facts.records == 0 ? "没有" : std::to_string(d.facts.records) + " 条"});
  if (d.facts.records > 0) {
    lines.push_back({"modified", "记录的修改时间", ToNarrow(FormatDateGeneral(d.facts.modified))});
    lines.push_back({"size", "记录的大小", std::to_string(d.facts.size) + " 字节"});
    if (d.facts.changed_since) {
      lines.push_back({"changed", "是否最新", "文件在索引之后又改动过，等待重新索引"});
    }
    lines.push_back({"text_chars", "提取的文字", std::to_string(d.facts.text_chars) + " 个字符"});
    if (!d.facts.text_start.empty()) {
      lines.push_back({"text_start", "文字开头", d.facts.text_start});
    }
  }
  if (!d.extraction.empty()) lines.push_back({"extraction", "文本提取", d.extraction});
  return lines;
}

std::string DiagnosisText(const FileDiagnosis& d) {
  auto clean = [](std::string value) {
    for (char& c : value) {
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return value;
  };
  std::vector<DiagnosisLine> lines = DiagnosisLines(d);
  lines.insert(lines.begin(), {{"path", "路径", d.scope.path},
                               {"verdict", "", ScopeVerdictKey(d.scope.verdict)}});
  lines.push_back({"can_index", "", CanIndexNow(d) ? "TRUE" : "FALSE"});
  std::string text;
  for (const DiagnosisLine& line : lines) {
    text += line.key + "\t" + line.label + "\t" + clean(line.value) + "\n";
  }
  return text;
}

bool ParseDiagnosisText(std::string_view text, std::vector<DiagnosisLine>* lines) {
  lines->clear();
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const size_t first = line.find('\t');
    const size_t second = first == std::string_view::npos ? first : line.find('\t', first + 1);
    if (second == std::string_view::npos) return false;
    lines->push_back({std::string(line.substr(0, first)),
                      std::string(line.substr(first + 1, second - first - 1)),
                      std::string(line.substr(second + 1))});
  }
  return !lines->empty() && lines->front().key == "path" && lines->back().key == "can_index";
}

}  // namespace lun
