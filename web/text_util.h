// Small ASCII helpers shared by the HTTP code of this directory. Internal to
// web/: other subsystems have their own needs and their own helpers.
#ifndef LUN_WEB_TEXT_UTIL_H_
#define LUN_WEB_TEXT_UTIL_H_

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace lun {

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

inline bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

inline std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

// Removes blanks and tabs at both ends (HTTP's optional white space).
inline std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Removes ASCII white space (blank, tab, CR, LF, VT, FF) at both ends.
inline std::string_view TrimSpace(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// Value of one hexadecimal digit, or -1.
inline int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A number of decimal digits only (no sign, no blanks). False for empty text
// or any other character. A value past 64 bits saturates and sets
// `*overflow`, so callers can tell "too large" from "not a number".
inline bool ParseDigits(std::string_view text, uint64_t* value, bool* overflow) {
  *overflow = false;
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (*overflow || v > (UINT64_MAX - digit) / 10) {
      *overflow = true;
      v = UINT64_MAX;
      continue;  // the rest must still be digits
    }
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

// "Sun, 06 Nov 1994 08:49:37": the date form of HTTP and of the server log,
// with English names whatever the process locale (strftime's %a and %b
// follow the locale).
inline std::string DayDateTimeText(const std::tm& tm) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d", kDays[tm.tm_wday % 7],
                tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return text;
}

}  // namespace lun

#endif  // LUN_WEB_TEXT_UTIL_H_
