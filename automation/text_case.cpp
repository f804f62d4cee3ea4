#include "automation/text_case.h"

#include <unicode/uchar.h>

namespace lun {

namespace {

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

template <typename F>
std::u16string MapUnits(std::u16string_view s, F f) {
  std::u16string out(s);
  for (auto& c : out) {
    if (c < 0x80) {
      c = f(c);
      continue;
    }
    if (IsSurrogate(c)) continue;
    UChar32 m = f(c);
    // Only mappings that stay inside the BMP keep one unit per unit.
    if (m >= 0 && m <= 0xFFFF && !IsSurrogate(static_cast<char16_t>(m))) {
      c = static_cast<char16_t>(m);
    }
  }
  return out;
}

}  // namespace

char16_t FoldCaseUnit(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? c + 32 : c;
  if (IsSurrogate(c)) return c;
  UChar32 m = u_foldCase(c, U_FOLD_CASE_DEFAULT);
  return (m >= 0 && m <= 0xFFFF) ? static_cast<char16_t>(m) : c;
}

std::u16string FoldCase(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = FoldCaseUnit(c);
  return out;
}

std::u16string ToUpperText(std::u16string_view s) {
  return MapUnits(s, [](char16_t c) -> UChar32 {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? c - 32 : c;
    return u_toupper(c);
  });
}

std::u16string ToLowerText(std::u16string_view s) {
  return MapUnits(s, [](char16_t c) -> UChar32 {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? c + 32 : c;
    return u_tolower(c);
  });
}

int CompareText(std::u16string_view a, std::u16string_view b, bool text_mode) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = text_mode ? FoldCaseUnit(a[i]) : a[i];
    char16_t y = text_mode ? FoldCaseUnit(b[i]) : b[i];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace lun
