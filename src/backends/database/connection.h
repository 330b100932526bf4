// A database connection through the ODBC driver manager (unixODBC). The
// database back-ends share one, DbConnection, opened by the intake and
// closed by the run driver after the database export; the MYOB ODBC export
// opens its own.
//
// Besides opening and closing it answers what the callers need to keep
// device data out of SQL text: whether the catalogue holds a table of an
// exact name, a table's columns and primary key, and quoting of a name that
// the catalogue holds. Writes can be grouped into units of work and made
// atomic line by line.
#ifndef LUMBRA_BACKENDS_DATABASE_CONNECTION_H_
#define LUMBRA_BACKENDS_DATABASE_CONNECTION_H_

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "backends/database/value.h"
#include "platform/status.h"

namespace lumbra::database {

class Recordset;

class Connection {
 public:
  // Opens a connection from an ODBC connection string, handed to the driver
  // manager as it stands. No dialog is ever shown: a driver that would ask
  // for anything fails instead.
  static Status Open(const std::string& connection_string, std::unique_ptr<Connection>* out);

  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // True from Open until Close, or until the link to the database is lost.
  bool IsOpen() const;
  // Releases the connection. Closing a closed connection does nothing.
  Status Close();

  // Runs SQL text written by the program (never built from device data) and
  // opens its rows, read forward only, in rs.
  Status Execute(const std::string& sql, Recordset* rs);

  // Whether the catalogue holds a table or view of exactly this name
  // (case-sensitive). The catalogue is read once per connection.
  Status HasTable(std::string_view name, bool* found);
  // The columns of a catalogue table, in the order in which "SELECT *"
  // returns them. Read once per table.
  Status TableColumns(std::string_view table, const std::vector<Column>** columns);
  // The table's primary key columns in key order; empty when it has none or
  // the driver cannot tell. Read once per table.
  const std::vector<std::string>& PrimaryKey(std::string_view table);

  // The name quoted as an identifier for this database, for names that the
  // catalogue holds.
  std::string QuoteName(std::string_view name) const;

  // A connection marked read-only refuses every write with the reason.
  void SetReadOnly(std::string reason);
  bool read_only() const { return !read_only_reason_.empty(); }
  const std::string& read_only_reason() const { return read_only_reason_; }

  // A unit of work: the statements up to CommitWork or RollbackWork take
  // effect together. NotSupported when the driver offers no transactions
  // with savepoints; every statement then takes effect by itself.
  Status BeginWork();
  Status CommitWork();
  Status RollbackWork();
  bool in_work() const { return in_work_; }

  // Runs step so that its statements take effect whole or not at all: inside
  // a unit of work through a savepoint, outside one in a transaction of its
  // own. Without transactions the statements simply run.
  Status Atomically(const std::function<Status()>& step);

  // The product name the driver reports ("SQLite", "PostgreSQL").
  const std::string& dbms_name() const { return dbms_name_; }

  // For the access layer: the ODBC connection handle, and the error of a
  // failed call on one of its handles, which also notes a lost link.
  void* odbc_handle() const;
  Status Fail(short handle_type, void* handle, std::string_view context);
  // Runs a statement that returns no rows.
  Status Run(const std::string& sql);

 private:
  Connection();
  Status LoadCatalogue();
  Status SetAutocommit(bool on);

  struct Handles;
  std::unique_ptr<Handles> handles_;
  bool open_ = false;
  bool lost_ = false;
  bool transactions_ = false;
  bool in_work_ = false;
  bool local_transaction_ = false;
  int savepoint_depth_ = 0;
  std::string quote_;
  std::string dbms_name_;
  std::string read_only_reason_;
  bool catalogue_loaded_ = false;
  std::set<std::string, std::less<>> tables_;
  std::map<std::string, std::vector<Column>, std::less<>> columns_;
  std::map<std::string, std::vector<std::string>, std::less<>> primary_keys_;
};

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_CONNECTION_H_
