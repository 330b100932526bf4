#include "backends/database/connection.h"

#include <algorithm>
#include <utility>

#include "backends/database/odbc_api.h"
#include "backends/database/recordset.h"
#include "backends/database/row_identity.h"

namespace lumbra::database {

using odbc::Succeeded;

struct Connection::Handles {
  odbc::Handle env;
  odbc::Handle dbc;
  bool connected = false;
};

namespace {

SQLWCHAR* Wide(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

std::string InfoText(SQLHDBC dbc, SQLUSMALLINT what) {
  SQLWCHAR buf[256] = {0};
  SQLSMALLINT length = 0;
  if (!Succeeded(SQLGetInfoW(dbc, what, buf, sizeof buf - sizeof(SQLWCHAR), &length))) {
    return std::string();
  }
  return odbc::FromWide(buf, 255);
}

SQLRETURN DriverConnect(SQLHDBC dbc, const std::string& connection_string) {
#ifdef _WIN32
  std::u16string wide = Cp1252ToUtf16(connection_string);
  return SQLDriverConnectW(dbc, nullptr, Wide(wide), SQL_NTS, nullptr, 0, nullptr,
                           SQL_DRIVER_NOPROMPT);
#else
  // Linux file names are the program's bytes as they stand, so a path in
  // the string reaches the driver unconverted.
  std::string text = connection_string;
  return SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr,
                          0, nullptr, SQL_DRIVER_NOPROMPT);
#endif
}

SQLPOINTER Number(uintptr_t n) { return reinterpret_cast<SQLPOINTER>(n); }

// The driver's own answer to "which tables" can come back empty when the
// file was held busy past its busy time-out; SQLite's own table list says
// whether that answer was true.
constexpr char kSqliteTableCount[] =
    "SELECT COUNT(*) FROM sqlite_master WHERE type IN ('table', 'view')";

}  // namespace

Connection::Connection() : handles_(std::make_unique<Handles>()) {}

Connection::~Connection() { Close(); }

Status Connection::Open(const std::string& connection_string, std::unique_ptr<Connection>* out) {
  return Open(connection_string, ConnectionOptions(), out);
}

Status Connection::Open(const std::string& connection_string, ConnectionOptions options,
                        std::unique_ptr<Connection>* out) {
  out->reset();
  std::unique_ptr<Connection> c(new Connection());
  Handles& h = *c->handles_;
  if (!Succeeded(h.env.Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE))) {
    return Status::IOError("the ODBC driver manager cannot be started");
  }
  SQLSetEnvAttr(h.env.get(), SQL_ATTR_ODBC_VERSION, Number(SQL_OV_ODBC3), 0);
  if (!Succeeded(h.dbc.Allocate(SQL_HANDLE_DBC, h.env.get()))) {
    return c->Fail(SQL_HANDLE_ENV, h.env.get(), "no connection handle");
  }
  const int timeout = std::max(options.timeout_seconds, 0);
  c->timeout_seconds_ = timeout;
  if (timeout > 0) {
    // A driver that knows neither attribute goes on without it.
    SQLSetConnectAttr(h.dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, Number(timeout), SQL_IS_UINTEGER);
    SQLSetConnectAttr(h.dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT, Number(timeout), SQL_IS_UINTEGER);
    if (options.on_stall) {
      c->watch_ = std::make_unique<CallWatch>(std::chrono::seconds(2 * timeout + 5),
                                              std::move(options.on_stall));
    }
  }
  SQLRETURN rc;
  {
    CallWatch::Scope scope(c->watch(), "connecting");
    rc = DriverConnect(h.dbc.get(), connection_string);
  }
  if (!Succeeded(rc)) return c->Fail(SQL_HANDLE_DBC, h.dbc.get(), "cannot connect");
  h.connected = true;
  c->open_ = true;
  c->quote_ = InfoText(h.dbc.get(), SQL_IDENTIFIER_QUOTE_CHAR);
  if (c->quote_ == " ") c->quote_.clear();
  c->dbms_name_ = InfoText(h.dbc.get(), SQL_DBMS_NAME);
  c->dialect_ = DialectFor(c->dbms_name_);
  SQLUSMALLINT txn = SQL_TC_NONE;
  if (Succeeded(SQLGetInfoW(h.dbc.get(), SQL_TXN_CAPABLE, &txn, sizeof txn, nullptr))) {
    c->transactions_ = txn != SQL_TC_NONE;
  }
  if (InfoText(h.dbc.get(), SQL_DATA_SOURCE_READ_ONLY) == "Y") {
    c->SetReadOnly("the data source is read-only");
  }
  *out = std::move(c);
  return Status::OK();
}

