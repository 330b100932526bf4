// Where the database back-ends' data lies: DataPath names either a database
// file or an ODBC connection string, and becomes the connection string that
// DbConnection is opened with.
//
//   an SQLite file ("SQLite format 3" header, any extension)
//       the SQLite3 ODBC driver, for reading and writing
//   an Access file ("Standard Jet DB" or "Standard ACE DB" header)
//       on Windows Microsoft's Access driver, for reading and writing: the
//       one of Access 2007 and later, else (for the older ".mdb" format
//       only) the Jet driver that 32-bit Windows programs have; elsewhere
//       the MDB Tools driver, which can only read: the connection is marked
//       read-only and every posted line is refused with that reason
//   a text holding "=" ("DSN=shop", "Driver={PostgreSQL Unicode};...")
//       used as it stands
//
// A file's driver is the first of its kind that the driver manager lists;
// without one the file is not opened, and the message names what to
// install. Anything else fails to open, as a missing file does. Relative
// paths resolve against the working folder.
#ifndef LUMBRA_BACKENDS_DATABASE_DATA_SOURCE_H_
#define LUMBRA_BACKENDS_DATABASE_DATA_SOURCE_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "backends/database/connection.h"
#include "platform/status.h"

namespace lumbra {

struct RunContext;
class Env;

namespace database {

// A driver that opens database files of one kind.
struct FileDriver {
  std::string_view name;
  // Opens Access 2007's format ("Standard ACE DB") as well as the older one.
  bool opens_ace = true;
  // Why a connection through it cannot write; empty when it can.
  std::string_view read_only_reason;
};

// The SQLite3 driver: "SQLite3 ODBC Driver" as its Windows installer
// registers it, "SQLite3" as Debian's package does.
inline constexpr FileDriver kSqliteDrivers[] = {{"SQLite3 ODBC Driver", true, ""}, {"SQLite3", true, ""}};

// Access files, best first. Windows: the Access Database Engine's driver,
// then Jet's (.mdb only, 32-bit programs only). Elsewhere: MDB Tools.
inline constexpr FileDriver kWindowsAccessDrivers[] = {
    {"Microsoft Access Driver (*.mdb, *.accdb)", true, ""},
    {"Microsoft Access Driver (*.mdb)", false, ""}};
inline constexpr FileDriver kMdbToolsDrivers[] = {
    {"MDBTools", true, "Access files are opened through the MDB Tools driver, which can only read them"}};
#ifdef _WIN32
inline constexpr std::span<const FileDriver> kAccessDrivers = kWindowsAccessDrivers;
#else
inline constexpr std::span<const FileDriver> kAccessDrivers = kMdbToolsDrivers;
#endif

// The first driver of the list that is installed (names compared without
// regard to letter case) and opens the file's format; nullptr when none.
const FileDriver* ChooseDriver(std::span<const FileDriver> drivers, bool ace_file,
                               const std::vector<std::string>& installed);

enum class DataSourceKind { kSqliteFile, kAccessFile, kConnectionString };

struct DataSource {
  DataSourceKind kind = DataSourceKind::kConnectionString;
  std::string connection_string;
  // For the log: the file and its driver, or the connection string with
  // its passwords hidden.
  std::string description;
  // Why the connection cannot write; empty when it can.
  std::string read_only_reason;
};

// Maps DataPath (already resolved against the working folder when it is a
// path) to a data source. NotFound for a file that cannot be read,
// NotSupported for a file of another kind or one whose driver is not
// installed. An SQLite file's driver waits up to timeout_seconds for a lock
// another program holds on it. installed: the drivers to choose from;
// without it, those the driver manager lists.
Status ResolveDataSource(Env* env, const std::string& data_path, const std::string& resolved_path,
                         DataSource* out, int timeout_seconds = 30,
                         const std::vector<std::string>* installed = nullptr);

// The options of a pass's database connections: the time-out of
// "dbtimeout=", and a stall action that logs and ends the pass with status
// kExitDatabaseSilent.
ConnectionOptions PassConnectionOptions(RunContext& ctx);

}  // namespace database
}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_DATABASE_DATA_SOURCE_H_
