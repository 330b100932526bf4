#include "backends/database/value.h"

#ifdef _WIN32
#include "platform/win_api.h"  // Windows' ODBC headers build on its types
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "text/dates.h"
#include "text/numbers.h"

namespace lumbra::database {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view TrimBlanks(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// The Unicode characters of the bytes 0x80 to 0x9F. The five bytes that
// Windows-1252 leaves undefined stand for the control characters of the same
// number, as Windows maps them.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The Windows-1252 byte of a code point, or -1.
int Cp1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp) return static_cast<int>(0x80 + i);
  }
  return -1;
}

void AppendCodePoint(std::string* out, char32_t cp) {
  int b = Cp1252Byte(cp);
  out->push_back(b < 0 ? '?' : static_cast<char>(b));
}

std::string TwoDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

std::string DateText(const DateTime& t, bool with_time) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
  std::string out = buf;
  if (with_time && (t.hour != 0 || t.minute != 0 || t.second != 0 || t.nanos != 0)) {
    out += " " + TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second);
  }
  return out;
}

bool ValidDate(int year, int month, int day) {
  std::optional<Date> d = MakeDate(year, month, day);
  return year >= 100 && d && d->year == year && d->month == month && d->day == day;
}

// Reads exactly n digits at *p.
bool Digits(std::string_view text, size_t* p, size_t n, int* out) {
  if (*p + n > text.size()) return false;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = text[*p + i];
    if (!IsDigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  *p += n;
  *out = v;
  return true;
}

// One or two digits.
bool ShortDigits(std::string_view text, size_t* p, int* out) {
  if (*p >= text.size() || !IsDigit(text[*p])) return false;
  size_t n = (*p + 1 < text.size() && IsDigit(text[*p + 1])) ? 2 : 1;
  return Digits(text, p, n, out);
}

// " hh:mm[:ss[.fraction]]" or "Thh:mm..." at *p, up to the end.
bool ParseTime(std::string_view text, size_t p, DateTime* t) {
  if (p >= text.size() || (text[p] != ' ' && text[p] != 'T')) return false;
  ++p;
  if (!ShortDigits(text, &p, &t->hour) || p >= text.size() || text[p] != ':') return false;
  ++p;
  if (!Digits(text, &p, 2, &t->minute)) return false;
  if (p < text.size() && text[p] == ':') {
    ++p;
    if (!Digits(text, &p, 2, &t->second)) return false;
    if (p < text.size() && text[p] == '.') {
      ++p;
      uint32_t nanos = 0, scale = 100000000;
      size_t start = p;
      while (p < text.size() && IsDigit(text[p])) {
        nanos += static_cast<uint32_t>(text[p] - '0') * scale;
        scale /= 10;
        ++p;
      }
      if (p == start) return false;
      t->nanos = nanos;
    }
  }
  return p == text.size() && t->hour <= 23 && t->minute <= 59 && t->second <= 59;
}

Status Refused(const Column& column, std::string why) {
  return Status::InvalidArgument("column " + column.name + " refuses the value: " + why);
}

// A whole number written out ("-12", "+007"), read exactly into 64 bits.
bool ParseWholeNumber(std::string_view text, int64_t* out) {
  std::string_view t = TrimBlanks(text);
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  if (t.empty() || (t[0] == '-' && t.size() == 1)) return false;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), *out);
  return ec == std::errc() && end == t.data() + t.size();
}

}  // namespace

std::string ExactDecimal(std::string_view text) {
  std::string_view t = TrimBlanks(text);
  size_t e = t.find_first_of("eE");
  if (e == std::string_view::npos) return CanonicalDecimal(t);
  std::string_view mantissa = t.substr(0, e);
  int exponent = 0;
  std::string_view exp = t.substr(e + 1);
  if (!exp.empty() && exp[0] == '+') exp.remove_prefix(1);
  std::from_chars(exp.data(), exp.data() + exp.size(), exponent);
  bool negative = !mantissa.empty() && mantissa[0] == '-';
  if (!mantissa.empty() && (mantissa[0] == '-' || mantissa[0] == '+')) mantissa.remove_prefix(1);
  // Zero with any exponent ("0e999999999") is zero, not a billion digits.
  if (mantissa.find_first_of("123456789") == std::string_view::npos) return "0";
  size_t point = mantissa.find('.');
  std::string digits(mantissa.substr(0, point));
  int whole = static_cast<int>(digits.size());
  if (point != std::string_view::npos) digits += mantissa.substr(point + 1);
  // The number is a finite double, so the exponent and the mantissa's own
  // zeros keep these paddings within a few hundred digits more than the text.
  whole += exponent;
  if (whole <= 0) {
    digits.insert(0, static_cast<size_t>(1 - whole), '0');
    whole = 1;
  }
  if (static_cast<size_t>(whole) > digits.size()) digits.append(whole - digits.size(), '0');
  std::string plain = (negative ? "-" : "") + digits.substr(0, static_cast<size_t>(whole));
  if (static_cast<size_t>(whole) < digits.size()) plain += "." + digits.substr(whole);
  return CanonicalDecimal(plain);
}

