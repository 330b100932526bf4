// Posting of device records into an SQLite database through whole passes:
// the intake takes each device's file over, the posting writes its lines,
// and the file goes only once its lines are in.
#include <gtest/gtest.h>

#include <algorithm>

#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "intake/intake.h"
#include "intake/posting.h"
#include "run/run_driver.h"
#include "text/lines.h"
#include "backends/context/run_context.h"
#include "backends/context/settings.h"
#include "support/odbc_test_util.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

using Rows = std::vector<std::string>;
using test::Logged;
using test::TransactionLine;

constexpr char kAccessIni[] = "appname=MS Access\xAE\r\npath=shop.db\r\n";

// Whether a path ends in the device's file ("7/transact.xml.intake"),
// whichever separator the system uses.
bool InDevice(std::string path, std::string_view file) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path.find(file) != std::string::npos;
}

class DatabasePostingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::TestDriversAvailable()) GTEST_SKIP() << test::kNoTestDrivers;
    dir_.Write("Lumbra.ini", kAccessIni);
    dir_.MakeDir("1");
    std::string wide = "CREATE TABLE Wide (K TEXT";
    for (int i = 1; i <= 19; ++i) wide += ", C" + std::to_string(i) + " TEXT";
    ASSERT_TRUE(test::MakeSqliteFile(dir_.Path("shop.db"),
                                     {"CREATE TABLE Customers (Id INTEGER PRIMARY KEY, Account TEXT, Name TEXT, "
                                      "Phone TEXT, Balance MONEY)",
                                      "INSERT INTO Customers VALUES (1, 'C1', 'Alice', '111', 10)",
                                      "CREATE TABLE Orders (OrderNo INTEGER, Item TEXT, Qty INTEGER)", wide + ")",
                                      // No key: each row is reached by its rowid.
                                      "CREATE TABLE Visits (Ref TEXT, Seen DATETIME, Weight REAL, Note TEXT)",
                                      "INSERT INTO Visits VALUES ('V1', '2024-01-05 10:00', 0.1234567890123456789, "
                                      "'old'), ('V2', '2024-01-06T08:30:00.5', 1e-7, 'old')",
                                      "CREATE TABLE Stock (Barcode INTEGER, Qty INTEGER)",
                                      "INSERT INTO Stock VALUES (9300000000017, 1)"})
                    .ok());
  }
  // A second program's hold on the database file, for as long as it lives.
  std::unique_ptr<database::Connection> HoldDatabase() {
    std::unique_ptr<database::Connection> holder;
    EXPECT_TRUE(database::Connection::Open(test::SqliteConnectionString(dir_.Path("shop.db")), &holder).ok());
    EXPECT_TRUE(holder->Run("BEGIN EXCLUSIVE").ok());
    return holder;
  }
  // One intake with posting, as a pass runs it.
  void Intake(Env* env = Env::Default()) {
    test::TestRun run(dir_, env);
    ReadSettings(run.ctx());
    TakeInTransactions(run.ctx(), PostingFor(run.ctx()).get());
  }
  Rows Query(const std::string& sql) {
    return test::QueryRows(test::SqliteConnectionString(dir_.Path("shop.db")), sql);
  }

  test::TempDir dir_;
};

TEST_F(DatabasePostingTest, UpdatesTheFoundRowOrAddsOneAndDeletesThePostedFile) {
  dir_.Write("2\\transact.xml",
             TransactionLine("Customers", "Account\tC9\tName\tZed\tPhone\t999") +
                 // The key is taken from the second column when the first has
                 // no pair; a later line finds the row an earlier one added.
                 TransactionLine("Customers", "Account\tC9\tPhone\t998") +
                 TransactionLine("Customers", "Account\tC1\tName\tAlicia\tBalance\t$12.5") +
                 TransactionLine("Customers", "Id\t\tAccount\tC1\tPhone\t112") +
                 TransactionLine("Customers", "Phone\t000\tBalance\t1") + TransactionLine("Nope", "Id\t1"));
  dir_.Write("3\\transact.xml", TransactionLine("Customers", "Id\t1\tAccount\tC1b"));
  Intake();
  // Device 3 comes after device 2 and sees its rows; an update never
  // rewrites the key column, an insert writes it.
  EXPECT_EQ(Query("SELECT Id, Account, Name, Phone, Balance FROM Customers ORDER BY Id"),
            (Rows{"1|C1b|Alicia|112|12.5", "2|C9|Zed|998|NULL"}));
  EXPECT_FALSE(dir_.Exists("2\\transact.xml.intake"));
  EXPECT_FALSE(dir_.Exists("3\\transact.xml.intake"));
  EXPECT_TRUE(Logged(dir_, "line 4 (Customers): posted; pair Id: column Id refuses the value"));
  // Refused lines go to the day's rejected file, as the device wrote them.
  ASSERT_EQ(dir_.FilesUnder("Rejected").size(), 1u);
  const std::string rejected = dir_.FilesUnder("Rejected")[0];
  EXPECT_TRUE(Logged(dir_, "device 2 line 5 rejected (" + rejected +
                               "): none of the key columns (Id, Account, Name)"));
  EXPECT_TRUE(Logged(dir_, "device 2 line 6 rejected (" + rejected + "): no table named Nope"));
  EXPECT_TRUE(Logged(dir_, "device 2: 4 lines posted, 0 kept for the next pass, 2 rejected"));
  EXPECT_EQ(dir_.Read(rejected), TransactionLine("Customers", "Phone\t000\tBalance\t1") +
                                     TransactionLine("Nope", "Id\t1"));
}

