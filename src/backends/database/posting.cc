#include "backends/database/posting.h"

#include <algorithm>

#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "backends/database/recordset.h"
#include "intake/posting.h"
#include "platform/env.h"
#include "backends/context/run_context.h"

namespace lumbra {
namespace database {
namespace {

// Detailed log lines per device file; beyond them only a count.
constexpr int kDetailedLinesPerFile = 20;

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Writes the pairs into the recordset's pending row, except those that go
// to the key column of an update.
void WritePairs(Recordset& rs, const Pairs& pairs, int skip_column, LineResult* result) {
  for (const auto& [name, value] : pairs) {
    if (name.empty()) continue;
    int index = rs.FieldIndex(name);
    if (index < 0) {
      result->skipped.push_back(name + ": no such column");
      continue;
    }
    if (index == skip_column) continue;
    Status s = rs.SetField(static_cast<size_t>(index), value);
    if (!s.ok()) result->skipped.push_back(name + ": " + s.message());
  }
}

Status PostInto(Connection* connection, const TransactionRecord& record, const Column& key_column,
                size_t key_position, const Value& key, LineResult* result) {
  Recordset rs;
  // Under a savepoint of its own, so that a refused search (a key the
  // database cannot compare with the column) leaves the unit of work usable
  // for the search row by row.
  Status s = connection->Atomically(
      [&]() { return rs.OpenMatching(connection, record.type, key_column.name, key); });
  if (!s.ok()) {
    // A driver that cannot search with a parameter is searched row by row.
    if (!connection->IsOpen()) return s;
    s = rs.Open(connection, record.type, CursorType::kStatic);
    if (!s.ok()) return s;
  }
  bool found = false;
  while (!rs.Eof()) {
    if (KeyMatches(rs.FieldValue(key_position), key)) {
      found = true;
      break;
    }
    s = rs.MoveNext();
    if (!s.ok()) return s;
  }
  if (found) {
    WritePairs(rs, record.pairs, static_cast<int>(key_position), result);
    result->outcome = LineOutcome::kUpdated;
  } else {
    s = rs.AddNew();
    if (!s.ok()) return s;
    WritePairs(rs, record.pairs, -1, result);
    result->outcome = LineOutcome::kAdded;
  }
  return rs.Update();
}

// Detailed notes on skipped pairs per device file; beyond them only a count.
void LogSkippedPairs(RunContext& ctx, const std::string& where, const LineResult& r,
                     int* detailed) {
  if (r.skipped.empty() || ++*detailed > kDetailedLinesPerFile) return;
  std::string message = where + ": posted";
  for (const std::string& pair : r.skipped) message += "; pair " + pair + " skipped";
  ctx.Log(message);
}

class DatabasePosting : public Posting {
 public:
  bool UsesStagingFile() const override { return false; }

  void BeginPass(RunContext& ctx) override {
    if (ctx.DataPath.empty()) ctx.DataPath = kDefaultDatabaseFile;
    OpenDatabaseConnection(ctx);
  }

  // All lines of the device are one unit of work, each under a savepoint of
  // its own, so a refused line leaves nothing behind; the fates are reported
  // only once the unit is committed, so a pass killed before leaves the
  // whole file to be posted again.
  void PostDevice(RunContext& ctx, DeviceLines& lines) override {
    Connection* connection = ctx.DbConnection.get();
    const std::string dev = "device " + std::to_string(lines.device());
    if (connection == nullptr || !connection->IsOpen()) {
      return lines.KeepRest("no database connection");
    }
    Status work = connection->BeginWork();
    if (!work.ok() && !connection->read_only()) {
      ctx.Log(dev + ": lines are committed one by one: " + work.message());
    }
    std::vector<std::pair<size_t, LineResult>> results;
    int detailed = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!lines.pending(i)) continue;
      TransactionRecord record = ParseTransactionLine(lines.line(i));
      LineResult r = PostRecord(connection, record);
      if (!connection->IsOpen()) {
        if (connection->in_work()) connection->RollbackWork();
        return lines.KeepRest("the database connection was lost at line " +
                              std::to_string(i + 1) + " (" + r.reason + ")");
      }
      LogSkippedPairs(ctx, dev + " line " + std::to_string(i + 1) + " (" + record.type + ")", r,
                      &detailed);
      results.emplace_back(i, std::move(r));
    }
    if (connection->in_work()) {
      Status s = connection->CommitWork();
      if (!s.ok()) return lines.KeepRest("the lines were not committed: " + s.message());
    }
    if (detailed > kDetailedLinesPerFile) {
      ctx.Log(dev + ": " + std::to_string(detailed - kDetailedLinesPerFile) +
              " more lines with skipped pairs not shown");
    }
    for (auto& [i, r] : results) {
      if (r.outcome == LineOutcome::kNotPosted) {
        lines.Rejected(i, r.reason);
      } else {
        lines.Posted(i);
      }
    }
  }
};

}  // namespace

LineResult PostRecord(Connection* connection, const TransactionRecord& record) {
  LineResult result;
  if (connection->read_only()) {
    result.reason = "the database cannot be written: " + connection->read_only_reason();
    return result;
  }
  const std::vector<Column>* columns = nullptr;
  Status s = connection->TableColumns(record.type, &columns);
  if (!s.ok()) {
    result.reason = s.message();
    return result;
  }
  // The key: of the first three columns, the first whose first pair of the
  // same name carries a value.
  size_t key_position = 0;
  const std::string* key_text = nullptr;
  for (size_t i = 0; i < std::min<size_t>(3, columns->size()) && key_text == nullptr; ++i) {
    auto pair = std::find_if(record.pairs.begin(), record.pairs.end(),
                             [&](const auto& p) { return p.first == (*columns)[i].name; });
    if (pair != record.pairs.end() && !pair->second.empty()) {
      key_position = i;
      key_text = &pair->second;
    }
  }
  if (key_text == nullptr) {
    std::string names;
    for (size_t i = 0; i < std::min<size_t>(3, columns->size()); ++i) {
      names += (i ? ", " : "") + (*columns)[i].name;
    }
    result.reason = "none of the key columns (" + names + ") has a value in the line";
    return result;
  }
  const Column& key_column = (*columns)[key_position];
  Value key;
  s = ValueForColumn(key_column, *key_text, &key);
  if (!s.ok()) {
    result.reason = "key " + s.message();
    return result;
  }
  s = connection->Atomically(
      [&]() { return PostInto(connection, record, key_column, key_position, key, &result); });
  if (!s.ok()) {
    result.outcome = LineOutcome::kNotPosted;
    result.reason = s.message();
  }
  return result;
}

}  // namespace database

std::unique_ptr<Posting> NewDatabasePosting() {
  return std::make_unique<database::DatabasePosting>();
}

}  // namespace lumbra
