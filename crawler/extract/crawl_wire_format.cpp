#include "crawler/extract/crawl_wire_format.h"

#include <cstring>

#include "platform/coding.h"
#include "platform/crypto.h"

namespace lun {

std::string EncodeRequest(std::string_view path) {
  std::string out(path);
  out.push_back('\0');
  return out;
}

RequestScan ScanRequest(std::string_view buffer, std::string* path, size_t* consumed) {
  const size_t nul = buffer.find('\0');
  if (nul == std::string_view::npos) {
    return buffer.size() > kMaxRequestPathBytes ? RequestScan::kTooLong
                                                : RequestScan::kIncomplete;
  }
  if (nul > kMaxRequestPathBytes) return RequestScan::kTooLong;
  *consumed = nul + 1;
  const std::string_view text = buffer.substr(0, nul);
  if (text == kCrawlExitRequest) return RequestScan::kExit;
  path->assign(text);
  return RequestScan::kPath;
}

std::string EncodeReply(std::u16string_view text) {
  const uint32_t n = static_cast<uint32_t>(text.size() * 2);
  std::string out;
  out.reserve(kReplyHeaderBytes + n);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

int32_t DecodeReplyLength(const unsigned char header[kReplyHeaderBytes]) {
  const uint32_t n = DecodeFixed32(header);
  int32_t value;
  std::memcpy(&value, &n, sizeof value);
  return value;
}

ReplyCheck CheckReplyLength(int32_t n, int32_t max_bytes) {
  if (n <= 0) return ReplyCheck::kNoText;
  if (n > max_bytes || (n & 1) != 0) return ReplyCheck::kMalformed;
  return ReplyCheck::kText;
}

std::u16string DecodeUtf16Le(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return out;
}

std::string HelloAnswer(std::string_view token, std::string_view challenge) {
  return HexText(HmacSha256(token, challenge));
}

}  // namespace lun
