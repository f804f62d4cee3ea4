// The crawl service's wire format, shared by the service (`luncrawl`) and its
// client in the application. One TCP connection to 127.0.0.1:8485; the client
// sends, the service answers, strictly in turn.
//
//   request   the file path, UTF-8 (the system code page), then one 0 byte
//   response  int32 N, little-endian; when N > 0, exactly N bytes of UTF-16LE
//             text without terminator. N <= 0: the file has no text.
//   shutdown  the 5 bytes "Exit" + 0; no response
//
// Worked example: the request for "/a.txt" is the 7 bytes
//   2F 61 2E 74 78 74 00
// and the answer "hi" is
//   04 00 00 00 68 00 69 00
//
// Limits (ours; the byte layout above is fixed): a request path is at most
// kMaxRequestPathBytes bytes, a response at most kMaxReplyBytes bytes of
// text. The service never sends more; the client treats a larger N as a
// broken service, so a hostile or confused peer cannot make it allocate
// gigabytes.
//
// Everything here is pure: no sockets, only bytes in and out.
#ifndef LUN_CRAWLER_EXTRACT_CRAWL_WIRE_FORMAT_H_
#define LUN_CRAWLER_EXTRACT_CRAWL_WIRE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lun {

inline constexpr uint16_t kCrawlServicePort = 8485;
inline constexpr char kCrawlExitRequest[] = "Exit";  // sent with its 0 byte
// The parameter the application passes when it starts the service.
inline constexpr char kCrawlServiceParameter[] = "/vebrast\r\n531962";

inline constexpr size_t kReplyHeaderBytes = 4;
inline constexpr size_t kMaxRequestPathBytes = 65536;
// 4 Mi UTF-16 code units: far above any document's useful text, far below
// what the service's memory limit allows.
inline constexpr int32_t kMaxReplyBytes = 8 * 1024 * 1024;
inline constexpr size_t kServiceTextLimit = kMaxReplyBytes / 2;

// The request bytes for `path` (path + 0 byte).
std::string EncodeRequest(std::string_view path);

// Looks for one complete request at the start of `buffer`.
enum class RequestScan {
  kIncomplete,  // no 0 byte yet, and still within the size limit
  kPath,        // `*path` holds the path, `*consumed` the bytes used
  kExit,        // the shutdown request
  kTooLong,     // no 0 byte within kMaxRequestPathBytes + 1 bytes
};
RequestScan ScanRequest(std::string_view buffer, std::string* path, size_t* consumed);

// Response bytes: the 4-byte length and the UTF-16LE text.
std::string EncodeReply(std::u16string_view text);

// The signed length of a response header (exactly 4 bytes).
int32_t DecodeReplyLength(const unsigned char header[kReplyHeaderBytes]);

// What a client does with a decoded length N.
enum class ReplyCheck { kNoText, kText, kMalformed };
// kNoText for N <= 0; kText for an even N up to `max_bytes`; kMalformed for
// an odd N (half a code unit cannot be UTF-16) or one over the limit.
ReplyCheck CheckReplyLength(int32_t n, int32_t max_bytes = kMaxReplyBytes);

// UTF-16LE bytes to text (an even number of bytes expected; a stray last
// byte is dropped).
std::u16string DecodeUtf16Le(std::string_view bytes);

// The service proves that it is the one this lun started. lun makes a random
// token at each start and hands it to the luncrawl it starts in the
// environment variable kCrawlTokenVariable (never on the command line, which
// every user of the machine can read). After connecting, lun sends the
// request kCrawlHelloPrefix + a fresh random challenge (hexadecimal); the
// service answers an ordinary reply whose text is HelloAnswer(token,
// challenge). The token itself never travels, so a listener that took the
// port learns nothing from the exchange. A service without a token answers
// "no text" (N = 0), as for any file it cannot read.
inline constexpr char kCrawlTokenVariable[] = "LUN_CRAWL_TOKEN";
inline constexpr char kCrawlHelloPrefix[] = "Hello:";

// Hexadecimal HMAC-SHA-256 of `challenge` under `token`.
std::string HelloAnswer(std::string_view token, std::string_view challenge);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_CRAWL_WIRE_FORMAT_H_
