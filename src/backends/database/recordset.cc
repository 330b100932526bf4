#include "backends/database/recordset.h"

#include <utility>

#include "backends/database/connection.h"
#include "backends/database/odbc_api.h"

namespace lumbra::database {

using odbc::Succeeded;

struct Recordset::Statement {
  odbc::Handle stmt;
  odbc::Parameters parameters;
};

namespace {

const Value& NullValue() {
  static const Value kNull;
  return kNull;
}

// Runs a statement of the program's SQL text with bound values; *rows gets
// the number of rows it changed (-1 when the driver cannot tell).
Status RunWithValues(Connection* connection, const std::string& sql,
                     const std::vector<std::pair<const Column*, const Value*>>& values,
                     SQLLEN* rows) {
  if (!connection->IsOpen()) return Status::IOError("the database connection is not open");
  SQLHDBC dbc = connection->odbc_handle();
  odbc::Handle stmt;
  if (!Succeeded(stmt.Allocate(SQL_HANDLE_STMT, dbc))) {
    return connection->Fail(SQL_HANDLE_DBC, dbc, "no statement handle");
  }
  odbc::Parameters parameters;
  for (const auto& [column, value] : values) {
    if (!Succeeded(parameters.Bind(stmt.get(), *column, *value))) {
      return connection->Fail(SQL_HANDLE_STMT, stmt.get(), "value for " + column->name + " not bound");
    }
  }
  std::u16string wide = Cp1252ToUtf16(sql);
  SQLRETURN rc = SQLExecDirectW(stmt.get(), reinterpret_cast<SQLWCHAR*>(wide.data()), SQL_NTS);
  if (rc == SQL_NO_DATA) {
    *rows = 0;
    return Status::OK();
  }
  if (!Succeeded(rc)) return connection->Fail(SQL_HANDLE_STMT, stmt.get(), "the database refused the change");
  *rows = -1;
  SQLRowCount(stmt.get(), rows);
  return Status::OK();
}

}  // namespace

Recordset::Recordset() = default;

Recordset::~Recordset() { Close(); }

void Recordset::Close() {
  statement_.reset();
  open_ = false;
  writable_ = false;
  table_.clear();
  columns_.clear();
  rows_.clear();
  position_ = 0;
  eof_ = true;
  moved_ = false;
  mode_ = Mode::kNone;
  pending_.clear();
}

Status Recordset::Open(Connection* connection, std::string_view table, CursorType cursor) {
  Close();
  if (connection == nullptr) return Status::IOError("the database connection is not open");
  bool found = false;
  Status s = connection->HasTable(table, &found);
  if (!s.ok()) return s;
  if (!found) return Status::NotFound("no table named " + std::string(table) + " in the database");
  s = Start(connection, "SELECT * FROM " + connection->QuoteName(table), cursor, {});
  if (s.ok()) {
    table_ = std::string(table);
    writable_ = true;
  }
  return s;
}

Status Recordset::OpenMatching(Connection* connection, std::string_view table,
                               std::string_view column, const Value& key) {
  Close();
  if (connection == nullptr) return Status::IOError("the database connection is not open");
  const std::vector<Column>* columns = nullptr;
  Status s = connection->TableColumns(table, &columns);
  if (!s.ok()) return s;
  const Column* key_column = nullptr;
  for (const Column& c : *columns) {
    if (c.name == column) {
      key_column = &c;
      break;
    }
  }
  if (key_column == nullptr) {
    return Status::NotFound("table " + std::string(table) + " has no column " + std::string(column));
  }
  std::string sql = "SELECT * FROM " + connection->QuoteName(table) + " WHERE " +
                    connection->QuoteName(column) + " = ?";
  s = Start(connection, sql, CursorType::kStatic, {{*key_column, key}});
  if (s.ok()) {
    table_ = std::string(table);
    writable_ = true;
  }
  return s;
}

Status Recordset::OpenQuery(Connection* connection, const std::string& sql, CursorType cursor) {
  Close();
  if (connection == nullptr) return Status::IOError("the database connection is not open");
  return Start(connection, sql, cursor, {});
}

Status Recordset::Start(Connection* connection, const std::string& sql, CursorType cursor,
                        const std::vector<std::pair<Column, Value>>& parameters) {
  connection_ = connection;
  cursor_ = cursor;
  if (!connection->IsOpen()) return Status::IOError("the database connection is not open");
  auto statement = std::make_unique<Statement>();
  SQLHDBC dbc = connection->odbc_handle();
  if (!Succeeded(statement->stmt.Allocate(SQL_HANDLE_STMT, dbc))) {
    return connection->Fail(SQL_HANDLE_DBC, dbc, "no statement handle");
  }
  SQLHSTMT stmt = statement->stmt.get();
  for (const auto& [column, value] : parameters) {
    if (!Succeeded(statement->parameters.Bind(stmt, column, value))) {
      return connection->Fail(SQL_HANDLE_STMT, stmt, "value for " + column.name + " not bound");
    }
  }
  std::u16string wide = Cp1252ToUtf16(sql);
  SQLRETURN rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(wide.data()), SQL_NTS);
  if (!Succeeded(rc)) return connection->Fail(SQL_HANDLE_STMT, stmt, "query failed: " + sql);
  if (!Succeeded(odbc::DescribeColumns(stmt, &columns_))) {
    return connection->Fail(SQL_HANDLE_STMT, stmt, "the columns of the result cannot be read");
  }
  statement_ = std::move(statement);
  open_ = true;
  if (cursor == CursorType::kStatic) {
    bool got = true;
    while (got) {
      Status s = FetchRow(&got);
      if (!s.ok()) {
        Close();
        return s;
      }
    }
    statement_.reset();
    position_ = 0;
    eof_ = rows_.empty();
    return Status::OK();
  }
  bool got = false;
  Status s = FetchRow(&got);
  eof_ = !got;
  if (!s.ok()) {
    Close();
    return s;
  }
  return Status::OK();
}

