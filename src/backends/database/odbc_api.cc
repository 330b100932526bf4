#include "backends/database/odbc_api.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "text/numbers.h"

namespace lumbra::database::odbc {
namespace {

constexpr SQLLEN kChunkBytes = 4096;

}  // namespace

std::string FromWide(const SQLWCHAR* text, size_t capacity) {
  std::u16string_view wide(reinterpret_cast<const char16_t*>(text), capacity);
  return Utf16ToCp1252(wide.substr(0, wide.find(u'\0')));
}

namespace {

// Reads a column in pieces until the driver has handed all of it over.
// unit is the size of the terminator the driver appends (0 for binary).
SQLRETURN ReadPieces(SQLHSTMT stmt, SQLUSMALLINT index, SQLSMALLINT c_type, size_t unit,
                     std::string* bytes, bool* is_null) {
  bytes->clear();
  *is_null = false;
  char buf[kChunkBytes];
  for (bool first = true;; first = false) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, index, c_type, buf, sizeof buf, &indicator);
    if (rc == SQL_NO_DATA) return first ? rc : SQL_SUCCESS;
    if (!Succeeded(rc)) return rc;
    if (indicator == SQL_NULL_DATA) {
      *is_null = true;
      return SQL_SUCCESS;
    }
    const SQLLEN room = static_cast<SQLLEN>(sizeof buf - unit);
    bool more = rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator > room);
    SQLLEN got = more ? room : std::min(indicator, room);
    if (got > 0) bytes->append(buf, static_cast<size_t>(got));
    if (!more) return SQL_SUCCESS;
  }
}

SQLRETURN ReadWide(SQLHSTMT stmt, SQLUSMALLINT index, std::string* out, bool* is_null) {
  std::string bytes;
  SQLRETURN rc = ReadPieces(stmt, index, SQL_C_WCHAR, sizeof(SQLWCHAR), &bytes, is_null);
  if (!Succeeded(rc) || *is_null) return rc;
  std::u16string wide(bytes.size() / 2, u'\0');
  std::copy_n(bytes.data(), wide.size() * 2, reinterpret_cast<char*>(wide.data()));
  *out = Utf16ToCp1252(wide);
  return rc;
}

bool IsConversionState(std::string_view state) {
  return state == "07006" || state == "22018" || state == "22003" || state == "22007" ||
         state == "22008" || state == "HY003" || state == "HYC00" || state == "HY000";
}

// A decimal as the driver writes it ("12.50", "-.5", " 1E+2") in its
// plain form, without trailing zeros.
std::string TidyDecimal(const std::string& raw) {
  size_t begin = raw.find_first_not_of(' ');
  size_t end = raw.find_last_not_of(' ');
  std::string text = begin == std::string::npos ? std::string() : raw.substr(begin, end - begin + 1);
  return ParseNumber(text, nullptr) ? ExactDecimal(text) : text;
}

