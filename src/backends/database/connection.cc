#include "backends/database/connection.h"

#include <algorithm>
#include <utility>

#include "backends/database/odbc_api.h"
#include "backends/database/recordset.h"
#include "text/numbers.h"

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
  char buf[256] = {0};
  SQLSMALLINT length = 0;
  if (!Succeeded(SQLGetInfo(dbc, what, buf, sizeof buf - 1, &length))) return std::string();
  return std::string(buf);
}

}  // namespace

Connection::Connection() : handles_(std::make_unique<Handles>()) {}

Connection::~Connection() { Close(); }

Status Connection::Open(const std::string& connection_string, std::unique_ptr<Connection>* out) {
  out->reset();
  std::unique_ptr<Connection> c(new Connection());
  Handles& h = *c->handles_;
  if (!Succeeded(h.env.Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE))) {
    return Status::IOError("the ODBC driver manager cannot be started");
  }
  SQLSetEnvAttr(h.env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!Succeeded(h.dbc.Allocate(SQL_HANDLE_DBC, h.env.get()))) {
    return c->Fail(SQL_HANDLE_ENV, h.env.get(), "no connection handle");
  }
  SQLSetConnectAttr(h.dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(30),
                    SQL_IS_UINTEGER);
  std::string text = connection_string;
  SQLRETURN rc = SQLDriverConnect(h.dbc.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                  SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) return c->Fail(SQL_HANDLE_DBC, h.dbc.get(), "cannot connect");
  h.connected = true;
  c->open_ = true;
  c->quote_ = InfoText(h.dbc.get(), SQL_IDENTIFIER_QUOTE_CHAR);
  if (c->quote_ == " ") c->quote_.clear();
  c->dbms_name_ = InfoText(h.dbc.get(), SQL_DBMS_NAME);
  SQLUSMALLINT txn = SQL_TC_NONE;
  if (Succeeded(SQLGetInfo(h.dbc.get(), SQL_TXN_CAPABLE, &txn, sizeof txn, nullptr))) {
    c->transactions_ = txn != SQL_TC_NONE;
  }
  if (InfoText(h.dbc.get(), SQL_DATA_SOURCE_READ_ONLY) == "Y") {
    c->SetReadOnly("the data source is read-only");
  }
  *out = std::move(c);
  return Status::OK();
}

bool Connection::IsOpen() const { return open_ && !lost_; }

Status Connection::Close() {
  Handles& h = *handles_;
  if (h.connected) {
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

void* Connection::odbc_handle() const { return handles_->dbc.get(); }

Status Connection::Fail(short handle_type, void* handle, std::string_view context) {
  odbc::Diagnostics d = odbc::ReadDiagnostics(handle_type, handle);
  if (odbc::IsConnectionState(d.state)) lost_ = true;
  return Status::IOError(std::string(context) + ": " + d.text);
}

Status Connection::Run(const std::string& sql) {
  if (!IsOpen()) return Status::IOError("the database connection is not open");
  odbc::Handle stmt;
  if (!Succeeded(stmt.Allocate(SQL_HANDLE_STMT, handles_->dbc.get()))) {
    return Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "no statement handle");
  }
  std::u16string wide = Cp1252ToUtf16(sql);
  SQLRETURN rc = SQLExecDirectW(stmt.get(), Wide(wide), SQL_NTS);
  if (!Succeeded(rc) && rc != SQL_NO_DATA) return Fail(SQL_HANDLE_STMT, stmt.get(), sql);
  return Status::OK();
}

Status Connection::Execute(const std::string& sql, Recordset* rs) {
  return rs->OpenQuery(this, sql, CursorType::kForwardOnly);
}

Status Connection::LoadCatalogue() {
  if (catalogue_loaded_) return Status::OK();
  if (!IsOpen()) return Status::IOError("the database connection is not open");
  odbc::Handle stmt;
  if (!Succeeded(stmt.Allocate(SQL_HANDLE_STMT, handles_->dbc.get()))) {
    return Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "no statement handle");
  }
  SQLRETURN rc = SQLTables(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
  if (!Succeeded(rc)) return Fail(SQL_HANDLE_STMT, stmt.get(), "the table catalogue cannot be read");
  std::set<std::string, std::less<>> tables;
  while (Succeeded(rc = SQLFetch(stmt.get()))) {
    std::string name, type;
    bool null_name = false, null_type = false;
    if (!Succeeded(odbc::ReadText(stmt.get(), 3, &name, &null_name)) ||
        !Succeeded(odbc::ReadText(stmt.get(), 4, &type, &null_type))) {
      return Fail(SQL_HANDLE_STMT, stmt.get(), "the table catalogue cannot be read");
    }
    if (null_name || name.empty() || type.find("SYSTEM") != std::string::npos) continue;
    tables.insert(std::move(name));
  }
  if (rc != SQL_NO_DATA) return Fail(SQL_HANDLE_STMT, stmt.get(), "the table catalogue cannot be read");
  tables_ = std::move(tables);
  catalogue_loaded_ = true;
  return Status::OK();
}

Status Connection::HasTable(std::string_view name, bool* found) {
  *found = false;
  Status s = LoadCatalogue();
  if (!s.ok()) return s;
  *found = tables_.find(name) != tables_.end();
  return Status::OK();
}

Status Connection::TableColumns(std::string_view table, const std::vector<Column>** columns) {
  *columns = nullptr;
  auto it = columns_.find(table);
  if (it != columns_.end()) {
    *columns = &it->second;
    return Status::OK();
  }
  bool found = false;
  Status s = HasTable(table, &found);
  if (!s.ok()) return s;
  if (!found) return Status::NotFound("no table named " + std::string(table) + " in the database");
  odbc::Handle stmt;
  if (!Succeeded(stmt.Allocate(SQL_HANDLE_STMT, handles_->dbc.get()))) {
    return Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "no statement handle");
  }
  // The columns of an empty result; a driver that cannot filter gets the
  // plain query, which is only executed, never read.
  std::vector<Column> found_columns;
  SQLRETURN rc = SQL_ERROR;
  for (const std::string& sql : {"SELECT * FROM " + QuoteName(table) + " WHERE 1=0",
                                 "SELECT * FROM " + QuoteName(table)}) {
    std::u16string wide = Cp1252ToUtf16(sql);
    rc = SQLExecDirectW(stmt.get(), Wide(wide), SQL_NTS);
    if (Succeeded(rc)) break;
    if (!IsOpen()) break;
    SQLFreeStmt(stmt.get(), SQL_CLOSE);
  }
  if (!Succeeded(rc)) return Fail(SQL_HANDLE_STMT, stmt.get(), "the columns of " + std::string(table) + " cannot be read");
  rc = odbc::DescribeColumns(stmt.get(), &found_columns);
  if (!Succeeded(rc)) return Fail(SQL_HANDLE_STMT, stmt.get(), "the columns of " + std::string(table) + " cannot be read");
  auto inserted = columns_.emplace(std::string(table), std::move(found_columns));
  *columns = &inserted.first->second;
  return Status::OK();
}