std::vector<std::string> InstalledDrivers() {
  odbc::Handle env;
  if (!Succeeded(env.Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE))) return {};
  SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, Number(SQL_OV_ODBC3), 0);
  return odbc::InstalledDrivers(env.get());
}

bool Connection::IsOpen() const { return open_ && !lost_; }

Status Connection::Close() {
  Handles& h = *handles_;
  if (h.connected) {
    CallWatch::Scope scope(watch(), "closing the connection");
    if (in_work_) SQLEndTran(SQL_HANDLE_DBC, h.dbc.get(), SQL_ROLLBACK);
    SQLDisconnect(h.dbc.get());
    h.connected = false;
  }
  h.dbc.Reset();
  h.env.Reset();
  open_ = false;
  in_work_ = false;
  savepoint_depth_ = 0;
  return Status::OK();
}

Status Connection::Fail(short handle_type, void* handle, std::string_view context) {
  odbc::Diagnostics d = odbc::ReadDiagnostics(handle_type, handle);
  if (odbc::IsConnectionState(d.state)) lost_ = true;
  std::string message = std::string(context) + ": " + d.text;
  if (IsPassingError(dialect_, d.state, d.native_error)) return Status::Busy(std::move(message));
  return Status::IOError(std::move(message));
}

Status Connection::NewStatement(odbc::Handle* stmt) {
  if (!IsOpen()) return Status::IOError("the database connection is not open");
  if (!Succeeded(stmt->Allocate(SQL_HANDLE_STMT, handles_->dbc.get()))) {
    return Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "no statement handle");
  }
  if (timeout_seconds_ > 0) {
    SQLSetStmtAttr(stmt->get(), SQL_ATTR_QUERY_TIMEOUT, Number(timeout_seconds_), SQL_IS_UINTEGER);
  }
  return Status::OK();
}

Status Connection::Run(const std::string& sql) {
  odbc::Handle stmt;
  Status s = NewStatement(&stmt);
  if (!s.ok()) return s;
  std::u16string wide = Cp1252ToUtf16(sql);
  SQLRETURN rc;
  {
    CallWatch::Scope scope(watch(), "a statement");
    rc = SQLExecDirectW(stmt.get(), Wide(wide), SQL_NTS);
  }
  if (!Succeeded(rc) && rc != SQL_NO_DATA) return Fail(SQL_HANDLE_STMT, stmt.get(), sql);
  return Status::OK();
}

Status Connection::Execute(const std::string& sql, Recordset* rs) {
  return rs->OpenQuery(this, sql, CursorType::kForwardOnly);
}

Status Connection::ReadCatalogue() {
  if (catalogue_status_) return *catalogue_status_;
  Status s = LoadCatalogue();
  if (s.ok() && catalogue_.empty()) s = ConfirmEmptyCatalogue();
  if (!s.ok()) {
    std::string why = "the table catalogue cannot be read: " + s.message();
    s = s.IsBusy() || !IsOpen() ? Status::Busy(why) : Status::IOError(why);
  }
  catalogue_status_ = s;
  return s;
}

