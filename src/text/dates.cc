#include "text/dates.h"

#include <cstdio>

namespace lumbra {

namespace {

// Serials are worked out on the proleptic Gregorian calendar in 64 bits, so
// any int year, month and day can be combined without overflow.
using Days = int64_t;

// Days from 30 December 1899 to 1 January 100 and to 31 December 9999.
constexpr Days kFirstSerial = -657434;
constexpr Days kLastSerial = 2958465;

// DateFromSerial keeps its years within int range by clamping serials to
// about 750 million years either way.
constexpr Days kSerialLimit = Days{1} << 38;

Days FloorDiv(Days a, Days b) { return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0); }

// The serial of a year, month and day; a month outside 1..12 carries into
// the year and a day outside the month carries into the months around it.
Days SerialOf(Days year, Days month, Days day) {
  Days month_index = month - 1;
  year += FloorDiv(month_index, 12);
  month = month_index - FloorDiv(month_index, 12) * 12 + 1;

  // Count years from March, so a leap day ends its year.
  Days y = month <= 2 ? year - 1 : year;
  Days era = FloorDiv(y, 400);
  Days year_of_era = y - era * 400;
  Days day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
  Days day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  // 0000-03-01 is 693899 days before 1899-12-30.
  return era * 146097 + day_of_era - 693899 + (day - 1);
}

const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int TwoDigits(int year) {
  int r = year % 100;
  return r < 0 ? r + 100 : r;
}

}  // namespace

std::optional<Date> MakeDate(int year, int month, int day) {
  Days full_year = year;
  if (year >= 0 && year <= 29) {
    full_year += 2000;
  } else if (year >= 30 && year <= 99) {
    full_year += 1900;
  }
  Days serial = SerialOf(full_year, month, day);
  if (serial < kFirstSerial || serial > kLastSerial) return std::nullopt;
  return DateFromSerial(serial);
}

int64_t DaySerial(const Date& d) { return SerialOf(d.year, d.month, d.day); }

Date DateFromSerial(int64_t serial) {
  Days z = serial;
  if (z > kSerialLimit) z = kSerialLimit;
  if (z < -kSerialLimit) z = -kSerialLimit;
  z += 693899;  // days since 0000-03-01
  Days era = FloorDiv(z, 146097);
  Days day_of_era = z - era * 146097;
  Days year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  Days day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  Days shifted_month = (5 * day_of_year + 2) / 153;  // 0 is March
  Date d;
  d.day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  d.month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  d.year = static_cast<int>(year_of_era + era * 400 + (d.month <= 2 ? 1 : 0));
  return d;
}

Date AddDays(const Date& d, int64_t n) {
  Days serial = SerialOf(d.year, d.month, d.day);
  // Clamp before adding so a huge n cannot overflow.
  if (n > kSerialLimit) n = kSerialLimit;
  if (n < -kSerialLimit) n = -kSerialLimit;
  return DateFromSerial(serial + n);
}

std::string FormatYyyymmdd(const Date& d) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year, d.month, d.day);
  return buf;
}

std::string FormatDdMmmYy(const Date& d) {
  const char* name = d.month >= 1 && d.month <= 12 ? kMonthNames[d.month - 1] : "???";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d %s %02d", d.day, name, TwoDigits(d.year));
  return buf;
}

std::string FormatDdMmYyyy(const Date& d) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.day, d.month, d.year);
  return buf;
}

std::string FormatYymmdd(const Date& d) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", TwoDigits(d.year), d.month, d.day);
  return buf;
}

std::string FormatHhMmSs(int hour, int minute, int second) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hour, minute, second);
  return buf;
}

}  // namespace lumbra
