// Calendar dates and their text forms.
#ifndef LUMBRA_TEXT_DATES_H_
#define LUMBRA_TEXT_DATES_H_

#include <cstdint>
#include <optional>
#include <string>

namespace lumbra {

struct Date {
  int year = 1899;
  int month = 12;
  int day = 30;
  bool operator==(const Date&) const = default;
};

// The date of a year, month and day where a month or day out of range rolls
// over into the next (or previous) month or year: month 13 of 2006 is
// January 2007, day 0 is the last day of the month before, day 32 of January
// is 1 February. Years 0 to 29 mean 2000 to 2029 and 30 to 99 mean 1930 to
// 1999; that happens before months carry, so month 13 of 99 is January 2000.
// Gregorian leap years throughout. Nothing when the result lies outside the
// years 100 to 9999, however large the arguments.
std::optional<Date> MakeDate(int year, int month, int day);

// Days since 30 December 1899 (that day is 0; 1 January 1900 is 2), and
// back, on the Gregorian calendar extended both ways. DaySerial rolls a month
// or day out of range over as MakeDate does. DateFromSerial holds serials to
// about 750 million years either side, so the year always fits.
// 64 bits on every platform (a long has 32 on Windows).
int64_t DaySerial(const Date& d);
Date DateFromSerial(int64_t serial);

// d plus n days.
Date AddDays(const Date& d, int64_t n);

std::string FormatYyyymmdd(const Date& d);  // 20060305
std::string FormatDdMmmYy(const Date& d);   // 05 Mar 06
std::string FormatDdMmYyyy(const Date& d);  // 05/03/2006
std::string FormatYymmdd(const Date& d);    // 060305
std::string FormatHhMmSs(int hour, int minute, int second);  // 09:05:00

}  // namespace lumbra

#endif  // LUMBRA_TEXT_DATES_H_
