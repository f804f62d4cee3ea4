// HTTP/1.0 request framing and parsing: pure functions over a byte buffer.
//
// A connection's bytes go through two steps:
//   1. FrameRequest decides, from what has arrived so far, whether a whole
//      request is there (head ending in "\r\n\r\n" plus Content-Length body
//      bytes), whether more must be awaited, or whether the request is to be
//      refused (oversized, malformed, or ambiguous framing that could be used
//      to smuggle a second request past us).
//   2. ParseRequest cuts a framed request into the request line, the headers
//      and the form data.
// Neither touches a socket or the file system; both accept any bytes.
#ifndef LUN_WEB_HTTP_REQUEST_H_
#define LUN_WEB_HTTP_REQUEST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lun {

// Limits of one request. A request over any of them is refused with
// kBadRequestStatus (the request line with kUriTooLongStatus).
inline constexpr size_t kMaxRequestBytes = size_t{1} << 20;  // head and body together
inline constexpr size_t kMaxRequestLineBytes = 8192;
inline constexpr size_t kMaxHeaderLineBytes = 8192;
inline constexpr size_t kMaxHeadBytes = 40960;  // request line, headers and the blank line
inline constexpr size_t kMaxHeaderCount = 100;

// Status texts of the responses this server produces.
inline constexpr std::string_view kBadRequestStatus = "400 Bad Request";
inline constexpr std::string_view kForbiddenStatus = "403 Forbidden";
inline constexpr std::string_view kNotFoundStatus = "404 Not Found";
inline constexpr std::string_view kUriTooLongStatus = "414 Request-URI Too Long";
inline constexpr std::string_view kRangeNotSatisfiableStatus =
    "416 Requested Range Not Satisfiable";

// Where a connection stands after the bytes received so far.
struct RequestFrame {
  enum class State { kIncomplete, kComplete, kRejected };
  State state = State::kIncomplete;
  size_t length = 0;        // kComplete: bytes of head and body; later bytes are ignored
  std::string_view status;  // kRejected: the status to answer with
};

// Looks at the bytes received so far on one connection. Rejects a head with
// a bare LF, a NUL byte, folded header lines, white space before a colon, an
// empty request line, too many or too long lines; any Transfer-Encoding; a
// Content-Length that is not a plain decimal number or that differs between
// two headers; a POST without Content-Length; and a request longer than kMaxRequestBytes (decided from the
// Content-Length before the body is read).
RequestFrame FrameRequest(std::string_view received);

// Headers in arrival order. A later header of the same name (compared
// without regard to case) replaces the value of the earlier one in place.
// Values are kept as sent after the colon, leading blank included.
class HeaderList {
 public:
  void Set(std::string_view name, std::string_view value);
  // The value of `name` (case ignored), or nullptr.
  const std::string* Find(std::string_view name) const;
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

// One parsed request.
struct HttpRequest {
  std::string method;        // as sent; callers compare it upper-cased
  std::string target;        // the request target without its query string, not decoded
  std::string version;       // protocol text after the target, trimmed
  std::string query_string;  // raw text after the first "?" (not decoded)
  std::string path;          // `target` percent-decoded once (PercentDecode)
  HeaderList headers;
  // The body lines (the body cut at "\r\n"), each non-empty one followed by
  // "&": the body a=1&b=2 gives "a=1&b=2&". The whole body is kept, however
  // long its last line.
  std::string form_data;
};

// Parses a request that FrameRequest found complete (`request` is exactly
// its `length` bytes; anything else is parsed as far as it goes). Never fails:
// missing parts are left empty.
HttpRequest ParseRequest(std::string_view request);

// Percent-decoding of request targets and form values: "%" and two
// hexadecimal digits become that byte, "+" becomes a blank, one pass left to
// right (so "%2B" stays "+"). A "%" with fewer than two characters after it
// ends the decoding; a "%" followed by anything else is copied.
std::string PercentDecode(std::string_view text);

// The endpoints of one accepted connection, IPv4 in dotted form.
struct ConnectionInfo {
  std::string local_address;
  uint16_t local_port = 0;
  std::string peer_address;
  uint16_t peer_port = 0;
};

}  // namespace lun

#endif  // LUN_WEB_HTTP_REQUEST_H_
