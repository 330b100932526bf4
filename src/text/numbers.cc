#include "text/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace lumbra {

namespace {

constexpr double kMaxDouble = std::numeric_limits<double>::max();
constexpr double kMaxFloat = std::numeric_limits<float>::max();

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A non-negative decimal number: the integer `digits` times ten to the power
// `exponent`. The digits carry no leading or trailing zeros; zero has none.
struct Decimal {
  std::string digits;
  int exponent = 0;
};

void TrimTrailingZeros(Decimal& d) {
  size_t last = d.digits.find_last_not_of('0');
  if (last == std::string::npos) {
    d = {};
    return;
  }
  d.exponent += static_cast<int>(d.digits.size() - 1 - last);
  d.digits.resize(last + 1);
}

// Reads what std::to_chars writes in scientific form for a non-negative
// value: "d.ddde+XX".
Decimal FromScientific(const char* first, const char* last) {
  Decimal d;
  const char* p = first;
  for (; p != last && *p != 'e'; ++p) {
    if (IsDigit(*p)) d.digits.push_back(*p);
  }
  int e = 0;
  if (p != last) {
    ++p;
    if (p != last && *p == '+') ++p;  // from_chars takes no plus sign
    std::from_chars(p, last, e);
  }
  d.exponent = e - (static_cast<int>(d.digits.size()) - 1);
  TrimTrailingZeros(d);
  return d;
}

// The exact value of |v|, which must be finite. Every binary fraction has a
// finite decimal expansion; for v = m * 2^e with a 53-bit m it has at most
// about 17 + 0.7 * |e| significant digits, so asking for that many is exact.
Decimal ExactDecimal(double v) {
  v = std::fabs(v);
  if (v == 0) return {};
  int binary_exponent = 0;
  std::frexp(v, &binary_exponent);
  int e = binary_exponent - 53;
  int precision = 20 + (std::abs(e) * 7 + 9) / 10;
  char buf[1200];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision);
  return FromScientific(buf, res.ptr);
}

// The fewest digits that read back as |v| (finite, non-zero).
template <typename T>
Decimal ShortestDecimal(T v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific);
  return FromScientific(buf, res.ptr);
}

enum class Tie { kAwayFromZero, kToEven };

// Rounds d to a whole multiple of 10^unit.
void RoundAt(Decimal& d, int unit, Tie tie) {
  if (d.digits.empty() || d.exponent >= unit) return;
  long long drop = static_cast<long long>(unit) - d.exponent;
  long long size = static_cast<long long>(d.digits.size());
  if (drop > size) {
    // Less than a tenth of a unit.
    d = {};
    return;
  }
  size_t keep = static_cast<size_t>(size - drop);
  char first_dropped = d.digits[keep];
  // Trailing zeros are trimmed, so anything after the first dropped digit
  // is non-zero.
  bool beyond_half = keep + 1 < d.digits.size();
  bool up;
  if (first_dropped != '5') {
    up = first_dropped > '5';
  } else if (beyond_half) {
    up = true;
  } else if (tie == Tie::kAwayFromZero) {
    up = true;
  } else {
    up = keep > 0 && (d.digits[keep - 1] - '0') % 2 == 1;
  }
  d.digits.resize(keep);
  d.exponent = unit;
  if (up) {
    size_t i = keep;
    while (i > 0 && d.digits[i - 1] == '9') d.digits[--i] = '0';
    if (i == 0) {
      d.digits.insert(d.digits.begin(), '1');
    } else {
      ++d.digits[i - 1];
    }
  }
  TrimTrailingZeros(d);
}

void RoundToSignificant(Decimal& d, int significant) {
  if (d.digits.empty()) return;
  int top = d.exponent + static_cast<int>(d.digits.size());
  RoundAt(d, top - significant, Tie::kAwayFromZero);
}

// Plain decimal notation, never an exponent: at least one integer digit and
// at least `min_decimals` decimals. The minus sign goes before the prefix and
// is left out when the value is zero.
std::string PlainText(bool negative, const Decimal& d, int min_decimals, std::string_view prefix) {
  std::string whole;
  std::string fraction;
  int size = static_cast<int>(d.digits.size());
  if (d.digits.empty()) {
    whole = "0";
  } else if (d.exponent >= 0) {
    whole = d.digits;
    whole.append(static_cast<size_t>(d.exponent), '0');
  } else {
    int point = size + d.exponent;  // digits before the decimal point
    if (point > 0) {
      whole = d.digits.substr(0, static_cast<size_t>(point));
      fraction = d.digits.substr(static_cast<size_t>(point));
    } else {
      whole = "0";
      fraction.assign(static_cast<size_t>(-point), '0');
      fraction += d.digits;
    }
  }
  if (static_cast<int>(fraction.size()) < min_decimals) {
    fraction.append(static_cast<size_t>(min_decimals) - fraction.size(), '0');
  }
  std::string out;
  if (negative && !d.digits.empty()) out.push_back('-');
  out += prefix;
  out += whole;
  if (!fraction.empty()) {
    out.push_back('.');
    out += fraction;
  }
  return out;
}

