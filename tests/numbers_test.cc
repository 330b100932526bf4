#include "text/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace lumbra {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMaxDouble = std::numeric_limits<double>::max();

TEST(ValueOf, ReadsTheLeadingNumberOnly) {
  const std::pair<const char*, double> cases[] = {
      {"4.50abc", 4.5}, {".5", 0.5}, {"5.", 5},     {"-.5", -0.5}, {"+7", 7},      {"1.2.3", 1.2},
      {"12 34", 12},    {" \t 3", 3}, {"1,5", 1},   {"1e3", 1000}, {"2E-2", 0.02}, {"1.5e+3z", 1500},
      {"3e", 3},        {"3e-x", 3}, {"3ee5", 3},   {"$4.50", 0},  {"", 0},        {"-", 0},
      {".", 0},         {".e5", 0},  {"- 5", 0},    {"--5", 0},    {"\n5", 0},     {"abc", 0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ValueOf(text), value) << '"' << text << '"';
  EXPECT_FALSE(std::signbit(ValueOf("-0.0e5")));
}

TEST(ValueOf, ExtremesClampOrFlushAndLongDigitRunsRoundExactly) {
  const std::string zeros(5000, '0');
  const std::pair<std::string, double> cases[] = {
      {"1e400", kMaxDouble}, {"-2e308", -kMaxDouble}, {"1e99999999999999999999999", kMaxDouble},
      {std::string(400, '9'), kMaxDouble}, {"1e-99999999999999999999999", 0},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
      {"1" + zeros + "e-5000", 1}, {"0." + zeros + "25e5001", 2.5},
      // 2^53 + 1 is a tie between two doubles; a non-zero digit far beyond breaks it.
      {"9007199254740993", 9007199254740992.0}, {"9007199254740993." + zeros + "1", 9007199254740994.0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ValueOf(text), value) << text.substr(0, 40);
}

TEST(ValueOf, AnyByteIsHarmless) {
  for (int b = 0; b < 256; ++b) {
    char c = static_cast<char>(b);
    bool digit = c >= '0' && c <= '9';
    double expected = digit ? 701 + (b - '0') * 10 : c == '.' ? 7.1 : c == 'e' || c == 'E' ? 70 : 7;
    EXPECT_EQ(ValueOf("7" + std::string(1, c) + "1"), expected) << b;
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string text(rng() % 40, '\0');
    for (char& c : text) c = static_cast<char>(rng());
    EXPECT_TRUE(std::isfinite(ValueOf(text)));
  }
}

TEST(SingleText, ShortestFloatFormElseSevenDigitsHalfAwayFromZero) {
  const std::pair<double, const char*> cases[] = {
      {0.1, "0.1"},           {2.675, "2.675"},        {1e7, "10000000"},     {1.5e-5, "0.000015"},
      {-3, "-3"},             {0.1 + 0.2, "0.3"},      {1.0 / 3, "0.3333333"}, {3e20, "300000000000000000000"},
      {12345678, "12345680"}, {16777217, "16777220"},  {10000005, "10000010"}, {-1234566.5, "-1234567"},
      {0, "0"},               {-0.0, "0"},             {-1e-50, "0"},          {kNaN, "0"},
      {-kInf, "0"},           {1e39, "340282300000000000000000000000000000000"}};
  for (const auto& [v, text] : cases) EXPECT_EQ(SingleText(v), text) << v;
  EXPECT_EQ(Single(16777217), 16777216);
  EXPECT_EQ(Single(-1e39), -std::numeric_limits<float>::max());
}

TEST(SingleText, ShortDecimalsComeBackAsWritten) {
  for (int k = -20000; k <= 20000; k += 7) {
    std::string text = (k < 0 ? "-" : "") + std::to_string(std::abs(k) / 1000) + "." +
                       std::to_string(std::abs(k) % 1000 + 1000).substr(1);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    EXPECT_EQ(SingleText(ValueOf(text)), text);
  }
}

TEST(DoubleText, FifteenDigitsAtMost) {
  const std::pair<double, std::string> cases[] = {
      {0.1 + 0.2, "0.3"}, {-2.0 / 3, "-0.666666666666667"}, {16777217, "16777217"},
      {123456789012345678.0, "123456789012346000"}, {1.5e-5, "0.000015"}, {kInf, "0"},
      {std::numeric_limits<double>::denorm_min(), "0." + std::string(323, '0') + "5"}};
  for (const auto& [v, text] : cases) EXPECT_EQ(DoubleText(v), text) << v;
}

TEST(MoneyText, HalfCentsRoundAwayFromZeroOnTheExactValue) {
  const std::pair<double, const char*> cases[] = {
      {12.5, "$12.50"},  {0, "$0.00"},      {-3, "-$3.00"},        {9.999, "$10.00"},
      {1e15, "$1000000000000000.00"},       {-0.001, "$0.00"},     {kNaN, "$0.00"},
      {0.125, "$0.13"},  {-0.125, "-$0.13"}, {2.675, "$2.67"},     {Single(2.675), "$2.67"},
      // Double and single precision fall on opposite sides of the half cent.
      {0.615, "$0.61"},  {Single(0.615), "$0.62"}, {-0.005, "-$0.01"}, {Single(-0.005), "$0.00"}};
  for (const auto& [v, text] : cases) EXPECT_EQ(MoneyText(v), text) << v;
  EXPECT_EQ(TwoDecimalText(-1.115), "-1.11");
  EXPECT_EQ(TwoDecimalText(Single(-1.115)), "-1.12");
}

TEST(RoundHalfEven, TiesOnTheExactValueGoToTheEvenDigit) {
  // 2.675 lies just below the tie and 8.345 just above; at most 10 places.
  const double cases[][3] = {{0.125, 2, 0.12}, {-0.375, 2, -0.38}, {2.5, 0, 2},         {9.5, 0, 10},
                             {2.675, 2, 2.67}, {8.345, 2, 8.35},   {0.1 + 0.2, 1, 0.3}, {1e300, 2, 1e300},
                             {Single(0.615), 2, 0.62},             {0.12345678901234, 25, 0.123456789}};
  for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c[0], static_cast<int>(c[1])), c[2]) << c[0];
  EXPECT_FALSE(std::signbit(RoundHalfEven(-0.004, 2)));
}

TEST(ToInt16, NearestHalfToEvenWithinSixteenBits) {
  const std::pair<double, std::optional<int>> cases[] = {
      {2.5, 2},        {3.5, 4},         {-2.5, -2},           {-0.5, 0},           {2.5000001, 3},
      {32767.4, 32767}, {32767.5, std::nullopt}, {-32768.5, -32768}, {-32768.6, std::nullopt},
      {kNaN, std::nullopt}, {-kInf, std::nullopt}};
  for (const auto& [v, n] : cases) EXPECT_EQ(ToInt16(v), n) << v;
}

}  // namespace
}  // namespace lumbra
