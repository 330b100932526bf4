#include "backends/database/row_identity.h"

#include <algorithm>
#include <functional>
#include <map>
#include <utility>

#include "backends/database/odbc_api.h"
#include "text/numbers.h"

namespace lumbra::database {
namespace {

using odbc::Succeeded;

SQLWCHAR* Wide(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

// Runs one catalogue function and hands each row to each_row; a function the
// driver does not offer, or that fails, gives no rows and its failure.
Status ForEachCatalogueRow(Connection* connection, const char* call,
                           const std::function<SQLRETURN(SQLHSTMT)>& start,
                           const std::function<void(SQLHSTMT)>& each_row) {
  odbc::Handle stmt;
  Status s = connection->NewStatement(&stmt);
  if (!s.ok()) return s;
  SQLRETURN rc;
  {
    CallWatch::Scope scope(connection->watch(), call);
    rc = start(stmt.get());
  }
  while (Succeeded(rc)) {
    {
      CallWatch::Scope scope(connection->watch(), call);
      rc = SQLFetch(stmt.get());
    }
    if (Succeeded(rc)) each_row(stmt.get());
  }
  if (rc == SQL_NO_DATA) return Status::OK();
  return connection->Fail(SQL_HANDLE_STMT, stmt.get(), call);
}

std::string TextAt(SQLHSTMT stmt, SQLUSMALLINT index) {
  std::string text;
  bool is_null = false;
  if (!Succeeded(odbc::ReadText(stmt, index, &text, &is_null)) || is_null) return std::string();
  return text;
}

// Column names in the order of their sequence numbers.
std::vector<std::string> InSequence(std::vector<std::pair<int, std::string>> parts) {
  std::stable_sort(parts.begin(), parts.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> names;
  for (auto& part : parts) names.push_back(std::move(part.second));
  return names;
}

bool HasColumn(const std::vector<Column>& columns, std::string_view name) {
  return std::any_of(columns.begin(), columns.end(),
                     [&](const Column& c) { return c.name == name; });
}

Status PrimaryKey(Connection* connection, std::u16string table, std::vector<std::string>* key) {
  std::vector<std::pair<int, std::string>> parts;
  Status s = ForEachCatalogueRow(
      connection, "SQLPrimaryKeys",
      [&](SQLHSTMT stmt) {
        return SQLPrimaryKeysW(stmt, nullptr, 0, nullptr, 0, Wide(table),
                               static_cast<SQLSMALLINT>(table.size()));
      },
      [&](SQLHSTMT stmt) {
        std::string column = TextAt(stmt, 4);
        if (!column.empty()) parts.emplace_back(static_cast<int>(ValueOf(TextAt(stmt, 5))), column);
      });
  *key = InSequence(std::move(parts));
  return s;
}

Status BestRowId(Connection* connection, std::u16string table, const std::vector<Column>& columns,
                 bool view, RowIdentity* identity) {
  Status s = ForEachCatalogueRow(
      connection, "SQLSpecialColumns",
      [&](SQLHSTMT stmt) {
        return SQLSpecialColumnsW(stmt, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, Wide(table),
                                  static_cast<SQLSMALLINT>(table.size()), SQL_SCOPE_TRANSACTION,
                                  SQL_NULLABLE);
      },
      [&](SQLHSTMT stmt) {
        std::string column = TextAt(stmt, 2);
        if (!column.empty()) identity->best_row_id.push_back(column);
      });
  const std::string& row_id = connection->dialect().row_id_column;
  if (identity->best_row_id.empty() && !row_id.empty()) identity->best_row_id.push_back(row_id);
  for (const std::string& column : identity->best_row_id) {
    if (HasColumn(columns, column)) continue;
    if (view) {
      // A view has no row identifier of its own to read.
      identity->best_row_id.clear();
      identity->pseudo_columns.clear();
      break;
    }
    identity->pseudo_columns.push_back(column);
  }
  return s;
}

Status UniqueIndexes(Connection* connection, std::u16string table,
                     std::vector<std::vector<std::string>>* out) {
  std::map<std::string, std::vector<std::pair<int, std::string>>> indexes;
  Status s = ForEachCatalogueRow(
      connection, "SQLStatistics",
      [&](SQLHSTMT stmt) {
        return SQLStatisticsW(stmt, nullptr, 0, nullptr, 0, Wide(table),
                              static_cast<SQLSMALLINT>(table.size()), SQL_INDEX_UNIQUE,
                              SQL_QUICK);
      },
      [&](SQLHSTMT stmt) {
        // The table's own statistics row names no index.
        std::string index = TextAt(stmt, 6), column = TextAt(stmt, 9);
        if (TextAt(stmt, 4) != "0" || index.empty() || column.empty()) return;
        indexes[index].emplace_back(static_cast<int>(ValueOf(TextAt(stmt, 8))), column);
      });
  for (auto& [name, parts] : indexes) out->push_back(InSequence(std::move(parts)));
  return s;
}

}  // namespace

Status ReadRowIdentity(Connection* connection, std::string_view table,
                       const std::vector<Column>& columns, bool view, RowIdentity* out) {
  const std::u16string wide = Cp1252ToUtf16(table);
  *out = RowIdentity();
  Status key = PrimaryKey(connection, wide, &out->primary_key);
  Status row_id = BestRowId(connection, wide, columns, view, out);
  Status unique = UniqueIndexes(connection, wide, &out->unique_indexes);
  return !key.ok() ? key : !row_id.ok() ? row_id : unique;
}

}  // namespace lumbra::database
