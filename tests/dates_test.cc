#include "text/dates.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace lumbra {
namespace {

Date D(int year, int month, int day) { return Date{year, month, day}; }

TEST(DaySerial, AnchorsAndEveryDayOfTheSupportedYears) {
  EXPECT_EQ(DaySerial(D(1899, 12, 30)), 0);
  EXPECT_EQ(DaySerial(D(1900, 1, 1)), 2);
  EXPECT_EQ(DaySerial(D(1900, 3, 1)), 61);  // 1900 has no 29 February
  EXPECT_EQ(DaySerial(D(2006, 3, 5)), 38781);
  // Each serial must be the day after the one before by the Gregorian rules.
  const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  Date expected = D(100, 1, 1);
  for (long serial = DaySerial(expected); serial <= 2958465; ++serial) {
    ASSERT_EQ(DateFromSerial(serial), expected) << serial;
    ASSERT_EQ(DaySerial(expected), serial);
    int y = expected.year;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (++expected.day > kDays[expected.month - 1] + (expected.month == 2 && leap)) {
      expected.day = 1;
      if (++expected.month > 12) expected = D(y + 1, 1, 1);
    }
  }
  EXPECT_EQ(expected, D(10000, 1, 1));
  EXPECT_EQ(DaySerial(DateFromSerial(-1000000000)), -1000000000);
  EXPECT_GT(AddDays(D(2006, 3, 5), LONG_MAX).year, 9999);  // clamped, no overflow
}

TEST(MakeDate, RollsOverMonthsThenDaysAndMapsTwoDigitYearsFirst) {
  const int cases[][6] = {
      {2006, 13, 1, 2007, 1, 1},   {2006, 0, 1, 2005, 12, 1},  {2006, -13, 15, 2004, 11, 15},
      {2006, 1, 32, 2006, 2, 1},   {2006, 1, -1, 2005, 12, 30}, {2006, 14, 0, 2007, 1, 31},
      {2004, 3, 0, 2004, 2, 29},   {2006, 3, 0, 2006, 2, 28},  {2000, 2, 29, 2000, 2, 29},
      {1900, 2, 29, 1900, 3, 1},   {2100, 2, 29, 2100, 3, 1},  {6, 3, 5, 2006, 3, 5},
      {29, 13, 1, 2030, 1, 1},     {30, 1, 1, 1930, 1, 1},     {99, 13, 1, 2000, 1, 1},
      {0, 0, 1, 1999, 12, 1},      {100, 1, 1, 100, 1, 1},     {9999, 12, 31, 9999, 12, 31},
      {-9000, 12 * 11006 + 1, 1, 2006, 1, 1}};  // far-off parts that cancel
  for (const auto& c : cases) {
    EXPECT_EQ(MakeDate(c[0], c[1], c[2]), D(c[3], c[4], c[5])) << c[0] << ' ' << c[1] << ' ' << c[2];
  }
}

TEST(MakeDate, NothingOutsideTheYears100To9999) {
  const int cases[][3] = {{9999, 12, 32}, {100, 1, 0},          {-1, 1, 1},
                          {2006, INT_MAX, 1}, {2006, 1, INT_MIN}, {INT_MAX, INT_MAX, INT_MAX},
                          {INT_MIN, INT_MIN, INT_MIN}};
  for (const auto& c : cases) EXPECT_EQ(MakeDate(c[0], c[1], c[2]), std::nullopt) << c[0] << ' ' << c[1];
}

TEST(DateFormats, FixedWidthWithLeadingZeros) {
  EXPECT_EQ(FormatYyyymmdd(D(2006, 3, 5)), "20060305");
  EXPECT_EQ(FormatDdMmmYy(D(2006, 3, 5)), "05 Mar 06");
  EXPECT_EQ(FormatDdMmmYy(D(1999, 12, 31)), "31 Dec 99");
  std::string names;
  for (int m = 1; m <= 12; ++m) names += FormatDdMmmYy(D(2001, m, 1)).substr(3, 3);
  EXPECT_EQ(names, "JanFebMarAprMayJunJulAugSepOctNovDec");
  EXPECT_EQ(FormatDdMmYyyy(D(987, 11, 20)), "20/11/0987");
  EXPECT_EQ(FormatYymmdd(D(2000, 1, 9)), "000109");
  EXPECT_EQ(FormatHhMmSs(9, 5, 0), "09:05:00");
}

}  // namespace
}  // namespace lumbra