SQLRETURN ReadTyped(SQLHSTMT stmt, SQLUSMALLINT index, const Column& column, Value* out) {
  SQLLEN indicator = 0;
  SQLRETURN rc = SQL_SUCCESS;
  bool is_null = false;
  switch (column.cls) {
    case ColumnClass::kInteger:
    case ColumnClass::kBit: {
      SQLBIGINT v = 0;
      rc = SQLGetData(stmt, index, SQL_C_SBIGINT, &v, sizeof v, &indicator);
      if (!Succeeded(rc) || indicator == SQL_NULL_DATA) break;
      out->kind = ValueKind::kInteger;
      out->integer = v;
      break;
    }
    case ColumnClass::kReal:
    case ColumnClass::kSingle:
    case ColumnClass::kCurrency: {
      SQLDOUBLE v = 0;
      rc = SQLGetData(stmt, index, SQL_C_DOUBLE, &v, sizeof v, &indicator);
      if (!Succeeded(rc) || indicator == SQL_NULL_DATA) break;
      if (!std::isfinite(v)) return SQL_ERROR;
      out->kind = ValueKind::kReal;
      out->real = v;
      out->single = column.cls == ColumnClass::kSingle;
      break;
    }
    case ColumnClass::kDecimal: {
      std::string text;
      rc = ReadPieces(stmt, index, SQL_C_CHAR, 1, &text, &is_null);
      if (!Succeeded(rc) || is_null) break;
      out->kind = ValueKind::kDecimal;
      out->text = TidyDecimal(text);
      out->real = ValueOf(out->text);
      break;
    }
    case ColumnClass::kDate:
    case ColumnClass::kDateTime: {
      SQL_TIMESTAMP_STRUCT ts{};
      rc = SQLGetData(stmt, index, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &indicator);
      if (!Succeeded(rc) || indicator == SQL_NULL_DATA) break;
      if (ts.year == 0 || ts.month < 1 || ts.month > 12 || ts.day < 1 || ts.day > 31) {
        return SQL_ERROR;  // not a date after all: read as text
      }
      out->kind = column.cls == ColumnClass::kDate ? ValueKind::kDate : ValueKind::kDateTime;
      out->time = DateTime{ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, ts.fraction};
      break;
    }
    case ColumnClass::kBinary: {
      std::string bytes;
      rc = ReadPieces(stmt, index, SQL_C_BINARY, 0, &bytes, &is_null);
      if (!Succeeded(rc) || is_null) break;
      out->kind = ValueKind::kBinary;
      out->text = std::move(bytes);
      break;
    }
    case ColumnClass::kText: {
      std::string text;
      rc = ReadWide(stmt, index, &text, &is_null);
      if (!Succeeded(rc) || is_null) break;
      out->kind = ValueKind::kText;
      out->text = std::move(text);
      break;
    }
  }
  if (rc == SQL_NO_DATA) rc = SQL_SUCCESS;  // nothing left: a null
  return rc;
}

bool FitsType(int sql_type, int64_t v) {
  switch (sql_type) {
    case SQL_TINYINT:
      return v >= -128 && v <= 255;
    case SQL_SMALLINT:
      return v >= -32768 && v <= 32767;
    case SQL_INTEGER:
      return v >= INT32_MIN && v <= INT32_MAX;
    default:
      return true;
  }
}

SQLSMALLINT ParameterSqlType(const Column& column, const Value& value) {
  switch (value.kind) {
    case ValueKind::kText:
      return value.text.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
    case ValueKind::kInteger:
      if (column.cls == ColumnClass::kBit) return SQL_BIT;
      // A value beyond the declared range goes as what it is, so that the
      // database, not the driver, judges it (SQLite's INTEGER holds 64 bits
      // though its driver calls it SQL_INTEGER).
      return column.cls == ColumnClass::kInteger && FitsType(column.sql_type, value.integer)
                 ? static_cast<SQLSMALLINT>(column.sql_type)
                 : SQL_BIGINT;
    case ValueKind::kReal:
      return value.single ? SQL_REAL : SQL_DOUBLE;
    case ValueKind::kDecimal:
      return column.sql_type == SQL_NUMERIC ? SQL_NUMERIC : SQL_DECIMAL;
    case ValueKind::kDate:
      return SQL_TYPE_DATE;
    case ValueKind::kDateTime:
      return SQL_TYPE_TIMESTAMP;
    case ValueKind::kBinary:
      return SQL_VARBINARY;
    case ValueKind::kNull:
      break;
  }
  return column.sql_type != 0 ? static_cast<SQLSMALLINT>(column.sql_type) : SQL_VARCHAR;
}

}  // namespace

Diagnostics ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  Diagnostics d;
  if (handle == SQL_NULL_HANDLE) return d;
  for (SQLSMALLINT i = 1; i <= 4; ++i) {
    SQLWCHAR state[6] = {0};
    SQLWCHAR message[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handle_type, handle, i, state, &native, message, 1024, &length);
    if (!Succeeded(rc)) break;
    std::string code = FromWide(state, 5);
    if (d.state.empty()) {
      d.state = code;
      d.native_error = native;
    }
    if (!d.text.empty()) d.text += "; ";
    d.text += FromWide(message, 1023) + " (SQLSTATE " + code + ")";
  }
  if (d.text.empty()) d.text = "the driver gave no reason";
  return d;
}

