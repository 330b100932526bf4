// The database back-ends (Access, SQL Server, any ODBC data source): the
// tables named by the devices' menu, and posting of device records.
#ifndef LUMBRA_BACKENDS_DATABASE_DATABASE_H_
#define LUMBRA_BACKENDS_DATABASE_DATABASE_H_

namespace lumbra {

struct RunContext;

// Exports every table of "1\menu.xml" through DbConnection.
void ExportDatabaseByMenu(RunContext& ctx);
// Posts every device's "transact.xml" into the tables its lines name.
void PostDatabaseTransactions(RunContext& ctx);
// Opens DbConnection on DataPath.
void OpenDatabaseConnection(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_DATABASE_DATABASE_H_
