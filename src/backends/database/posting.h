// Posting of device records into database tables. Each line of a device's
// file names a table (field 1 from its 13th character) and gives pairs of
// column name and value; names are resolved as the database resolves them.
// Of the table's first three columns, the first whose name has a pair with a
// value is the key; the first row whose key column equals that value is
// updated with every other pair, and when there is none a row is added from
// all pairs. A pair whose column is missing or refuses its value is skipped;
// the other pairs still count.
#ifndef LUMBRA_BACKENDS_DATABASE_POSTING_H_
#define LUMBRA_BACKENDS_DATABASE_POSTING_H_

#include <string>
#include <vector>

#include "intake/transaction_line.h"
#include "platform/status.h"

namespace lumbra::database {

class Connection;

// kRefused: will not pass by itself (no such table, no key, a value the
// database refuses); kKept: failed for a reason that passes by itself (a
// time-out, a lock, a busy database).
enum class LineOutcome { kAdded, kUpdated, kRefused, kKept };

struct LineResult {
  LineOutcome outcome = LineOutcome::kRefused;
  // Why the line was not posted.
  std::string reason;
  // Pairs that were skipped, and why.
  std::vector<std::string> skipped;
};

// Posts one record; its changes take effect whole or not at all.
LineResult PostRecord(Connection* connection, const TransactionRecord& record);

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_POSTING_H_
