#include "backends/database/posting.h"

#include <algorithm>

#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "backends/database/recordset.h"
#include "intake/device_files.h"
#include "platform/env.h"
#include "text/lines.h"
#include "backends/context/run_context.h"
#include "tables/device_tables.h"

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

bool HoldsMailLines(std::string_view text) {
  LineReader reader(text);
  std::string_view line;
  while (reader.Next(&line)) {
    TransactionRecord record = ParseTransactionLine(line);
    if (!record.field1.empty() && record.type.compare(0, 4, "Mail") == 0) return true;
  }
  return false;
}

struct FileTally {
  int added = 0, updated = 0, not_posted = 0, detailed = 0;
};

void LogLine(RunContext& ctx, const std::string& where, const LineResult& r, FileTally* tally) {
  bool failed = r.outcome == LineOutcome::kNotPosted;
  if (!failed && r.skipped.empty()) return;
  if (++tally->detailed > kDetailedLinesPerFile) return;
  std::string message = where + (failed ? ": not posted: " + r.reason : ": posted");
  for (const std::string& pair : r.skipped) message += "; pair " + pair + " skipped";
  ctx.Log(message);
}

// Posts one device's file; false when the file is to stay for a later pass.
bool PostDeviceFile(RunContext& ctx, Connection* connection, int device, std::string_view text) {
  const std::string dev = "device " + std::to_string(device);
  if (HoldsMailLines(text)) {
    ctx.Log(dev + ": transaction file still holds mail lines (their routing failed); kept for a "
            "later pass");
    return false;
  }
  Status work = connection->BeginWork();
  if (!work.ok() && !connection->read_only()) {
    ctx.Log(dev + ": lines are committed one by one: " + work.message());
  }
  FileTally tally;
  LineReader reader(text);
  std::string_view line;
  int number = 0;
  while (reader.Next(&line)) {
    ++number;
    TransactionRecord record = ParseTransactionLine(line);
    if (record.field1.empty()) continue;
    LineResult r = PostRecord(connection, record);
    if (!connection->IsOpen()) {
      if (connection->in_work()) connection->RollbackWork();
      ctx.Log(dev + ": the database connection was lost at line " + std::to_string(number) +
              " (" + r.reason + "); transaction file kept for a later pass");
      return false;
    }
    switch (r.outcome) {
      case LineOutcome::kAdded:
        ++tally.added;
        break;
      case LineOutcome::kUpdated:
        ++tally.updated;
        break;
      case LineOutcome::kNotPosted:
        ++tally.not_posted;
        break;
    }
    LogLine(ctx, dev + " line " + std::to_string(number) + " (" + record.type + ")", r, &tally);
  }
  if (connection->in_work()) {
    Status s = connection->CommitWork();
    if (!s.ok()) {
      ctx.Log(dev + ": the lines were not committed (" + s.message() +
              "); transaction file kept for a later pass");
      return false;
    }
  }
  if (tally.detailed > kDetailedLinesPerFile) {
    ctx.Log(dev + ": " + std::to_string(tally.detailed - kDetailedLinesPerFile) +
            " more lines with problems not shown");
  }
  ctx.Log(dev + ": " + std::to_string(tally.added) + " records added, " +
          std::to_string(tally.updated) + " updated, " + std::to_string(tally.not_posted) +
          " lines not posted");
  return true;
}

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

void PostDatabaseTransactions(RunContext& ctx) {
  database::Connection* connection = ctx.DbConnection.get();
  for (int device = kFirstDevice; device <= kLastDevice; ++device) {
    std::string path = IntakeFilePath(ctx, device);
    if (!ctx.env->FileExists(path)) continue;
    const std::string dev = "device " + std::to_string(device);
    if (connection == nullptr || !connection->IsOpen()) {
      ctx.Log(dev + ": no database connection; transaction file kept for a later pass");
      continue;
    }
    std::string text;
    Status s = ctx.env->ReadFile(path, &text);
    if (!s.ok()) {
      ctx.Log(dev + ": transaction file cannot be read, kept for a later pass: " + s.ToString());
      continue;
    }
    if (!database::PostDeviceFile(ctx, connection, device, text)) continue;
    s = ctx.env->DeleteFile(path);
    if (!s.ok()) ctx.Log(dev + ": posted transaction file not deleted: " + s.ToString());
  }
}

}  // namespace lumbra
