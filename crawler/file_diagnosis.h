// What the index knows of one file and why: the one answer behind the
// diagnosis page ("索引诊断") and `lun --explain PATH`.
//
// A diagnosis joins three parts: the scope verdict (scope_explain.h: would
// the crawler read the file at all), the facts of its records in the
// document table (how many, the state of the file they hold, how much text
// was extracted and how it starts), and what the crawler remembers of a
// failed extraction (skip_ledger.h; only a running crawler knows it).
//
// The index keeps the file's modification time, not the moment it was
// indexed: "changed since" compares that time and the size with the disk,
// which is what tells a user whether the record is current.
#ifndef LUN_CRAWLER_FILE_DIAGNOSIS_H_
#define LUN_CRAWLER_FILE_DIAGNOSIS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crawler/scope_explain.h"

namespace lun {

class DocumentWriter;
class SkipLedger;

struct IndexedFacts {
  size_t records = 0;          // live records of exactly this path
  double modified = 0;         // their file's modification time (date serial)
  uint64_t size = 0;           // their file's size
  size_t text_chars = 0;       // characters of stored text
  std::string text_start;      // the first of them, on one line
  bool changed_since = false;  // the file on disk has another time or size
};

struct FileDiagnosis {
  ScopeExplanation scope;
  IndexedFacts facts;
  std::string extraction;  // why text is missing, "" when nothing is known
};

// The facts of the records of `path` (absolute, as on disk).
IndexedFacts FactsOfPath(const DocumentWriter& writer, const std::string& path);

// The whole diagnosis; `ledger` is the running crawler's, or null.
FileDiagnosis DiagnoseFile(const ScanScope& scope, const DocumentWriter& writer,
                           std::string_view path, bool detects_text, const SkipLedger* ledger);

// Whether "index it now" makes sense: the file is in scope (or recorded by
// name over the size limit).
bool CanIndexNow(const FileDiagnosis& diagnosis);

// The diagnosis as lines for the page and the terminal, in a fixed order:
// a stable key ("scope", "records", "modified", "size", "changed",
// "text_chars", "text_start", "extraction"), the label in the interface's
// language and the value. Lines that do not apply are left out.
struct DiagnosisLine {
  std::string key;
  std::string label;
  std::string value;
};
std::vector<DiagnosisLine> DiagnosisLines(const FileDiagnosis& diagnosis);

// The lines as one text for the pages and lun.socket: one line each,
// "key\tlabel\tvalue\n" (tabs and line ends inside a value become
// blanks), led by ("path", "路径", the judged path) and ("verdict", "",
// ScopeVerdictKey), then the lines above, and closed by
// ("can_index", "", "TRUE" or "FALSE"). ParseDiagnosisText reads it back;
// false for text of another form.
std::string DiagnosisText(const FileDiagnosis& diagnosis);
bool ParseDiagnosisText(std::string_view text, std::vector<DiagnosisLine>* lines);

}  // namespace lun

#endif  // LUN_CRAWLER_FILE_DIAGNOSIS_H_
