// Field values of a DBF record as text, and text stored into a field: the
// conversions behind the engine's GetString and Replace and the table dump.
// Texts are bytes as stored (Windows-1252 in the back-end's tables); nothing
// is transcoded.
#ifndef LUMBRA_BACKENDS_AURORA_DBF_VALUES_H_
#define LUMBRA_BACKENDS_AURORA_DBF_VALUES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "backends/aurora/dbf_format.h"
#include "platform/status.h"

namespace lumbra::dbf {

// The text of a field that is not a memo, raw being its stored bytes:
// character, numeric, float, date and logical fields as stored (trailing NUL
// padding of a character field shown as blanks); I fields as decimal
// integers; Y fields as their value with four decimals ("12.3400",
// "-0.5000"); B (double) fields in the fewest digits that read back to the
// same double, with an exponent only below 0.0001 or from 1e16 up (2.5,
// 123456, 1e+20); T fields as "yyyymmdd hh:mm:ss" (rounded to the second), or
// empty when blank.
std::string FieldText(const Field& field, std::string_view raw);

// The form the table dump shows: character fields without trailing blanks,
// numeric and float fields without blanks, dates as stored or empty when
// blank, logicals as their letter or empty; other types as FieldText.
std::string DumpText(const Field& field, std::string_view raw);

// Stores text into the field's bytes (raw has the field's length):
// characters cut or padded with blanks; numbers (the text's leading number,
// 0 when it has none) right-aligned with the field's decimals, rounded half
// away from zero, fewer decimals only when the number would not fit
// otherwise; dates from "yyyymmdd" (blank text stores a blank date);
// logicals from T, Y, F, N, ? or blank (case-insensitive, dots ignored);
// I, Y and B fields from the number; T fields from "yyyymmdd hh:mm:ss",
// "yyyymmddhhmmss" or "yyyymmdd". InvalidArgument, leaving raw as it was,
// when the text cannot be stored (a number too wide for its field, a date
// that is not eight digits). Memo fields are not stored through here.
Status EncodeText(const Field& field, std::string_view text, char* raw);

// The bytes of a field in a new, blank record.
void BlankField(const Field& field, char* raw);

// The memo block number a memo field holds (4-byte binary or decimal
// text); 0 for none or for bytes that are not a number.
uint32_t MemoBlockOf(const Field& field, std::string_view raw);
void EncodeMemoBlock(const Field& field, uint32_t block, char* raw);

// The leading number of text as fixed-point text with the given decimals,
// right-aligned in width; false when it cannot fit even without decimals.
bool FormatDecimal(std::string_view text, int width, int decimals, std::string* out);

// Julian day numbers, the day count of T fields.
long JulianDay(int year, int month, int day);
void CivilFromJulian(long julian_day, int* year, int* month, int* day);

}  // namespace lumbra::dbf

#endif  // LUMBRA_BACKENDS_AURORA_DBF_VALUES_H_
