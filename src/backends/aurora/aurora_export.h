// The steps of the Aurora export, in the order ExportAuroraData runs them.
// Each reads its tables through the engine and writes its device tables in
// folder "1\" before the next begins.
#ifndef LUMBRA_BACKENDS_AURORA_AURORA_EXPORT_H_
#define LUMBRA_BACKENDS_AURORA_AURORA_EXPORT_H_

namespace lumbra {

struct RunContext;
class TableEngine;

// "1\Customers.dat" from DMASTER.DBF. False, with nothing written, when the
// customer table cannot be opened: the export then stops.
bool ExportAuroraCustomers(RunContext& ctx, TableEngine& engine);
// "1\StockItems.dat" from STKBALS.DBF and STOCK.DBF, copying item pictures
// into "Images\".
void ExportAuroraStockItems(RunContext& ctx, TableEngine& engine);
// "1\InvoiceHeader.dat" and "1\InvoiceLines.dat" from INVIDX.DBF and
// OLDINV.DBF: the invoices not yet posted.
void ExportAuroraInvoices(RunContext& ctx, TableEngine& engine);
// "1\Suppliers.dat" from CMASTER.DBF, "1\Activity.dat" and
// "1\Freight.dat" from TABLES.DBF.
void ExportAuroraSuppliers(RunContext& ctx, TableEngine& engine);
void ExportAuroraActivities(RunContext& ctx, TableEngine& engine);
void ExportAuroraFreightMethods(RunContext& ctx, TableEngine& engine);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_AURORA_EXPORT_H_
