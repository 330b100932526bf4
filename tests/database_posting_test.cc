// Posting of device records into an SQLite database through whole passes:
// the intake takes each device's file over, the posting writes its lines,
// and the file goes only once its lines are in.
#include <gtest/gtest.h>

#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "intake/device_files.h"
#include "intake/intake.h"
#include "run/run_context.h"
#include "run/run_driver.h"
#include "run/settings.h"
#include "support/odbc_test_util.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

constexpr char kAccessIni[] = "appname=MS Access\xAE\r\npath=shop.db\r\n";

std::string Line(const std::string& table, const std::vector<std::string>& pairs) {
  std::string line = "20240105abcd" + table;
  for (const std::string& p : pairs) line += "\t" + p;
  return line + "\r\n";
}

class DatabasePostingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("Lumbra.ini", kAccessIni);
    dir_.MakeDir("1");
    ASSERT_TRUE(test::MakeSqliteFile(
                    dir_.Path("shop.db"),
                    {"CREATE TABLE Customers (Id INTEGER PRIMARY KEY, Account TEXT, Name TEXT, "
                     "Phone TEXT, Balance MONEY)",
                     "INSERT INTO Customers VALUES (1, 'C1', 'Alice', '111', 10)",
                     "CREATE TABLE Orders (OrderNo INTEGER, Item TEXT, Qty INTEGER)",
                     "CREATE TABLE Wide (K TEXT, C1 TEXT, C2 TEXT, C3 TEXT, C4 TEXT, C5 TEXT, C6 "
                     "TEXT, C7 TEXT, C8 TEXT, C9 TEXT, C10 TEXT, C11 TEXT, C12 TEXT, C13 TEXT, C14 "
                     "TEXT, C15 TEXT, C16 TEXT, C17 TEXT, C18 TEXT, C19 TEXT)"})
                    .ok());
  }
  // One intake with posting, as a pass runs it.
  void Intake(Env* env = Env::Default()) {
    test::TestRun run(dir_, env);
    ReadSettings(run.ctx());
    TakeInTransactions(run.ctx());
  }
  std::vector<std::string> Rows(const std::string& sql) {
    return test::QueryRows(test::SqliteConnectionString(dir_.Path("shop.db")), sql);
  }
  std::string Log() { return dir_.Read("Lumbra.log"); }

  test::TempDir dir_;
};

TEST_F(DatabasePostingTest, UpdatesTheFoundRowOrAddsOneAndDeletesThePostedFile) {
  dir_.Write("2\\transact.xml",
             Line("Customers", {"Account", "C9", "Name", "Zed", "Phone", "999"}) +
                 // The key is taken from the second column when the first has
                 // no pair; a later line finds the row an earlier one added.
                 Line("Customers", {"Account", "C9", "Phone", "998"}) +
                 Line("Customers", {"Account", "C1", "Name", "Alicia", "Balance", "$12.5"}) +
                 Line("Customers", {"Id", "", "Account", "C1", "Phone", "112"}) +
                 Line("Customers", {"Phone", "000", "Balance", "1"}) +
                 Line("Nope", {"Id", "1"}));
  dir_.Write("3\\transact.xml", Line("Customers", {"Id", "1", "Account", "C1b"}));
  Intake();
  // Device 3 comes after device 2 and sees its rows; an update never
  // rewrites the key column, an insert writes it.
  EXPECT_EQ(Rows("SELECT Id, Account, Name, Phone, Balance FROM Customers ORDER BY Id"),
            (std::vector<std::string>{"1|C1b|Alicia|112|12.5", "2|C9|Zed|998|NULL"}));
  EXPECT_FALSE(dir_.Exists("2\\transact.xml.intake"));
  EXPECT_FALSE(dir_.Exists("3\\transact.xml.intake"));
  std::string log = Log();
  EXPECT_NE(log.find("line 4 (Customers): posted; pair Id: column Id refuses the value"),
            std::string::npos) << log;
  EXPECT_NE(log.find("line 5 (Customers): not posted: none of the key columns (Id, Account, Name)"),
            std::string::npos) << log;
  EXPECT_NE(log.find("line 6 (Nope): not posted: no table named Nope"), std::string::npos) << log;
  EXPECT_NE(log.find("device 2: 1 records added, 3 updated, 2 lines not posted"), std::string::npos)
      << log;
}

