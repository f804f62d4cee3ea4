#include "automation/date_time.h"

#include <cmath>
#include <string>
#include <vector>

namespace lun {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil), valid for any year.
long long DaysFromCivil(long long y, long long m, long long d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int* year, int* month, int* day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = yoe + era * 400;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp + (mp < 10 ? 3 : -9);
  *year = static_cast<int>(y + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

const long long kEpochOffset = DaysFromCivil(1899, 12, 30);

std::u16string Ascii(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

}  // namespace

bool IsValidDateSerial(double serial) {
  return std::isfinite(serial) && serial > kMinDateSerial - 1 &&
         serial < kMaxDateSerialDay + 1;
}

long long DaysFromDate(long long year, long long month, long long day) {
  // Month overflow: month 13 is January of the next year, month 0 is
  // December of the previous one.
  long long m0 = month - 1;
  long long y = year + (m0 >= 0 ? m0 / 12 : (m0 - 11) / 12);
  long long m = ((m0 % 12) + 12) % 12 + 1;
  return DaysFromCivil(y, m, 1) - kEpochOffset + (day - 1);
}

double CombineDayAndTime(long long day_number, double time_fraction) {
  // The fraction always counts forward from midnight, so a negative day
  // subtracts it from the (negative) integer part.
  return day_number < 0 ? static_cast<double>(day_number) - time_fraction
                        : static_cast<double>(day_number) + time_fraction;
}

bool SerialToParts(double serial, DateParts* p) {
  if (!IsValidDateSerial(serial)) return false;
  double day_part = std::trunc(serial);
  double frac = std::fabs(serial - day_part);
  long long day = static_cast<long long>(day_part);
  long long seconds = std::llround(frac * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += 1;
  }
  CivilFromDays(day + kEpochOffset, &p->year, &p->month, &p->day);
  p->hour = static_cast<int>(seconds / 3600);
  p->minute = static_cast<int>(seconds / 60 % 60);
  p->second = static_cast<int>(seconds % 60);
  // 1899-12-30 was a Saturday (7).
  long long wd = ((day % 7) + 7 + 6) % 7;  // 0 = Sunday
  p->weekday = static_cast<int>(wd) + 1;
  p->day_of_year = static_cast<int>(day + kEpochOffset -
                                    DaysFromCivil(p->year, 1, 1) + 1);
  return true;
}

std::u16string FormatShortDate(double serial) {
  DateParts p;
  if (!SerialToParts(serial, &p)) return u"";
  return Ascii(std::to_string(p.year) + "/" + std::to_string(p.month) + "/" +
               std::to_string(p.day));
}

std::u16string FormatLongDate(double serial) {
  DateParts p;
  if (!SerialToParts(serial, &p)) return u"";
  return Ascii(std::to_string(p.year)) + u"年" + Ascii(std::to_string(p.month)) +
         u"月" + Ascii(std::to_string(p.day)) + u"日";
}

std::u16string FormatLongTime(double serial) {
  DateParts p;
  if (!SerialToParts(serial, &p)) return u"";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d", p.hour, p.minute, p.second);
  return Ascii(buf);
}

std::u16string FormatShortTime(double serial) {
  DateParts p;
  if (!SerialToParts(serial, &p)) return u"";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d", p.hour, p.minute);
  return Ascii(buf);
}

std::u16string FormatDateGeneral(double serial) {
  DateParts p;
  if (!SerialToParts(serial, &p)) return u"";
  bool no_time = p.hour == 0 && p.minute == 0 && p.second == 0;
  bool no_date = p.year == 1899 && p.month == 12 && p.day == 30;
  // Day zero shows as a time, midnight included: CDate(0) is "0:00:00".
  if (no_date) return FormatLongTime(serial);
  if (no_time) return FormatShortDate(serial);
  return FormatShortDate(serial) + u" " + FormatLongTime(serial);
}

// ---------------------------------------------------------------- parsing

namespace {

struct Token {
  enum Kind { kNumber, kWord, kSep } kind;
  long long number = 0;
  int digits = 0;
  std::u16string text;  // lower-cased word, or the separator character
};

const char* const kMonthNames[12] = {"january", "february", "march",
                                     "april",   "may",      "june",
                                     "july",    "august",   "september",
                                     "october", "november", "december"};

int MonthFromWord(const std::u16string& w) {
  if (w.size() < 3) return 0;
  for (int i = 0; i < 12; ++i) {
    std::string name = kMonthNames[i];
    if (w.size() > name.size()) continue;
    bool match = true;
    for (std::size_t k = 0; k < w.size(); ++k) {
      if (w[k] != static_cast<char16_t>(name[k])) {
        match = false;
        break;
      }
    }
    if (match) return i + 1;
  }
  return 0;
}

bool Tokenize(std::u16string_view s, std::vector<Token>* out) {
  std::size_t i = 0;
  while (i < s.size()) {
    char16_t c = s[i];
    if (c == u' ' || c == u'\t') {
      ++i;
      continue;
    }
    if (c >= u'0' && c <= u'9') {
      Token t{Token::kNumber, 0, 0, {}};
      while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
        if (t.digits < 9) t.number = t.number * 10 + (s[i] - u'0');
        ++t.digits;
        ++i;
      }
      if (t.digits > 9) return false;
      out->push_back(t);
    } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
      Token t{Token::kWord, 0, 0, {}};
      while (i < s.size() && ((s[i] >= u'a' && s[i] <= u'z') ||
                              (s[i] >= u'A' && s[i] <= u'Z'))) {
        char16_t ch = s[i];
        if (ch >= u'A' && ch <= u'Z') ch = ch - u'A' + u'a';
        t.text.push_back(ch);
        ++i;
      }
      out->push_back(t);
    } else if (c == u'/' || c == u'-' || c == u':' || c == u',' || c == u'.') {
      Token t{Token::kSep, 0, 0, {}};
      t.text.push_back(c);
      out->push_back(t);
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

bool ValidDate(long long y, long long m, long long d) {
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d > kDays[m - 1]) return false;
  if (m == 2 && d == 29) {
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (!leap) return false;
  }
  return true;
}

// Parses a time starting at tokens[i]: H:mm[:ss] [AM|PM]. Consumes to the
// end; false if anything is left over.
bool ParseTime(const std::vector<Token>& t, std::size_t i, double* fraction) {
  auto is_num = [&](std::size_t k) {
    return k < t.size() && t[k].kind == Token::kNumber;
  };
  auto is_sep = [&](std::size_t k, char16_t c) {
    return k < t.size() && t[k].kind == Token::kSep && t[k].text[0] == c;
  };
  if (!is_num(i) || !is_sep(i + 1, u':') || !is_num(i + 2)) return false;
  long long h = t[i].number, m = t[i + 2].number, s = 0;
  i += 3;
  if (is_sep(i, u':')) {
    if (!is_num(i + 1)) return false;
    s = t[i + 1].number;
    i += 2;
  }
  if (i < t.size() && t[i].kind == Token::kWord &&
      (t[i].text == u"am" || t[i].text == u"pm")) {
    if (h < 1 || h > 12) return false;
    bool pm = t[i].text == u"pm";
    if (h == 12) h = 0;
    if (pm) h += 12;
    ++i;
  }
  if (i != t.size()) return false;
  if (h > 23 || m > 59 || s > 59) return false;
  *fraction = static_cast<double>(h * 3600 + m * 60 + s) / 86400.0;
  return true;
}

}  // namespace

bool ParseDateText(std::u16string_view text, double* serial) {
  std::vector<Token> t;
  if (!Tokenize(text, &t) || t.empty()) return false;
  auto is_num = [&](std::size_t k) {
    return k < t.size() && t[k].kind == Token::kNumber;
  };
  auto is_sep = [&](std::size_t k, char16_t c) {
    return k < t.size() && t[k].kind == Token::kSep && t[k].text[0] == c;
  };
  double fraction = 0;
  // A time alone.
  if (is_num(0) && is_sep(1, u':')) {
    if (!ParseTime(t, 0, &fraction)) return false;
    *serial = fraction;
    return true;
  }
  long long y = 0, m = 0, d = 0;
  std::size_t next = 0;
  if (is_num(0) && (is_sep(1, u'-') || is_sep(1, u'/')) && is_num(2) &&
      is_sep(3, t[1].text[0]) && is_num(4)) {
    if (t[0].digits >= 3) {  // yyyy-M-d, yyyy/M/d
      y = t[0].number;
      m = t[2].number;
      d = t[4].number;
    } else {  // M/d/yyyy, M/d/yy
      m = t[0].number;
      d = t[2].number;
      y = t[4].number;
      if (t[4].digits <= 2) y = ExpandTwoDigitYear(static_cast<int>(y));
    }
    next = 5;
  } else if (is_num(0) && t.size() >= 3 && t[1].kind == Token::kWord &&
             MonthFromWord(t[1].text) && is_num(2)) {  // 31 Jan 2003
    d = t[0].number;
    m = MonthFromWord(t[1].text);
    y = t[2].number;
    if (t[2].digits <= 2) y = ExpandTwoDigitYear(static_cast<int>(y));
    next = 3;
  } else if (t[0].kind == Token::kWord && MonthFromWord(t[0].text) &&
             is_num(1)) {  // January 31, 2003
    m = MonthFromWord(t[0].text);
    d = t[1].number;
    std::size_t k = 2;
    if (is_sep(k, u',')) ++k;
    if (!is_num(k)) return false;
    y = t[k].number;
    if (t[k].digits <= 2) y = ExpandTwoDigitYear(static_cast<int>(y));
    next = k + 1;
  } else {
    return false;
  }
  if (!ValidDate(y, m, d)) return false;
  if (next < t.size()) {
    if (!ParseTime(t, next, &fraction)) return false;
  }
  *serial = CombineDayAndTime(DaysFromDate(y, m, d), fraction);
  return true;
}

}  // namespace lun