namespace {

// Whole numbers go in as 64-bit integers, anything else as an exact decimal:
// what a column of a smaller range, or without fractions, makes of it is the
// database's to say.
Status IntegerFor(const Column& column, std::string_view text, Value* out) {
  double v = 0;
  if (!ParseNumber(text, &v)) return Refused(column, "not a number");
  if (ParseWholeNumber(text, &out->integer)) {
    out->kind = ValueKind::kInteger;
    return Status::OK();
  }
  out->kind = ValueKind::kDecimal;
  out->text = ExactDecimal(text);
  out->real = v;
  if (out->text.find('.') == std::string::npos && ParseWholeNumber(out->text, &out->integer)) {
    out->kind = ValueKind::kInteger;
    out->text.clear();
  }
  return Status::OK();
}

Status BitFor(const Column& column, std::string_view text, Value* out) {
  static constexpr std::array<std::string_view, 4> kTrue = {"true", "yes", "y", "on"};
  static constexpr std::array<std::string_view, 4> kFalse = {"false", "no", "n", "off"};
  out->kind = ValueKind::kInteger;
  for (std::string_view word : kTrue) {
    if (EqualsIgnoringCase(text, word)) return out->integer = 1, Status::OK();
  }
  for (std::string_view word : kFalse) {
    if (EqualsIgnoringCase(text, word)) return out->integer = 0, Status::OK();
  }
  double v = 0;
  if (!ParseNumber(text, &v)) return Refused(column, "not a yes/no value");
  out->integer = v != 0 ? 1 : 0;
  return Status::OK();
}

Status DecimalFor(const Column& column, std::string_view text, Value* out) {
  double v = 0;
  if (!ParseNumber(text, &v)) return Refused(column, "not a number");
  out->kind = ValueKind::kDecimal;
  out->text = ExactDecimal(text);
  out->real = v;
  return Status::OK();
}

// A date as a database keeps it in text: yyyy-mm-dd, with a time after a
// blank or "T"; no other form is taken for a date.
bool ParseStoredDateTime(std::string_view text, DateTime* out, bool* has_time) {
  return text.size() >= 10 && text[4] == '-' && ParseDateTime(text, out, has_time);
}

bool IsExactNumber(const Value& v) {
  return v.kind == ValueKind::kInteger || v.kind == ValueKind::kDecimal ||
         (v.kind == ValueKind::kText && ParseNumber(v.text, nullptr));
}

std::string ExactNumberText(const Value& v) {
  return v.kind == ValueKind::kInteger ? std::to_string(v.integer)
         : v.kind == ValueKind::kDecimal ? v.text
                                         : ExactDecimal(v.text);
}

}  // namespace

std::string CanonicalDecimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  std::string out(whole.empty() ? "0" : whole);
  if (!fraction.empty()) out += "." + std::string(fraction);
  if (negative && out != "0") out.insert(out.begin(), '-');
  return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsCurrencyTypeName(std::string_view type_name) {
  return EqualsIgnoringCase(type_name, "money") || EqualsIgnoringCase(type_name, "smallmoney") ||
         EqualsIgnoringCase(type_name, "currency");
}

void ClassifyColumn(Column* c) {
  c->text_limit = 0;
  if (IsCurrencyTypeName(c->type_name)) {
    c->cls = ColumnClass::kCurrency;
    return;
  }
  switch (c->sql_type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      c->cls = ColumnClass::kInteger;
      break;
    case SQL_BIT:
      c->cls = ColumnClass::kBit;
      break;
    case SQL_REAL:
      c->cls = ColumnClass::kSingle;
      break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      c->cls = ColumnClass::kReal;
      break;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      c->cls = ColumnClass::kDecimal;
      break;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      c->cls = ColumnClass::kDate;
      break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      c->cls = ColumnClass::kDateTime;
      break;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      c->cls = ColumnClass::kBinary;
      break;
    default:
      c->cls = ColumnClass::kText;
      break;
  }
  bool limited = c->sql_type == SQL_CHAR || c->sql_type == SQL_VARCHAR ||
                 c->sql_type == SQL_WCHAR || c->sql_type == SQL_WVARCHAR;
  if (c->cls == ColumnClass::kText && limited) c->text_limit = c->size;
}

