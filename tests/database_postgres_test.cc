// The database back-end "ODBC Datasource" against a real PostgreSQL server
// through the PostgreSQL ODBC driver: DataPath is the connection string.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "backends/database/database.h"
#include "intake/intake.h"
#include "run/lines.h"
#include "run/run_context.h"
#include "run/run_driver.h"
#include "support/odbc_test_util.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

class DatabasePostgresTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new test::PostgresServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (!server_->running()) {
      if (server_->programs_missing()) GTEST_SKIP() << server_->why_not();
      FAIL() << server_->why_not();
    }
    // A database of its own, so tests may run side by side on one server.
    static int counter = 0;
    std::string name = "lumbra_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    ASSERT_TRUE(test::RunStatements(server_->connection_string(), {"CREATE DATABASE " + name}).ok());
    db_ = server_->connection_string();
    db_.replace(db_.find("Database=") + 9, db_.find(';', db_.find("Database=")) - db_.find("Database=") - 9,
                name);
    Status s = test::RunStatements(
        db_, {"CREATE TABLE \"Customers\" (\"Id\" serial PRIMARY KEY, \"Account\" varchar(10), "
              "\"Name\" text, \"Balance\" money, \"Since\" date, \"Rate\" double precision)",
              "INSERT INTO \"Customers\" (\"Account\", \"Name\", \"Balance\", \"Since\") VALUES "
              "('C1', 'Alice', 3.5, '2006-03-05')",
              "INSERT INTO \"Customers\" (\"Account\", \"Name\") VALUES ('C2', NULL)",
              "CREATE TABLE \"Loose\" (\"K\" text, \"V\" text, \"N\" integer)",
              "INSERT INTO \"Loose\" VALUES ('k', 'one', 1), ('k', 'two', 2)",
              "CREATE TABLE \"Empty\" (\"A\" text, \"B\" numeric(8,2))",
              "CREATE TABLE \"Tokens\" (\"T\" uuid, \"V\" text)",
              "INSERT INTO \"Tokens\" VALUES ('a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', 'old')"});
    ASSERT_TRUE(s.ok()) << s.ToString();
    dir_.Write("Lumbra.ini", "appname=ODBC Datasource\r\npath=" + db_ + "\r\n");
    for (const char* folder : {"1", "2"}) dir_.MakeDir(folder);
  }
  void Pass() {
    test::TestRun run(dir_);
    RunPass(run.ctx());
  }
  std::vector<std::string> Rows(const std::string& sql) { return test::QueryRows(db_, sql); }

  static test::PostgresServer* server_;
  test::TempDir dir_;
  std::string db_;
};

test::PostgresServer* DatabasePostgresTest::server_ = nullptr;

std::string Line(const std::string& table, const std::string& pairs) {
  return "20240105abcd" + table + "\t" + pairs + "\r\n";
}

