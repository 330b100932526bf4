// A Recordset: the rows of a table or query, with a current row, columns
// addressed by 0-based position or by name, and the writes of the database
// posting: change fields of the current row or of a new row, then Update.
//
// A forward-only recordset streams its rows from the database (the export
// reads 100,000-row tables this way); a static one holds every row, knows
// their count and can go back to the first. Opening positions on the first
// row; Eof is true when there is none.
//
// Table names reach SQL only after the catalogue has confirmed them, in the
// catalogue's spelling, quoted; values only as bound parameters.
#ifndef LUMBRA_BACKENDS_DATABASE_RECORDSET_H_
#define LUMBRA_BACKENDS_DATABASE_RECORDSET_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/database/value.h"
#include "platform/status.h"

namespace lumbra::database {

class Connection;

enum class CursorType { kForwardOnly, kStatic };

class Recordset {
 public:
  Recordset();
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // "SELECT * FROM " and the table. The name is resolved as the database
  // resolves it (Connection::ResolveTable); one it does not resolve is
  // refused and never reaches the database. A static recordset also reads
  // the pseudo columns that name its rows, for Update. Closes whatever the
  // recordset had open first.
  Status Open(Connection* connection, std::string_view table, CursorType cursor);
  // The rows of the table whose column (its position among the table's
  // columns) equals key (a value converted for that column): the search of
  // the posting, done by the database. A database may compare more loosely
  // than KeyMatches (letter case, trailing blanks), so the caller still
  // checks each row.
  Status OpenMatching(Connection* connection, std::string_view table, size_t column,
                      const Value& key);
  // Rows of SQL text written by the program; read-only. Used by
  // Connection::Execute.
  Status OpenQuery(Connection* connection, const std::string& sql, CursorType cursor);

  bool IsOpen() const { return open_; }
  // Drops the rows and any pending change. Closing a closed recordset does
  // nothing.
  void Close();

  // The number of rows of a static recordset; -1 for a forward-only one.
  int64_t RecordCount() const;
  // Back to the first row: always for a static recordset, only while still
  // on the first row for a forward-only one. NotFound when there is no row.
  Status MoveFirst();
  // To the next row; Eof after the last. A failed read ends the rows: Eof
  // becomes true and the error is returned.
  Status MoveNext();
  bool Eof() const;

  size_t FieldCount() const { return columns_.size() - hidden_; }
  const Column& FieldColumn(size_t i) const { return columns_[i]; }
  const std::string& FieldName(size_t i) const { return columns_[i].name; }
  // The value of column i in the current row (a null at Eof).
  const Value& FieldValue(size_t i) const;
  // A column's position by name: an exact match, otherwise the only column
  // whose name matches ignoring letter case; -1 when there is none or more
  // than one.
  int FieldIndex(std::string_view name) const;

  // Starts a new row; fields written afterwards go into it.
  Status AddNew();
  // Writes a field of the new row, or of the current row. A value that the
  // column refuses (see ValueForColumn) is not written and the error says
  // why; so is every write to a read-only recordset or connection.
  Status SetField(size_t i, std::string_view text);
  // Saves the new row (INSERT of the written fields) or the changed fields of
  // the current row (UPDATE of exactly that row, named as RowIdentity says).
  // A change that would reach any other number of rows than one is undone
  // and fails: Busy when the row was named by a key and is no longer there
  // (changed or deleted by another program meanwhile), Corruption
  // otherwise. Nothing pending: nothing to do. The pending change is dropped
  // either way.
  Status Update();

  const std::string& table() const { return table_; }

 private:
  enum class Mode { kNone, kEdit, kAdd };
  struct Statement;

  Status OpenTable(Connection* connection, std::string_view table, CursorType cursor,
                   const std::string& where, const std::vector<std::pair<Column, Value>>& parameters);
  Status Start(Connection* connection, const std::string& sql, CursorType cursor,
               const std::vector<std::pair<Column, Value>>& parameters);
  // The positions of the columns that name the current row, or false when
  // one of them is missing or null in it.
  bool RowNamedBy(const std::vector<std::string>& names, std::vector<size_t>* positions) const;
  Status FetchRow(bool* got);
  Status Insert();
  Status Change();
  const std::vector<Value>& CurrentRow() const;

  Connection* connection_ = nullptr;
  std::unique_ptr<Statement> statement_;
  bool open_ = false;
  bool writable_ = false;
  CursorType cursor_ = CursorType::kForwardOnly;
  std::string table_;
  // The result's columns; the last hidden_ of them are the pseudo columns
  // that name a row, not shown as fields.
  std::vector<Column> columns_;
  size_t hidden_ = 0;
  // Static: every row; forward-only: the current row only.
  std::vector<std::vector<Value>> rows_;
  size_t position_ = 0;
  bool eof_ = true;
  bool moved_ = false;
  Mode mode_ = Mode::kNone;
  std::vector<std::optional<Value>> pending_;
};

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_RECORDSET_H_
