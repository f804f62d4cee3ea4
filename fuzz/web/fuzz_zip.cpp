// Unpacks arbitrary bytes as a page archive into a sink that only records.
// Oracles beyond "no crash": no output path is absolute or climbs with "..",
// none holds a NUL, "\" or a drive colon; the output stays within the limits.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "web/page_archive.h"

namespace {

void CheckPath(const std::string& relative) {
  Check(!relative.empty() && relative.front() != '/');
  Check(relative.find(std::string_view("\0", 1)) == std::string::npos);
  Check(relative.find('\\') == std::string::npos && relative.find(':') == std::string::npos);
  size_t pos = 0;
  while (pos <= relative.size()) {
    size_t end = relative.find('/', pos);
    if (end == std::string::npos) end = relative.size();
    const std::string_view component(relative.data() + pos, end - pos);
    Check(component != ".." && component != ".");
    pos = end + 1;
  }
}

class CheckingSink : public lun::UnpackSink {
 public:
  bool MakeDirectory(const std::string& relative) override {
    CheckPath(relative);
    return true;
  }
  bool BeginFile(const std::string& relative) override {
    CheckPath(relative);
    return true;
  }
  bool Write(std::string_view bytes) override {
    total += bytes.size();
    return true;
  }
  bool EndFile() override { return true; }
  uint64_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Smaller limits than production keep each run fast; the checks are the same.
  const lun::UnpackLimits limits{1000, uint64_t{16} << 20};
  CheckingSink sink;
  const lun::UnpackReport report = lun::UnpackArchiveMemory(
      std::string_view(reinterpret_cast<const char*>(data), size), sink, limits);
  Check(sink.total <= limits.max_total_bytes + 8192);
  Check(static_cast<uint64_t>(report.files + report.directories) <= limits.max_entries);
  return 0;
}
