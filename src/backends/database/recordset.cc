#include "backends/database/recordset.h"

#include <algorithm>
#include <utility>

#include "backends/database/catalogue.h"
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
  odbc::Handle stmt;
  Status s = connection->NewStatement(&stmt);
  if (!s.ok()) return s;
  odbc::Parameters parameters;
  for (const auto& [column, value] : values) {
    if (!Succeeded(parameters.Bind(stmt.get(), *column, *value))) {
      return connection->Fail(SQL_HANDLE_STMT, stmt.get(), "value for " + column->name + " not bound");
    }
  }
  std::u16string wide = Cp1252ToUtf16(sql);
  SQLRETURN rc;
  {
    CallWatch::Scope scope(connection->watch(), "a change");
    rc = SQLExecDirectW(stmt.get(), reinterpret_cast<SQLWCHAR*>(wide.data()), SQL_NTS);
  }
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
  hidden_ = 0;
  rows_.clear();
  position_ = 0;
  eof_ = true;
  moved_ = false;
  mode_ = Mode::kNone;
  pending_.clear();
}

Status Recordset::Open(Connection* connection, std::string_view table, CursorType cursor) {
  return OpenTable(connection, table, cursor, std::string(), {});
}

Status Recordset::OpenMatching(Connection* connection, std::string_view table, size_t column,
                               const Value& key) {
  Close();
  if (connection == nullptr) return Status::IOError("the database connection is not open");
  const std::vector<Column>* columns = nullptr;
  Status s = connection->TableColumns(table, &columns);
  if (!s.ok()) return s;
  if (column >= columns->size()) {
    return Status::InvalidArgument("table " + std::string(table) + " has no column " +
                                   std::to_string(column + 1));
  }
  const Column& key_column = (*columns)[column];
  return OpenTable(connection, table, CursorType::kStatic,
                   " WHERE " + connection->QuoteName(key_column.name) + " = ?", {{key_column, key}});
}

Status Recordset::OpenTable(Connection* connection, std::string_view table, CursorType cursor,
                            const std::string& where,
                            const std::vector<std::pair<Column, Value>>& parameters) {
  Close();
  if (connection == nullptr) return Status::IOError("the database connection is not open");
  std::string spelling;
  Status s = connection->ResolveTable(table, &spelling);
  if (!s.ok()) return s;
  // The pseudo columns that name a row come last, after the table's own.
  std::string select = "SELECT *";
  std::vector<std::string> pseudo;
  if (cursor == CursorType::kStatic) pseudo = connection->Identity(spelling).pseudo_columns;
  for (const std::string& column : pseudo) select += ", " + connection->QuoteName(column);
  s = Start(connection, select + " FROM " + connection->QuoteName(spelling) + where, cursor,
            parameters);
  if (!s.ok()) return s;
  table_ = spelling;
  writable_ = true;
  hidden_ = std::min(pseudo.size(), columns_.size());
  // Drivers name a pseudo column in the result as they please ("rowid" for
  // "_ROWID_"): it keeps the name it was asked by.
  for (size_t k = 0; k < hidden_; ++k) columns_[columns_.size() - hidden_ + k].name = pseudo[k];
  return Status::OK();
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
  Status s = connection->NewStatement(&statement->stmt);
  if (!s.ok()) return s;
  SQLHSTMT stmt = statement->stmt.get();
  for (const auto& [column, value] : parameters) {
    if (!Succeeded(statement->parameters.Bind(stmt, column, value))) {
      return connection->Fail(SQL_HANDLE_STMT, stmt, "value for " + column.name + " not bound");
    }
  }
  std::u16string wide = Cp1252ToUtf16(sql);
  SQLRETURN rc;
  {
    CallWatch::Scope scope(connection->watch(), "a query");
    rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(wide.data()), SQL_NTS);
  }
  if (!Succeeded(rc)) return connection->Fail(SQL_HANDLE_STMT, stmt, "query failed: " + sql);
  if (!Succeeded(odbc::DescribeColumns(stmt, connection->dialect(), &columns_))) {
    return connection->Fail(SQL_HANDLE_STMT, stmt, "the columns of the result cannot be read");
  }
  statement_ = std::move(statement);
  open_ = true;
  if (cursor == CursorType::kStatic) {
    bool got = true;
    while (got) {
      s = FetchRow(&got);
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
  s = FetchRow(&got);
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
  SQLRETURN rc;
  {
    CallWatch::Scope scope(connection_->watch(), "reading rows");
    rc = SQLFetch(stmt);
  }
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
  size_t index = 0;
  return ResolveColumn(std::span(columns_.data(), FieldCount()), name, &index).ok()
             ? static_cast<int>(index)
             : -1;
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

  const std::vector<Value>& original = CurrentRow();
  const RowIdentity& id = connection_->Identity(table_);
  std::vector<size_t> identity;
  bool by_key = RowNamedBy(id.primary_key, &identity) || RowNamedBy(id.best_row_id, &identity);
  for (size_t i = 0; !by_key && i < id.unique_indexes.size(); ++i) {
    by_key = RowNamedBy(id.unique_indexes[i], &identity);
  }
  if (!by_key) {
    // Every original value, in the exact type it was read in. A loosely
    // typed database (SQLite) never comes here: every table of it has a
    // rowid or a primary key.
    identity.clear();
    for (size_t i = 0; i < FieldCount(); ++i) {
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
    if (rows == 1 || rows == -1) return Status::OK();
    if (rows == 0 && by_key) {
      return Status::Busy("the record in " + table_ +
                          " was changed or deleted by another program meanwhile");
    }
    return Status::Corruption(
        "the change of the record in " + table_ + " would reach " + std::to_string(rows) +
        " rows instead of one (" +
        (by_key ? std::string("by its key") : "by all its values; the table has no key") +
        "); not made");
  });
  if (!s.ok()) return s;
  std::vector<Value>& row = cursor_ == CursorType::kStatic ? rows_[position_] : rows_[0];
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (pending_[i]) row[i] = *pending_[i];
  }
  return Status::OK();
}

bool Recordset::RowNamedBy(const std::vector<std::string>& names,
                           std::vector<size_t>* positions) const {
  positions->clear();
  for (const std::string& name : names) {
    size_t i = 0;
    while (i < columns_.size() && columns_[i].name != name) ++i;
    if (i == columns_.size() || CurrentRow()[i].is_null()) return false;
    positions->push_back(i);
  }
  return !positions->empty();
}

}  // namespace lumbra::database
