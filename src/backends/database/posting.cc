#include "backends/database/posting.h"

#include <algorithm>

#include "backends/context/run_context.h"
#include "backends/database/catalogue.h"
#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "backends/database/recordset.h"
#include "intake/posting.h"

namespace lumbra {
namespace database {
namespace {

// Detailed log lines per device file; beyond them only a count.
constexpr int kDetailedLinesPerFile = 20;

// A line's pairs with the table column each one names (-1: none).
struct ResolvedPairs {
  std::vector<int> column;
};

ResolvedPairs ResolvePairs(const std::vector<Column>& columns, const TransactionRecord& record,
                           LineResult* result) {
  ResolvedPairs r;
  for (const auto& [name, value] : record.pairs) {
    size_t index = 0;
    Status s = name.empty() ? Status::NotFound("") : ResolveColumn(columns, name, &index);
    r.column.push_back(s.ok() ? static_cast<int>(index) : -1);
    if (!s.ok() && !name.empty()) result->skipped.push_back(name + ": " + s.message());
  }
  return r;
}

// Writes the pairs into the recordset's pending row, except those that go
// to the key column of an update.
void WritePairs(Recordset& rs, const TransactionRecord& record, const ResolvedPairs& resolved,
                int skip_column, LineResult* result) {
  for (size_t p = 0; p < record.pairs.size(); ++p) {
    int index = resolved.column[p];
    if (index < 0 || index == skip_column) continue;
    Status s = rs.SetField(static_cast<size_t>(index), record.pairs[p].second);
    if (!s.ok()) result->skipped.push_back(record.pairs[p].first + ": " + s.message());
  }
}

Status PostInto(Connection* connection, const std::string& table, const TransactionRecord& record,
                const ResolvedPairs& resolved, size_t key_position, const Value& key,
                LineResult* result) {
  Recordset rs;
  // Under a savepoint of its own, so that a refused search (a key the
  // database cannot compare with the column) leaves the unit of work usable
  // for the search row by row.
  Status s = connection->Atomically(
      [&]() { return rs.OpenMatching(connection, table, key_position, key); });
  if (!s.ok()) {
    if (!connection->IsOpen() || s.IsBusy()) return s;
    s = rs.Open(connection, table, CursorType::kStatic);
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
    WritePairs(rs, record, resolved, static_cast<int>(key_position), result);
    result->outcome = LineOutcome::kUpdated;
  } else {
    s = rs.AddNew();
    if (!s.ok()) return s;
    WritePairs(rs, record, resolved, -1, result);
    result->outcome = LineOutcome::kAdded;
  }
  return rs.Update();
}

LineResult NotPosted(const Status& s, std::string prefix = "") {
  LineResult r;
  r.outcome = s.IsBusy() ? LineOutcome::kKept : LineOutcome::kRefused;
  r.reason = prefix + s.message();
  return r;
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
  // its own, so a refused line leaves nothing behind. A line that meets a
  // time-out, a lock or a busy database is kept with every later line, and
  // the lines before it are committed, so that they are not posted twice.
  // The fates are reported only once the unit is committed, so a pass killed
  // before leaves the whole file to be posted again.
  void PostDevice(RunContext& ctx, DeviceLines& lines) override {
    Connection* connection = ctx.DbConnection.get();
    const std::string dev = "device " + std::to_string(lines.device());
    if (connection == nullptr || !connection->IsOpen()) {
      return lines.KeepRest("no database connection", Trouble::kDatabaseSilent);
    }
    Status s = connection->ReadCatalogue();
    if (!s.ok()) return lines.KeepRest(s.message(), Trouble::kDatabaseSilent);
    s = connection->BeginWork();
    if (!s.ok() && !connection->read_only()) {
      ctx.Log(dev + ": lines are committed one by one: " + s.message());
    }
    std::vector<std::pair<size_t, LineResult>> results;
    int detailed = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!lines.pending(i)) continue;
      TransactionRecord record = ParseTransactionLine(lines.line(i));
      LineResult r = PostRecord(connection, record);
      if (!connection->IsOpen()) {
        r.outcome = LineOutcome::kKept;
        r.reason = "the database connection was lost at line " + std::to_string(i + 1) + " (" +
                   r.reason + ")";
        // The unit of work is gone with the link; without one, the lines
        // before were committed one by one.
        if (connection->in_work()) {
          connection->RollbackWork();
          return lines.KeepRest(r.reason, Trouble::kDatabaseSilent);
        }
      }
      if (r.outcome == LineOutcome::kKept) {
        results.emplace_back(i, std::move(r));
        break;
      }
      LogSkippedPairs(ctx, dev + " line " + std::to_string(i + 1) + " (" + record.type + ")", r,
                      &detailed);
      results.emplace_back(i, std::move(r));
    }
    if (connection->in_work()) {
      s = connection->CommitWork();
      if (!s.ok()) {
        return lines.KeepRest("the lines were not committed: " + s.message(),
                              Trouble::kDatabaseSilent);
      }
    }
    if (detailed > kDetailedLinesPerFile) {
      ctx.Log(dev + ": " + std::to_string(detailed - kDetailedLinesPerFile) +
              " more lines with skipped pairs not shown");
    }
    ReportFates(results, lines);
  }