std::vector<std::string> InstalledDrivers(SQLHENV env) {
  std::vector<std::string> drivers;
  SQLWCHAR name[256];
  SQLWCHAR attributes[2048];
  SQLSMALLINT name_length = 0, attributes_length = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    SQLRETURN rc = SQLDriversW(env, direction, name, 256, &name_length, attributes, 2048,
                               &attributes_length);
    if (!Succeeded(rc)) break;
    drivers.push_back(FromWide(name, 255));
  }
  return drivers;
}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Reset();
    type_ = other.type_;
    handle_ = other.handle_;
    other.handle_ = SQL_NULL_HANDLE;
  }
  return *this;
}

SQLRETURN Handle::Allocate(SQLSMALLINT type, SQLHANDLE parent) {
  Reset();
  type_ = type;
  SQLRETURN rc = SQLAllocHandle(type, parent, &handle_);
  if (!Succeeded(rc)) handle_ = SQL_NULL_HANDLE;
  return rc;
}

void Handle::Reset() {
  if (handle_ == SQL_NULL_HANDLE) return;
  if (type_ == SQL_HANDLE_STMT) SQLFreeStmt(handle_, SQL_CLOSE);
  SQLFreeHandle(type_, handle_);
  handle_ = SQL_NULL_HANDLE;
}

SQLRETURN DescribeColumns(SQLHSTMT stmt, const Dialect& dialect, std::vector<Column>* columns) {
  columns->clear();
  SQLSMALLINT count = 0;
  SQLRETURN rc = SQLNumResultCols(stmt, &count);
  if (!Succeeded(rc)) return rc;
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(std::max<SQLSMALLINT>(count, 0)); ++i) {
    SQLWCHAR name[512] = {0};
    SQLSMALLINT name_length = 0, sql_type = 0, decimals = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    rc = SQLDescribeColW(stmt, i, name, 511, &name_length, &sql_type, &size, &decimals, &nullable);
    if (!Succeeded(rc)) return rc;
    Column c;
    size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(name_length, 0)), 511);
    c.name = Utf16ToCp1252(std::u16string_view(reinterpret_cast<const char16_t*>(name), n));
    c.sql_type = sql_type;
    c.size = size;
    c.decimals = decimals;
    c.nullable = nullable != SQL_NO_NULLS;
    SQLWCHAR type_name[256] = {0};
    SQLSMALLINT type_length = 0;
    if (Succeeded(SQLColAttributeW(stmt, i, SQL_DESC_TYPE_NAME, type_name, sizeof type_name,
                                   &type_length, nullptr))) {
      c.type_name = FromWide(type_name, 255);
    }
    ClassifyColumn(&c);
    c.loosely_typed = dialect.loosely_typed;
    columns->push_back(std::move(c));
  }
  return SQL_SUCCESS;
}

SQLRETURN ReadValue(SQLHSTMT stmt, SQLUSMALLINT index, const Column& column, Value* out) {
  *out = Value();
  if (column.loosely_typed && column.cls != ColumnClass::kText &&
      column.cls != ColumnClass::kBinary) {
    std::string text;
    bool is_null = false;
    SQLRETURN rc = ReadWide(stmt, index, &text, &is_null);
    if (rc == SQL_NO_DATA) return SQL_SUCCESS;
    if (Succeeded(rc) && !is_null) *out = StoredValue(column, std::move(text));
    return rc;
  }
  SQLRETURN rc = ReadTyped(stmt, index, column, out);
  if (Succeeded(rc) || column.cls == ColumnClass::kText) return rc;
  // A value the driver cannot give in the column's own type (a database
  // with loose typing may hold any text in any column) is read as text.
  Diagnostics d = ReadDiagnostics(SQL_HANDLE_STMT, stmt);
  if (!d.state.empty() && !IsConversionState(d.state)) return rc;
  std::string text;
  bool is_null = false;
  *out = Value();
  rc = ReadWide(stmt, index, &text, &is_null);
  if (rc == SQL_NO_DATA) return SQL_SUCCESS;
  if (Succeeded(rc) && !is_null) {
    out->kind = ValueKind::kText;
    out->text = std::move(text);
  }
  return rc;
}