Status Recordset::FetchRow(bool* got) {
  *got = false;
  SQLHSTMT stmt = statement_->stmt.get();
  SQLRETURN rc = SQLFetch(stmt);
  if (rc == SQL_NO_DATA) return Status::OK();
  if (!Succeeded(rc)) return connection_->Fail(SQL_HANDLE_STMT, stmt, "the next row cannot be read");
  std::vector<Value> row(columns_.size());
  for (size_t i = 0; i < columns_.size(); ++i) {
    rc = odbc::ReadValue(stmt, static_cast<SQLUSMALLINT>(i + 1), columns_[i], &row[i]);
    if (!Succeeded(rc)) {
      return connection_->Fail(SQL_HANDLE_STMT, stmt, "column " + columns_[i].name + " cannot be read");
    }
  }
  if (cursor_ == CursorType::kStatic) {
    rows_.push_back(std::move(row));
  } else {
    rows_.resize(1);
    rows_[0] = std::move(row);
  }
  *got = true;
  return Status::OK();
}

int64_t Recordset::RecordCount() const {
  if (!open_ || cursor_ != CursorType::kStatic) return -1;
  return static_cast<int64_t>(rows_.size());
}

Status Recordset::MoveFirst() {
  if (!open_) return Status::InvalidArgument("the recordset is not open");
  mode_ = Mode::kNone;
  if (cursor_ == CursorType::kStatic) {
    if (rows_.empty()) return Status::NotFound("no records");
    position_ = 0;
    eof_ = false;
    return Status::OK();
  }
  if (moved_) return Status::NotSupported("a forward-only recordset cannot go back");
  if (eof_) return Status::NotFound("no records");
  return Status::OK();
}

Status Recordset::MoveNext() {
  if (!open_) return Status::InvalidArgument("the recordset is not open");
  if (eof_) return Status::InvalidArgument("past the last record");
  mode_ = Mode::kNone;
  moved_ = true;
  if (cursor_ == CursorType::kStatic) {
    ++position_;
    eof_ = position_ >= rows_.size();
    return Status::OK();
  }
  bool got = false;
  Status s = FetchRow(&got);
  eof_ = !got || !s.ok();
  return s;
}

bool Recordset::Eof() const { return !open_ || eof_; }

const std::vector<Value>& Recordset::CurrentRow() const {
  return cursor_ == CursorType::kStatic ? rows_[position_] : rows_[0];
}

const Value& Recordset::FieldValue(size_t i) const {
  if (Eof() || i >= columns_.size()) return NullValue();
  return CurrentRow()[i];
}

int Recordset::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].name == name) return static_cast<int>(i);
  }
  int found = -1;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!EqualsIgnoringCase(columns_[i].name, name)) continue;
    if (found >= 0) return -1;
    found = static_cast<int>(i);
  }
  return found;
}

