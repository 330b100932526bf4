// The Aurora back-end: the DBF tables of the accounting package under
// DataPath.
#ifndef LUMBRA_BACKENDS_AURORA_AURORA_H_
#define LUMBRA_BACKENDS_AURORA_AURORA_H_

#include <memory>

namespace lumbra {

struct RunContext;
class Posting;
class DeviceLines;

// Writes the customer, stock, invoice, supplier, activity and freight tables.
void ExportAuroraData(RunContext& ctx);
// The Aurora posting: each device's invoice lines and customer changes go
// into the DBF tables under DataPath (PostAuroraLines).
std::unique_ptr<Posting> NewAuroraPosting();
void PostAuroraLines(RunContext& ctx, DeviceLines& lines);
// The same for the lines of the staging file "tempdb.dat".
void PostAuroraTransactions(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_AURORA_H_
