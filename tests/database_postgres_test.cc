// The database back-end "ODBC Datasource" against a real PostgreSQL server
// through the PostgreSQL ODBC driver: DataPath is the connection string.
#ifndef _WIN32
#include <signal.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "backends/database/connection.h"
#include "text/lines.h"
#include "backends/context/run_context.h"
#include "report/run_overview.h"
#include "run/run_driver.h"
#include "support/odbc_test_util.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

using Rows = std::vector<std::string>;
using test::Logged;
using test::TransactionLine;

class DatabasePostgresTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = std::make_unique<test::PostgresServer>(); }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (server_->programs_missing()) GTEST_SKIP() << server_->why_not();
    ASSERT_TRUE(server_->running()) << server_->why_not();
    // A database of its own, so tests may run side by side on one server.
    static int counter = 0;
    std::string name = "lumbra_" + std::to_string(std::random_device{}()) + "_" +
                       std::to_string(++counter);
    ASSERT_TRUE(test::RunStatements(server_->ConnectionString(), {"CREATE DATABASE " + name}).ok());
    db_ = server_->ConnectionString(name);
    Status s = test::RunStatements(
        db_, {"CREATE TABLE \"Customers\" (\"Id\" serial PRIMARY KEY, \"Account\" varchar(10), "
              "\"Name\" text, \"Balance\" money, \"Since\" date, \"Rate\" double precision)",
              "INSERT INTO \"Customers\" (\"Account\", \"Name\", \"Balance\", \"Since\") VALUES "
              "('C1', 'Alice', 3.5, '2006-03-05'), ('C2', NULL, NULL, NULL)",
              "CREATE TABLE \"Loose\" (\"K\" text, \"V\" text, \"N\" integer)",
              // No key, and two rows alike: only the row's ctid tells them apart.
              "INSERT INTO \"Loose\" VALUES ('k', 'one', 1), ('k', 'one', 1)",
              "CREATE TABLE \"Empty\" (\"A\" text, \"B\" numeric(8,2))",
              "CREATE TABLE \"Tokens\" (\"T\" uuid, \"V\" text)",
              "INSERT INTO \"Tokens\" VALUES ('a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', 'old')",
              // Created without quotes: PostgreSQL keeps the names as "parts",
              // "code" and "qty".
              "CREATE TABLE Parts (Code text, Qty integer)",
              "CREATE TABLE \"Dup\" (\"K\" text)", "CREATE TABLE \"DUP\" (\"K\" text)",
              // Its every query fails; the lines after it must still count.
              "CREATE VIEW \"Broken\" AS SELECT 1 / 0 AS \"K\""});
    ASSERT_TRUE(s.ok()) << s.ToString();
    dir_.Write("Lumbra.ini", "appname=ODBC Datasource\r\npath=" + db_ + "\r\n");
    for (const char* folder : {"1", "2"}) dir_.MakeDir(folder);
  }
  void Pass() {
    test::TestRun run(dir_);
    RunPass(run.ctx());
  }
  Rows Query(const std::string& sql) { return test::QueryRows(db_, sql); }

  static inline std::unique_ptr<test::PostgresServer> server_;
  test::TempDir dir_;
  std::string db_;
};