Status Recordset::AddNew() {
  if (!open_ || !writable_) return Status::NotSupported("the rows of this recordset cannot be changed");
  if (connection_->read_only()) return Status::NotSupported(connection_->read_only_reason());
  mode_ = Mode::kAdd;
  pending_.assign(columns_.size(), std::nullopt);
  return Status::OK();
}

Status Recordset::SetField(size_t i, std::string_view text) {
  if (!open_ || !writable_) return Status::NotSupported("the rows of this recordset cannot be changed");
  if (connection_->read_only()) return Status::NotSupported(connection_->read_only_reason());
  if (i >= columns_.size()) return Status::InvalidArgument("no such column");
  if (mode_ == Mode::kNone) {
    if (Eof()) return Status::InvalidArgument("no current record");
    mode_ = Mode::kEdit;
    pending_.assign(columns_.size(), std::nullopt);
  }
  Value value;
  Status s = ValueForColumn(columns_[i], text, &value);
  if (!s.ok()) return s;
  pending_[i] = std::move(value);
  return Status::OK();
}

Status Recordset::Update() {
  if (mode_ == Mode::kNone) return Status::OK();
  Status s = mode_ == Mode::kAdd ? Insert() : Change();
  mode_ = Mode::kNone;
  pending_.clear();
  return s;
}

Status Recordset::Insert() {
  std::string names, marks;
  std::vector<std::pair<const Column*, const Value*>> values;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!pending_[i]) continue;
    if (!values.empty()) names += ", ", marks += ", ";
    names += connection_->QuoteName(columns_[i].name);
    marks += "?";
    values.emplace_back(&columns_[i], &*pending_[i]);
  }
  if (values.empty()) return Status::InvalidArgument("no field of the new record was written");
  std::string sql = "INSERT INTO " + connection_->QuoteName(table_) + " (" + names + ") VALUES (" +
                    marks + ")";
  SQLLEN rows = 0;
  Status s = RunWithValues(connection_, sql, values, &rows);
  if (!s.ok()) return s;
  if (cursor_ == CursorType::kStatic) {
    std::vector<Value> row(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (pending_[i]) row[i] = *pending_[i];
    }
    rows_.push_back(std::move(row));
    position_ = rows_.size() - 1;
    eof_ = false;
  }
  return Status::OK();
}

Status Recordset::Change() {
  if (Eof()) return Status::InvalidArgument("no current record");
  std::string set;
  std::vector<std::pair<const Column*, const Value*>> values;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!pending_[i]) continue;
    if (!values.empty()) set += ", ";
    set += connection_->QuoteName(columns_[i].name) + " = ?";
    values.emplace_back(&columns_[i], &*pending_[i]);
  }
  if (values.empty()) return Status::OK();

  // The row is named by its primary key when the table has one among the
  // columns, otherwise by all of its original values.
  const std::vector<Value>& original = CurrentRow();
  std::vector<size_t> identity;
  for (const std::string& key : connection_->PrimaryKey(table_)) {
    size_t i = 0;
    while (i < columns_.size() && columns_[i].name != key) ++i;
    if (i == columns_.size()) {
      identity.clear();
      break;
    }
    identity.push_back(i);
  }
  if (identity.empty()) {
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (columns_[i].cls != ColumnClass::kBinary) identity.push_back(i);
    }
  }
  std::string where;
  for (size_t i : identity) {
    if (!where.empty()) where += " AND ";
    where += connection_->QuoteName(columns_[i].name);
    if (original[i].is_null()) {
      where += " IS NULL";
    } else {
      where += " = ?";
      values.emplace_back(&columns_[i], &original[i]);
    }
  }
  std::string sql = "UPDATE " + connection_->QuoteName(table_) + " SET " + set + " WHERE " + where;
  Status s = connection_->Atomically([&]() -> Status {
    SQLLEN rows = 0;
    Status run = RunWithValues(connection_, sql, values, &rows);
    if (!run.ok()) return run;
    if (rows != 1 && rows != -1) {
      return Status::Corruption("the change of the record in " + table_ + " would reach " +
                                std::to_string(rows) + " rows instead of one; not made");
    }
    return Status::OK();
  });
  if (!s.ok()) return s;
  std::vector<Value>& row = cursor_ == CursorType::kStatic ? rows_[position_] : rows_[0];
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (pending_[i]) row[i] = *pending_[i];
  }
  return Status::OK();
}

}  // namespace lumbra::database