std::string PlainText(const Value& v) {
  switch (v.kind) {
    case ValueKind::kNull:
    case ValueKind::kBinary:
      return std::string();
    case ValueKind::kText:
    case ValueKind::kDecimal:
      return v.text;
    case ValueKind::kInteger:
      return std::to_string(v.integer);
    case ValueKind::kReal:
      return v.single ? SingleText(v.real) : DoubleText(v.real);
    case ValueKind::kDate:
      return DateText(v.time, false);
    case ValueKind::kDateTime:
      return DateText(v.time, true);
  }
  return std::string();
}

std::string ExportText(const Column& column, const Value& value) {
  bool number = value.kind == ValueKind::kInteger || value.kind == ValueKind::kReal ||
                value.kind == ValueKind::kDecimal;
  if (column.currency() && number) return MoneyText(NumberOf(value));
  return PlainText(value);
}

Value StoredValue(const Column& column, std::string text) {
  Value v;
  double number = 0;
  bool has_time = false;
  // The database's own text of a number or a date has no blanks around it.
  const bool bare = TrimBlanks(text).size() == text.size();
  switch (bare ? column.cls : ColumnClass::kText) {
    case ColumnClass::kInteger:
    case ColumnClass::kBit:
      if (text[0] != '+' && ParseWholeNumber(text, &v.integer)) {
        v.kind = ValueKind::kInteger;
        return v;
      }
      break;
    case ColumnClass::kReal:
    case ColumnClass::kSingle:
      if (ParseNumber(text, &number)) {
        v.kind = ValueKind::kReal;
        v.single = column.cls == ColumnClass::kSingle;
        v.real = v.single ? Single(number) : number;
        return v;
      }
      break;
    case ColumnClass::kDecimal:
    case ColumnClass::kCurrency:
      if (ParseNumber(text, &number)) {
        v.kind = ValueKind::kDecimal;
        v.text = ExactDecimal(text);
        v.real = number;
        return v;
      }
      break;
    case ColumnClass::kDate:
    case ColumnClass::kDateTime:
      if (ParseStoredDateTime(text, &v.time, &has_time)) {
        v.kind = has_time ? ValueKind::kDateTime : ValueKind::kDate;
        return v;
      }
      break;
    case ColumnClass::kText:
    case ColumnClass::kBinary:
      break;
  }
  v.kind = ValueKind::kText;
  v.text = std::move(text);
  return v;
}

double NumberOf(const Value& v) {
  switch (v.kind) {
    case ValueKind::kInteger:
      return static_cast<double>(v.integer);
    case ValueKind::kReal:
      return v.real;
    case ValueKind::kDecimal:
    case ValueKind::kText:
      return ValueOf(v.text);
    default:
      return 0;
  }
}

bool ParseNumber(std::string_view text, double* value) {
  std::string_view t = TrimBlanks(text);
  size_t p = 0;
  if (p < t.size() && (t[p] == '+' || t[p] == '-')) ++p;
  size_t digits = 0;
  while (p < t.size() && IsDigit(t[p])) ++p, ++digits;
  if (p < t.size() && t[p] == '.') {
    ++p;
    while (p < t.size() && IsDigit(t[p])) ++p, ++digits;
  }
  if (digits == 0) return false;
  if (p < t.size() && (t[p] == 'e' || t[p] == 'E')) {
    ++p;
    if (p < t.size() && (t[p] == '+' || t[p] == '-')) ++p;
    size_t exp_digits = 0;
    while (p < t.size() && IsDigit(t[p])) ++p, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  if (p != t.size()) return false;
  std::string plain(t);
  if (plain[0] == '+') plain.erase(0, 1);
  double v = 0;
  auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(v)) return false;
  if (value != nullptr) *value = v == 0 ? 0.0 : v;
  return true;
}

bool ParseDateTime(std::string_view text, DateTime* out, bool* has_time) {
  std::string_view t = TrimBlanks(text);
  DateTime d;
  size_t p = 0;
  if (t.size() == 8 && t.find_first_not_of("0123456789") == std::string_view::npos) {
    Digits(t, &p, 4, &d.year);
    Digits(t, &p, 2, &d.month);
    Digits(t, &p, 2, &d.day);
  } else if (t.size() >= 10 && t[4] == '-') {
    if (!Digits(t, &p, 4, &d.year) || t[p++] != '-' || !Digits(t, &p, 2, &d.month) ||
        p >= t.size() || t[p++] != '-' || !Digits(t, &p, 2, &d.day)) {
      return false;
    }
  } else {
    if (!ShortDigits(t, &p, &d.day) || p >= t.size() || t[p++] != '/' ||
        !ShortDigits(t, &p, &d.month) || p >= t.size() || t[p++] != '/' ||
        !Digits(t, &p, 4, &d.year)) {
      return false;
    }
  }
  if (!ValidDate(d.year, d.month, d.day)) return false;
  *has_time = p < t.size();
  if (*has_time && !ParseTime(t, p, &d)) return false;
  *out = d;
  return true;
}

