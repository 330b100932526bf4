// Helpers for tests that talk to real databases through the ODBC drivers:
// SQLite files built through the SQLite3 driver, extra driver names
// registered for one test, and a private PostgreSQL server.
#ifndef LUMBRA_TESTS_SUPPORT_ODBC_TEST_UTIL_H_
#define LUMBRA_TESTS_SUPPORT_ODBC_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/status.h"

namespace lumbra::test {

class TempDir;

// The tests' drivers (SQLite3, MDB Tools, PostgreSQL) are Linux's, reached
// through unixODBC; under Wine the Windows program reaches the same ones
// through Wine's odbc32, which hands them connection strings unchanged, so
// a path inside one must be the host's (see PathForDrivers). The tests that
// need a driver skip without it, saying so.
bool TestDriversAvailable();
inline constexpr const char* kNoTestDrivers =
    "needs the SQLite3 ODBC driver (under Wine: Linux's libsqliteodbc, through Wine's odbc32)";

// Whether the driver manager lists the driver.
bool DriverInstalled(const std::string& name);

// Whether the run log "Lumbra.log" in the folder holds the message; the
// failure shows the log.
testing::AssertionResult Logged(const TempDir& dir, const std::string& message);

// The connection string of an SQLite file through the SQLite3 driver; the
// file is created when missing. path is the program's own (Z:\... under
// Wine).
std::string SqliteConnectionString(const std::string& path);

// Runs statements (DDL and data) on a database, in order; the first failure
// is returned.
Status RunStatements(const std::string& connection_string, const std::vector<std::string>& sql);

// Creates (or extends) an SQLite file with the statements.
Status MakeSqliteFile(const std::string& path, const std::vector<std::string>& sql);

// The rows of a query, each as its columns' plain texts joined by "|", null
// shown as "NULL". An error gives one row "ERROR: ...".
std::vector<std::string> QueryRows(const std::string& connection_string, const std::string& sql);

// One line of a device's transaction file: a record for the table with its
// column/value pairs, tab separated ("Account\tC1\tName\tAnn").
std::string TransactionLine(const std::string& table, const std::string& pairs);

// The test program registers the driver name MYOB_ODBC, served by the
// SQLite3 driver, before main runs: ODBCSYSINI then names a folder whose
// odbcinst.ini holds the system's drivers and that one. It has to happen
// before the first ODBC call, since the driver manager looks up where its
// driver list lies only once per process. Under Wine the host's driver
// manager reads the host's environment, which a Windows program cannot
// change: tools/wine-test.sh registers it before Wine starts.

// A private PostgreSQL server (tools/pg-test-server.sh). When LUMBRA_PG_ENV
// names the connection file of a server that ctest started, that server is
// used; otherwise one is started here and stopped on destruction.
class PostgresServer {
 public:
  PostgresServer();
  ~PostgresServer();

  bool running() const { return !settings_.empty(); }
  // Why there is no server: the server programs are not installed, or the
  // start failed (then the reason holds the script's output).
  const std::string& why_not() const { return why_not_; }
  bool programs_missing() const { return programs_missing_; }
  // "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=...;Database=..."; the
  // server's own database unless another is named.
  std::string ConnectionString(std::string database = "") const;

 private:
  std::string Setting(const std::string& name) const;

  std::string own_dir_;
  std::string settings_;  // the script's NAME=VALUE lines
  std::string why_not_;
  bool programs_missing_ = false;
};

}  // namespace lumbra::test

#endif  // LUMBRA_TESTS_SUPPORT_ODBC_TEST_UTIL_H_
