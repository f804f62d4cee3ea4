#include "pages/page_encoding.h"

namespace lun {
namespace {

bool NeedsEscape(unsigned char c) {
  constexpr std::string_view kReserved = "\"#$%&+,;<=>?@[\\]^`{|}";
  return c < 0x20 || c > 0x7E || kReserved.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == ' ') {
      out.push_back('+');
    } else if (NeedsEscape(c)) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

std::string HtmlEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

bool IsHttpToken(std::string_view text) {
  constexpr std::string_view kSeparators = "()<>@,;:\\\"/[]?={}";
  if (text.empty()) return false;
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || kSeparators.find(ch) != std::string_view::npos) return false;
  }
  return true;
}

}  // namespace lun
