#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backends/aurora/aurora.h"
#include "text/lines.h"
#include "support/aurora_installation.h"
#include "support/test_util.h"

namespace lumbra::test {
namespace {

class AuroraExportTest : public ::testing::Test {
 protected:
  // Customers in mixed case, one deleted; stock balanced over several
  // records; posted, open and orphaned invoices and lines; activities and
  // freight types in groups of either case.
  void FillInstallation() {
    a_.TablesFrom("aurora/export");
    a_.dir().Write("data\\IMAGES\\I17.JPG", "picture 17");
    a_.dir().MakeDir("Images");
  }

  std::string Table(const std::string& name) { return a_.dir().Read("1\\" + name + ".dat"); }

  AuroraInstallation a_;
};

TEST_F(AuroraExportTest, WritesEveryTableAsTheDevicesReadIt) {
  FillInstallation();
  ExportAuroraData(a_.ctx());

  // Table order, not sorted; posted invoices left out; memo line breaks
  // become spaces.
  for (const char* name : {"Customers", "StockItems", "InvoiceHeader", "InvoiceLines", "Suppliers",
                           "Activity", "Freight"}) {
    EXPECT_EQ(Table(name), CodedData("aurora/export/" + std::string(name) + ".txt")) << name;
  }

  // The picture is found whatever the case of its name; an IMAGE value
  // reaching out of the folder is refused; a missing picture is counted.
  EXPECT_EQ(a_.dir().Read("Images\\17.jpg"), "picture 17");
  std::string log = a_.Log();
  EXPECT_NE(log.find("\"5/../x\" not copied"), std::string::npos) << log;
  EXPECT_NE(log.find("1 stock item pictures not found"), std::string::npos) << log;
}

TEST_F(AuroraExportTest, UnopenableCustomerTableWritesNothing) {
  FillInstallation();
  a_.dir().Write("data\\DMASTER.DBF", "not a table");
  a_.dir().Write("1\\Customers.dat", "earlier");
  a_.dir().Write("1\\StockItems.dat", "earlier");
  ExportAuroraData(a_.ctx());
  EXPECT_EQ(Table("Customers"), "earlier");
  EXPECT_EQ(Table("StockItems"), "earlier");
  EXPECT_FALSE(a_.dir().Exists("1\\Freight.dat"));
  EXPECT_NE(a_.Log().find("Aurora export stopped"), std::string::npos);
}

TEST_F(AuroraExportTest, LaterTablesThatCannotBeOpenedAreEmpty) {
  a_.Table("DMASTER.DBF", {Rec({{"NAME", "Only"}})});
  a_.Table("STOCK.DBF", {Rec({{"CODE", "W1"}, {"IMAGE", "3"}})});  // no Images folder
  a_.dir().Write("data\\OLDINV.DBF", std::string(40, '\x03'));
  ExportAuroraData(a_.ctx());
  EXPECT_EQ(Table("StockItems"),
            Coded({"Code\tDesc\tSell1\tLatest\tImage\tInstock", "W1\t\t$0.00\t$0.00\t3\t"}));
  EXPECT_EQ(Table("InvoiceHeader"), Coded({"Invnum\tCustomer"}));
  EXPECT_EQ(Table("InvoiceLines"),  // the header only
            Coded({SplitLines(TestData("aurora/export/InvoiceLines.txt")).at(0)}));
  EXPECT_EQ(Table("Freight"), Coded({"Freighttype"}));
  std::string log = a_.Log();
  EXPECT_NE(log.find("TABLES.DBF cannot be opened"), std::string::npos) << log;
  EXPECT_NE(log.find("OLDINV.DBF cannot be opened"), std::string::npos) << log;
  EXPECT_NE(log.find("folder Images is missing"), std::string::npos) << log;
}

}  // namespace
}  // namespace lumbra::test
