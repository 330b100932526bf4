#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backends/aurora/aurora.h"
#include "support/aurora_installation.h"
#include "support/test_util.h"

namespace lumbra::test {
namespace {

const char kLinesHeader[] =
    "Invnum\tCustomer\tDeliver to\tItem\tDescription\tQty\tRate\tOrdnum\tInvdate\tDiscount\t"
    "Extend\tNote";

class AuroraExportTest : public ::testing::Test {
 protected:
  void FillInstallation() {
    a_.Table("DMASTER.DBF",
             {Rec({{"NAME", "Brown & Co"}, {"ACCOUNT", "B100"}, {"CONTACT", "Ann Brown"},
                   {"ADDR1", "12 High St"}, {"DADDR1", "Dock 4"}, {"DADDR2", "Port Road"},
                   {"DADDR3", "Lyttelton"}, {"CONTACT2", "Bob"}, {"PHONE", "03 555 1234"},
                   {"MOBILE", "021 555"}, {"EMAIL", "ann@brown.nz"}, {"CURRENT", "120.5"},
                   {"O30", "10"}, {"O90", "0"}, {"NOTES", "Ring before\r\ndelivery "}}),
              Rec({{"NAME", "Gone Ltd"}}, /*deleted=*/true),
              Rec({{"NAME", "apple orchard"}, {"ACCOUNT", "A1"}})});
    a_.Table("STKBALS.DBF", {"CODE", "INSTOCK", "ALLOC"},
             {{"W1", "10", "2.5"}, {"W2", "10", "10"}, {"W1", "5", "0"}, {"W3", "0", "0"},
              {"W3", "4", "1"}});
    a_.Table("STOCK.DBF", {"CODE", "DESC", "SELL1", "LATEST", "IMAGE"},
             {{"W1", "Widget", "12.5", "4", "17"}, {"W2", "Gadget", "3", "", "0"},
              {"W3", "Sprocket", "1.25", "0.5", "abc"}, {"W4", "Bolt", "", "", "5/../x"},
              {"W5", "Nut", "", "", "9"}});
    a_.Table("INVIDX.DBF",
             {Rec({{"NAME", "Brown & Co"}, {"LINK", "1"}, {"POSTED", "1"}, {"INVNUM", "100"},
                   {"ORDNUM", "P1"}, {"DATE", "20060301"}}),
              Rec({{"NAME", "Brown & Co"}, {"LINK", "2"}, {"POSTED", "0"}, {"INVNUM", "101"},
                   {"ORDNUM", "P2"}, {"DATE", "20060305"}, {"DELADD1", "Dock 4"}}),
              Rec({{"NAME", "apple orchard"}, {"LINK", "3"}, {"INVNUM", "102"},
                   {"DATE", "20061231"}, {"DELADD1", "1 Main Rd"}, {"DELADD2", "Town"},
                   {"DELADD3", "North"}}),
              Rec({{"NAME", "Carr"}, {"LINK", "2"}, {"POSTED", "2"}, {"INVNUM", "103"}})});
    DbfRecord widget_line = Rec({{"LINK", "2"}, {"CODE", "W1"}, {"DESC", "Widget"}, {"QTY", "3"},
                                 {"RATE", "4.5"}, {"DISC", "0"}, {"EXTEND", "13.5"},
                                 {"NOTE", "Leave at\r\nback door"}});
    a_.Table("OLDINV.DBF",
             {Rec({{"LINK", "1"}, {"CODE", "W1"}, {"DESC", "Posted line"}}), widget_line,
              Rec({{"LINK", "3"}, {"CODE", "W2"}, {"DESC", "Gadget"}, {"QTY", "2.5"},
                   {"RATE", "3"}, {"DISC", "12.5"}}),
              Rec({{"LINK", "9"}, {"DESC", "Orphan"}}), widget_line});
    a_.Table("CMASTER.DBF", {Rec({{"NAME", "Parts Ltd"}, {"AKEY", "P9"}, {"ADDR1", "7 Mill Lane"},
                                  {"CONTACT", "Sam"}, {"CURRENT", "55"}})});
    a_.Table("TABLES.DBF", {"GRP", "CODE", "DESC"},
             {{"S", "INST", "Installation"}, {"s", "X", "small s"}, {" S", "REP", "Repair"},
              {"M", "", "Courier"}, {"m", "", "Post"}, {"M", "", "Pick up"}});
    a_.dir().Write("data\\IMAGES\\I17.JPG", "picture 17");
    a_.dir().MakeDir("Images");
  }

