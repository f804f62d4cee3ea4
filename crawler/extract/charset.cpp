#include "crawler/extract/charset.h"

#include <uchardet/uchardet.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <memory>

#include "platform/text.h"

namespace lun {
namespace {

// Detection looks at the head of the file only: enough for uchardet to be
// sure, and bounded in time for a 20 MiB file.
constexpr size_t kDetectBytes = 64 * 1024;

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
    i += len;
  }
  return true;
}

// Share of zero bytes at even and at odd offsets of the head.
void CountZeros(std::string_view head, size_t* even, size_t* odd) {
  *even = *odd = 0;
  for (size_t i = 0; i < head.size(); ++i) {
    if (head[i] == '\0') ++((i & 1) ? *odd : *even);
  }
}

// "UTF-16LE", "UTF-16BE" or empty: ASCII-heavy UTF-16 has a zero in most
// high bytes and almost none in the low ones.
std::string_view GuessUtf16(std::string_view bytes) {
  const std::string_view head = bytes.substr(0, std::min(bytes.size(), kDetectBytes));
  if (head.size() < 4) return {};
  size_t even, odd;
  CountZeros(head, &even, &odd);
  const size_t half = head.size() / 2;
  if (odd * 10 >= half * 4 && even * 20 <= half) return "UTF-16LE";
  if (even * 10 >= half * 4 && odd * 20 <= half) return "UTF-16BE";
  return {};
}

std::string Detect(std::string_view bytes) {
  uchardet_t detector = uchardet_new();
  if (!detector) return {};
  const std::string_view head = bytes.substr(0, std::min(bytes.size(), kDetectBytes));
  std::string name;
  if (uchardet_handle_data(detector, head.data(), head.size()) == 0) {
    uchardet_data_end(detector);
    const char* found = uchardet_get_charset(detector);
    if (found) name = found;
  }
  uchardet_delete(detector);
  return name;
}

}  // namespace

bool DecodeWithCharset(std::string_view bytes, std::string_view charset, std::u16string* out) {
  const std::string name(charset);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, decltype(&ucnv_close)> cnv(ucnv_open(name.c_str(), &status),
                                                         &ucnv_close);
  if (U_FAILURE(status) || !cnv) return false;
  if (bytes.size() > static_cast<size_t>(INT32_MAX / 2 - 2)) return false;
  // No charset makes more than two UTF-16 units of one byte.
  std::u16string text(bytes.size() * 2 + 2, u'\0');
  status = U_ZERO_ERROR;
  const int32_t n = ucnv_toUChars(cnv.get(), text.data(), static_cast<int32_t>(text.size()),
                                  bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return false;
  text.resize(static_cast<size_t>(n));
  *out = std::move(text);
  return true;
}

bool LooksBinary(std::string_view bytes) {
  const std::string_view head = bytes.substr(0, std::min(bytes.size(), kDetectBytes));
  if (head.find('\0') == std::string_view::npos) return false;
  if (head.size() >= 2 &&
      ((head[0] == '\xFF' && head[1] == '\xFE') || (head[0] == '\xFE' && head[1] == '\xFF'))) {
    return false;
  }
  return GuessUtf16(bytes).empty();
}

std::u16string DecodeText(std::string_view bytes, std::string_view declared) {
  std::u16string out;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return ToWide(bytes.substr(3));
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE' &&
      DecodeWithCharset(bytes.substr(2), "UTF-16LE", &out)) {
    return out;
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF' &&
      DecodeWithCharset(bytes.substr(2), "UTF-16BE", &out)) {
    return out;
  }
  if (!declared.empty() && DecodeWithCharset(bytes, declared, &out)) return out;
  if (IsValidUtf8(bytes)) return ToWide(bytes);
  if (const std::string_view utf16 = GuessUtf16(bytes);
      !utf16.empty() && DecodeWithCharset(bytes, utf16, &out)) {
    return out;
  }
  const std::string detected = Detect(bytes);
  if (!detected.empty() && detected != "ASCII" && DecodeWithCharset(bytes, detected, &out)) {
    return out;
  }
  if (DecodeWithCharset(bytes, "GB18030", &out)) return out;
  return ToWide(bytes);
}

std::u16string DecodeUtf8OrGb18030(std::string_view bytes) {
  std::u16string out;
  if (IsValidUtf8(bytes) || !DecodeWithCharset(bytes, "GB18030", &out)) return ToWide(bytes);
  return out;
}

bool LooksLikeGbk(std::string_view bytes, int min_gb2312_pairs) {
  int gb2312_pairs = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) continue;
    if (lead == 0x80 || lead == 0xFF || i + 1 >= bytes.size()) return false;
    const unsigned char trail = static_cast<unsigned char>(bytes[++i]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
    if (lead >= 0xA1 && trail >= 0xA1) ++gb2312_pairs;
  }
  return gb2312_pairs >= min_gb2312_pairs;
}

std::u16string DecodeShortField(std::string_view bytes) {
  std::u16string out;
  if (IsValidUtf8(bytes)) return ToWide(bytes);
  if (LooksLikeGbk(bytes, 1) && DecodeWithCharset(bytes, "GB18030", &out)) return out;
  if (DecodeWithCharset(bytes, "windows-1252", &out)) return out;
  return ToWide(bytes);
}

void ScrubControlCharacters(std::u16string* text) {
  for (char16_t& c : *text) {
    if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r' && c != u'\f') c = u' ';
  }
}

}  // namespace lun
