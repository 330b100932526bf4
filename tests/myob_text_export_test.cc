#include "backends/myob/myob_text_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "backends/myob/myob.h"
#include "run/lines.h"
#include "run/text_fields.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

std::string Joined(const std::vector<std::string>& fields, char separator = '\t') {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out.push_back(separator);
    out += fields[i];
  }
  return out;
}

// A device table row: the values, then empty fields up to `fields` in all,
// each field followed by a tab.
std::string Row(std::vector<std::string> values, size_t fields) {
  values.resize(fields);
  return Joined(values) + "\t";
}

class MyobTextExportTest : public ::testing::Test {
 protected:
  MyobTextExportTest() {
    dir_.MakeDir("1");
    dir_.MakeDir("myob");
  }

  RunContext& Start() {
    run_ = std::make_unique<test::TestRun>(dir_);
    run_->ctx().DataPath = "myob";
    return run_->ctx();
  }

  // The decoded lines of a device table: the header row, then the data rows
  // in byte order (the devices' collation order is the table writer's
  // business).
  std::vector<std::string> Table(const std::string& name) {
    std::string bytes = dir_.Read("1\\" + name + ".dat");
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(bytes)) lines.push_back(DecodeLine(line));
    if (!lines.empty()) std::sort(lines.begin() + 1, lines.end());
    return lines;
  }

  test::TempDir dir_;
  std::unique_ptr<test::TestRun> run_;
};

// MYOB's customer export: two address blocks that repeat the continuation
// titles, 40 titles in all.
const std::vector<std::string> kCustomerTitles = {
    "Co./Last Name", "First Name", "Card ID", "Card Status",
    // Address block 1 (columns 4 to 19).
    "Addr 1 - Line 1", "- Line 2", "- Line 3", "- Line 4", "- City", "- State", "- Postcode",
    "- Country", "- Phone  No. 1", "- Phone  No. 2", "- Phone  No. 3", "- Fax  No.", "- Email",
    "- WWW", "- Contact Name", "- Salutation",
    // Address block 2 (columns 20 to 35).
    "Addr 2 - Line 1", "- Line 2", "- Line 3", "- Line 4", "- City", "- State", "- Postcode",
    "- Country", "- Phone  No. 1", "- Phone  No. 2", "- Phone  No. 3", "- Fax  No.", "- Email",
    "- WWW", "- Contact Name", "- Salutation", "Picture", "Notes", "Identifiers", "Custom List 1"};

std::string CustomerLine(const std::vector<std::pair<int, std::string>>& set) {
  std::vector<std::string> fields(kCustomerTitles.size());
  for (const auto& [column, value] : set) fields[column] = value;
  return Joined(fields) + "\r\n";
}

TEST_F(MyobTextExportTest, CustomersAreChosenByTitle) {
  dir_.Write("myob\\CUST.TXT",
             Joined(kCustomerTitles) + "\r\n" +
                 CustomerLine({{0, "Acme"},
                               {2, "C001"},
                               {4, " 1 High St "},
                               {6, "Springfield"},
                               {7, "not part of the address"},
                               {12, "*None"},
                               {15, "*None"},
                               {16, "a@acme.example"},
                               {18, ""},
                               {28, "555-2000"},
                               {31, "*None"},
                               {34, "Jo Bloggs"},
                               {37, "\"Pays, on time\""}}) +
                 "\r\n" + CustomerLine({{0, "\"Beta Ltd\""}, {2, "*None"}, {13, "021 555"}}) +
                 "\r\n");
  RunContext& ctx = Start();
  ExportMyobTextFiles(ctx);

  // 40 titles give rows of 41 tab-ended fields, however few are wanted.
  EXPECT_EQ(Table("Customers"),
            (std::vector<std::string>{
                "Name\tAccount\tContact1\tAddress Delivery\tPhone\tFax\tMobile\tEmail\tNotes",
                // The empty lines, once; the address span joins its empty parts.
                Row({"", "", "", "  "}, 41),
                Row({"Acme", "C001", "Jo Bloggs", "1 High St  Springfield", "555-2000", "", "",
                     "a@acme.example", "Pays, on time"},
                    41),
                Row({"Beta Ltd", "", "", "  ", "", "", "021 555"}, 41)}));
  EXPECT_NE(dir_.Read("Lumbra.log").find("1\\Customers.dat written"), std::string::npos);
}