const std::vector<std::string>& Connection::PrimaryKey(std::string_view table) {
  auto it = primary_keys_.find(table);
  if (it != primary_keys_.end()) return it->second;
  std::vector<std::pair<int, std::string>> parts;
  odbc::Handle stmt;
  if (IsOpen() && Succeeded(stmt.Allocate(SQL_HANDLE_STMT, handles_->dbc.get()))) {
    std::u16string wide = Cp1252ToUtf16(table);
    SQLRETURN rc = SQLPrimaryKeysW(stmt.get(), nullptr, 0, nullptr, 0, Wide(wide),
                                   static_cast<SQLSMALLINT>(wide.size()));
    while (Succeeded(rc) && Succeeded(rc = SQLFetch(stmt.get()))) {
      std::string column, sequence;
      bool null_column = false, null_sequence = false;
      if (!Succeeded(odbc::ReadText(stmt.get(), 4, &column, &null_column))) break;
      odbc::ReadText(stmt.get(), 5, &sequence, &null_sequence);
      if (null_column || column.empty()) continue;
      parts.emplace_back(static_cast<int>(ValueOf(sequence)), std::move(column));
    }
  }
  std::stable_sort(parts.begin(), parts.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> key;
  for (auto& part : parts) key.push_back(std::move(part.second));
  return primary_keys_.emplace(std::string(table), std::move(key)).first->second;
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
  SQLRETURN rc = SQLSetConnectAttr(
      handles_->dbc.get(), SQL_ATTR_AUTOCOMMIT,
      reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
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
  s = Run("SAVEPOINT lumbra_probe");
  if (s.ok()) s = Run("RELEASE SAVEPOINT lumbra_probe");
  if (!s.ok()) {
    RollbackWork();
    return Status::NotSupported("the database offers no savepoints: " + s.message());
  }
  return Status::OK();
}

Status Connection::CommitWork() {
  if (!in_work_) return Status::InvalidArgument("no unit of work is open");
  Status s;
  if (!IsOpen() || !Succeeded(SQLEndTran(SQL_HANDLE_DBC, handles_->dbc.get(), SQL_COMMIT))) {
    s = IsOpen() ? Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "the commit failed")
                 : Status::IOError("the database connection was lost before the commit");
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
  if (IsOpen() && !Succeeded(SQLEndTran(SQL_HANDLE_DBC, handles_->dbc.get(), SQL_ROLLBACK))) {
    s = Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "the rollback failed");
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
    Status s = Run("SAVEPOINT " + name);
    if (!s.ok()) {
      --savepoint_depth_;
      return s;
    }
    s = step();
    if (!s.ok() && IsOpen()) Run("ROLLBACK TO SAVEPOINT " + name);
    if (IsOpen()) {
      Status released = Run("RELEASE SAVEPOINT " + name);
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
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, handles_->dbc.get(), s.ok() ? SQL_COMMIT : SQL_ROLLBACK);
    if (s.ok() && !Succeeded(rc)) s = Fail(SQL_HANDLE_DBC, handles_->dbc.get(), "the commit failed");
    SetAutocommit(true);
  }
  return s;
}

}  // namespace lumbra::database
