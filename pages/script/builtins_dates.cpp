#include <chrono>
#include <cmath>
#include <ctime>
#include <string>

#include "automation/date_time.h"
#include "pages/script/builtin_library.h"
#include "pages/script/lexer.h"
#include "pages/script/runtime.h"
#include "pages/script/script_errors.h"

namespace lun::script {

double LocalNowSerial(bool with_fraction_seconds) {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  double secs = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec;
  if (with_fraction_seconds) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    secs += static_cast<double>(ms) / 1000.0;
  }
  return static_cast<double>(DaysFromDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday)) +
         secs / 86400.0;
}

namespace {

using namespace lib;  // NOLINT: the shared argument helpers

// ---------------------------------------------------------------- dates

Variant FnNow(BuiltinHost&, Args) { return Variant::Date(LocalNowSerial(false)); }
Variant FnDate(BuiltinHost&, Args) { return Variant::Date(std::floor(LocalNowSerial(false))); }
Variant FnTime(BuiltinHost&, Args) {
  double s = LocalNowSerial(false);
  return Variant::Date(s - std::floor(s));
}
Variant FnTimer(BuiltinHost&, Args) {
  double s = LocalNowSerial(true);
  double secs = (s - std::floor(s)) * 86400.0;
  return Variant::R4(static_cast<float>(std::floor(secs * 100 + 0.5) / 100));
}

DateParts PartsOf(const Variant& v) {
  double serial = ToDate(v);
  DateParts p;
  if (!SerialToParts(serial, &p)) Throw(kErrOverflow);
  return p;
}

template <int DateParts::*Field>
Variant DatePartFn(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  return Int(PartsOf(v).*Field);
}

int FirstDayArg(Args a, std::size_t i) {
  std::int64_t f = LongArg(a, i, 1);
  if (f == 0) f = 1;  // vbUseSystemDayOfWeek: Sunday
  if (f < 1 || f > 7) Throw(kErrInvalidCall);
  return static_cast<int>(f);
}

int WeekdayFrom(int sunday_based, int first_day) { return (sunday_based - first_day + 7) % 7 + 1; }

Variant FnWeekday(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  int fdow = FirstDayArg(a, 1);
  if (v.is_null()) return v;
  return Int(WeekdayFrom(PartsOf(v).weekday, fdow));
}

double CheckedDate(double serial) {
  if (!IsValidDateSerial(serial)) Throw(kErrInvalidCall);
  return serial;
}

// Continuous time: days plus the forward-counting fraction.
double Continuous(double serial) {
  double day = std::trunc(serial);
  return day + std::fabs(serial - day);
}
double FromContinuous(double t) {
  double day = std::floor(t);
  return CombineDayAndTime(static_cast<long long>(day), t - day);
}

std::int64_t NullCheckedLong(Args a, std::size_t i) {
  Variant v = Val(a, i);
  if (v.is_null()) Throw(kErrInvalidNull);
  return ToLong(v);
}

Variant FnDateSerial(BuiltinHost&, Args a) {
  std::int64_t y = NullCheckedLong(a, 0), m = NullCheckedLong(a, 1), d = NullCheckedLong(a, 2);
  if (y >= 0 && y <= 99) y = ExpandTwoDigitYear(static_cast<int>(y));
  double serial = static_cast<double>(DaysFromDate(y, m, d));
  return Variant::Date(CheckedDate(serial));
}

Variant FnTimeSerial(BuiltinHost&, Args a) {
  std::int64_t h = NullCheckedLong(a, 0), m = NullCheckedLong(a, 1), s = NullCheckedLong(a, 2);
  double total = static_cast<double>(h * 3600 + m * 60 + s) / 86400.0;
  return Variant::Date(CheckedDate(FromContinuous(total)));
}

Variant FnDateValue(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull);
  return Variant::Date(std::trunc(ToDate(v)));
}

Variant FnTimeValue(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull);
  double s = ToDate(v);
  return Variant::Date(std::fabs(s - std::trunc(s)));
}

enum class Interval {
  kYear,
  kQuarter,
  kMonth,
  kDayOfYear,
  kDay,
  kWeekday,
  kWeek,
  kHour,
  kMinute,
  kSecond
};

Interval IntervalArg(const Variant& v) {
  std::u16string s = FoldName(StrOf(v));
  if (s == u"yyyy") return Interval::kYear;
  if (s == u"q") return Interval::kQuarter;
  if (s == u"m") return Interval::kMonth;
  if (s == u"y") return Interval::kDayOfYear;
  if (s == u"d") return Interval::kDay;
  if (s == u"w") return Interval::kWeekday;
  if (s == u"ww") return Interval::kWeek;
  if (s == u"h") return Interval::kHour;
  if (s == u"n") return Interval::kMinute;
  if (s == u"s") return Interval::kSecond;
  Throw(kErrInvalidCall);
}

