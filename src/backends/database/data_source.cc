#include "backends/database/data_source.h"

#include <memory>

#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "platform/env.h"
#include "platform/process_end.h"
#include "text/passwords.h"
#include "backends/context/run_context.h"

namespace lumbra {
namespace database {
namespace {

constexpr std::string_view kSqliteHeader{"SQLite format 3\0", 16};
constexpr std::string_view kJetHeader = "Standard Jet DB";
constexpr std::string_view kAceHeader = "Standard ACE DB";

Status ReadHeader(Env* env, const std::string& path, std::string* header) {
  std::unique_ptr<RandomRWFile> file;
  Status s = env->OpenRandomRW(path, false, &file);
  if (s.ok()) s = file->Read(0, 32, header);
  return s;
}

}  // namespace

Status ResolveDataSource(Env* env, const std::string& data_path, const std::string& resolved_path,
                         DataSource* out, int timeout_seconds) {
  *out = DataSource();
  if (data_path.find('=') != std::string::npos) {
    out->kind = DataSourceKind::kConnectionString;
    out->connection_string = data_path;
    out->description = "ODBC connection \"" + HidePasswords(data_path) + "\"";
    return Status::OK();
  }
  std::string header;
  Status s = ReadHeader(env, resolved_path, &header);
  if (!s.ok()) {
    return Status::NotFound("database file " + resolved_path + " cannot be read: " + s.ToString());
  }
  if (resolved_path.find(';') != std::string::npos) {
    return Status::NotSupported("database file " + resolved_path +
                                " has a \";\" in its path, which an ODBC connection string cannot carry");
  }
  if (header.compare(0, kSqliteHeader.size(), kSqliteHeader) == 0) {
    out->kind = DataSourceKind::kSqliteFile;
    out->connection_string = "Driver={" + std::string(kSqliteDriver) + "};Database=" + resolved_path +
                             ";Timeout=" + std::to_string(timeout_seconds * 1000) + ";NoCreat=1;";
    out->description = "SQLite file " + resolved_path;
    return Status::OK();
  }
  if (header.size() >= 4 + kJetHeader.size() &&
      (header.compare(4, kJetHeader.size(), kJetHeader) == 0 ||
       header.compare(4, kAceHeader.size(), kAceHeader) == 0)) {
    out->kind = DataSourceKind::kAccessFile;
    out->connection_string = "Driver={" + std::string(kAccessDriver) + "};DBQ=" + resolved_path + ";";
    out->description = "Access file " + resolved_path;
    return Status::OK();
  }
  return Status::NotSupported("DataPath " + data_path +
                              " is neither an SQLite file, an Access file nor an ODBC connection string");
}

ConnectionOptions PassConnectionOptions(RunContext& ctx) {
  ConnectionOptions options;
  options.timeout_seconds = ctx.DbTimeoutSeconds;
  // The call watch runs on its own thread while the pass waits inside the
  // driver, so the log is not written by two threads at once.
  options.on_stall = [&ctx](const std::string& call) {
    ctx.LogFailure(Trouble::kDatabaseSilent,
                   "the database has not answered (" + call + ") for twice the time-out of " +
                       std::to_string(ctx.DbTimeoutSeconds) +
                       " s and more; the pass ends here, and what it had not committed is posted "
                       "by the next pass");
    ctx.report.Abandon();
    EndProcessAtOnce(kExitDatabaseSilent);
  };
  return options;
}

}  // namespace database

void OpenDatabaseConnection(RunContext& ctx) {
  if (ctx.DbConnection) ctx.DbConnection->Close();
  ctx.DbConnection.reset();
  database::DataSource source;
  std::string resolved =
      ctx.DataPath.find('=') == std::string::npos ? ctx.Path(ctx.DataPath) : ctx.DataPath;
  Status s = database::ResolveDataSource(ctx.env, ctx.DataPath, resolved, &source,
                                         ctx.DbTimeoutSeconds);
  if (!s.ok()) {
    ctx.LogFailure(s.IsNotFound() ? Trouble::kDataMissing : Trouble::kDatabaseSilent,
                   "database not opened: " + s.message());
    return;
  }
  std::unique_ptr<database::Connection> connection;
  s = database::Connection::Open(source.connection_string, database::PassConnectionOptions(ctx),
                                 &connection);
  if (!s.ok()) {
    ctx.LogFailure(Trouble::kDatabaseSilent,
                   "database not opened (" + source.description + "): " + s.message());
    return;
  }
  if (source.kind == database::DataSourceKind::kAccessFile) {
    connection->SetReadOnly(
        "Access files are opened through the MDB Tools driver, which can only read them");
  }
  ctx.Log("database opened: " + source.description +
          (connection->read_only() ? " (read-only: " + connection->read_only_reason() + ")" : ""));
  // Read once, here, for the posting and the export alike.
  s = connection->ReadCatalogue();
  if (!s.ok()) {
    ctx.LogFailure(Trouble::kDatabaseSilent,
                   "database: " + s.message() +
                       "; every device's lines wait for the next pass and the devices keep their "
                       "tables");
  }
  ctx.DbConnection = std::move(connection);
}

}  // namespace lumbra
