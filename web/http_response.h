// HTTP/1.0 response heads: every status line and header this server writes
// comes from here, so the texts and their order live in one place.
//
// Pure functions: they format what they are given (times are passed in) and
// touch neither sockets nor files.
#ifndef LUN_WEB_HTTP_RESPONSE_H_
#define LUN_WEB_HTTP_RESPONSE_H_

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

// "Server: LUN Web服务器\r\n", the second line of every response but a redirect.
inline constexpr std::string_view kServerHeaderLine = "Server: LUN Web\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8\r\n";

// RFC 1123 date in GMT, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::time_t when);

// The only error response of the server: status line, Server, "Content-Length:
// 0", any `extra_headers` (complete lines ending in "\r\n"), Date, blank line.
std::string ErrorResponse(std::string_view status, std::time_t now,
                          std::string_view extra_headers = {});

// The content type for a file extension with its leading dot, compared without
// regard to case; empty when the extension is not in the table.
std::string_view MimeTypeForExtension(std::string_view extension);
// The number of rows of the table.
size_t MimeTableSize();
// The extension of a file name as path splitting gives it: from the last "."
// of the last component, dot included; empty when there is none.
std::string_view FileExtension(std::string_view path);
// "Content-Type: <type>\r\n", or "Content-Type: 未知\r\n" for an unknown extension.
std::string ContentTypeLine(std::string_view extension);

// What a "Range" header asks of a file of a given size.
struct RangeDecision {
  enum class Kind {
    kWhole,          // no usable range: the whole file, "200 OK"
    kPartial,        // "206 Partial Content" with first/count
    kEndBeyondFile,  // a last byte at or past the end: "404 Not Found"
    kUnsatisfiable,  // a first byte past the end, or a zero suffix: 416
  };
  Kind kind = Kind::kWhole;
  uint64_t first = 0;  // first byte to send
  uint64_t count = 0;  // bytes to send (the file size for kWhole)
};

// Decides the range of `range_header` (nullptr when the request has none) for
// a file of `size` bytes. Forms: "bytes=A-" (A onwards), "bytes=A-B" (B
// included), "bytes=-N" (the last N bytes). A header with another unit, no
// "=", no "-", several ranges, non-digits, or A after B is ignored (whole
// file). A range that covers the whole file is kWhole. Never overflows.
RangeDecision ResolveRange(const std::string* range_header, uint64_t size);

// The "Content-Disposition: attachment" line (with CR LF) for a file named
// `file_name` (UTF-8): a quoted ASCII fallback name, in which control
// characters, non-ASCII bytes, '"' and '\\' are "_" (so that a hostile name
// can neither add header lines nor end the quoted string), and the exact
// name in RFC 5987 form (filename*=UTF-8''...).
std::string ContentDispositionLine(std::string_view file_name);

// The head of a static file response: status ("200 OK" or "206 Partial
// Content"), Server, Content-Type (from `file_name`'s extension),
// ContentDispositionLine(file_name), Content-Length (with Content-Range
// before it for a part), Last-Modified, blank line.
std::string FileHead(std::string_view file_name, uint64_t file_size, const RangeDecision& range,
                     std::time_t last_modified);

// The head of a body held in memory: "200 OK", Server, the Content-Type of
// `extension`, Content-Length, blank line.
std::string MemoryHead(std::string_view extension, uint64_t length);

// What a page run produced, as the page objects hand it over.
struct PageOutput {
  // Response headers by name; a name set twice keeps the last value. Written
  // in ascending byte order of the names.
  std::map<std::string, std::string> headers;
  // The texts of the "Set-Cookie" lines, in order, without "Set-Cookie: ".
  std::vector<std::string> cookies;
  std::string body;
  std::string redirect;  // not empty: answer "302 Object Moved" to this URL
};

// The whole response of a page: with a redirect, "302 Object Moved", Location,
// "Content-Length: 0" and no body; otherwise "200 OK", Server, every header
// (Content-Length added from the body), the cookie lines, blank line and the
// body (left out when `head_only`). CR and LF inside names, values, cookies
// and the redirect URL are dropped, so page data cannot split the head.
std::string PageResponseText(const PageOutput& page, bool head_only);

}  // namespace lun

#endif  // LUN_WEB_HTTP_RESPONSE_H_
