#include "backends/database/dialect.h"

#include <array>

namespace lumbra::database {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// SQLSTATEs of errors that pass by themselves. Classes: 08 connection, 53
// insufficient resources (disk full, too many connections), 57 operator
// intervention (statement time-out, server shutting down or starting), HYT
// time-outs of the driver. States: serialisation failure and deadlock, lock
// not available, statement cancelled, connection suspended.
constexpr std::array<std::string_view, 4> kPassingClasses = {"08", "53", "57", "HYT"};
constexpr std::array<std::string_view, 5> kPassingStates = {"40001", "40P01", "55P03", "HY008",
                                                            "HY117"};

// SQL Server's lock request time-out, deadlock victim, and database in use.
constexpr std::array<long, 3> kTransactSqlPassing = {1222, 1205, 924};
// SQLite's BUSY, LOCKED, IOERR, FULL and PROTOCOL.
constexpr std::array<long, 5> kSqlitePassing = {5, 6, 10, 13, 15};

}  // namespace

std::string Dialect::Savepoint(std::string_view name) const {
  return (transact_sql ? "SAVE TRANSACTION " : "SAVEPOINT ") + std::string(name);
}

std::string Dialect::RollbackTo(std::string_view name) const {
  return (transact_sql ? "ROLLBACK TRANSACTION " : "ROLLBACK TO SAVEPOINT ") + std::string(name);
}

std::string Dialect::Release(std::string_view name) const {
  return transact_sql ? std::string() : "RELEASE SAVEPOINT " + std::string(name);
}

Dialect DialectFor(std::string_view dbms_name) {
  Dialect d;
  if (dbms_name.find("SQL Server") != std::string_view::npos) {
    d.transact_sql = true;
    d.open_transaction = "SELECT 1 FROM INFORMATION_SCHEMA.TABLES WHERE 1 = 0";
  }
  if (StartsWith(dbms_name, "PostgreSQL")) d.row_id_column = "ctid";
  if (StartsWith(dbms_name, "SQLite")) d.loosely_typed = d.sqlite_codes = true;
  return d;
}

bool IsPassingError(const Dialect& dialect, std::string_view sqlstate, long native_error) {
  for (std::string_view c : kPassingClasses) {
    if (StartsWith(sqlstate, c)) return true;
  }
  for (std::string_view s : kPassingStates) {
    if (sqlstate == s) return true;
  }
  if (dialect.transact_sql) {
    for (long n : kTransactSqlPassing) {
      if (native_error == n) return true;
    }
  }
  if (dialect.sqlite_codes) {
    // Extended result codes keep the primary code in their low byte.
    for (long n : kSqlitePassing) {
      if ((native_error & 0xFF) == n) return true;
    }
  }
  return false;
}

}  // namespace lumbra::database