TEST_F(DatabasePostingTest, EmptyTableGetsRowsAndEachLinePostsOnlyItsOwnPairs) {
  dir_.Write("4\\transact.xml", Line("Orders", {"OrderNo", "7", "Item", "A&&B&&C", "Qty", "2"}) +
                                    Line("Orders", {"OrderNo", "8", "Item", "D"}) +
                                    Line("Orders", {"OrderNo", "7.0", "Qty", "3", "Bogus", "x"}));
  Intake();
  EXPECT_EQ(Rows("SELECT OrderNo, Item, Qty FROM Orders ORDER BY OrderNo"),
            (std::vector<std::string>{"7|A&B&&C|3", "8|D|NULL"}));
  EXPECT_NE(Log().find("pair Bogus: no such column skipped"), std::string::npos) << Log();
}

TEST_F(DatabasePostingTest, KeepsNineteenPairsOfTwenty) {
  std::vector<std::string> pairs = {"K", "k1"};
  for (int i = 1; i <= 19; ++i) {
    pairs.push_back("C" + std::to_string(i));
    pairs.push_back("v" + std::to_string(i));
  }
  dir_.Write("5\\transact.xml", Line("Wide", pairs));
  Intake();
  EXPECT_EQ(Rows("SELECT K, C1, C18, C19 FROM Wide"), std::vector<std::string>{"k1|v1|v18|NULL"});
}

TEST_F(DatabasePostingTest, CapitalisedTransactionFileIsLeftAlone) {
  dir_.Write("6\\Transact.xml", Line("Orders", {"OrderNo", "1"}));
  Intake();
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Orders"), std::vector<std::string>{"0"});
  EXPECT_EQ(dir_.Read("6\\Transact.xml"), Line("Orders", {"OrderNo", "1"}));
}

TEST_F(DatabasePostingTest, FileStaysForALaterPassUntilItsLinesArePosted) {
  const std::string lines = Line("Orders", {"OrderNo", "1", "Item", "a"}) +
                            Line("Customers", {"Account", "C5", "Name", "Eve"});
  dir_.Write("7\\transact.xml", lines);
  // No database: nothing is lost, the file waits.
  dir_.Write("Lumbra.ini", "appname=MS Access\xAE\r\npath=elsewhere.db\r\n");
  Intake();
  EXPECT_EQ(dir_.Read("7\\transact.xml.intake"), lines);
  EXPECT_NE(Log().find("device 7: no database connection; transaction file kept"),
            std::string::npos) << Log();

  // Posted, but the pass ends before the file is gone: the next pass posts it
  // again without doubling a row.
  dir_.Write("Lumbra.ini", kAccessIni);
  test::FaultEnv no_delete([](std::string_view op, const std::string& path) {
    return op == "DeleteFile" && path.find("transact.xml.intake") != std::string::npos;
  });
  Intake(&no_delete);
  EXPECT_TRUE(dir_.Exists("7\\transact.xml.intake"));
  Intake();
  EXPECT_FALSE(dir_.Exists("7\\transact.xml.intake"));
  EXPECT_EQ(Rows("SELECT OrderNo, Item FROM Orders"), std::vector<std::string>{"1|a"});
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Customers WHERE Account = 'C5'"),
            std::vector<std::string>{"1"});
}

TEST_F(DatabasePostingTest, UnreadableFileStaysAndReadOnlyDatabaseRefusesLineByLine) {
  dir_.Write("8\\transact.xml", Line("Orders", {"OrderNo", "1"}));
  test::FaultEnv unreadable([](std::string_view op, const std::string& path) {
    return op == "ReadFile" && path.find("8/transact.xml.intake") != std::string::npos;
  });
  Intake(&unreadable);
  EXPECT_TRUE(dir_.Exists("8\\transact.xml.intake"));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Orders"), std::vector<std::string>{"0"});

  test::TestRun run(dir_);
  RunContext& ctx = run.ctx();
  ctx.DataPath = "shop.db";
  OpenDatabaseConnection(ctx);
  ASSERT_NE(ctx.DbConnection, nullptr);
  ctx.DbConnection->SetReadOnly("the driver can only read this file");
  PostDatabaseTransactions(ctx);
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Orders"), std::vector<std::string>{"0"});
  EXPECT_NE(Log().find("device 8 line 1 (Orders): not posted: the database cannot be written: "
                       "the driver can only read this file"),
            std::string::npos) << Log();
}

}  // namespace
}  // namespace lumbra
