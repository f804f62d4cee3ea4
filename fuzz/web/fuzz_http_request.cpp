// Feeds arbitrary bytes to the request framing and parsing as a connection
// would deliver them: in random chunks. Oracles beyond "no crash":
//   - the first decisive answer while chunks arrive equals the answer for the
//     whole input (partial reads change nothing);
//   - a complete request respects the limits, has no Transfer-Encoding and no
//     two different Content-Length values;
//   - every path component the mapping would join to the web root is a plain
//     name, so no request path can leave the root;
//   - a partial range lies inside the file.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "web/http_request.h"
#include "web/http_response.h"
#include "web/path_map.h"
#include "web/request_variables.h"
#include "web/text_util.h"

namespace {

void CheckCompleteRequest(std::string_view request) {
  const size_t head_end = request.find("\r\n\r\n");
  Check(head_end != std::string_view::npos);
  Check(request.size() <= lun::kMaxRequestBytes);
  std::string_view head = request.substr(0, head_end);
  size_t lines = 0;
  std::string length;
  bool first = true;
  while (!head.empty()) {
    const size_t end = head.find("\r\n");
    const std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view{} : head.substr(end + 2);
    if (first) {
      first = false;
      Check(line.size() <= lun::kMaxRequestLineBytes);
      continue;
    }
    ++lines;
    Check(line.size() <= lun::kMaxHeaderLineBytes);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, colon);
    Check(!lun::EqualsIgnoreCase(name, "Transfer-Encoding"));
    if (lun::EqualsIgnoreCase(name, "Content-Length")) {
      const std::string value(lun::TrimBlanks(line.substr(colon + 1)));
      Check(length.empty() || std::strtoull(value.c_str(), nullptr, 10) ==
                                  std::strtoull(length.c_str(), nullptr, 10));
      length = value;
    }
  }
  Check(lines <= lun::kMaxHeaderCount);
}

}  // namespace

// Input layout: 4 bytes of file size (big-endian) for the range check, one
// byte with the number of chunk sizes (at most 8), that many chunk-size bytes
// (each taken modulo 65, plus one), then the request bytes. Kept free of
// libFuzzer headers so that the regression replay builds with any compiler.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint64_t file_size = (uint64_t{data[0]} << 24) | (uint64_t{data[1]} << 16) |
                             (uint64_t{data[2]} << 8) | uint64_t{data[3]};
  const size_t cut_count = std::min<size_t>(data[4] % 9, size - 5);
  std::vector<size_t> cuts;
  for (size_t i = 0; i < cut_count; ++i) cuts.push_back(data[5 + i] % 65);
  const std::string input(reinterpret_cast<const char*>(data) + 5 + cut_count,
                          size - 5 - cut_count);

  // Arrival in chunks, as the client thread sees it.
  std::string received;
  lun::RequestFrame decided;
  size_t pos = 0;
  size_t cut = 0;
  while (pos < input.size()) {
    const size_t step = cut < cuts.size() ? cuts[cut++] + 1 : input.size() - pos;
    received.append(input, pos, step);
    pos += step;
    decided = lun::FrameRequest(received);
    if (decided.state != lun::RequestFrame::State::kIncomplete) break;
  }
  const lun::RequestFrame whole = lun::FrameRequest(input);
  Check(decided.state == whole.state);
  if (whole.state == lun::RequestFrame::State::kComplete) Check(decided.length == whole.length);
  if (whole.state == lun::RequestFrame::State::kRejected) Check(decided.status == whole.status);

  if (whole.state != lun::RequestFrame::State::kComplete) return 0;
  const std::string_view request = std::string_view(input).substr(0, whole.length);
  CheckCompleteRequest(request);

  const lun::HttpRequest parsed = lun::ParseRequest(request);
  std::vector<std::string> components;
  if (lun::SplitTargetPath(parsed.path, &components)) {
    for (const std::string& component : components) {
      Check(!component.empty() && component != "." && component != "..");
      Check(component.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos);
    }
  }
  (void)lun::ParseQueryString(parsed.query_string);
  (void)lun::ParseForm(parsed.form_data);
  if (const std::string* cookie = parsed.headers.Find("Cookie")) (void)lun::ParseCookies(*cookie);
  const lun::RangeDecision range = lun::ResolveRange(parsed.headers.Find("Range"), file_size);
  if (range.kind == lun::RangeDecision::Kind::kPartial) {
    Check(range.count > 0 && range.first < file_size && range.count <= file_size - range.first);
  }
  if (range.kind == lun::RangeDecision::Kind::kWhole) Check(range.first == 0 && range.count == file_size);
  return 0;
}
