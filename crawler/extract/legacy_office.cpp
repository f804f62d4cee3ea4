#include "crawler/extract/legacy_office.h"

#include <vector>

#include "crawler/extract/charset.h"
#include "platform/process.h"

namespace lun {
namespace {

struct Converter {
  std::string_view type;
  const char* program;
  std::vector<std::string> options;  // the file name follows them
};

// Tried in order; the first installed program of a type is used.
const std::vector<Converter>& Converters() {
  static const std::vector<Converter> kConverters = {
      {"DOC", "antiword", {"-m", "UTF-8.txt"}}, {"DOC", "catdoc", {"-d", "utf-8"}},
      {"WPS", "antiword", {"-m", "UTF-8.txt"}}, {"WPS", "catdoc", {"-d", "utf-8"}},
      {"XLS", "xls2csv", {"-d", "utf-8"}},      {"PPT", "catppt", {"-d", "utf-8"}},
  };
  return kConverters;
}

}  // namespace

bool LegacyOfficeAvailable(std::string_view type) {
  for (const Converter& c : Converters()) {
    if (c.type == type && !FindProgram(c.program).empty()) return true;
  }
  return false;
}

ExtractResult LegacyOfficeText(const std::string& path, std::string_view type, size_t limit) {
  for (const Converter& c : Converters()) {
    if (c.type != type) continue;
    const std::string program = FindProgram(c.program);
    if (program.empty()) continue;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    // A relative name starting with "-" must not read as an option.
    argv.push_back(path.empty() || path[0] == '/' ? path : "./" + path);
    const CaptureResult run = RunAndCapture(argv, limit * 4, kLegacyOfficeTimeoutMs);
    if (run.error != 0 || run.timed_out || (run.exit_code != 0 && !run.truncated)) {
      continue;  // the next program of the type may do better
    }
    TextSink sink(limit);
    sink.AppendUtf8(run.output);
    std::u16string& text = sink.text();
    while (!text.empty() && (text.back() == u'\n' || text.back() == u' ')) text.pop_back();
    ScrubControlCharacters(&text);
    return {ExtractStatus::kOk, sink.Take(), {}};
  }
  if (!LegacyOfficeAvailable(type)) {
    return {ExtractStatus::kUnsupported, {}, "no converter installed for " + std::string(type)};
  }
  return {ExtractStatus::kDamaged, {}, "the converter failed on the document"};
}

}  // namespace lun