Status Connection::LoadCatalogue() {
  odbc::Handle stmt;
  Status s = NewStatement(&stmt);
  if (!s.ok()) return s;
  SQLRETURN rc;
  {
    CallWatch::Scope scope(watch(), "the table catalogue");
    rc = SQLTablesW(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
  }
  if (!Succeeded(rc)) return Fail(SQL_HANDLE_STMT, stmt.get(), "SQLTables");
  for (;;) {
    {
      CallWatch::Scope scope(watch(), "the table catalogue");
      rc = SQLFetch(stmt.get());
    }
    if (!Succeeded(rc)) break;
    std::string name, type;
    bool null_name = false, null_type = false;
    if (!Succeeded(odbc::ReadText(stmt.get(), 3, &name, &null_name)) ||
        !Succeeded(odbc::ReadText(stmt.get(), 4, &type, &null_type))) {
      return Fail(SQL_HANDLE_STMT, stmt.get(), "SQLTables");
    }
    if (null_name || name.empty() || type.find("SYSTEM") != std::string::npos) continue;
    catalogue_.Add(std::move(name), type.find("VIEW") != std::string::npos);
  }
  if (rc != SQL_NO_DATA) return Fail(SQL_HANDLE_STMT, stmt.get(), "SQLTables");
  return Status::OK();
}

Status Connection::ConfirmEmptyCatalogue() {
  if (!dialect_.loosely_typed) return Status::OK();
  Recordset rs;
  Status s = Execute(kSqliteTableCount, &rs);
  if (!s.ok()) return s;
  double tables = NumberOf(rs.FieldValue(0));
  if (tables > 0) {
    return Status::Busy("the driver listed no tables, though the database holds " +
                        PlainText(rs.FieldValue(0)));
  }
  return Status::OK();
}

Status Connection::ResolveTable(std::string_view name, std::string* spelling) {
  Status s = ReadCatalogue();
  if (!s.ok()) return s;
  bool view = false;
  return catalogue_.Resolve(name, spelling, &view);
}

Status Connection::TableColumns(std::string_view table, const std::vector<Column>** columns) {
  *columns = nullptr;
  auto it = columns_.find(table);
  if (it != columns_.end()) {
    *columns = &it->second;
    return Status::OK();
  }
  std::string spelling;
  Status s = ResolveTable(table, &spelling);
  if (!s.ok()) return s;
  if (spelling != table) return TableColumns(spelling, columns);
  // Under a savepoint: a refused query must not spoil the unit of work.
  std::vector<Column> found;
  s = Atomically([&]() { return ReadColumns(spelling, &found); });
  if (!s.ok()) return s;
  *columns = &columns_.emplace(spelling, std::move(found)).first->second;
  return Status::OK();
}

Status Connection::ReadColumns(const std::string& table, std::vector<Column>* columns) {
  odbc::Handle stmt;
  Status s = NewStatement(&stmt);
  if (!s.ok()) return s;
  // The columns of an empty result; a driver that cannot filter gets the
  // plain query, which is only executed, never read. The first refusal is
  // the one that says why.
  const std::string context = "the columns of " + table + " cannot be read";
  std::string why;
  SQLRETURN rc = SQL_ERROR;
  for (const std::string& sql : {"SELECT * FROM " + QuoteName(table) + " WHERE 1=0",
                                 "SELECT * FROM " + QuoteName(table)}) {
    std::u16string wide = Cp1252ToUtf16(sql);
    {
      CallWatch::Scope scope(watch(), "reading a table's columns");
      rc = SQLExecDirectW(stmt.get(), Wide(wide), SQL_NTS);
    }
    if (Succeeded(rc)) break;
    Status failed = Fail(SQL_HANDLE_STMT, stmt.get(), context);
    // A time-out or a lock is no reason to try the plain query.
    if (failed.IsBusy() || !IsOpen()) return failed;
    if (why.empty()) why = failed.message();
    SQLFreeStmt(stmt.get(), SQL_CLOSE);
  }
  if (!Succeeded(rc)) return Status::IOError(why);
  rc = odbc::DescribeColumns(stmt.get(), dialect_, columns);
  if (!Succeeded(rc)) return Fail(SQL_HANDLE_STMT, stmt.get(), context);
  return Status::OK();
}

const RowIdentity& Connection::Identity(std::string_view table) {
  auto it = identities_.find(table);
  if (it != identities_.end()) return it->second;
  RowIdentity identity;
  const std::vector<Column>* columns = nullptr;
  std::string spelling;
  bool view = false;
  if (catalogue_.Resolve(table, &spelling, &view).ok() && TableColumns(table, &columns).ok()) {
    // What the driver could tell counts even when one of its answers failed;
    // the savepoint only keeps the failure out of the unit of work.
    Atomically([&]() { return ReadRowIdentity(this, table, *columns, view, &identity); });
  }
  return identities_.emplace(std::string(table), std::move(identity)).first->second;
}

std::string Connection::QuoteName(std::string_view name) const {
  if (quote_.empty()) return std::string(name);
  std::string out = quote_;
  for (char c : name) {
    out.push_back(c);
    if (quote_.size() == 1 && c == quote_[0]) out.push_back(c);
  }
  out += quote_;
  return out;
}

void Connection::SetReadOnly(std::string reason) { read_only_reason_ = std::move(reason); }

Status Connection::SetAutocommit(bool on) {
  SQLRETURN rc = SQLSetConnectAttr(handles_->dbc.get(), SQL_ATTR_AUTOCOMMIT,
                                   Number(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
                                   SQL_IS_UINTEGER);
  if (!Succeeded(rc)) return Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "the commit mode cannot be set");
  return Status::OK();
}

Status Connection::BeginWork() {
  if (!IsOpen()) return Status::IOError("the database connection is not open");
  if (in_work_) return Status::InvalidArgument("a unit of work is open already");
  if (!transactions_) return Status::NotSupported("the driver offers no transactions");
  Status s = SetAutocommit(false);
  if (!s.ok()) return Status::NotSupported(s.message());
  in_work_ = true;
  // Every line of a unit of work runs under a savepoint, so a refused line
  // leaves nothing behind and the lines after it still count.
  if (!dialect_.open_transaction.empty()) s = Run(dialect_.open_transaction);
  if (s.ok()) s = Run(dialect_.Savepoint("lumbra_probe"));
  if (s.ok() && !dialect_.Release("lumbra_probe").empty()) s = Run(dialect_.Release("lumbra_probe"));
  if (!s.ok()) {
    RollbackWork();
    return Status::NotSupported("the database offers no savepoints: " + s.message());
  }
  return Status::OK();
}

Status Connection::CommitWork() {
  if (!in_work_) return Status::InvalidArgument("no unit of work is open");
  Status s;
  SQLRETURN rc = SQL_ERROR;
  if (IsOpen()) {
    CallWatch::Scope scope(watch(), "the commit");
    rc = SQLEndTran(SQL_HANDLE_DBC, handles_->dbc.get(), SQL_COMMIT);
  }
  if (!Succeeded(rc)) {
    s = IsOpen() ? Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "the commit failed")
                 : Status::IOError("the database connection was lost before the commit");
    CallWatch::Scope scope(watch(), "the rollback");
    if (IsOpen()) SQLEndTran(SQL_HANDLE_DBC, handles_->dbc.get(), SQL_ROLLBACK);
  }
  in_work_ = false;
  savepoint_depth_ = 0;
  if (IsOpen()) SetAutocommit(true);
  return s;
}