int DaysInMonth(int y, int m) {
  return static_cast<int>(DaysFromDate(y, m + 1, 1) - DaysFromDate(y, m, 1));
}

Variant FnDateAdd(BuiltinHost&, Args a) {
  Interval iv = IntervalArg(a[0]);
  Variant nv = Val(a, 1), dv = Val(a, 2);
  if (nv.is_null() || dv.is_null()) Throw(kErrInvalidNull);
  double n = RoundHalfEven(ToDouble(nv));
  if (std::fabs(n) > 1e9) Throw(kErrInvalidCall);
  double serial = ToDate(dv);
  double t = Continuous(serial);
  switch (iv) {
    case Interval::kYear:
    case Interval::kQuarter:
    case Interval::kMonth: {
      DateParts p;
      if (!SerialToParts(serial, &p)) Throw(kErrInvalidCall);
      long long months = static_cast<long long>(n) * (iv == Interval::kYear      ? 12
                                                      : iv == Interval::kQuarter ? 3
                                                                                 : 1);
      long long total = static_cast<long long>(p.year) * 12 + (p.month - 1) + months;
      long long y = total >= 0 ? total / 12 : (total - 11) / 12;
      int m = static_cast<int>(total - y * 12) + 1;
      if (y < 100 || y > 9999) Throw(kErrInvalidCall);
      int d = std::min(p.day, DaysInMonth(static_cast<int>(y), m));
      double frac = t - std::floor(t);
      return Variant::Date(CheckedDate(CombineDayAndTime(DaysFromDate(y, m, d), frac)));
    }
    case Interval::kDayOfYear:
    case Interval::kDay:
    case Interval::kWeekday:
      t += n;
      break;
    case Interval::kWeek:
      t += 7 * n;
      break;
    case Interval::kHour:
      t += n / 24.0;
      break;
    case Interval::kMinute:
      t += n / 1440.0;
      break;
    case Interval::kSecond:
      t += n / 86400.0;
      break;
  }
  return Variant::Date(CheckedDate(FromContinuous(t)));
}

long long FloorDiv(long long a, long long b) {
  long long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

long long Seconds(double serial) { return std::llround(Continuous(serial) * 86400.0); }

Variant FnDateDiff(BuiltinHost&, Args a) {
  Interval iv = IntervalArg(a[0]);
  Variant v1 = Val(a, 1), v2 = Val(a, 2);
  int fdow = FirstDayArg(a, 3);
  if (v1.is_null() || v2.is_null()) Throw(kErrInvalidNull);
  double s1 = ToDate(v1), s2 = ToDate(v2);
  DateParts p1, p2;
  if (!SerialToParts(s1, &p1) || !SerialToParts(s2, &p2)) Throw(kErrInvalidCall);
  long long sec1 = Seconds(s1), sec2 = Seconds(s2);
  long long day1 = FloorDiv(sec1, 86400), day2 = FloorDiv(sec2, 86400);
  long long r = 0;
  switch (iv) {
    case Interval::kYear:
      r = p2.year - p1.year;
      break;
    case Interval::kQuarter:
      r = (p2.year * 4LL + (p2.month - 1) / 3) - (p1.year * 4LL + (p1.month - 1) / 3);
      break;
    case Interval::kMonth:
      r = (p2.year * 12LL + p2.month) - (p1.year * 12LL + p1.month);
      break;
    case Interval::kDayOfYear:
    case Interval::kDay:
      r = day2 - day1;
      break;
    case Interval::kWeekday:
      r = (day2 - day1) / 7;
      break;
    case Interval::kWeek:
      // Week starts (days whose weekday is fdow) in (day1, day2]. Day 0
      // (1899-12-30) is a Saturday, so day d has weekday fdow exactly when
      // d = fdow (mod 7).
      r = FloorDiv(day2 - fdow, 7) - FloorDiv(day1 - fdow, 7);
      break;
    case Interval::kHour:
      r = FloorDiv(sec2, 3600) - FloorDiv(sec1, 3600);
      break;
    case Interval::kMinute:
      r = FloorDiv(sec2, 60) - FloorDiv(sec1, 60);
      break;
    case Interval::kSecond:
      r = sec2 - sec1;
      break;
  }
  if (r < INT32_MIN || r > INT32_MAX) return Variant::R8(static_cast<double>(r));
  return Long(r);
}

// Week number of `p` for first day `fdow` and first-week rule `fwoy`.
int WeekOfYear(const DateParts& p, int fdow, int fwoy) {
  auto week_start_of_year = [&](int year) {
    long long jan1 = DaysFromDate(year, 1, 1);
    DateParts j;
    SerialToParts(static_cast<double>(jan1), &j);
    int offset = WeekdayFrom(j.weekday, fdow) - 1;  // days since week start
    long long start = jan1 - offset;
    if (fwoy == 2 && 7 - offset < 4) start += 7;
    if (fwoy == 3 && offset != 0) start += 7;
    return start;
  };
  long long day = DaysFromDate(p.year, p.month, p.day);
  long long start = week_start_of_year(p.year);
  if (day < start) start = week_start_of_year(p.year - 1);
  return static_cast<int>((day - start) / 7 + 1);
}

Variant FnDatePart(BuiltinHost&, Args a) {
  Interval iv = IntervalArg(a[0]);
  Variant v = Val(a, 1);
  int fdow = FirstDayArg(a, 2);
  std::int64_t fwoy = LongArg(a, 3, 1);
  if (fwoy == 0) fwoy = 1;
  if (fwoy < 1 || fwoy > 3) Throw(kErrInvalidCall);
  if (v.is_null()) Throw(kErrInvalidNull);
  DateParts p = PartsOf(v);
  switch (iv) {
    case Interval::kYear:
      return Int(p.year);
    case Interval::kQuarter:
      return Int((p.month - 1) / 3 + 1);
    case Interval::kMonth:
      return Int(p.month);
    case Interval::kDayOfYear:
      return Int(p.day_of_year);
    case Interval::kDay:
      return Int(p.day);
    case Interval::kWeekday:
      return Int(WeekdayFrom(p.weekday, fdow));
    case Interval::kWeek:
      return Int(WeekOfYear(p, fdow, static_cast<int>(fwoy)));
    case Interval::kHour:
      return Int(p.hour);
    case Interval::kMinute:
      return Int(p.minute);
    case Interval::kSecond:
      return Int(p.second);
  }
  return Variant();
}

Variant FnFormatDateTime(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull);
  double s = ToDate(v);
  std::int64_t f = LongArg(a, 1, 0);
  switch (f) {
    case 0:
      return Str(FormatDateGeneral(s));
    case 1:
      return Str(FormatLongDate(s));
    case 2:
      return Str(FormatShortDate(s));
    case 3:
      return Str(FormatLongTime(s));
    case 4:
      return Str(FormatShortTime(s));
    default:
      Throw(kErrInvalidCall, u"FormatDateTime");
  }
}

