// Dates as automation serial numbers, and their text forms.
//
// A date is a double: the integer part counts days from 1899-12-30 (day 0),
// the fraction is the time of day. For negative serials the fraction still
// counts forward from midnight: -1.25 is 1899-12-29 06:00. Valid dates run
// from 100-01-01 to 9999-12-31.
//
// Text forms are one fixed table (zh-CN): short date "yyyy/M/d", time
// "H:mm:ss", long date "yyyy年M月d日", short time "HH:mm".
#ifndef LUN_AUTOMATION_DATE_TIME_H_
#define LUN_AUTOMATION_DATE_TIME_H_

#include <string>
#include <string_view>

namespace lun {

inline constexpr double kMinDateSerial = -657434.0;        // 100-01-01
inline constexpr double kMaxDateSerialDay = 2958465.0;     // 9999-12-31

struct DateParts {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 0;  // 1 = Sunday .. 7 = Saturday
  int day_of_year = 0;
};

// True when `serial` lies in the valid date range (any time of day on
// 9999-12-31 included).
bool IsValidDateSerial(double serial);

// Splits a serial into its parts, rounded to whole seconds. False when the
// serial is out of range or not finite.
bool SerialToParts(double serial, DateParts* parts);

// Day number (days since 1899-12-30) of a calendar date, with month and
// day overflow rolling over (month 13 is January of the next year, day 0 is
// the last day of the previous month). No range check.
long long DaysFromDate(long long year, long long month, long long day);

// Serial of a date and a time of day given as a day number and a fraction
// in [0, 1): handles the forward-counting fraction of negative days.
double CombineDayAndTime(long long day_number, double time_fraction);

// CStr form of a date: the date only when the time is 0, the time only when
// the day is 1899-12-30, else both separated by a blank.
std::u16string FormatDateGeneral(double serial);
std::u16string FormatShortDate(double serial);   // 2003/1/31
std::u16string FormatLongDate(double serial);    // 2003年1月31日
std::u16string FormatLongTime(double serial);    // 21:05:07
std::u16string FormatShortTime(double serial);   // 21:05

// Parses the accepted date strings: yyyy-M-d, yyyy/M/d, M/d/yyyy, M/d/yy,
// each optionally followed by a time; a time alone (H:mm, H:mm:ss, with an
// optional AM/PM); English month names ("31 Jan 2003", "January 31, 2003").
// Blanks around are allowed. Two-digit years 0-29 are 2000-2029, 30-99 are
// 1930-1999. False for anything else or an invalid date.
bool ParseDateText(std::u16string_view text, double* serial);

// Two-digit year rule for DateSerial and parsing.
inline int ExpandTwoDigitYear(int year) {
  if (year >= 0 && year <= 29) return year + 2000;
  if (year >= 30 && year <= 99) return year + 1900;
  return year;
}

}  // namespace lun

#endif  // LUN_AUTOMATION_DATE_TIME_H_