TEST_F(MyobTextExportTest, EachTableStartsAfreshAndMissingFilesKeepOldTables) {
  // No CUST.TXT: the customers' address span (slot 3) must not reach the
  // items' slot 3, "Sell Unit Measure".
  dir_.Write("1\\Customers.dat", "older table");
  dir_.Write("myob\\ITEM.TXT",
             "Item Number\tItem Name\tSelling Price\tSell Unit Measure\tBuy Unit\tTax\t"
             "Description\tPrimary Supplier\r\n"
             "W-1\tWidget\t$2.50\tea\tbox\tGST\tA widget\tParts Co\r\n");
  dir_.Write("myob\\EMPLOY.TXT", "Co./Last Name\tFirst Name\r\nSmith\tAnn\r\n");
  dir_.Write("myob\\ACCOUNTS.TXT",
             "Account Number\tAccount Name\tHeader\tBalance\r\n"
             "4-0000\tIncome\tH\t0\r\n4-1000\tSales\tD\t10\r\n41\tOther\t\t\r\n"
             "1-1000\tBank\tD\t5\r\n");
  dir_.Write("myob\\JOBS.TXT", "");
  RunContext& ctx = Start();
  ExportMyobTextFiles(ctx);

  EXPECT_EQ(Table("StockItems"),
            (std::vector<std::string>{"Code\tDesc\tSell1\tUnit\tNotes\tSupplier",
                                      Row({"W-1", "Widget", "$2.50", "ea", "A widget", "Parts Co"},
                                          9)}));
  EXPECT_EQ(Table("Employee"), (std::vector<std::string>{"Employee\t", Row({"Smith"}, 3)}));
  // Only income accounts that are not header accounts, with their flag.
  EXPECT_EQ(Table("Accounts"),
            (std::vector<std::string>{"Account Number\tAccount Name", Row({"4-1000", "Sales", "D"}, 5),
                                      Row({"41", "Other"}, 5)}));

  EXPECT_EQ(dir_.Read("1\\Customers.dat"), "older table");
  for (const char* table : {"Suppliers", "Activity", "Jobs"}) {
    EXPECT_FALSE(dir_.Exists(std::string("1\\") + table + ".dat")) << table;
  }
  EXPECT_EQ(dir_.Read("1\\InvoiceHeader.dat"), test::Coded({"Invnum\tCustomer"}));
  EXPECT_EQ(dir_.Read("1\\InvoiceLines.dat"),
            test::Coded({"Invnum\tCustomer\tAccount Number\tItem\tDescription\tQty\tSell1\tOrdnum\t"
                         "Invdate\tDiscount\tExtend\tNote\tPromised\tJobno\tAddress Delivery\t"
                         "Freight method\tPaymenttype\tAmountpaid"}));
  std::string log = dir_.Read("Lumbra.log");
  EXPECT_NE(log.find("CUST.TXT not read"), std::string::npos) << log;
}

TEST_F(MyobTextExportTest, HeaderIsReadUpToItsHundredthColumn) {
  std::vector<std::string> titles, values;
  for (int c = 0; c < 120; ++c) {
    titles.push_back("T" + std::to_string(c));
    values.push_back("V" + std::to_string(c));
  }
  dir_.Write("myob\\WIDE.TXT", Joined(titles) + "\r\n" + Joined(values) + "\r\n" +
                                   Joined(titles) + "\t\t\t");
  MyobColumnChoice choice;
  choice.kind = "WIDE";
  choice.titles[0] = "T0";
  choice.titles[1] = "T98";
  choice.spans[1] = 5;  // runs past the last mapped column
  choice.titles[2] = "T99";
  choice.titles[3] = "T100";
  RunContext& ctx = Start();
  ctx.RowBuffer.Add("kept");
  size_t added = 0;
  ASSERT_TRUE(ReadMyobExportFile(ctx, choice, true, &added).ok());
  EXPECT_EQ(added, 2u);
  ASSERT_EQ(ctx.RowBuffer.Count(), 3u);
  std::vector<std::string> rows;
  for (size_t i = 0; i < 3; ++i) rows.emplace_back(ctx.RowBuffer.At(i));
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows[0], Row({"T0", "T98 T99 T100 T101 T102 T103"}, 100));
  EXPECT_EQ(rows[1], Row({"V0", "V98 V99 V100 V101 V102 V103"}, 100));
  EXPECT_EQ(rows[2], "kept");

  // A file that cannot be read clears the rows and says why.
  choice.kind = "NONE";
  EXPECT_FALSE(ReadMyobExportFile(ctx, choice, false).ok());
  EXPECT_EQ(ctx.RowBuffer.Count(), 0u);
}

TEST_F(MyobTextExportTest, AnyBytesAreTakenWithoutHarm) {
  std::string junk;
  uint32_t seed = 11;
  for (int i = 0; i < 50000; ++i) {
    seed = seed * 1103515245 + 12345;
    unsigned char c = static_cast<unsigned char>(seed >> 16);
    junk.push_back(c % 5 == 0 ? '\t' : static_cast<char>(c));
  }
  std::string wanted = "Co./Last Name\tAddr 1 - Line 1\tItem Name\tAccount Number\tHeader\r\n";
  for (const char* kind : {"CUST", "ITEM", "SUPPLIERS", "ACTIVITY", "JOBS", "EMPLOY", "ACCOUNTS"}) {
    dir_.Write(std::string("myob\\") + kind + ".TXT", wanted + junk + "\r\n4\t\t\t\tH\t" + junk);
  }
  RunContext& ctx = Start();
  ExportMyobTextFiles(ctx);
  EXPECT_TRUE(dir_.Exists("1\\Customers.dat"));
  EXPECT_TRUE(dir_.Exists("1\\InvoiceLines.dat"));
}

}  // namespace
}  // namespace lumbra