Status Connection::RollbackWork() {
  if (!in_work_) return Status::InvalidArgument("no unit of work is open");
  Status s;
  if (IsOpen()) {
    CallWatch::Scope scope(watch(), "the rollback");
    if (!Succeeded(SQLEndTran(SQL_HANDLE_DBC, handles_->dbc.get(), SQL_ROLLBACK))) {
      s = Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "the rollback failed");
    }
  }
  in_work_ = false;
  savepoint_depth_ = 0;
  if (IsOpen()) SetAutocommit(true);
  return s;
}

Status Connection::Atomically(const std::function<Status()>& step) {
  if (!IsOpen() || local_transaction_) return step();
  if (in_work_) {
    std::string name = "lumbra_sp" + std::to_string(++savepoint_depth_);
    Status s = Run(dialect_.Savepoint(name));
    if (!s.ok()) {
      --savepoint_depth_;
      return s;
    }
    s = step();
    if (!s.ok() && IsOpen()) Run(dialect_.RollbackTo(name));
    const std::string release = dialect_.Release(name);
    if (IsOpen() && !release.empty()) {
      Status released = Run(release);
      if (s.ok() && !released.ok()) s = released;
    }
    --savepoint_depth_;
    return s;
  }
  if (!transactions_ || !SetAutocommit(false).ok()) return step();
  // A transaction of its own, undone whole on failure; Atomically calls
  // nested inside it simply run.
  local_transaction_ = true;
  Status s = step();
  local_transaction_ = false;
  if (IsOpen()) {
    CallWatch::Scope scope(watch(), "the commit");
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, handles_->dbc.get(), s.ok() ? SQL_COMMIT : SQL_ROLLBACK);
    if (s.ok() && !Succeeded(rc)) s = Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "the commit failed");
    SetAutocommit(true);
  }
  return s;
}

}  // namespace lumbra::database
