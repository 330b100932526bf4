// The database back-ends' speed against an SQLite file through the SQLite3
// ODBC driver: posting the devices' lines, and the menu export of a large
// table.
//
//   database_bench [--rows N] [--lines N]
//
// --rows: rows of the exported table (100000); --lines: device lines posted
// (10000) in each of four rounds, spread over ten devices: customer lines,
// half updates and half new rows (key: the primary key); order lines into an
// empty table without any index; then order lines, half updates and half new
// rows, into a table of --rows rows without any index, and into the same
// table with an index on its key column.
// Everything happens in a fresh folder under /tmp, removed at the end.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "intake/intake.h"
#include "intake/posting.h"
#include "run/run_driver.h"
#include "platform/env.h"
#include "backends/context/run_context.h"
#include "backends/context/run_log.h"
#include "backends/context/settings.h"

namespace {

namespace fs = std::filesystem;
using lumbra::Env;
using lumbra::RunContext;
using lumbra::Status;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Check(const Status& s, const char* what) {
  if (s.ok()) return true;
  std::fprintf(stderr, "database_bench: %s: %s\n", what, s.ToString().c_str());
  return false;
}

void WriteText(const std::string& path, const std::string& text) {
  Env::Default()->WriteFile(path, text);
}

bool MakeDatabase(const std::string& path, long rows, long customers) {
  std::unique_ptr<lumbra::database::Connection> c;
  if (!Check(lumbra::database::Connection::Open("Driver={SQLite3};Database=" + path + ";", &c),
             "create the database")) {
    return false;
  }
  const std::string n = std::to_string(rows), k = std::to_string(customers);
  for (const std::string& sql :
       {std::string("CREATE TABLE Stock (Code TEXT PRIMARY KEY, Description TEXT, Price MONEY, "
                    "OnHand INTEGER, Weight REAL, Updated DATE)"),
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + n +
            ") INSERT INTO Stock SELECT printf('P%06d', i), 'Item number ' || i, i % 1000 + 0.95, "
            "i % 77, i / 7.0, '2026-12-05' FROM n",
        std::string("CREATE TABLE Customers (Account TEXT PRIMARY KEY, Name TEXT, Phone TEXT, "
                    "Balance MONEY)"),
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + k +
            ") INSERT INTO Customers SELECT printf('C%06d', i), 'Customer ' || i, '08 9555 0000', "
            "i % 500 FROM n",
        std::string("CREATE TABLE Orders (OrderNo INTEGER, Account TEXT, Code TEXT, Qty INTEGER)"),
        std::string("CREATE TABLE Ledger (OrderNo INTEGER, Account TEXT, Code TEXT, Qty INTEGER)"),
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + n +
            ") INSERT INTO Ledger SELECT i * 2, printf('C%06d', i % 1000), 'P000001', 1 FROM n",
        std::string("CREATE TABLE Indexed AS SELECT * FROM Ledger"),
        std::string("CREATE INDEX IndexedOrderNo ON Indexed (OrderNo)")}) {
    if (!Check(c->Run(sql), "fill the database")) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 100000, lines = 10000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rows") == 0) rows = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--lines") == 0) lines = std::atol(argv[i + 1]);
  }
  std::string pattern = (fs::temp_directory_path() / "lumbra-dbbench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const std::string dir = pattern;
  Env* env = Env::Default();

  auto start = std::chrono::steady_clock::now();
  if (!MakeDatabase(dir + "/shop.db", rows, lines)) return 1;
  std::printf("database of %ld stock rows and %ld customers made in %.2f s\n", rows, lines,
              SecondsSince(start));

  WriteText(dir + "/Lumbra.ini", "appname=MS Access\xAE\r\npath=shop.db\r\n");
  env->CreateDir(dir + "/1");
  WriteText(dir + "/1/menu.xml", "0\tStock\tStock\r\n");
  const int devices = 10;
  lumbra::RunLog log(env, dir + "/Lumbra.log");
  RunContext ctx(env, &log, dir, dir);
  lumbra::ReadSettings(ctx);
  // Customers: odd lines update a customer, even ones add a new one, found
  // through the table's primary key. Orders: each line adds a row to a table
  // with no index, so every search reads the whole table. Ledger and Indexed:
  // odd lines update one of the table's rows (even order numbers), even
  // lines add a row; Ledger has no index, Indexed one on OrderNo.
  const char* rounds[] = {"Customers", "Orders", "Ledger", "Indexed"};
  const char* titles[] = {"customer (half updates, half new; primary key)",
                          "order (empty table without index)",
                          "order (half updates, half new; table without index)",
                          "order (half updates, half new; index on the key column)"};
  for (int round = 0; round < 4; ++round) {
    const std::string table = rounds[round];
    for (int d = 1; d <= devices; ++d) {
      std::string text;
      for (long i = d; i <= lines; i += devices) {
        long account = i % 2 ? i : lines + i;
        char line[256];
        if (table == "Customers") {
          std::snprintf(line, sizeof line,
                        "20261205abcdCustomers\tAccount\tC%06ld\tPhone\t08 9555 %04ld\tBalance\t%ld.5\r\n",
                        account, i % 10000, i % 300);
        } else {
          long order = table == "Orders" ? i : i % 2 ? (i * 7919 % rows + 1) * 2 : 2 * rows + i;
          std::snprintf(line, sizeof line,
                        "20261205abcd%s\tOrderNo\t%ld\tAccount\tC%06ld\tCode\tP%06ld\tQty\t%ld\r\n",
                        table.c_str(), order, account, i % 1000 + 1, i % 9 + 1);
        }
        text += line;
      }
      env->CreateDir(dir + "/" + std::to_string(d));
      WriteText(dir + "/" + std::to_string(d) + "/transact.xml", text);
    }
    start = std::chrono::steady_clock::now();
    lumbra::TakeInTransactions(ctx, lumbra::PostingFor(ctx).get());
    std::printf("intake and posting of %ld %s lines (%d devices): %.2f s\n", lines, titles[round],
                devices, SecondsSince(start));
  }

  start = std::chrono::steady_clock::now();
  lumbra::ExportDatabaseByMenu(ctx);
  double export_seconds = SecondsSince(start);
  uint64_t size = 0;
  env->GetFileSize(dir + "/1/Stock.dat", &size);
  std::printf("export of the %ld-row table Stock (%.1f MB) and its copies to %d device folders: "
              "%.2f s\n",
              rows, size / 1e6, devices - 1, export_seconds);
  ctx.DbConnection.reset();

  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
