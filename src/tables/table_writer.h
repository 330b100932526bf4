// WriteTable: turns the rows collected in RowBuffer into the device table
// "1\<name>.dat" under the program's folder: the coded header, then each
// distinct row once, in sorted order.
#ifndef LUMBRA_TABLES_TABLE_WRITER_H_
#define LUMBRA_TABLES_TABLE_WRITER_H_

#include <string>

#include "platform/status.h"

namespace lumbra {

struct RunContext;

// An empty RowBuffer writes nothing and leaves any existing file untouched.
// RowBuffer is not cleared. The result is for the caller's information only:
// a table that cannot be written is logged, and the devices keep the copy
// they have.
Status WriteTable(RunContext& ctx, const std::string& name, const std::string& header);

// Tells the run report that the table ("1\Customers.dat") was written with
// that many rows (s ok) or left as it was because s failed. For the writers
// that save their tables themselves.
void ReportTable(RunContext& ctx, const std::string& table, const Status& s, size_t rows);

// For a back-end whose source holds no invoices: "1\InvoiceHeader.dat" and
// "1\InvoiceLines.dat" under the working folder, each replaced by a table of
// its header row only, so the devices drop the invoices of earlier passes.
// A table that cannot be written is logged and left as it was.
void WriteHeaderOnlyInvoiceTables(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_TABLES_TABLE_WRITER_H_
