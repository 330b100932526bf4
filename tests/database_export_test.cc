// The export of the menu's tables from an SQLite database.
#include <gtest/gtest.h>

#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "backends/database/menu_export.h"
#include "run/run_context.h"
#include "support/odbc_test_util.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

class DatabaseExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::MakeSqliteFile(dir_.Path("shop.db"),
                                     {"CREATE TABLE Stock (Item TEXT, Price MONEY, Qty REAL)",
                                      "INSERT INTO Stock VALUES ('Nut', 3.5, 12)",
                                      "INSERT INTO Stock VALUES ('Bolt', NULL, 0.25)",
                                      "CREATE TABLE Empty (A TEXT, B INTEGER)"})
                    .ok());
    for (const char* folder : {"1", "2", "5"}) dir_.MakeDir(folder);
  }
  void Export(bool connected = true) {
    test::TestRun run(dir_);
    RunContext& ctx = run.ctx();
    if (connected) {
      ctx.DataPath = "shop.db";
      OpenDatabaseConnection(ctx);
      ASSERT_NE(ctx.DbConnection, nullptr);
    }
    ExportDatabaseByMenu(ctx);
  }
  std::string Log() { return dir_.Read("Lumbra.log"); }

  test::TempDir dir_;
};

TEST(DatabaseMenuTest, MenuNamesEachTableOnceUpToAHundred) {
  std::string menu = "0\tx\tStock\r\n1\ty\t--Stock\r\n2\ty\t\"-\"-Jobs\r\n0\tz\t\r\n1\tz\tab\r\nA\t\tC\r\n";
  EXPECT_EQ(database::ReadMenuTables(menu), (std::vector<std::string>{"Stock", "Jobs", "C"}));
  std::string many;
  for (int i = 0; i < 105; ++i) many += "0\t\tT" + std::to_string(i) + "\r\n";
  std::vector<std::string> tables = database::ReadMenuTables(many);
  ASSERT_EQ(tables.size(), 100u);
  EXPECT_EQ(tables.back(), "T99");
  EXPECT_TRUE(database::ReadMenuTables("").empty());
  EXPECT_FALSE(database::IsSafeTableFileName("..\\x"));
  EXPECT_FALSE(database::IsSafeTableFileName("a/b"));
  EXPECT_TRUE(database::IsSafeTableFileName("Order Lines"));
}

TEST_F(DatabaseExportTest, WritesEveryColumnAndRowAndCopiesToExistingDeviceFolders) {
  dir_.Write("1\\menu.xml", "0\tS\tStock\r\n1\tE\t..Empty\r\n0\tN\tNothing\r\n0\tX\t..\\evil\r\n");
  dir_.Write("2\\Nothing.dat", "older");
  Export();
  EXPECT_EQ(dir_.Read("1\\Stock.dat"),
            test::Coded({"Item\tPrice\tQty\t", "Nut\t$3.50\t12\t", "Bolt\t\t0.25\t"}));
  EXPECT_EQ(dir_.Read("1\\Empty.dat"), test::Coded({"A\tB\t"}));
  // A failed query leaves a file with an empty header line only.
  EXPECT_EQ(dir_.Read("1\\Nothing.dat"), test::Coded({""}));
  for (const char* table : {"Stock", "Empty", "Nothing"}) {
    std::string name = std::string(table) + ".dat";
    EXPECT_EQ(dir_.Read("2\\" + name), dir_.Read("1\\" + name)) << table;
    EXPECT_EQ(dir_.Read("5\\" + name), dir_.Read("1\\" + name)) << table;
  }
  EXPECT_FALSE(dir_.Exists("3"));
  EXPECT_FALSE(dir_.Exists("evil.dat"));
  std::string log = Log();
  EXPECT_NE(log.find("menu table \"..\\evil\" skipped"), std::string::npos) << log;
  EXPECT_NE(log.find("table 1\\Nothing.dat written: 0 records (query failed"), std::string::npos)
      << log;
}

TEST_F(DatabaseExportTest, WithoutConnectionEveryTableIsAFailedQuery) {
  dir_.Write("1\\menu.xml", "0\tS\tStock\r\n");
  Export(false);
  EXPECT_EQ(dir_.Read("1\\Stock.dat"), test::Coded({""}));
  EXPECT_EQ(dir_.Read("5\\Stock.dat"), test::Coded({""}));
}

TEST_F(DatabaseExportTest, NoMenuExportsNothing) {
  Export();
  EXPECT_FALSE(dir_.Exists("1\\Stock.dat"));
  EXPECT_NE(Log().find("menu 1\\menu.xml not read"), std::string::npos);
}

}  // namespace
}  // namespace lumbra