TEST_F(DatabasePostingTest, EachLinePostsOnlyItsOwnPairsUpToNineteen) {
  dir_.Write("4\\transact.xml", TransactionLine("Orders", "OrderNo\t7\tItem\tA&&B&&C\tQty\t2") +
                                    TransactionLine("Orders", "OrderNo\t8\tItem\tD") +
                                    TransactionLine("Orders", "OrderNo\t7.0\tQty\t3\tBogus\tx"));
  std::string pairs = "K\tk1";
  for (int i = 1; i <= 19; ++i) pairs += "\tC" + std::to_string(i) + "\tv" + std::to_string(i);
  dir_.Write("5\\transact.xml", TransactionLine("Wide", pairs));
  // A capitalised file name is not a transaction file.
  dir_.Write("6\\Transact.xml", TransactionLine("Orders", "OrderNo\t1"));
  Intake();
  EXPECT_EQ(Query("SELECT OrderNo, Item, Qty FROM Orders ORDER BY OrderNo"), (Rows{"7|A&B&&C|3", "8|D|NULL"}));
  EXPECT_TRUE(Logged(dir_, "pair Bogus: no such column skipped"));
  EXPECT_EQ(Query("SELECT K, C1, C18, C19 FROM Wide"), Rows{"k1|v1|v18|NULL"});
  EXPECT_EQ(dir_.Read("6\\Transact.xml"), TransactionLine("Orders", "OrderNo\t1"));
}

TEST_F(DatabasePostingTest, FileStaysForALaterPassUntilItsLinesArePosted) {
  const std::string lines =
      TransactionLine("Orders", "OrderNo\t1\tItem\ta") + TransactionLine("Customers", "Account\tC5\tName\tEve");
  dir_.Write("7\\transact.xml", lines);
  // No database: nothing is lost, the file waits.
  dir_.Write("Lumbra.ini", "appname=MS Access\xAE\r\npath=elsewhere.db\r\n");
  Intake();
  EXPECT_EQ(dir_.Read("7\\transact.xml.intake"), lines);
  EXPECT_TRUE(Logged(dir_, "device 7 line 1 kept for the next pass: no database connection"));
  dir_.Write("Lumbra.ini", kAccessIni);
  // An unreadable file is not posted and stays.
  test::FaultEnv unreadable([](std::string_view op, const std::string& path) {
    return op == "ReadFile" && InDevice(path, "7/transact.xml.intake");
  });
  Intake(&unreadable);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Orders"), Rows{"0"});
  // Posted, but the pass ends before the file is gone: the next pass posts it
  // again without doubling a row.
  test::FaultEnv no_delete([](std::string_view op, const std::string& path) {
    return op == "DeleteFile" && path.find("transact.xml.intake") != std::string::npos;
  });
  Intake(&no_delete);
  EXPECT_TRUE(dir_.Exists("7\\transact.xml.intake"));
  Intake();
  EXPECT_FALSE(dir_.Exists("7\\transact.xml.intake"));
  EXPECT_EQ(Query("SELECT OrderNo, Item FROM Orders"), Rows{"1|a"});
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Customers WHERE Account = 'C5'"), Rows{"1"});
}

