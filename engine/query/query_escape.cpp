#include "engine/query/query_escape.h"

#include <cstdio>

namespace lun {
namespace {

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

std::string EscapeQueryText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (kReservedQueryChars.find(c) == std::string_view::npos) {
      out.push_back(c);
      continue;
    }
    char escape[9];
    std::snprintf(escape, sizeof(escape), "%%0x00%02X%%", static_cast<unsigned char>(c));
    out += escape;
  }
  return out;
}

std::u16string DecodeQueryEscapes(std::u16string_view term) {
  constexpr size_t kEscapeLength = 8;  // "%0x" + 4 hex digits + "%"
  std::u16string out;
  out.reserve(term.size());
  size_t i = 0;
  while (i < term.size()) {
    if (term[i] == u'%' && i + kEscapeLength <= term.size() && term[i + 1] == u'0' &&
        (term[i + 2] == u'x' || term[i + 2] == u'X') && term[i + 7] == u'%') {
      int value = 0;
      bool hex = true;
      for (size_t k = 3; k < 7 && hex; ++k) {
        const int digit = HexValue(term[i + k]);
        hex = digit >= 0;
        value = value * 16 + digit;
      }
      if (hex) {
        out.push_back(static_cast<char16_t>(value));
        i += kEscapeLength;
        continue;
      }
    }
    out.push_back(term[i++]);
  }
  return out;
}

}  // namespace lun