TEST_F(DatabasePostgresTest, PostsIntoTheFoundRowOrANewOneThenExportsTheMenu) {
  dir_.Write("2\\transact.xml",
             TransactionLine("Customers", "Account\tC1\tName\tAlicia\tBalance\t12.5") +
                 TransactionLine("Customers", "Account\tC3\tName\tCarl \xE9\tSince\t2024-01-02") +
                 TransactionLine("Customers", "Account\tC3\tRate\t0.1") +
                 TransactionLine("Customers", "Id\tnot a number\tName\tX") + TransactionLine("Broken", "K\t1") +
                 TransactionLine("Loose", "K\tk\tV\tONE") +
                 TransactionLine("Empty", "A\ta1\tB\t7.5") +
                 TransactionLine("Tokens", "T\ta0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11\tV\tnew") +
                 TransactionLine("Parts", "Code\tP1\tQty\t2") + TransactionLine("dup", "K\tx") +
                 TransactionLine("Customers\"; DROP TABLE \"Loose", "Account\tC9"));
  dir_.Write("1\\menu.xml",
             "0\tc\tCustomers\r\n0\te\tEmpty\r\n0\tl\tLoose\r\n0\tx\tMissing\r\n0\tp\tParts\r\n");
  Pass();
  EXPECT_EQ(Query("SELECT \"Id\", \"Account\", \"Name\", \"Balance\"::numeric, \"Since\", \"Rate\" "
                  "FROM \"Customers\" ORDER BY \"Id\""),
            (Rows{"1|C1|Alicia|12.5|2006-03-05|NULL", "2|C2|NULL|NULL|NULL|NULL", "3|C3|Carl \xE9|NULL|2024-01-02|0.1"}));
  // Only the first of two rows sharing the key value changes.
  EXPECT_EQ(Query("SELECT \"V\" FROM \"Loose\" ORDER BY \"V\""), (Rows{"ONE", "one"}));
  EXPECT_EQ(Query("SELECT \"A\", \"B\" FROM \"Empty\""), Rows{"a1|7.5"});
  // The driver gives GUIDs in capitals; the key in small letters finds its row.
  EXPECT_EQ(Query("SELECT \"V\" FROM \"Tokens\""), Rows{"new"});
  EXPECT_EQ(Query("SELECT code, qty FROM parts"), Rows{"P1|2"});
  EXPECT_FALSE(dir_.Exists("2\\transact.xml.intake"));

  // The server returns changed rows last: compare the rows in key order.
  Rows lines = SplitLines(dir_.Read("1\\Customers.dat"));
  ASSERT_EQ(lines.size(), 4u);
  std::sort(lines.begin() + 1, lines.end());
  EXPECT_EQ(lines, SplitLines(test::Coded({"Id\tAccount\tName\tBalance\tSince\tRate\t",
                                           "1\tC1\tAlicia\t$12.50\t2006-03-05\t\t", "2\tC2\t\t\t\t\t",
                                           "3\tC3\tCarl \xE9\t\t2024-01-02\t0.1\t"})));
  EXPECT_EQ(dir_.Read("1\\Empty.dat"), test::Coded({"A\tB\t", "a1\t7.5\t"}));
  EXPECT_EQ(dir_.Read("1\\Missing.dat"), test::Coded({""}));
  EXPECT_EQ(dir_.Read("1\\Parts.dat"), test::Coded({"code\tqty\t", "P1\t2\t"}));
  EXPECT_EQ(dir_.Read("2\\Customers.dat"), dir_.Read("1\\Customers.dat"));
  EXPECT_TRUE(Logged(dir_, "line 4 rejected (" + dir_.FilesUnder("Rejected").at(0) +
                               "): key column Id refuses the value"));
  EXPECT_TRUE(Logged(dir_, "table name dup is ambiguous: it matches DUP, Dup"));
  EXPECT_TRUE(Logged(dir_, "division by zero"));
  EXPECT_TRUE(Logged(dir_, "device 2: 7 lines posted, 0 kept for the next pass, 4 rejected"));
}

TEST_F(DatabasePostgresTest, ConnectionLostWhilePostingKeepsEveryRecordForTheNextPass) {
  // A row that makes the server end the session, as a lost link would.
  ASSERT_TRUE(test::RunStatements(db_, {"CREATE TABLE \"Boom\" (\"K\" text)",
                                        "CREATE FUNCTION boom() RETURNS trigger AS $$ BEGIN IF NEW.\"K\" = 'boom' "
                                        "THEN PERFORM pg_terminate_backend(pg_backend_pid()); END IF; RETURN NEW; "
                                        "END $$ LANGUAGE plpgsql",
                                        "CREATE TRIGGER boom BEFORE INSERT ON \"Boom\" FOR EACH ROW EXECUTE "
                                        "FUNCTION boom()"})
                  .ok());
  const std::string lines = TransactionLine("Customers", "Account\tC7\tName\tSeven") +
                            TransactionLine("Boom", "K\tboom") + TransactionLine("Customers", "Account\tC8");
  dir_.Write("2\\transact.xml", lines);
  Pass();
  const std::string added = "SELECT \"Account\", \"Name\" FROM \"Customers\" WHERE \"Account\" IN ('C7', 'C8')";
  EXPECT_EQ(Query(added), Rows{});
  EXPECT_EQ(dir_.Read("2\\transact.xml.intake"), lines);
  EXPECT_TRUE(Logged(dir_, "device 2 line 1 kept for the next pass: the database connection was lost at line 2"));

  ASSERT_TRUE(test::RunStatements(db_, {"DROP TRIGGER boom ON \"Boom\""}).ok());
  Pass();
  EXPECT_EQ(Query(added + " ORDER BY 1"), (Rows{"C7|Seven", "C8|NULL"}));
  EXPECT_EQ(Query("SELECT \"K\" FROM \"Boom\""), Rows{"boom"});
  EXPECT_FALSE(dir_.Exists("2\\transact.xml.intake"));
}