constexpr std::u16string_view kMonthNames[12] = {u"一月", u"二月", u"三月",   u"四月",
                                                 u"五月", u"六月", u"七月",   u"八月",
                                                 u"九月", u"十月", u"十一月", u"十二月"};
constexpr std::u16string_view kDayNames[7] = {u"星期日", u"星期一", u"星期二", u"星期三",
                                              u"星期四", u"星期五", u"星期六"};
constexpr std::u16string_view kDayShort[7] = {u"周日", u"周一", u"周二", u"周三",
                                              u"周四", u"周五", u"周六"};

Variant FnMonthName(BuiltinHost&, Args a) {
  std::int64_t m = NullCheckedLong(a, 0);
  if (m < 1 || m > 12) Throw(kErrInvalidCall, u"MonthName");
  return Variant::Bstr(kMonthNames[m - 1]);
}

Variant FnWeekdayName(BuiltinHost&, Args a) {
  std::int64_t w = NullCheckedLong(a, 0);
  bool abbrev = Missing(a, 1) ? false : ToBool(a[1]);
  int fdow = FirstDayArg(a, 2);
  if (w < 1 || w > 7) Throw(kErrInvalidCall, u"WeekdayName");
  int index = static_cast<int>((w - 1 + fdow - 1) % 7);
  return Variant::Bstr(abbrev ? kDayShort[index] : kDayNames[index]);
}

// ------------------------------------------------------------ formatting

// Decimal digits of |x| rounded half away from zero to `decimals` places,
// working on the 15-significant-digit decimal form of x.
std::string RoundDecimal(double x, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(x));
  std::string mant;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p) {
    if (*p != '.') mant.push_back(*p);
  }
  int exp10 = std::atoi(p + 1);
  // Digits as an integer string with `point` digits before the point.
  std::string digits = mant;
  int point = exp10 + 1;
  if (point < 0) {
    digits.insert(0, static_cast<std::size_t>(-point), '0');
    point = 0;
  }
  if (static_cast<int>(digits.size()) < point) digits.append(point - digits.size(), '0');
  int keep = point + decimals;
  if (static_cast<int>(digits.size()) < keep) digits.append(keep - digits.size(), '0');
  bool round_up = keep < static_cast<int>(digits.size()) && digits[keep] >= '5';
  digits.resize(keep);
  if (round_up) {
    int i = keep - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i >= 0) {
      ++digits[i];
    } else {
      digits.insert(digits.begin(), '1');
      ++point;
    }
  }
  std::string int_part = digits.substr(0, point);
  std::string frac = digits.substr(point);
  return int_part + "." + frac;  // int_part may be empty
}

