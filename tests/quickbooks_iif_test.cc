#include "backends/quickbooks/iif_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "backends/quickbooks/quickbooks.h"
#include "quickbooks_test_util.h"
#include "run/run_driver.h"

namespace lumbra {
namespace {

using test::DecodedTable;
using test::Lines;

class QuickBooksIifTest : public ::testing::Test {
 protected:
  QuickBooksIifTest() : run_(dir_) {
    dir_.MakeDir("1");
    dir_.MakeDir("quickbooks");
    ctx().DataPath = "quickbooks";
  }
  RunContext& ctx() { return run_.ctx(); }
  Lines Table(const std::string& name) { return DecodedTable(dir_, name); }

  test::TempDir dir_;
  test::TestRun run_;
};

// A list file as QuickBooks exports it (tests/data/quickbooks/Tamsel.IIF):
// a header, then accounts, a custom-field dictionary, customers and jobs,
// employees, customer types, terms, items, shipping methods, payment
// methods and vendors, each "!" line naming every column.
TEST_F(QuickBooksIifTest, ListExportBecomesTheDevicesTables) {
  dir_.Write("Lumbra.ini", "appname=QuickBooks\xAE Pro (IIF file)\r\npath=quickbooks\\Tamsel.IIF\r\n");
  dir_.Write("quickbooks\\Tamsel.IIF", test::QuickBooksTestData("Tamsel.IIF"));
  dir_.Write("2\\Customers.dat", "device copy of an earlier pass");
  dir_.Write("1\\Jobs.dat", test::Coded({"Jobno", "J1"}));
  RunPass(ctx());

  // Expected in tests/data/quickbooks/iif-tables. Accounts: income accounts
  // only, the account number first. Customers: without a delivery address
  // the billing address stands in; blanks at the ends of an address go,
  // blanks inside stay; an empty middle line leaves two blanks; quotes
  // vanish. StockItems: inventory, non-inventory and other-charge items;
  // services are activities. Suppliers: vendors only, from the last
  // section, which the end of the file ends. The device folder gets all of
  // it; Jobs, which this back-end does not write, as folder 1 holds it.
  for (std::string table : {"Accounts", "Activity", "Customers", "Employee", "Freight", "InvoiceHeader",
                            "InvoiceLines", "PaymentType", "StockItems", "Suppliers", "Jobs"}) {
    EXPECT_EQ(dir_.Read("2\\" + table + ".dat"), dir_.Read("1\\" + table + ".dat")) << table;
    if (table == "Jobs") continue;
    EXPECT_EQ(Table(table), test::ExpectedTable("iif-tables/" + table + ".txt")) << table;
  }
  EXPECT_EQ(dir_.Read("1\\InvoiceHeader.dat"), test::Coded({"Invnum\tCustomer"}));
}

TEST_F(QuickBooksIifTest, SectionsEndAtTheNextBangLineAndServicesAccumulate) {
  // tests/data/quickbooks/sections.IIF: an employee section, passed over
  // unread; before the first "!" line, an employee and a service item:
  // collected, then dropped unwritten, except the service item, which waits
  // in SideBuffer. Then an INVITEM section with a service, a lower-case
  // "invitem" (no kind of ours, as a record or as a section) and a stock
  // item; a "!cust" section with a customer; a second INVITEM section
  // without stock items, so StockItems stays as the first one wrote it
  // while Activity holds every service so far; last an employee section
  // without rows at the end of the file.
  dir_.Write("quickbooks\\Tamsel.IIF", test::QuickBooksTestData("sections.IIF"));
  dir_.Write("1\\Employee.dat", "older");
  dir_.Write("1\\Customers.dat", "older");
  ExportQuickBooksIif(ctx());

  EXPECT_EQ(Table("Activity"), (Lines{"Code\tDescription\tHourlyrate", "Clean\t\t40\t",
                                      "Early\tEarly job\t10\t", "Paint\t\t55\t"}));
  EXPECT_EQ(Table("StockItems"),
            (Lines{"Code\tDesc\tInstock\tSell1\tLatest\tUnit\tBin\tSupplier\tNotes\tBarcode",
                   "W-1\tWidget\t\t\t\t\t\t\t\t"}));
  EXPECT_EQ(dir_.Read("1\\Employee.dat"), "older");
  EXPECT_EQ(dir_.Read("1\\Customers.dat"), "older");
  EXPECT_NE(dir_.Read("Lumbra.log").find("IIF section EMP gave no rows, table 1\\Employee.dat left"),
            std::string::npos);
}

// A file that repeats "!INVITEM" before every item: each table is written
// once, as the last section that gave it rows left it. Activity holds every
// service up to the end of the last INVITEM section, not the one in the
// customer section after it.
TEST_F(QuickBooksIifTest, ASectionLineBeforeEveryRecordWritesEachTableOnce) {
  std::string text = "!HDR\r\nHDR\r\n";
  auto item = [](const std::string& code, const char* type) {
    return "INVITEM\t" + code + "\t\t\t" + type + std::string(8, '\t') + "\r\n";
  };
  for (int i = 0; i < 8000; ++i) {
    const bool service = i % 2 == 1;
    text += "!INVITEM\r\n" +
            item((service ? "S" : "P") + std::to_string(i), service ? "SERV" : "INVENTORY");
  }
  text += "!CUST\r\n" + item("Late", "SERV");
  dir_.Write("quickbooks\\Tamsel.IIF", text);
  ExportQuickBooksIif(ctx());

  Lines activity = Table("Activity"), stock = Table("StockItems");
  ASSERT_EQ(activity.size(), 4001u);
  EXPECT_EQ(std::count(activity.begin(), activity.end(), "Late\t\t\t"), 0);
  ASSERT_EQ(stock.size(), 2u);
  EXPECT_EQ(stock[1], "P7998\t\t\t\t\t\t\t\t\t");
  const std::string log = dir_.Read("Lumbra.log");
  for (const char* table : {"1\\Activity.dat written", "1\\StockItems.dat written"}) {
    size_t first = log.find(table);
    EXPECT_NE(first, std::string::npos) << table;
    EXPECT_EQ(log.find(table, first + 1), std::string::npos) << table;
  }
}

TEST_F(QuickBooksIifTest, MissingAndTinyFiles) {
  // No file: the list tables stay, the invoice tables are written anyway.
  dir_.Write("1\\Customers.dat", "older");
  dir_.Write("1\\InvoiceHeader.dat", "invoices of another back-end");
  ExportQuickBooksIif(ctx());
  EXPECT_EQ(dir_.Read("1\\Customers.dat"), "older");
  EXPECT_EQ(dir_.Read("1\\InvoiceHeader.dat"), test::Coded({"Invnum\tCustomer"}));
  EXPECT_EQ(Table("InvoiceLines").size(), 1u);
  EXPECT_NE(dir_.Read("Lumbra.log").find("IIF list file not read"), std::string::npos);

  // With no line after the two passed over, the last line read is handled
  // once more; an empty file gives one empty line.
  const std::string service = "INVITEM\tS\t\t\tSERV" + std::string(8, '\t') + "\r\n";
  for (const std::string& text : {"!HDR\r\n" + service, service, std::string()}) {
    ctx().SideBuffer.Clear();
    ReadIifSections(ctx(), text);
    EXPECT_EQ(ctx().SideBuffer.Count(), text.empty() ? 0u : 1u) << text;
  }

  // A last line without a line end is a line.
  dir_.Write("quickbooks\\Tamsel.IIF", "!HDR\r\nHDR\r\n!EMP\r\nEMP\tZed");
  ExportQuickBooksIif(ctx());
  EXPECT_EQ(Table("Employee"), (Lines{"Employee\t", "Zed"}));
}

TEST_F(QuickBooksIifTest, LargeFileIsReadQuickly) {
  if (!test::TimingIsMeaningful()) GTEST_SKIP();
  dir_.Write("quickbooks\\Tamsel.IIF",
             "!HDR\r\nHDR\r\n!CUST\r\n" + test::Numbered("large/CUST.IIF", 200000));
  auto start = std::chrono::steady_clock::now();
  ExportQuickBooksIif(ctx());
  // 200,000 records take about half a second.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  Lines table = Table("Customers");
  ASSERT_EQ(table.size(), 200001u);
  EXPECT_EQ(table[1], "Customer 0\t0\t\t1 Road  Town\t1 Road  Town\t555-0000\t\t\t\t\t\t1.00");
}

}  // namespace
}  // namespace lumbra