// The shortest form of v that reads back as the same value when it needs at
// most `max_digits` digits, v rounded to `max_digits` digits otherwise.
template <typename T>
std::string ShortText(T v, int max_digits) {
  if (v == 0) return "0";
  Decimal d = ShortestDecimal(v);
  if (static_cast<int>(d.digits.size()) > max_digits) {
    d = ExactDecimal(static_cast<double>(v));
    RoundToSignificant(d, max_digits);
  }
  return PlainText(v < 0, d, 0, "");
}

double ToDouble(bool negative, const Decimal& d) {
  if (d.digits.empty()) return 0.0;
  std::string text = d.digits;
  text.push_back('e');
  text += std::to_string(d.exponent);
  double value = 0;
  auto res = std::from_chars(text.data(), text.data() + text.size(), value);
  if (res.ec == std::errc::result_out_of_range) {
    value = d.exponent > 0 ? kMaxDouble : 0.0;
  }
  if (value == 0) return 0.0;
  return negative ? -value : value;
}

std::string FixedTwoDecimals(double v, std::string_view prefix) {
  if (!std::isfinite(v)) return PlainText(false, {}, 2, prefix);
  Decimal d = ExactDecimal(v);
  RoundAt(d, -2, Tie::kAwayFromZero);
  return PlainText(std::signbit(v), d, 2, prefix);
}

}  // namespace

double ValueOf(std::string_view text) {
  // The significant digits are copied into a bounded buffer; digits beyond
  // the first kMaxDigits only count for their position and for whether any of
  // them is non-zero (a trailing 1 stands for those), which is enough to
  // round to the nearest double exactly.
  constexpr size_t kMaxDigits = 800;
  char buf[kMaxDigits + 32];
  size_t len = 0;
  long long scale = 0;  // the value is buf * 10^scale * 10^exponent
  bool any_digit = false;
  bool dropped_non_zero = false;
  bool seen_point = false;

  size_t i = 0;
  const size_t n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  for (; i < n; ++i) {
    char c = text[i];
    if (c == '.' && !seen_point) {
      seen_point = true;
      continue;
    }
    if (!IsDigit(c)) break;
    any_digit = true;
    if (len == 0 && c == '0') {
      if (seen_point) --scale;
    } else if (len < kMaxDigits) {
      buf[len++] = c;
      if (seen_point) --scale;
    } else {
      if (c != '0') dropped_non_zero = true;
      if (!seen_point) ++scale;
    }
  }
  if (!any_digit || len == 0) return 0.0;

  // An exponent counts only with at least one digit; it saturates far
  // beyond any double's range.
  long long exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool exponent_negative = false;
    if (j < n && (text[j] == '+' || text[j] == '-')) {
      exponent_negative = text[j] == '-';
      ++j;
    }
    for (; j < n && IsDigit(text[j]); ++j) {
      if (exponent < 1000000) exponent = exponent * 10 + (text[j] - '0');
    }
    if (exponent_negative) exponent = -exponent;
  }

  if (dropped_non_zero) {
    buf[len++] = '1';
    --scale;
  }
  long long e = scale + exponent;
  // The value lies in [10^(magnitude - 1), 10^magnitude).
  long long magnitude = e + static_cast<long long>(len);
  double value;
  if (magnitude > 309) {
    value = kMaxDouble;
  } else if (magnitude < -330) {
    value = 0;
  } else {
    buf[len] = 'e';
    auto res = std::to_chars(buf + len + 1, buf + sizeof buf, e);
    value = 0;
    auto parsed = std::from_chars(buf, res.ptr, value);
    if (parsed.ec == std::errc::result_out_of_range) value = magnitude > 0 ? kMaxDouble : 0.0;
  }
  if (value == 0) return 0.0;
  return negative ? -value : value;
}

double Single(double v) {
  if (v > kMaxFloat) return kMaxFloat;
  if (v < -kMaxFloat) return -kMaxFloat;
  return static_cast<double>(static_cast<float>(v));
}

std::string SingleText(double v) {
  if (!std::isfinite(v)) return "0";
  return ShortText(static_cast<float>(Single(v)), 7);
}

std::string DoubleText(double v) {
  if (!std::isfinite(v)) return "0";
  return ShortText(v, 15);
}

std::string MoneyText(double v) { return FixedTwoDecimals(v, "$"); }

std::string TwoDecimalText(double v) { return FixedTwoDecimals(v, ""); }

double RoundHalfEven(double v, int decimals) {
  if (!std::isfinite(v)) return v;
  if (decimals < 0) decimals = 0;
  if (decimals > 10) decimals = 10;
  Decimal d = ExactDecimal(v);
  if (d.exponent >= -decimals) return v;
  RoundAt(d, -decimals, Tie::kToEven);
  return ToDouble(std::signbit(v), d);
}

std::optional<int> ToInt16(double v) {
  // Also turns away NaN.
  if (!(v > -32769.0 && v < 32768.0)) return std::nullopt;
  double whole = std::floor(v);
  double fraction = v - whole;  // exact at this magnitude
  int n = static_cast<int>(whole);
  if (fraction > 0.5 || (fraction == 0.5 && n % 2 != 0)) ++n;
  if (n < -32768 || n > 32767) return std::nullopt;
  return n;
}

}  // namespace lumbra