  std::string Table(const std::string& name) { return a_.dir().Read("1\\" + name + ".dat"); }

  AuroraInstallation a_;
};

TEST_F(AuroraExportTest, WritesEveryTableAsTheDevicesReadIt) {
  FillInstallation();
  ExportAuroraData(a_.ctx());

  EXPECT_EQ(Table("Customers"),
            Coded({"Name\tAccount\tContact1\tAddress1\tDelivery1\tContact2\tPhone\tFax\tMobile\t"
                   "Email\tCurrent\t30 days\t60 days\t90 days\tNotes",
                   "apple orchard\tA1\t\t  \t  \t\t\t\t\t\t\t\t\t\t",
                   "Brown & Co\tB100\tAnn Brown\t12 High St  \tDock 4 Port Road Lyttelton\tBob\t"
                   "03 555 1234\t\t021 555\tann@brown.nz\t120.50\t10.00\t\t0.00\t"
                   "Ring before delivery"}));
  EXPECT_EQ(Table("StockItems"), Coded({"Code\tDesc\tSell1\tLatest\tImage\tInstock",
                                        "W1\tWidget\t$12.50\t$4.00\t17\t7.5",
                                        "W2\tGadget\t$3.00\t$0.00\t\t",
                                        "W3\tSprocket\t$1.25\t$0.50\t\t3",
                                        "W4\tBolt\t$0.00\t$0.00\t5/../x\t",
                                        "W5\tNut\t$0.00\t$0.00\t9\t"}));
  // Table order, not sorted; posted invoices left out.
  EXPECT_EQ(Table("InvoiceHeader"),
            Coded({"Invnum\tCustomer", "101\tBrown & Co", "102\tapple orchard", "103\tCarr"}));
  std::string widget = "101\tBrown & Co\tDock 4  \tW1\tWidget\t3\t$4.50\tP2\t05 Mar 06\t\t$13.50\t"
                       "Leave at back door";
  EXPECT_EQ(Table("InvoiceLines"),
            Coded({kLinesHeader,
                   widget, widget,
                   "102\tapple orchard\t1 Main Rd Town North\tW2\tGadget\t2.5\t$3.00\t\t"
                   "31 Dec 06\t12.5%\t$0.00\t"}));
  EXPECT_EQ(Table("Suppliers"),
            Coded({"Name\tAccount\tAddr1\tContact1\tContact2\tPhone\tFax\tMobile\tEmail\tCurrent\t"
                   "Notes",
                   "Parts Ltd\tP9\t7 Mill Lane  \tSam\t\t\t\t\t\t55.00\t"}));
  EXPECT_EQ(Table("Activity"),
            Coded({"Code\tDescription\tHourlyrate", "INST\tInstallation", "REP\tRepair"}));
  EXPECT_EQ(Table("Freight"), Coded({"Freighttype", "Courier", "Pick up"}));

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
  EXPECT_EQ(Table("InvoiceLines"),
            Coded({kLinesHeader}));
  EXPECT_EQ(Table("Freight"), Coded({"Freighttype"}));
  std::string log = a_.Log();
  EXPECT_NE(log.find("TABLES.DBF cannot be opened"), std::string::npos) << log;
  EXPECT_NE(log.find("OLDINV.DBF cannot be opened"), std::string::npos) << log;
  EXPECT_NE(log.find("folder Images is missing"), std::string::npos) << log;
}

}  // namespace
}  // namespace lumbra::test
