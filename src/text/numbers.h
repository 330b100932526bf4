// Numbers in text, read and written the same way by every back-end.
#ifndef LUMBRA_TEXT_NUMBERS_H_
#define LUMBRA_TEXT_NUMBERS_H_

#include <optional>
#include <string>
#include <string_view>

namespace lumbra {

// The value of a text: its leading number. Leading blanks are skipped, then
// an optional sign, digits with at most one decimal point and an optional
// exponent ("1.5E3", "2e-2"); reading stops at the first other character.
// A text with no number is 0. Never fails, whatever the bytes. Blanks are
// spaces and tabs; an "e" without digits after it ends the number. Values
// beyond double range give the largest finite double (with the sign), values
// too small give 0, and zero never carries a minus sign.
double ValueOf(std::string_view text);

// v rounded to single precision, as a double. Values beyond single range,
// infinities included, give the largest finite float with their sign.
double Single(double v);

// The shortest decimal form of v in single precision (v is first rounded to
// a float) with at most 7 significant digits, no trailing zeros, no trailing
// point and no exponent: 12, 2.5, -3, 0.1, 0.000015, 12345680. When no
// such form reads back as the same float, v rounded to 7 significant digits,
// a half away from zero. Zero is "0", never "-0"; NaN and infinities are "0".
std::string SingleText(double v);
// The same for double precision, with at most 15 significant digits, so
// 0.1 + 0.2 is "0.3".
std::string DoubleText(double v);

// "$0.00": rounded to two decimals, at least one integer digit, no thousands
// separator, "$" in front and a minus sign before it: $12.50, $0.00, -$3.00.
// A half cent rounds away from zero, judged on v's exact binary value (the
// double nearest 2.675 is below it, so $2.67). A value that rounds to zero
// has no minus sign. NaN and infinities print as zero.
std::string MoneyText(double v);
// "0.00": 12.50, 0.00, -3.00.
std::string TwoDecimalText(double v);

// v rounded to the given number of decimals, a tie (judged on v's exact
// binary value) going to the even digit. decimals is held to 0..10. The
// result is the double nearest the rounded decimal; NaN and infinities come
// back unchanged, and a result of zero has no sign.
double RoundHalfEven(double v, int decimals);

// v rounded to the nearest whole number, a half to the even neighbour, when
// that lies within 16-bit signed range; nothing otherwise.
std::optional<int> ToInt16(double v);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_NUMBERS_H_