SQLRETURN ReadText(SQLHSTMT stmt, SQLUSMALLINT index, std::string* out, bool* is_null) {
  out->clear();
  SQLRETURN rc = ReadWide(stmt, index, out, is_null);
  if (rc == SQL_NO_DATA) {
    *is_null = true;
    return SQL_SUCCESS;
  }
  return rc;
}

SQLRETURN Parameters::Bind(SQLHSTMT stmt, const Column& column, const Value& value) {
  Slot& s = slots_.emplace_back();
  SQLUSMALLINT number = static_cast<SQLUSMALLINT>(slots_.size());
  SQLSMALLINT sql_type = ParameterSqlType(column, value);
  SQLSMALLINT c_type = SQL_C_CHAR;
  SQLPOINTER data = nullptr;
  SQLULEN size = 1;
  SQLSMALLINT decimals = 0;
  SQLLEN buffer_length = 0;
  switch (value.kind) {
    case ValueKind::kNull:
      s.indicator = SQL_NULL_DATA;
      s.narrow.assign(1, '\0');
      data = s.narrow.data();
      size = column.size > 0 ? column.size : 1;
      decimals = static_cast<SQLSMALLINT>(column.decimals);
      break;
    case ValueKind::kText:
      s.wide = Cp1252ToUtf16(value.text);
      c_type = SQL_C_WCHAR;
      data = s.wide.data();
      s.indicator = static_cast<SQLLEN>(s.wide.size() * sizeof(SQLWCHAR));
      buffer_length = s.indicator + static_cast<SQLLEN>(sizeof(SQLWCHAR));
      size = std::max<SQLULEN>(s.wide.size(), 1);
      break;
    case ValueKind::kInteger:
      s.integer = value.integer;
      c_type = SQL_C_SBIGINT;
      data = &s.integer;
      size = 19;
      break;
    case ValueKind::kReal:
      s.real = value.real;
      c_type = SQL_C_DOUBLE;
      data = &s.real;
      size = 15;
      break;
    case ValueKind::kDecimal: {
      s.narrow = value.text;
      data = s.narrow.data();
      s.indicator = static_cast<SQLLEN>(s.narrow.size());
      buffer_length = s.indicator + 1;
      size_t point = s.narrow.find('.');
      size_t digits = s.narrow.size() - (s.narrow[0] == '-') - (point != std::string::npos);
      size = std::max<SQLULEN>(digits, 1);
      decimals = static_cast<SQLSMALLINT>(point == std::string::npos ? 0 : s.narrow.size() - point - 1);
      break;
    }
    case ValueKind::kDate:
      s.date = SQL_DATE_STRUCT{static_cast<SQLSMALLINT>(value.time.year),
                               static_cast<SQLUSMALLINT>(value.time.month),
                               static_cast<SQLUSMALLINT>(value.time.day)};
      c_type = SQL_C_TYPE_DATE;
      data = &s.date;
      size = 10;
      break;
    case ValueKind::kDateTime: {
      const DateTime& t = value.time;
      // Microseconds: the finest that every driver at hand takes.
      SQLUINTEGER fraction = (t.nanos / 1000) * 1000;
      s.timestamp = SQL_TIMESTAMP_STRUCT{
          static_cast<SQLSMALLINT>(t.year),   static_cast<SQLUSMALLINT>(t.month),
          static_cast<SQLUSMALLINT>(t.day),   static_cast<SQLUSMALLINT>(t.hour),
          static_cast<SQLUSMALLINT>(t.minute), static_cast<SQLUSMALLINT>(t.second), fraction};
      c_type = SQL_C_TYPE_TIMESTAMP;
      data = &s.timestamp;
      size = fraction ? 26 : 19;
      decimals = fraction ? 6 : 0;
      break;
    }
    case ValueKind::kBinary:
      s.narrow = value.text;
      c_type = SQL_C_BINARY;
      data = s.narrow.data();
      s.indicator = static_cast<SQLLEN>(s.narrow.size());
      buffer_length = s.indicator;
      size = std::max<SQLULEN>(s.narrow.size(), 1);
      break;
  }
  return SQLBindParameter(stmt, number, SQL_PARAM_INPUT, c_type, sql_type, size, decimals, data,
                          buffer_length, &s.indicator);
}

}  // namespace lumbra::database::odbc
