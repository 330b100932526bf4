// What differs between the databases behind the ODBC drivers, chosen by the
// product name the driver reports (SQLGetInfo SQL_DBMS_NAME): how a savepoint
// is written, the hidden column that names a row of a table without a key,
// whether a column may hold a value of any type, and which of the driver's
// errors pass by themselves.
#ifndef LUMBRA_BACKENDS_DATABASE_DIALECT_H_
#define LUMBRA_BACKENDS_DATABASE_DIALECT_H_

#include <string>
#include <string_view>

namespace lumbra::database {

struct Dialect {
  // The statements of a savepoint; release is empty where a savepoint is
  // never released (SQL Server keeps it until the transaction ends).
  std::string Savepoint(std::string_view name) const;
  std::string RollbackTo(std::string_view name) const;
  std::string Release(std::string_view name) const;

  bool transact_sql = false;
  // A statement that opens the transaction a savepoint needs, where turning
  // autocommit off leaves it to the next statement that reads a table (SQL
  // Server's implicit transactions); empty elsewhere.
  std::string open_transaction;
  // A column every table has that names one row, for databases whose driver
  // does not report it (PostgreSQL's "ctid"); empty otherwise.
  std::string row_id_column;
  // Any column may hold a value of any type (SQLite): values are read as the
  // database's own text first and taken as the declared type only when they
  // have its form.
  bool loosely_typed = false;
  // SQLite: the driver reports the engine's result codes as native errors.
  bool sqlite_codes = false;
};

Dialect DialectFor(std::string_view dbms_name);

// Whether an error passes by itself, so that what failed is to be tried
// again later: a time-out, a lock or deadlock, a busy database, a lost link,
// a full disk.
bool IsPassingError(const Dialect& dialect, std::string_view sqlstate, long native_error);

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_DIALECT_H_
