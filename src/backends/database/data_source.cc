#include "backends/database/data_source.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "platform/driver_path.h"
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

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// What to install when no driver of the list is there.
std::string WhatToInstall(DataSourceKind kind) {
  const std::string bits = sizeof(void*) == 8 ? "64" : "32";
#ifdef _WIN32
  if (kind == DataSourceKind::kSqliteFile) {
    return "install the SQLite ODBC driver (sqliteodbc, " + bits + "-bit like this program)";
  }
  return "install Microsoft's Access Database Engine 2016 Redistributable in its " + bits +
         "-bit edition, like this program" +
         (bits == "64" ? "" : " (or use the Jet driver that 32-bit Windows has, for .mdb files)");
#else
  return kind == DataSourceKind::kSqliteFile ? "install Debian's package libsqliteodbc"
                                             : "install Debian's package odbc-mdbtools";
#endif
}

std::string Quoted(std::span<const FileDriver> drivers, bool ace_file) {
  std::string names;
  for (const FileDriver& d : drivers) {
    if (ace_file && !d.opens_ace) continue;
    names += (names.empty() ? "\"" : " or \"") + std::string(d.name) + "\"";
  }
  return names;
}

}  // namespace

const FileDriver* ChooseDriver(std::span<const FileDriver> drivers, bool ace_file,
                               const std::vector<std::string>& installed) {
  for (const FileDriver& d : drivers) {
    if (ace_file && !d.opens_ace) continue;
    for (const std::string& name : installed) {
      if (SameName(name, d.name)) return &d;
    }
  }
  return nullptr;
}

Status ResolveDataSource(Env* env, const std::string& data_path, const std::string& resolved_path,
                         DataSource* out, int timeout_seconds,
                         const std::vector<std::string>* installed) {
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
  bool sqlite = header.compare(0, kSqliteHeader.size(), kSqliteHeader) == 0;
  bool jet = header.size() >= 4 + kJetHeader.size() && header.compare(4, kJetHeader.size(), kJetHeader) == 0;
  bool ace = header.size() >= 4 + kAceHeader.size() && header.compare(4, kAceHeader.size(), kAceHeader) == 0;
  if (!sqlite && !jet && !ace) {
    return Status::NotSupported("DataPath " + data_path +
                                " is neither an SQLite file, an Access file nor an ODBC connection string");
  }
  out->kind = sqlite ? DataSourceKind::kSqliteFile : DataSourceKind::kAccessFile;
  std::span<const FileDriver> drivers = sqlite ? std::span<const FileDriver>(kSqliteDrivers) : kAccessDrivers;
  std::vector<std::string> listed;
  if (installed == nullptr) {
    listed = InstalledDrivers();
    installed = &listed;
  }
  const FileDriver* driver = ChooseDriver(drivers, ace, *installed);
  std::string what = sqlite ? "SQLite file " : ace ? "Access 2007 file " : "Access file ";
  if (driver == nullptr) {
    return Status::NotSupported(what + resolved_path + " needs the ODBC driver " + Quoted(drivers, ace) +
                                ", and none is installed: " + WhatToInstall(out->kind));
  }
  std::string path = PathForDrivers(resolved_path);
  out->connection_string = "Driver={" + std::string(driver->name) + "};";
  if (sqlite) {
    out->connection_string += "Database=" + path + ";Timeout=" + std::to_string(timeout_seconds * 1000) +
                              ";NoCreat=1;";
  } else {
    out->connection_string += "DBQ=" + path + ";";
  }
  out->description = what + resolved_path + " through the driver \"" + std::string(driver->name) + "\"";
  out->read_only_reason = driver->read_only_reason;
  return Status::OK();
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
  if (!source.read_only_reason.empty()) connection->SetReadOnly(source.read_only_reason);
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