TEST_F(DatabasePostgresTest, PostsIntoTheFoundRowOrANewOneThenExportsTheMenu) {
  dir_.Write("2\\transact.xml",
             Line("Customers", "Account\tC1\tName\tAlicia\tBalance\t12.5") +
                 Line("Customers", "Account\tC3\tName\tCarl \xE9\tSince\t2024-01-02") +
                 Line("Customers", "Account\tC3\tRate\t0.1") +
                 Line("Customers", "Id\tnot a number\tName\tX") +
                 Line("Loose", "K\tk\tV\tONE") +
                 Line("Empty", "A\ta1\tB\t7.5") +
                 Line("Tokens", "T\ta0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11\tV\tnew") +
                 Line("customers", "Account\tC9") +
                 Line("Customers\"; DROP TABLE \"Loose", "Account\tC9"));
  dir_.Write("1\\menu.xml", "0\tc\tCustomers\r\n0\te\tEmpty\r\n0\tl\tLoose\r\n0\tx\tMissing\r\n");
  Pass();
  EXPECT_EQ(Rows("SELECT \"Id\", \"Account\", \"Name\", \"Balance\"::numeric, \"Since\", \"Rate\" "
                 "FROM \"Customers\" ORDER BY \"Id\""),
            (std::vector<std::string>{"1|C1|Alicia|12.5|2006-03-05|NULL", "2|C2|NULL|NULL|NULL|NULL",
                                      "3|C3|Carl \xE9|NULL|2024-01-02|0.1"}));
  // Only the first of two rows sharing the key value changes.
  EXPECT_EQ(Rows("SELECT \"V\" FROM \"Loose\" ORDER BY \"N\""),
            (std::vector<std::string>{"ONE", "two"}));
  EXPECT_EQ(Rows("SELECT \"A\", \"B\" FROM \"Empty\""), std::vector<std::string>{"a1|7.5"});
  // The driver gives GUIDs in capitals; the key in small letters finds its row.
  EXPECT_EQ(Rows("SELECT \"V\" FROM \"Tokens\""), std::vector<std::string>{"new"});
  EXPECT_FALSE(dir_.Exists("2\\transact.xml.intake"));

  // The server returns changed rows last: compare the rows in key order.
  std::vector<std::string> lines = SplitLines(dir_.Read("1\\Customers.dat"));
  ASSERT_EQ(lines.size(), 4u);
  std::sort(lines.begin() + 1, lines.end());
  EXPECT_EQ(lines, SplitLines(test::Coded({"Id\tAccount\tName\tBalance\tSince\tRate\t",
                                           "1\tC1\tAlicia\t$12.50\t2006-03-05\t\t",
                                           "2\tC2\t\t\t\t\t",
                                           "3\tC3\tCarl \xE9\t\t2024-01-02\t0.1\t"})));
  EXPECT_EQ(dir_.Read("1\\Empty.dat"), test::Coded({"A\tB\t", "a1\t7.5\t"}));
  EXPECT_EQ(dir_.Read("1\\Missing.dat"), test::Coded({""}));
  EXPECT_EQ(dir_.Read("2\\Customers.dat"), dir_.Read("1\\Customers.dat"));

  std::string log = dir_.Read("Lumbra.log");
  EXPECT_NE(log.find("line 4 (Customers): not posted: key column Id refuses the value"),
            std::string::npos) << log;
  EXPECT_NE(log.find("line 8 (customers): not posted: no table named customers"), std::string::npos)
      << log;
  EXPECT_NE(log.find("device 2: 2 records added, 4 updated, 3 lines not posted"), std::string::npos)
      << log;
}

TEST_F(DatabasePostgresTest, ConnectionLostWhilePostingKeepsEveryRecordForTheNextPass) {
  // A row that makes the server end the session, as a lost link would.
  ASSERT_TRUE(test::RunStatements(
                  db_, {"CREATE TABLE \"Boom\" (\"K\" text)",
                        "CREATE FUNCTION boom() RETURNS trigger AS $$ BEGIN IF NEW.\"K\" = 'boom' "
                        "THEN PERFORM pg_terminate_backend(pg_backend_pid()); END IF; RETURN NEW; "
                        "END $$ LANGUAGE plpgsql",
                        "CREATE TRIGGER boom BEFORE INSERT ON \"Boom\" FOR EACH ROW EXECUTE "
                        "FUNCTION boom()"})
                  .ok());
  const std::string lines = Line("Customers", "Account\tC7\tName\tSeven") +
                            Line("Boom", "K\tboom") + Line("Customers", "Account\tC8");
  dir_.Write("2\\transact.xml", lines);
  Pass();
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM \"Customers\" WHERE \"Account\" IN ('C7', 'C8')"),
            std::vector<std::string>{"0"});
  EXPECT_EQ(dir_.Read("2\\transact.xml.intake"), lines);
  std::string log = dir_.Read("Lumbra.log");
  EXPECT_NE(log.find("device 2: the database connection was lost at line 2"), std::string::npos)
      << log;

  ASSERT_TRUE(test::RunStatements(db_, {"DROP TRIGGER boom ON \"Boom\""}).ok());
  Pass();
  EXPECT_EQ(Rows("SELECT \"Account\", \"Name\" FROM \"Customers\" WHERE \"Account\" IN ('C7', "
                 "'C8') ORDER BY 1"),
            (std::vector<std::string>{"C7|Seven", "C8|NULL"}));
  EXPECT_EQ(Rows("SELECT \"K\" FROM \"Boom\""), std::vector<std::string>{"boom"});
  EXPECT_FALSE(dir_.Exists("2\\transact.xml.intake"));
}

}  // namespace
}  // namespace lumbra
