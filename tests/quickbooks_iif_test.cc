#include "backends/quickbooks/iif_export.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

#include "backends/quickbooks/quickbooks.h"
#include "quickbooks_test_util.h"
#include "run/run_driver.h"

namespace lumbra {
namespace {

using test::DecodedTable;
using test::Lines;

// One IIF line of `width` fields: the kind, then the values at their
// positions (field 1 being the kind), the rest empty.
std::string Iif(const std::string& kind, const std::map<int, std::string>& at, int width) {
  std::string line = kind;
  for (int position = 2; position <= width; ++position) {
    auto value = at.find(position);
    line += "\t" + (value == at.end() ? std::string() : value->second);
  }
  return line + "\r\n";
}

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

  // Income accounts only, the account number first.
  EXPECT_EQ(Table("Accounts"), (Lines{"Account Number\tAccount Name", "\tFreight Income",
                                      "4-1000\tSales", "4-1100\tSales:Installation"}));
  EXPECT_EQ(Table("Customers"),
            (Lines{"Name\tAccount\tContact1\tAddress1\tDelivery1\tPhone\tFax\tMobile\tEmail\tNotes\t"
                   "Terms\tCurrent",
                   "Acme Hardware\t11\tJo Bloggs\t12 Harbour St Fremantle WA 6160\t"
                   "Acme Hardware Dock 4 Fremantle WA 6160\t08 9335 1000\t08 9335 1001\t"
                   "0412 555 010\torders@acme.example\tDeliver before 10am\tNet 30\t1250.50",
                   // No delivery address: the billing address stands in.
                   "Acme Hardware:Shop fitout\t12\tJo Bloggs\t12 Harbour St Fremantle WA 6160\t"
                   "12 Harbour St Fremantle WA 6160\t\t\t\t\t\tNet 30\t0.00",
                   // Blanks at the ends go, blanks inside stay.
                   "Caf\xe9 Ros\xe9\t14\t\t3 Beach Rd Cottesloe\tRear lane\t\t\t\t\tRing bell, twice\t\t"
                   "88.00",
                   // An empty middle line leaves two blanks; quotes vanish.
                   "Smith, Ann\t13\tAnn Smith\t7 Rose Lane  Subiaco WA 6008\t"
                   "7 Rose Lane  Subiaco WA 6008\t08 9381 0007\t\t\tann@smith.example\t\t"
                   "Due on receipt\t-20.00"}));
  EXPECT_EQ(Table("Employee"), (Lines{"Employee\t", "Ann Baker", "Lee, Tom"}));
  // Inventory, non-inventory and other-charge items are stock; services
  // are activities.
  EXPECT_EQ(Table("StockItems"),
            (Lines{"Code\tDesc\tInstock\tSell1\tLatest\tUnit\tBin\tSupplier\tNotes\tBarcode",
                   "BOLT-6\tBolt 6 mm\t\t0.20\t\t\t\t\t\t", "FREIGHT\tFreight charge\t\t15.00\t\t\t\t\t\t",
                   "W-100\tWidget, steel\t42\t2.50\t1.15\tea\tA-03\tParts Co\tFragile\t9300000000011"}));
  EXPECT_EQ(Table("Activity"), (Lines{"Code\tDescription\tHourlyrate", "Callout\tCall-out fee\t60.00\t",
                                      "Install\tInstallation labour\t85.00\t"}));
  EXPECT_EQ(Table("Freight"), (Lines{"Freighttype\t", "Courier", "Freight co", "Pick up"}));
  EXPECT_EQ(Table("PaymentType"), (Lines{"Paymenttype\t", "Cash", "Cheque", "Visa"}));
  // Suppliers only, from the last section, which the end of the file ends.
  EXPECT_EQ(Table("Suppliers"),
            (Lines{"Name\tAccount\tAddr1\tContact1\tPhone\tFax\tMobile\tEmail\tNotes",
                   "Parts Co\t21\tParts Co Pty Ltd 9 Mill Lane Osborne Park WA 6017\tMax Weber\t"
                   "08 9444 2000\t08 9444 2001\t0400 222 333\tsales@parts.example\tMin order $50",
                   "Steel & Co\t24\t\t\t08 9455 3000\t\t\t\t"}));
  EXPECT_EQ(dir_.Read("1\\InvoiceHeader.dat"), test::Coded({"Invnum\tCustomer"}));
  EXPECT_EQ(Table("InvoiceLines"),
            (Lines{"Invnum\tCustomer\tAccount Number\tItem\tDescription\tQty\tSell1\tOrdnum\t"
                   "Invdate\tDiscount\tExtend\tNote\tPromised\tJobno\tAddress Delivery\t"
                   "Freight method\tPaymenttype\tAmountpaid"}));

  // The device folder gets all of it; Jobs, which this back-end does not
  // write, as folder 1 holds it.
  for (const char* table : {"Accounts", "Activity", "Customers", "Employee", "Freight",
                            "InvoiceHeader", "InvoiceLines", "Jobs", "PaymentType", "StockItems",
                            "Suppliers"}) {
    std::string file = std::string(table) + ".dat";
    EXPECT_EQ(dir_.Read("2\\" + file), dir_.Read("1\\" + file)) << table;
  }
}

TEST_F(QuickBooksIifTest, SectionsEndAtTheNextBangLineAndServicesAccumulate) {
  std::string file =
      // Passed over unread.
      "!EMP\tNAME\tREFNUM\r\n" + Iif("EMP", {{2, "Passed over"}}, 3) +
      // Before the first "!" line: collected, then dropped unwritten,
      // except the service item, which waits in SideBuffer.
      Iif("EMP", {{2, "Early Bird"}}, 3) +
      Iif("INVITEM", {{2, "Early"}, {5, "SERV"}, {6, "Early job"}, {13, "10"}}, 20) +
      "!INVITEM\tNAME\r\n" + Iif("INVITEM", {{2, "Clean"}, {5, "SERV"}, {13, "40"}}, 20) +
      // A kind written in lower case is no kind of ours, as a record or as
      // a section.
      Iif("invitem", {{2, "lower"}, {5, "PART"}}, 20) +
      Iif("INVITEM", {{2, "W-1"}, {5, "INVENTORY"}, {6, "Widget"}}, 20) + "!cust\r\n" +
      Iif("CUST", {{2, "Under a lower-case section"}}, 60) +
      // A second INVITEM section without stock items: StockItems stays as
      // the first one wrote it; Activity holds every service so far.
      "!INVITEM\r\n" + Iif("INVITEM", {{2, "Paint"}, {5, "SERV"}, {13, "55"}}, 20) +
      // An employee section without rows at the end of the file.
      "!EMP\r\n";
  dir_.Write("quickbooks\\Tamsel.IIF", file);
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
  const std::string service = Iif("INVITEM", {{2, "S"}, {5, "SERV"}}, 13);
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
  std::string file = "!HDR\r\nHDR\r\n!CUST\r\n";
  for (int i = 0; i < 200000; ++i) {
    std::string n = std::to_string(i);
    file += "CUST\tCustomer " + n + "\t" + n + "\t\t\t1 Road\t\tTown" + std::string(7, '\t') +
            "555-0000" + std::string(45, '\t') + "1.00\r\n";
  }
  dir_.Write("quickbooks\\Tamsel.IIF", file);
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
