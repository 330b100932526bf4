// The database back-ends ("MS Access®", "MS® SQL Server", "ODBC Datasource"):
// the connection that the intake opens on DataPath, posting of the devices'
// records into the tables their lines name, and the export of the tables
// that the devices' menu names.
#ifndef LUMBRA_BACKENDS_DATABASE_DATABASE_H_
#define LUMBRA_BACKENDS_DATABASE_DATABASE_H_

#include <memory>
#include <string_view>

namespace lumbra {

struct RunContext;
class Posting;

// DataPath when Lumbra.ini names none: a file of the working folder.
inline constexpr std::string_view kDefaultDatabaseFile = "TamselDataLink.mdb";

// The exit status of a pass that a database left waiting past every limit
// (see call_watch.h).
inline constexpr int kExitDatabaseSilent = 4;

// Opens DbConnection on DataPath (see data_source.h), with the statement
// time-out DbTimeoutSeconds, and reads its catalogue. A DataPath that cannot
// be opened is logged and leaves DbConnection empty; a catalogue that cannot
// be read is logged once.
void OpenDatabaseConnection(RunContext& ctx);

// The database posting: opens DbConnection when the pass begins, then posts
// each device's lines into the tables they name, one unit of work per
// device. Lines the database refuses are rejected. A line that meets a
// time-out, a lock or a busy database is kept with the device's later lines
// (the lines before it are committed); every line is kept while there is no
// connection or no catalogue, when the connection is lost, or when the unit
// of work cannot be committed.
std::unique_ptr<Posting> NewDatabasePosting();

// Writes every table named in "1\menu.xml" as "1\<table>.dat" and copies it
// into every existing device folder 2 to 99. Without an answer from the
// database (no connection, a catalogue that cannot be read, a time-out or
// lock) the devices keep the tables they have.
void ExportDatabaseByMenu(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_DATABASE_DATABASE_H_
