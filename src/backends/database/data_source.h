// Where the database back-ends' data lies: DataPath names either a database
// file or an ODBC connection string, and becomes the connection string that
// DbConnection is opened with.
//
//   an SQLite file ("SQLite format 3" header, any extension)
//       the SQLite3 ODBC driver, for reading and writing
//   an Access file ("Standard Jet DB" or "Standard ACE DB" header)
//       the MDB Tools ODBC driver, which can only read: the connection is
//       marked read-only and every posted line is refused with that reason
//   a text holding "=" ("DSN=shop", "Driver={PostgreSQL Unicode};...")
//       used as it stands
//
// Anything else fails to open, as a missing file does. Relative paths resolve
// against the working folder.
#ifndef LUMBRA_BACKENDS_DATABASE_DATA_SOURCE_H_
#define LUMBRA_BACKENDS_DATABASE_DATA_SOURCE_H_

#include <string>
#include <string_view>

#include "backends/database/connection.h"
#include "platform/status.h"

namespace lumbra {

struct RunContext;
class Env;

namespace database {

// The driver names that the Debian packages register with unixODBC.
inline constexpr std::string_view kSqliteDriver = "SQLite3";
inline constexpr std::string_view kAccessDriver = "MDBTools";

enum class DataSourceKind { kSqliteFile, kAccessFile, kConnectionString };

struct DataSource {
  DataSourceKind kind = DataSourceKind::kConnectionString;
  std::string connection_string;
  // For the log: the file, or the connection string with its passwords
  // hidden.
  std::string description;
};

// Maps DataPath (already resolved against the working folder when it is a
// path) to a data source. NotFound for a file that cannot be read,
// NotSupported for a file of another kind. An SQLite file's driver waits up
// to timeout_seconds for a lock another program holds on it.
Status ResolveDataSource(Env* env, const std::string& data_path, const std::string& resolved_path,
                         DataSource* out, int timeout_seconds = 30);

// The options of a pass's database connections: the time-out of
// "dbtimeout=", and a stall action that logs and ends the pass with status
// kExitDatabaseSilent.
ConnectionOptions PassConnectionOptions(RunContext& ctx);

}  // namespace database
}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_DATABASE_DATA_SOURCE_H_
