// The database back-ends ("MS Access®", "MS® SQL Server", "ODBC Datasource"):
// the connection that the intake opens on DataPath, posting of the devices'
// records into the tables their lines name, and the export of the tables
// that the devices' menu names.
#ifndef LUMBRA_BACKENDS_DATABASE_DATABASE_H_
#define LUMBRA_BACKENDS_DATABASE_DATABASE_H_

namespace lumbra {

struct RunContext;

// Opens DbConnection on DataPath (see data_source.h). A DataPath that cannot
// be opened is logged and leaves DbConnection empty.
void OpenDatabaseConnection(RunContext& ctx);

// Posts the intake file of every device 1 to 99 into the tables its lines
// name, one unit of work per device, and deletes the file once its lines
// are posted. A file that cannot be read, one that still holds mail lines,
// and every file while the connection is missing or lost, stays for a later
// pass.
void PostDatabaseTransactions(RunContext& ctx);

// Writes every table named in "1\menu.xml" as "1\<table>.dat" and copies it
// into every existing device folder 2 to 99.
void ExportDatabaseByMenu(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_DATABASE_DATABASE_H_
