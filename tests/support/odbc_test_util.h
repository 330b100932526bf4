// Helpers for tests that talk to real databases through the ODBC drivers:
// SQLite files built through the SQLite3 driver, extra driver names
// registered for one test, and a private PostgreSQL server.
#ifndef LUMBRA_TESTS_SUPPORT_ODBC_TEST_UTIL_H_
#define LUMBRA_TESTS_SUPPORT_ODBC_TEST_UTIL_H_

#include <string>
#include <vector>

#include "run/status.h"

namespace lumbra::test {

// The connection string of an SQLite file through the SQLite3 driver; the
// file is created when missing.
std::string SqliteConnectionString(const std::string& path);

// Runs statements (DDL and data) on a database, in order; the first failure
// is returned.
Status RunStatements(const std::string& connection_string, const std::vector<std::string>& sql);

// Creates (or extends) an SQLite file with the statements.
Status MakeSqliteFile(const std::string& path, const std::vector<std::string>& sql);

// The rows of a query, each as its columns' plain texts joined by "|", null
// shown as "NULL". An error gives one row "ERROR: ...".
std::vector<std::string> QueryRows(const std::string& connection_string, const std::string& sql);

// The test program registers the driver name MYOB_ODBC, served by the
// SQLite3 driver, before main runs: ODBCSYSINI then names a folder whose
// odbcinst.ini holds the system's drivers and that one. It has to happen
// before the first ODBC call, since the driver manager looks up where its
// driver list lies only once per process.
inline constexpr char kMyobTestDriver[] = "MYOB_ODBC";

// A private PostgreSQL server (tools/pg-test-server.sh). When LUMBRA_PG_ENV
// names the connection file of a server that ctest started, that server is
// used; otherwise one is started here and stopped on destruction.
class PostgresServer {
 public:
  PostgresServer();
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  bool running() const { return !connection_string_.empty(); }
  // Why there is no server: the server programs are not installed, or the
  // start failed (then the reason holds the script's output).
  const std::string& why_not() const { return why_not_; }
  bool programs_missing() const { return programs_missing_; }
  // "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=...;Database=..."
  const std::string& connection_string() const { return connection_string_; }

 private:
  std::string own_dir_;
  std::string connection_string_;
  std::string why_not_;
  bool programs_missing_ = false;
};

}  // namespace lumbra::test

#endif  // LUMBRA_TESTS_SUPPORT_ODBC_TEST_UTIL_H_
