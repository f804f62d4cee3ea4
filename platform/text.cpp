#include "platform/text.h"

#include <cstdint>

namespace lun {
namespace {

// Length of the UTF-8 sequence that starts with `lead`, or 0 when `lead`
// cannot start one.
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::u16string ToWide(std::string_view narrow) {
  std::u16string out;
  out.reserve(narrow.size());
  size_t i = 0;
  while (i < narrow.size()) {
    const auto lead = static_cast<unsigned char>(narrow[i]);
    const int len = SequenceLength(lead);
    if (len == 1) {
      out.push_back(lead);
      ++i;
      continue;
    }
    // Decode as far as the bytes are valid; on the first bad byte, one
    // replacement character stands for what was consumed (the maximal
    // subpart rule), and decoding restarts at the bad byte.
    char32_t cp = len == 2 ? (lead & 0x1F) : len == 3 ? (lead & 0x0F) : (lead & 0x07);
    int taken = 1;
    bool ok = len != 0;
    while (ok && taken < len) {
      if (i + taken >= narrow.size()) {
        ok = false;
        break;
      }
      const auto b = static_cast<unsigned char>(narrow[i + taken]);
      unsigned char lo = 0x80, hi = 0xBF;
      if (taken == 1) {  // second byte limits exclude overlongs and surrogates
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
      }
      if (b < lo || b > hi) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
      ++taken;
    }
    if (ok) {
      AppendCodePoint(out, cp);
    } else {
      out.push_back(kReplacementChar);
    }
    i += taken;
  }
  return out;
}

std::string ToNarrow(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size() * 3);
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, kReplacementChar);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace lun
