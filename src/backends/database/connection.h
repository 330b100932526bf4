// A database connection through the ODBC driver manager (unixODBC on Linux,
// odbc32 on Windows). The database back-ends share one, DbConnection, opened
// by the intake and closed by the run driver after the database export; the
// MYOB ODBC export opens its own.
//
// Besides opening and closing it answers what the callers need to keep
// device data out of SQL text: the tables the catalogue holds (names
// resolved as the database resolves them), a table's columns, the ways a
// row of it can be named, and quoting of a name that the catalogue holds.
// Writes can be grouped into units of work and made atomic line by line.
//
// Every statement runs under the time-out of the options, and so do the
// login and the driver's other requests; a call that the driver does not end
// within twice the time-out and five seconds more goes to the stall action.
// A failure that passes by itself (time-out, lock, busy database, lost link)
// is returned as Busy.
#ifndef LUMBRA_BACKENDS_DATABASE_CONNECTION_H_
#define LUMBRA_BACKENDS_DATABASE_CONNECTION_H_

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/database/call_watch.h"
#include "backends/database/catalogue.h"
#include "backends/database/dialect.h"
#include "backends/database/value.h"
#include "platform/status.h"

namespace lumbra::database {

namespace odbc {
class Handle;
}

class Recordset;

inline constexpr int kDefaultTimeoutSeconds = 30;

struct ConnectionOptions {
  // For each statement, the login and the driver's other requests; 0: none.
  int timeout_seconds = kDefaultTimeoutSeconds;
  // Without one, driver calls are not watched.
  CallWatch::StallAction on_stall;
};

// How an update names the one row it changes, tried in this order: the
// primary key; the driver's best row identifier (a pseudo column such as
// SQLite's rowid or PostgreSQL's ctid is read alongside the table's own
// columns); a unique index. Each is used only when the row holds a value in
// every one of its columns. Failing all, every original value names the row.
struct RowIdentity {
  std::vector<std::string> primary_key;
  std::vector<std::string> best_row_id;
  // The columns of best_row_id that are not columns of the table.
  std::vector<std::string> pseudo_columns;
  std::vector<std::vector<std::string>> unique_indexes;
};

// The names of the ODBC drivers installed, as the driver manager lists them.
std::vector<std::string> InstalledDrivers();

class Connection {
 public:
  // Opens a connection from an ODBC connection string, handed to the driver
  // manager as it stands. No dialog is ever shown: a driver that would ask
  // for anything fails instead.
  static Status Open(const std::string& connection_string, std::unique_ptr<Connection>* out);
  static Status Open(const std::string& connection_string, ConnectionOptions options,
                     std::unique_ptr<Connection>* out);

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

  // Reads the catalogue of tables and views, once per connection; later
  // calls return the first answer. A catalogue that cannot be read (an
  // error, or no tables from a database that has some) fails, as Busy when
  // the reason passes by itself.
  Status ReadCatalogue();
  // The catalogue's spelling of a table name (see Catalogue::Resolve).
  Status ResolveTable(std::string_view name, std::string* spelling);
  // The columns of a catalogue table (its catalogue spelling), in the order
  // in which "SELECT *" returns them. Read once per table.
  Status TableColumns(std::string_view table, const std::vector<Column>** columns);
  // How a row of the table is named. Read once per table.
  const RowIdentity& Identity(std::string_view table);

  // The name quoted as an identifier for this database, for names that the
  // catalogue holds and pseudo columns the driver names.
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
  const Dialect& dialect() const { return dialect_; }

  // For the access layer: a statement handle that carries the time-out; the
  // watch over one driver call; the error of a failed call on one of the
  // connection's handles (Busy when it passes by itself), which also notes
  // a lost link.
  Status NewStatement(odbc::Handle* stmt);
  CallWatch* watch() const { return watch_.get(); }
  Status Fail(short handle_type, void* handle, std::string_view context);
  // Runs a statement that returns no rows.
  Status Run(const std::string& sql);

 private:
  Connection();
  Status LoadCatalogue();
  Status ConfirmEmptyCatalogue();
  Status ReadColumns(const std::string& table, std::vector<Column>* columns);
  Status SetAutocommit(bool on);

  struct Handles;
  std::unique_ptr<Handles> handles_;
  int timeout_seconds_ = 0;
  std::unique_ptr<CallWatch> watch_;
  bool open_ = false;
  bool lost_ = false;
  bool transactions_ = false;
  bool in_work_ = false;
  bool local_transaction_ = false;
  int savepoint_depth_ = 0;
  std::string quote_;
  std::string dbms_name_;
  Dialect dialect_;
  std::string read_only_reason_;
  std::optional<Status> catalogue_status_;
  Catalogue catalogue_;
  std::map<std::string, std::vector<Column>, std::less<>> columns_;
  std::map<std::string, RowIdentity, std::less<>> identities_;
};

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_CONNECTION_H_