int Tristate(Args a, std::size_t i) {
  std::int64_t v = LongArg(a, i, -2);
  if (v != -1 && v != 0 && v != -2) Throw(kErrInvalidCall);
  return static_cast<int>(v);
}

enum class NumberStyle { kNumber, kPercent, kCurrency };

Variant FormatNumberImpl(Args a, NumberStyle style) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull);
  double x = ToDouble(v);
  std::int64_t digits = LongArg(a, 1, -1);
  if (digits == -1) digits = 2;
  if (digits < 0 || digits > 255) Throw(kErrInvalidCall);
  int leading = Tristate(a, 2);
  int parens = Tristate(a, 3);
  int group = Tristate(a, 4);
  if (style == NumberStyle::kPercent) x *= 100;
  if (!std::isfinite(x)) Throw(kErrOverflow);
  std::string r = RoundDecimal(x, static_cast<int>(digits));
  std::size_t dot = r.find('.');
  std::string int_part = r.substr(0, dot);
  std::string frac = r.substr(dot + 1);
  bool all_zero = r.find_first_not_of("0.") == std::string::npos;
  bool negative = x < 0 && !all_zero;
  if (int_part.empty()) int_part = "0";
  if (group != 0 && int_part.size() > 3) {
    std::string g;
    int n = static_cast<int>(int_part.size());
    for (int i = 0; i < n; ++i) {
      g.push_back(int_part[i]);
      if ((n - i - 1) % 3 == 0 && i != n - 1) g.push_back(',');
    }
    int_part = g;
  }
  if (leading == 0 && int_part == "0") int_part.clear();
  std::string body = int_part;
  if (digits > 0) body += "." + frac;
  if (style == NumberStyle::kPercent) body += "%";
  std::u16string out;
  std::u16string b16(body.begin(), body.end());
  if (style == NumberStyle::kCurrency) b16 = u"¥" + b16;
  if (negative) {
    out = parens == -1 ? u"(" + b16 + u")"
                       : (style == NumberStyle::kCurrency ? u"¥-" + b16.substr(1) : u"-" + b16);
  } else {
    out = b16;
  }
  return Str(std::move(out));
}

Variant FnFormatNumber(BuiltinHost&, Args a) { return FormatNumberImpl(a, NumberStyle::kNumber); }
Variant FnFormatPercent(BuiltinHost&, Args a) { return FormatNumberImpl(a, NumberStyle::kPercent); }
Variant FnFormatCurrency(BuiltinHost&, Args a) {
  return FormatNumberImpl(a, NumberStyle::kCurrency);
}

constexpr Builtin kTable[] = {
    {u"Now", 0, 0, FnNow},
    {u"Date", 0, 0, FnDate},
    {u"Time", 0, 0, FnTime},
    {u"Timer", 0, 0, FnTimer},
    {u"Year", 1, 1, DatePartFn<&DateParts::year>},
    {u"Month", 1, 1, DatePartFn<&DateParts::month>},
    {u"Day", 1, 1, DatePartFn<&DateParts::day>},
    {u"Hour", 1, 1, DatePartFn<&DateParts::hour>},
    {u"Minute", 1, 1, DatePartFn<&DateParts::minute>},
    {u"Second", 1, 1, DatePartFn<&DateParts::second>},
    {u"Weekday", 1, 2, FnWeekday},
    {u"DateSerial", 3, 3, FnDateSerial},
    {u"TimeSerial", 3, 3, FnTimeSerial},
    {u"DateValue", 1, 1, FnDateValue},
    {u"TimeValue", 1, 1, FnTimeValue},
    {u"DateAdd", 3, 3, FnDateAdd},
    {u"DateDiff", 3, 5, FnDateDiff},
    {u"DatePart", 2, 4, FnDatePart},
    {u"FormatDateTime", 1, 2, FnFormatDateTime},
    {u"MonthName", 1, 2, FnMonthName},
    {u"WeekdayName", 1, 3, FnWeekdayName},
    {u"FormatNumber", 1, 5, FnFormatNumber},
    {u"FormatPercent", 1, 5, FnFormatPercent},
    {u"FormatCurrency", 1, 5, FnFormatCurrency},
};

}  // namespace

std::span<const Builtin> DateBuiltins() { return kTable; }

}  // namespace lun::script
