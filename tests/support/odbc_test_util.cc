#include "support/odbc_test_util.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "backends/database/connection.h"
#include "backends/database/recordset.h"
#include "backends/database/value.h"
#include "run/lines.h"
#include "support/test_util.h"

namespace lumbra::test {

namespace fs = std::filesystem;

namespace {

std::string SystemDriverFile() {
  const char* dir = std::getenv("ODBCSYSINI");
  return (dir != nullptr && *dir ? std::string(dir) : std::string("/etc")) + "/odbcinst.ini";
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// The value of a setting line "Name=value" in the section of an ini text.
std::string IniValue(const std::string& text, const std::string& section, const std::string& name) {
  LineReader reader(text);
  std::string_view line;
  bool inside = false;
  while (reader.Next(&line)) {
    if (!line.empty() && line[0] == '[') {
      inside = line == "[" + section + "]";
      continue;
    }
    if (!inside) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key(line.substr(0, eq));
    while (!key.empty() && key.back() == ' ') key.pop_back();
    if (key != name) continue;
    std::string value(line.substr(eq + 1));
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    return value;
  }
  return std::string();
}

std::string UniqueName(const std::string& stem) {
  static int counter = 0;
  auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return (fs::temp_directory_path() / (stem + std::to_string(::getpid()) + "-" +
                                       std::to_string(++counter) + "-" + std::to_string(ticks % 1000000)))
      .string();
}

std::string SettingOf(const std::string& output, const std::string& name) {
  LineReader reader(output);
  std::string_view line;
  while (reader.Next(&line)) {
    if (line.substr(0, name.size() + 1) == name + "=") return std::string(line.substr(name.size() + 1));
  }
  return std::string();
}

// Registers the test drivers for the life of the program.
class TestDrivers {
 public:
  TestDrivers() {
    std::string text = ReadAll(SystemDriverFile());
    // Debian's PostgreSQL drivers are registered with CommLog=1, which leaves
    // a log file in /tmp for every test program.
    for (size_t at = 0; (at = text.find("CommLog=1", at)) != std::string::npos;) {
      text.replace(at, 9, "CommLog=0");
    }
    std::string library = IniValue(text, "SQLite3", "Driver");
    if (library.empty()) library = "libsqlite3odbc.so";
    text += std::string("\n[") + kMyobTestDriver + "]\nDescription=SQLite3 standing in for MYOB\n" +
            "Driver=" + library + "\n";
    dir_ = UniqueName("lumbra-odbc-");
    fs::create_directories(dir_);
    std::ofstream(dir_ + "/odbcinst.ini", std::ios::binary) << text;
    std::ofstream(dir_ + "/odbc.ini", std::ios::binary) << "";
    ::setenv("ODBCSYSINI", dir_.c_str(), 1);
  }
  ~TestDrivers() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

 private:
  std::string dir_;
};

const TestDrivers test_drivers;

}  // namespace

std::string SqliteConnectionString(const std::string& path) {
  return "Driver={SQLite3};Database=" + path + ";";
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
  if (!s.ok()) return {"ERROR: " + s.message()};
  std::vector<std::string> rows;
  while (!rs.Eof()) {
    std::string row;
    for (size_t i = 0; i < rs.FieldCount(); ++i) {
      if (i) row += "|";
      const database::Value& v = rs.FieldValue(i);
      row += v.is_null() ? "NULL" : database::PlainText(v);
    }
    rows.push_back(row);
    s = rs.MoveNext();
    if (!s.ok()) return {"ERROR: " + s.message()};
  }
  return rows;
}

PostgresServer::PostgresServer() {
  std::string output;
  // A server that ctest started; when it could not (no server programs), a
  // start here says why.
  if (const char* env = std::getenv("LUMBRA_PG_ENV"); env != nullptr && *env) output = ReadAll(env);
  if (output.empty()) {
    own_dir_ = UniqueName("lumbra-pg-");
    int rc = RunShell(std::string(LUMBRA_SOURCE_DIR) + "/tools/pg-test-server.sh start " + own_dir_ +
                          " 2>&1",
                      &output);
    if (rc == 77) {
      programs_missing_ = true;
      why_not_ = "PostgreSQL server programs are not installed";
      return;
    }
    if (rc != 0) {
      why_not_ = "the PostgreSQL test server did not start: " + output;
      return;
    }
  }
  connection_string_ = "Driver={PostgreSQL Unicode};Server=" + SettingOf(output, "PGHOST") +
                       ";Port=" + SettingOf(output, "PGPORT") + ";Database=" +
                       SettingOf(output, "PGDATABASE") + ";Uid=" + SettingOf(output, "PGUSER") +
                       ";Pwd=;CommLog=0;Debug=0;";
}

PostgresServer::~PostgresServer() {
  if (own_dir_.empty()) return;
  RunShell(std::string(LUMBRA_SOURCE_DIR) + "/tools/pg-test-server.sh stop " + own_dir_ +
           " >/dev/null 2>&1");
}

}  // namespace lumbra::test