Status ValueForColumn(const Column& column, std::string_view text, Value* out) {
  *out = Value();
  if (column.cls == ColumnClass::kText) {
    if (column.text_limit > 0 && text.size() > column.text_limit) {
      return Refused(column, "longer than " + std::to_string(column.text_limit) + " characters");
    }
    out->kind = ValueKind::kText;
    out->text = std::string(text);
    // Drivers hand GUIDs over in capitals; a key typed in small letters
    // must still find its row.
    if (column.sql_type == SQL_GUID) {
      for (char& c : out->text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return Status::OK();
  }
  // An empty text is no number and no date: the pair is skipped, and the
  // column keeps what it holds.
  if (TrimBlanks(text).empty()) return Refused(column, "an empty value in a column that is not text");
  double v = 0;
  switch (column.cls) {
    case ColumnClass::kInteger:
      return IntegerFor(column, text, out);
    case ColumnClass::kBit:
      return BitFor(column, TrimBlanks(text), out);
    case ColumnClass::kReal:
    case ColumnClass::kSingle:
      if (!ParseNumber(text, &v)) return Refused(column, "not a number");
      out->kind = ValueKind::kReal;
      out->real = column.cls == ColumnClass::kSingle ? Single(v) : v;
      out->single = column.cls == ColumnClass::kSingle;
      return Status::OK();
    case ColumnClass::kCurrency: {
      // A device may send the amount as the tables show it: "$3.50", "-$3.50".
      std::string amount(TrimBlanks(text));
      size_t dollar = amount.find('$');
      if (dollar != std::string::npos && (dollar == 0 || (dollar == 1 && amount[0] == '-'))) {
        amount.erase(dollar, 1);
      }
      return DecimalFor(column, amount, out);
    }
    case ColumnClass::kDecimal:
      return DecimalFor(column, text, out);
    case ColumnClass::kDate:
    case ColumnClass::kDateTime: {
      bool has_time = false;
      if (!ParseDateTime(text, &out->time, &has_time)) return Refused(column, "not a date");
      out->kind = column.cls == ColumnClass::kDate ? ValueKind::kDate : ValueKind::kDateTime;
      if (column.cls == ColumnClass::kDate) {
        out->time.hour = out->time.minute = out->time.second = 0;
        out->time.nanos = 0;
      }
      return Status::OK();
    }
    case ColumnClass::kBinary:
      return Refused(column, "binary column");
    case ColumnClass::kText:
      break;
  }
  return Refused(column, "unknown column type");
}

bool KeyMatches(const Value& row, const Value& key) {
  if (row.is_null() || key.is_null()) return false;
  switch (key.kind) {
    case ValueKind::kInteger:
    case ValueKind::kReal:
    case ValueKind::kDecimal: {
      // Whole numbers beyond 2^53 and long decimals compare digit by digit;
      // a floating-point value on either side compares as a double.
      if (IsExactNumber(row) && IsExactNumber(key)) {
        return ExactNumberText(row) == ExactNumberText(key);
      }
      double v = 0;
      if (row.kind == ValueKind::kText) return ParseNumber(row.text, &v) && v == NumberOf(key);
      return NumberOf(row) == NumberOf(key);
    }
    case ValueKind::kDate:
    case ValueKind::kDateTime:
      if (row.kind == ValueKind::kDate || row.kind == ValueKind::kDateTime) {
        return row.time == key.time;
      }
      return PlainText(row) == PlainText(key);
    default:
      return PlainText(row) == PlainText(key);
  }
}

std::u16string Cp1252ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned char b = static_cast<unsigned char>(ch);
    out.push_back(b >= 0x80 && b <= 0x9F ? kHighControls[b - 0x80] : static_cast<char16_t>(b));
  }
  return out;
}

std::string Utf16ToCp1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendCodePoint(&out, cp);
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    bool valid = n > 0 && i + n <= text.size();
    char32_t cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; valid && k < n; ++k) {
      unsigned char c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!valid || (n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000)) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    AppendCodePoint(&out, cp);
    i += n;
  }
  return out;
}

}  // namespace lumbra::database
