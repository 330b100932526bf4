// Numbers in text, read and written the same way by every back-end.
#ifndef LUMBRA_RUN_NUMBERS_H_
#define LUMBRA_RUN_NUMBERS_H_

#include <optional>
#include <string>
#include <string_view>

namespace lumbra {

// The value of a text: its leading number. Leading blanks are skipped, then
// an optional sign, digits with at most one decimal point and an optional
// exponent ("1.5E3", "2e-2"); reading stops at the first other character.
// A text with no number is 0. Never fails, whatever the bytes.
double ValueOf(std::string_view text);

// v rounded to single precision, as a double.
double Single(double v);

// The shortest decimal form of v in single precision (v is first rounded to
// a float) with at most 7 significant digits, no trailing zeros, no trailing
// point and no exponent: 12, 2.5, -3, 0.1, 0.000015, 12345680.
std::string SingleText(double v);
// The same for double precision, with at most 15 significant digits.
std::string DoubleText(double v);

// "$0.00": rounded to two decimals, at least one integer digit, no thousands
// separator, "$" in front and a minus sign before it: $12.50, $0.00, -$3.00.
std::string MoneyText(double v);
// "0.00": 12.50, 0.00, -3.00.
std::string TwoDecimalText(double v);

// v rounded to the given number of decimals, a tie (judged on v's exact
// binary value) going to the even digit.
double RoundHalfEven(double v, int decimals);

// v rounded to the nearest whole number, a half to the even neighbour, when
// that lies within 16-bit signed range; nothing otherwise.
std::optional<int> ToInt16(double v);

}  // namespace lumbra

#endif  // LUMBRA_RUN_NUMBERS_H_