TEST_F(DatabasePostingTest, UpdatesReachTheFoundRowWithoutKeysAndWithSixtyFourBitKeysInAnyLetterCase) {
  const Rows untouched = Query("SELECT quote(Seen), quote(Weight) FROM Visits WHERE Ref = 'V1'");
  dir_.Write("2\\transact.xml", TransactionLine("visits", "ref\tV1\tNote\tnew") +
                                    TransactionLine("Visits", "Ref\tV2\tweight\t2.5") +
                                    TransactionLine("STOCK", "barcode\t9300000000017\tQty\t5") +
                                    TransactionLine("Stock", "Barcode\t9300000000024\tQty\t1"));
  Intake();
  EXPECT_TRUE(Logged(dir_, "device 2: 4 lines posted, 0 kept for the next pass, 0 rejected"));
  // The date and the 19-digit real that the driver hands over altered are
  // left exactly as they were.
  EXPECT_EQ(Query("SELECT quote(Seen), quote(Weight) FROM Visits WHERE Ref = 'V1'"), untouched);
  EXPECT_EQ(Query("SELECT Ref, Seen, Weight, Note FROM Visits ORDER BY rowid"),
            (Rows{"V1|2024-01-05 10:00:00|0.123456789012346|new", "V2|2024-01-06 08:30:00|2.5|old"}));
  EXPECT_EQ(Query("SELECT Barcode, Qty, typeof(Barcode) FROM Stock ORDER BY Barcode"),
            (Rows{"9300000000017|5|integer", "9300000000024|1|integer"}));
}

TEST_F(DatabasePostingTest, LinesThatMeetALockedDatabaseWaitForTheNextPass) {
  dir_.Write("Lumbra.ini", std::string(kAccessIni) + "dbtimeout=1\r\n");
  const std::string later = TransactionLine("Orders", "OrderNo\t2") + TransactionLine("Orders", "OrderNo\t3");
  dir_.Write("2\\transact.xml", TransactionLine("Orders", "OrderNo\t1"));
  dir_.Write("3\\transact.xml", later);
  // Another program takes the database once device 2's lines are in.
  std::unique_ptr<database::Connection> holder;
  test::FaultEnv env([&](std::string_view op, const std::string& path) {
    if (op == "DeleteFile" && InDevice(path, "2/transact.xml.intake") && !holder) {
      holder = HoldDatabase();
    }
    return false;
  });
  Intake(&env);
  holder.reset();
  EXPECT_EQ(Query("SELECT OrderNo FROM Orders"), Rows{"1"});
  EXPECT_EQ(dir_.Read("3\\transact.xml.intake"), later);
  EXPECT_FALSE(dir_.Exists("Rejected"));
  EXPECT_TRUE(Logged(dir_, "device 3 line 1 kept for the next pass"));
  EXPECT_TRUE(Logged(dir_, "database is locked"));
  Intake();
  EXPECT_EQ(Query("SELECT OrderNo FROM Orders ORDER BY 1"), (Rows{"1", "2", "3"}));
  EXPECT_FALSE(dir_.Exists("3\\transact.xml.intake"));
}

// The driver answers "no tables" for a file held busy past its time-out:
// the pass then neither rejects lines nor empties the devices' tables.
TEST_F(DatabasePostingTest, CatalogueHeldBusyKeepsEveryFileAndEveryTable) {
  dir_.Write("Lumbra.ini", std::string(kAccessIni) + "dbtimeout=1\r\n");
  dir_.Write("1\\menu.xml", "0\tc\tCustomers\r\n");
  for (const char* table : {"1\\Customers.dat", "2\\Customers.dat"}) dir_.Write(table, "older");
  const std::string line = TransactionLine("Orders", "OrderNo\t1");
  dir_.Write("2\\transact.xml", line);
  {
    auto holder = HoldDatabase();
    test::TestRun run(dir_);
    RunPass(run.ctx());
  }
  EXPECT_EQ(dir_.Read("2\\transact.xml.intake"), line);
  EXPECT_FALSE(dir_.Exists("Rejected"));
  EXPECT_EQ(dir_.Read("1\\Customers.dat"), "older");
  EXPECT_EQ(dir_.Read("2\\Customers.dat"), "older");
  EXPECT_TRUE(Logged(dir_, "database: the table catalogue cannot be read: "));
  test::TestRun run(dir_);
  RunPass(run.ctx());
  EXPECT_EQ(Query("SELECT OrderNo FROM Orders"), Rows{"1"});
  EXPECT_NE(dir_.Read("2\\Customers.dat"), "older");
}

TEST_F(DatabasePostingTest, ReadOnlyDatabaseRejectsLineByLine) {
  test::TestRun run(dir_);
  RunContext& ctx = run.ctx();
  ctx.DataPath = "shop.db";
  OpenDatabaseConnection(ctx);
  ASSERT_NE(ctx.DbConnection, nullptr);
  ctx.DbConnection->SetReadOnly("the driver can only read this file");
  DeviceLines lines(8, SplitLines(TransactionLine("Orders", "OrderNo\t1")));
  NewDatabasePosting()->PostDevice(ctx, lines);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Orders"), Rows{"0"});
  EXPECT_EQ(lines.fate(0), LineFate::kRejected);
  EXPECT_EQ(lines.reason(0), "the database cannot be written: the driver can only read this file");
}

}  // namespace
}  // namespace lumbra
