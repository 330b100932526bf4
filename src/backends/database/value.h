// Values of database columns as the database back-ends see them: what a
// column is, the value of one row's column, the text forms written into the
// device tables, and the checked conversion of a device's text into a value
// that a column accepts.
//
// Texts on this side are Windows-1252, as everywhere in the system; the
// access layer converts to and from the database's Unicode text.
#ifndef LUMBRA_BACKENDS_DATABASE_VALUE_H_
#define LUMBRA_BACKENDS_DATABASE_VALUE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace lumbra::database {

// A date with a time of day.
struct DateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
  uint32_t nanos = 0;
  bool operator==(const DateTime&) const = default;
};

enum class ValueKind { kNull, kText, kInteger, kReal, kDecimal, kDate, kDateTime, kBinary };

struct Value {
  ValueKind kind = ValueKind::kNull;
  // kText: the text; kDecimal: the number written out ("-12.5"); kBinary:
  // the bytes.
  std::string text;
  int64_t integer = 0;
  double real = 0;
  // kReal read from a single-precision column.
  bool single = false;
  DateTime time;  // kDate, kDateTime

  bool is_null() const { return kind == ValueKind::kNull; }
};

// How the access layer reads and writes a column, from its ODBC type.
enum class ColumnClass {
  kText,      // character types, and whatever else has no better class
  kInteger,   // tinyint to bigint
  kBit,
  kReal,      // float and double
  kSingle,    // real
  kDecimal,   // decimal and numeric
  kCurrency,  // a type named money, smallmoney or currency
  kDate,
  kDateTime,
  kBinary,
};

// A result column.
struct Column {
  std::string name;
  int sql_type = 0;       // the ODBC SQL data type
  std::string type_name;  // the type's name as the driver reports it
  uint64_t size = 0;      // column size (characters for text); 0 when unknown
  int decimals = 0;
  bool nullable = true;
  ColumnClass cls = ColumnClass::kText;
  // Character columns with a fixed limit: the limit in characters, else 0.
  uint64_t text_limit = 0;
  // The database may hold a value of any type in it (SQLite).
  bool loosely_typed = false;

  bool currency() const { return cls == ColumnClass::kCurrency; }
};

// Fills in cls and text_limit from sql_type, type_name and size.
void ClassifyColumn(Column* column);

// Equal when ASCII letters are compared without regard to case, as column
// and type names are.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// MONEY, SMALLMONEY or CURRENCY in any letter case.
bool IsCurrencyTypeName(std::string_view type_name);

// The plain text form of a value: integers without decimals, real numbers
// in their shortest form (7 significant digits for single precision, 15 for
// double), decimals without trailing zeros, dates as yyyy-mm-dd followed by
// " hh:mm:ss" when the time is not midnight; null and binary values give the
// empty text.
std::string PlainText(const Value& value);

// A value as a device table shows it: a number in a currency column as
// "$0.00", anything else (null, a text a loosely typed database holds there)
// in its plain text form.
std::string ExportText(const Column& column, const Value& value);

// The value that a loosely typed database's own text of a column's value
// stands for: a value of the column's class when the text has that class's
// form (an integer "-12", a number, a date yyyy-mm-dd with or without a
// time), the text itself otherwise.
Value StoredValue(const Column& column, std::string text);

// The number a value holds; a text counts by its leading number.
double NumberOf(const Value& value);

// The value that a device's text takes in a column, or InvalidArgument
// saying why the column refuses it: a text longer than the column allows, a
// number column given something other than a number, a date column given
// something that is not a date (yyyy-mm-dd, yyyy-mm-dd hh:mm[:ss], yyyymmdd or
// dd/mm/yyyy), a binary column, an empty text for a column that is not a
// text column. Numbers are kept exactly: whole numbers as 64-bit integers,
// others as decimals written out; whether they fit the column's range and
// scale is left to the database.
Status ValueForColumn(const Column& column, std::string_view text, Value* out);

// Whether a row's value equals a key converted by ValueForColumn for the same
// column: numbers compare as numbers (digit by digit unless one is a
// floating-point value), dates as dates, texts exactly. A null equals
// nothing.
bool KeyMatches(const Value& row, const Value& key);

// A number's text ("-012.50", "+.5") without a plus sign, leading zeros of
// its whole part, trailing zeros of its fraction or a bare point; "-0" becomes
// "0". The text must hold a number without exponent (see ParseNumber).
std::string CanonicalDecimal(std::string_view text);

// The exact decimal form of a number's text, the exponent worked into the
// digits ("1.5e3" is "1500", "-2E-2" is "-0.02"), canonical as above. The
// text must pass ParseNumber.
std::string ExactDecimal(std::string_view text);

// A whole text read as a number: blanks around it, an optional sign, digits
// with at most one decimal point and an optional exponent, nothing else.
// value may be null.
bool ParseNumber(std::string_view text, double* value);

// A date, or a date and time, in one of the forms ValueForColumn takes.
bool ParseDateTime(std::string_view text, DateTime* out, bool* has_time);

// Windows-1252 and UTF-16. A character that Windows-1252 lacks becomes "?".
std::u16string Cp1252ToUtf16(std::string_view text);
std::string Utf16ToCp1252(std::u16string_view text);
// UTF-8 to Windows-1252, for drivers that hand over UTF-8; bytes that are
// not UTF-8 are taken as Windows-1252 already.
std::string Utf8ToCp1252(std::string_view text);

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_VALUE_H_
