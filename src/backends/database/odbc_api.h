// The ODBC calls of the access layer: owned handles, diagnostics, reading a
// column of the current row into a Value and binding a Value as a statement
// parameter. Used only inside src/backends/database/; the rest of the system
// sees Connection and Recordset.
#ifndef LUMBRA_BACKENDS_DATABASE_ODBC_API_H_
#define LUMBRA_BACKENDS_DATABASE_ODBC_API_H_

#ifdef _WIN32
#include "platform/win_api.h"  // Windows' ODBC headers build on its types
#endif
#include <sql.h>
#include <sqlext.h>

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "backends/database/dialect.h"
#include "backends/database/value.h"
#include "platform/status.h"

namespace lumbra::database::odbc {

inline bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The diagnostic records of a handle after a call: the first record's
// SQLSTATE and every record's message, joined.
struct Diagnostics {
  std::string state;
  long native_error = 0;
  std::string text;
};
Diagnostics ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle);

// Every text the program hands a driver or takes from one goes through the
// wide ("...W") calls: on Windows the narrow ones would convert with the
// machine's ANSI code page, and Wine's driver manager has no "...A" ones.
// The text of a NUL-terminated wide buffer of that many characters, in
// Windows-1252.
std::string FromWide(const SQLWCHAR* text, size_t capacity);

// The names of the drivers the driver manager knows.
std::vector<std::string> InstalledDrivers(SQLHENV env);

// Whether an SQLSTATE says the link to the database is gone (class 08).
inline bool IsConnectionState(std::string_view state) { return state.substr(0, 2) == "08"; }

// An ODBC handle, freed when destroyed.
class Handle {
 public:
  Handle() = default;
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : type_(other.type_), handle_(other.handle_) {
    other.handle_ = SQL_NULL_HANDLE;
  }
  Handle& operator=(Handle&& other) noexcept;

  // Allocates a handle of the given type under parent.
  SQLRETURN Allocate(SQLSMALLINT type, SQLHANDLE parent);
  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }
  void Reset();

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// The result columns of an executed statement.
SQLRETURN DescribeColumns(SQLHSTMT stmt, const Dialect& dialect, std::vector<Column>* columns);

// Reads column `index` (1-based) of the current row. A column of a loosely
// typed database is read as the database's own text, and taken as a value of
// its declared type only when the text has that type's form (an integer
// column holding "2.5" or "n/a" gives that text, a date column holding
// "05/12/2026" gives that text); nothing is truncated, zeroed or swapped.
SQLRETURN ReadValue(SQLHSTMT stmt, SQLUSMALLINT index, const Column& column, Value* out);

// Wide text of the current row's column, for catalogue results.
SQLRETURN ReadText(SQLHSTMT stmt, SQLUSMALLINT index, std::string* out, bool* is_null);

// The parameters of one statement, bound in order. The buffers live here, so
// the set must outlive the statement's execution.
class Parameters {
 public:
  // Binds value as the next parameter, typed for column.
  SQLRETURN Bind(SQLHSTMT stmt, const Column& column, const Value& value);
  size_t size() const { return slots_.size(); }

 private:
  struct Slot {
    std::u16string wide;
    std::string narrow;
    SQLBIGINT integer = 0;
    SQLDOUBLE real = 0;
    SQL_DATE_STRUCT date{};
    SQL_TIMESTAMP_STRUCT timestamp{};
    SQLLEN indicator = 0;
  };
  std::deque<Slot> slots_;
};

}  // namespace lumbra::database::odbc

#endif  // LUMBRA_BACKENDS_DATABASE_ODBC_API_H_