 private:
  static void ReportFates(std::vector<std::pair<size_t, LineResult>>& results,
                          DeviceLines& lines) {
    for (auto& [i, r] : results) {
      switch (r.outcome) {
        case LineOutcome::kAdded:
        case LineOutcome::kUpdated:
          lines.Posted(i);
          break;
        case LineOutcome::kRefused:
          lines.Rejected(i, r.reason);
          break;
        case LineOutcome::kKept:
          // A time-out, a lock or a busy database: another program holds
          // what the line needs. A lost connection was said above.
          lines.Kept(i, r.reason, Trouble::kLockHeld);
          break;
      }
    }
  }
};

}  // namespace

LineResult PostRecord(Connection* connection, const TransactionRecord& record) {
  if (connection->read_only()) {
    LineResult r;
    r.reason = "the database cannot be written: " + connection->read_only_reason();
    return r;
  }
  std::string table;
  Status s = connection->ResolveTable(record.type, &table);
  if (!s.ok()) return NotPosted(s);
  const std::vector<Column>* columns = nullptr;
  s = connection->TableColumns(table, &columns);
  if (!s.ok()) return NotPosted(s);
  LineResult result;
  ResolvedPairs resolved = ResolvePairs(*columns, record, &result);
  // The key: of the first three columns, the first whose first pair carries
  // a value.
  const size_t candidates = std::min<size_t>(3, columns->size());
  size_t key_position = 0;
  const std::string* key_text = nullptr;
  for (size_t i = 0; i < candidates && key_text == nullptr; ++i) {
    auto pair = std::find(resolved.column.begin(), resolved.column.end(), static_cast<int>(i));
    if (pair == resolved.column.end()) continue;
    const std::string& value = record.pairs[pair - resolved.column.begin()].second;
    if (!value.empty()) {
      key_position = i;
      key_text = &value;
    }
  }
  if (key_text == nullptr) {
    std::string names;
    for (size_t i = 0; i < candidates; ++i) names += (i ? ", " : "") + (*columns)[i].name;
    result.reason = "none of the key columns (" + names + ") has a value in the line";
    return result;
  }
  Value key;
  s = ValueForColumn((*columns)[key_position], *key_text, &key);
  if (!s.ok()) return NotPosted(s, "key ");
  s = connection->Atomically(
      [&]() { return PostInto(connection, table, record, resolved, key_position, key, &result); });
  if (!s.ok()) {
    LineResult refused = NotPosted(s);
    refused.skipped = std::move(result.skipped);
    return refused;
  }
  return result;
}

}  // namespace database

std::unique_ptr<Posting> NewDatabasePosting() {
  return std::make_unique<database::DatabasePosting>();
}

}  // namespace lumbra