TEST_F(DatabasePostgresTest, RowLockedByAnotherSessionKeepsTheLineUntilTheLockIsGone) {
  dir_.Write("Lumbra.ini", "appname=ODBC Datasource\r\npath=" + db_ + "\r\ndbtimeout=2\r\n");
  std::unique_ptr<database::Connection> other;
  ASSERT_TRUE(database::Connection::Open(db_, &other).ok());
  ASSERT_TRUE(other->BeginWork().ok());
  ASSERT_TRUE(other->Run("SELECT * FROM \"Customers\" WHERE \"Account\" = 'C1' FOR UPDATE").ok());
  const std::string later = TransactionLine("Customers", "Account\tC1\tName\tLocked") +
                            TransactionLine("Customers", "Account\tC8");
  dir_.Write("2\\transact.xml", TransactionLine("Customers", "Account\tC7") + later);
  const auto start = std::chrono::steady_clock::now();
  Pass();
  // Not a speed check: a pass that waited for the lock would not end at all.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  const std::string accounts =
      "SELECT \"Account\", \"Name\" FROM \"Customers\" WHERE \"Account\" IN ('C1', 'C7', 'C8') ORDER BY 1";
  // The line before the locked row is committed; the locked one and every
  // later line wait in the device's folder.
  EXPECT_EQ(Query(accounts), (Rows{"C1|Alice", "C7|NULL"}));
  EXPECT_EQ(dir_.Read("2\\transact.xml.intake"), later);
  EXPECT_TRUE(Logged(dir_, "device 2 line 2 kept for the next pass"));
  EXPECT_TRUE(Logged(dir_, "statement timeout"));

  ASSERT_TRUE(other->RollbackWork().ok());
  Pass();
  EXPECT_EQ(Query(accounts), (Rows{"C1|Locked", "C7|NULL", "C8|NULL"}));
  EXPECT_FALSE(dir_.Exists("2\\transact.xml.intake"));
}

// A server that stops answering in the middle of a statement (its process
// stopped) cannot end the statement at its time-out; the pass ends itself,
// and the next pass posts the whole file, as after a killed pass.
TEST_F(DatabasePostgresTest, ServerThatStopsAnsweringEndsThePassAndTheNextPassPostsTheFile) {
#ifdef _WIN32
  GTEST_SKIP() << "stopping the server's process takes a signal that a Windows program cannot send "
                  "to the host's processes under Wine";
#else
  ASSERT_TRUE(test::RunStatements(db_, {"CREATE TABLE \"Slow\" (\"K\" text)",
                                        "CREATE FUNCTION slow() RETURNS trigger AS $$ BEGIN PERFORM "
                                        "pg_sleep(0.9); RETURN NEW; END $$ LANGUAGE plpgsql",
                                        "CREATE TRIGGER slow BEFORE INSERT ON \"Slow\" FOR EACH ROW EXECUTE "
                                        "FUNCTION slow()"})
                  .ok());
  dir_.Write("Lumbra.ini", "appname=ODBC Datasource\r\npath=" + db_ + "\r\ndbtimeout=1\r\n");
  const std::string lines = TransactionLine("Customers", "Account\tC7") + TransactionLine("Slow", "K\tk");
  dir_.Write("2\\transact.xml", lines);
  int status = -1;
  std::thread pass([&] { status = test::RunShell(std::string(LUMBRA_BINARY) + " --dir " + dir_.path()); });
  // The server process serving the pass, caught while it runs the insert.
  int pid = 0;
  for (int i = 0; i < 1000 && pid == 0; ++i) {
    Rows found = Query("SELECT pid FROM pg_stat_activity WHERE state = 'active' AND query LIKE 'INSERT INTO \"Slow\"%'");
    if (!found.empty() && found[0].find("ERROR") == std::string::npos) pid = std::atoi(found[0].c_str());
    if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (pid != 0) ::kill(pid, SIGSTOP);
  pass.join();
  if (pid != 0) ::kill(pid, SIGCONT);
  ASSERT_NE(pid, 0) << "the insert was not seen running";
  EXPECT_EQ(status, 4);
  EXPECT_TRUE(Logged(dir_, "the database has not answered (a change)"));
  // The run report knows before the process ends.
  std::string report;
  EXPECT_EQ(test::RunShell(std::string(LUMBRA_BINARY) + " status --dir " + dir_.path(), &report),
            kAttentionFailedPass) << report;
  EXPECT_NE(report.find("The last pass failed: the database has not answered"), std::string::npos)
      << report;
  EXPECT_EQ(dir_.Read("2\\transact.xml.intake"), lines);

  ASSERT_TRUE(test::RunStatements(db_, {"SELECT pg_terminate_backend(" + std::to_string(pid) + ")",
                                        "DROP TRIGGER slow ON \"Slow\""})
                  .ok());
  Pass();
  EXPECT_EQ(Query("SELECT \"Account\" FROM \"Customers\" WHERE \"Account\" = 'C7'"), Rows{"C7"});
  EXPECT_EQ(Query("SELECT \"K\" FROM \"Slow\""), Rows{"k"});
  EXPECT_FALSE(dir_.Exists("2\\transact.xml.intake"));
#endif
}

}  // namespace
}  // namespace lumbra
