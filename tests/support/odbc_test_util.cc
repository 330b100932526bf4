#include "support/odbc_test_util.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "backends/database/connection.h"
#include "backends/database/data_source.h"
#include "backends/database/recordset.h"
#include "backends/database/value.h"
#include "platform/driver_path.h"
#include "support/test_util.h"

namespace lumbra::test {

namespace {

[[maybe_unused]] std::string ReadAll(const std::string& path) {
  std::string text;
  Env::Default()->ReadFile(path, &text);
  return text;
}

#ifndef _WIN32
// Registers the test drivers for the life of the program.
class TestDrivers {
 public:
  TestDrivers() {
    const char* dir = std::getenv("ODBCSYSINI");
    std::string text = ReadAll((dir != nullptr && *dir ? dir : "/etc") + std::string("/odbcinst.ini"));
    // Debian's PostgreSQL drivers are registered with CommLog=1, which leaves
    // a log file in /tmp for every test program.
    for (size_t at = 0; (at = text.find("CommLog=1", at)) != std::string::npos;) text[at + 8] = '0';
    // MYOB_ODBC gets the settings of the SQLite3 driver.
    size_t at = text.find("[SQLite3]");
    text += "\n[MYOB_ODBC]" + (at == std::string::npos ? "\nDriver=libsqlite3odbc.so\n"
                                                        : text.substr(at + 9, text.find("\n[", at) - at - 9));
    dir_.Write("odbcinst.ini", text);
    dir_.Write("odbc.ini", "");
    ::setenv("ODBCSYSINI", dir_.path().c_str(), 1);
  }

 private:
  TempDir dir_;
};

const TestDrivers test_drivers;
#endif

}  // namespace

bool DriverInstalled(const std::string& name) {
  std::vector<std::string> drivers = database::InstalledDrivers();
  return std::find(drivers.begin(), drivers.end(), name) != drivers.end();
}

bool TestDriversAvailable() {
  static const bool available =
      database::ChooseDriver(database::kSqliteDrivers, false, database::InstalledDrivers()) != nullptr;
  return available;
}

testing::AssertionResult Logged(const TempDir& dir, const std::string& message) {
  std::string log = dir.Read("Lumbra.log");
  if (log.find(message) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << message << "\" is not in the log:\n" << log;
}

std::string SqliteConnectionString(const std::string& path) {
  const database::FileDriver* driver =
      database::ChooseDriver(database::kSqliteDrivers, false, database::InstalledDrivers());
  std::string name(driver != nullptr ? driver->name : database::kSqliteDrivers[0].name);
  return "Driver={" + name + "};Database=" + PathForDrivers(path) + ";";
}

Status RunStatements(const std::string& connection_string, const std::vector<std::string>& sql) {
  std::unique_ptr<database::Connection> c;
  Status s = database::Connection::Open(connection_string, &c);
  for (size_t i = 0; s.ok() && i < sql.size(); ++i) s = c->Run(sql[i]);
  return s;
}

Status MakeSqliteFile(const std::string& path, const std::vector<std::string>& sql) {
  return RunStatements(SqliteConnectionString(path), sql);
}

std::vector<std::string> QueryRows(const std::string& connection_string, const std::string& sql) {
  std::unique_ptr<database::Connection> c;
  Status s = database::Connection::Open(connection_string, &c);
  database::Recordset rs;
  if (s.ok()) s = c->Execute(sql, &rs);
  std::vector<std::string> rows;
  for (; s.ok() && !rs.Eof(); s = rs.MoveNext()) {
    std::string row;
    for (size_t i = 0; i < rs.FieldCount(); ++i) {
      const database::Value& v = rs.FieldValue(i);
      row += (i ? "|" : "") + (v.is_null() ? "NULL" : database::PlainText(v));
    }
    rows.push_back(row);
  }
  if (!s.ok()) return {"ERROR: " + s.message()};
  return rows;
}

std::string TransactionLine(const std::string& table, const std::string& pairs) {
  return "20240105abcd" + table + "\t" + pairs + "\r\n";
}

PostgresServer::PostgresServer() {
  // A server that ctest started; when it could not (no server programs), a
  // start here says why.
  if (const char* env = std::getenv("LUMBRA_PG_ENV"); env != nullptr && *env) settings_ = ReadAll(env);
  if (!settings_.empty()) return;
#ifdef _WIN32
  // Under Wine the server is the host's, which only ctest can start.
  why_not_ = "the PostgreSQL test server is started by ctest on the host (tools/pg-test-server.sh); run "
             "these tests through ctest";
  programs_missing_ = true;
#else
  TempDir parent;  // only for a fresh name; the script creates the folder
  own_dir_ = parent.path() + "-pg";
  std::string output;
  int rc = RunShell(std::string(LUMBRA_SOURCE_DIR) + "/tools/pg-test-server.sh start " + own_dir_ + " 2>&1",
                    &output);
  if (rc == 77) {
    programs_missing_ = true;
    why_not_ = "PostgreSQL server programs are not installed";
  } else if (rc != 0) {
    why_not_ = "the PostgreSQL test server did not start: " + output;
  } else {
    settings_ = output;
  }
#endif
}

PostgresServer::~PostgresServer() {
#ifndef _WIN32
  if (!own_dir_.empty()) {
    RunShell(std::string(LUMBRA_SOURCE_DIR) + "/tools/pg-test-server.sh stop " + own_dir_ + " >/dev/null 2>&1");
  }
#endif
}

// The value of the first line "NAME=value" of the settings.
std::string PostgresServer::Setting(const std::string& name) const {
  std::string text = "\n" + settings_;
  size_t at = text.find("\n" + name + "=");
  if (at == std::string::npos) return std::string();
  at += name.size() + 2;
  return text.substr(at, text.find_first_of("\r\n", at) - at);
}

std::string PostgresServer::ConnectionString(std::string database) const {
  if (database.empty()) database = Setting("PGDATABASE");
  return "Driver={PostgreSQL Unicode};Server=" + Setting("PGHOST") + ";Port=" + Setting("PGPORT") +
         ";Database=" + database + ";Uid=" + Setting("PGUSER") + ";Pwd=;CommLog=0;Debug=0;";
}

}  // namespace lumbra::test
