// The Aurora back-end: the DBF tables of the accounting package under
// DataPath.
#ifndef LUMBRA_BACKENDS_AURORA_AURORA_H_
#define LUMBRA_BACKENDS_AURORA_AURORA_H_

namespace lumbra {

struct RunContext;

// Writes the customer, stock, invoice, supplier, activity and freight tables.
void ExportAuroraData(RunContext& ctx);
// Posts the staged device file "tempdb.dat" as unposted invoices.
void PostAuroraTransactions(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_AURORA_H_
