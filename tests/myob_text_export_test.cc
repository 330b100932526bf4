#include "backends/myob/myob_text_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "backends/myob/myob.h"
#include "text/lines.h"
#include "text/text_fields.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

std::string Joined(const std::vector<std::string>& fields) {
  std::string out;
  for (const std::string& f : fields) out += f + "\t";
  if (!out.empty()) out.pop_back();
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

  // The decoded lines of a device table.
  std::vector<std::string> Table(const std::string& name) {
    std::string bytes = dir_.Read("1\\" + name + ".dat");
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(bytes)) lines.push_back(DecodeLine(line));
    return lines;
  }

  test::TempDir dir_;
  std::unique_ptr<test::TestRun> run_;
};

// MYOB's ITEM.TXT and EMPLOY.TXT of one row each and an empty JOBS.TXT
// (tests/data/myob/text-export/in/); the device tables they become, decoded,
// in text-export/tables/.
TEST_F(MyobTextExportTest, EachTableStartsAfreshAndMissingFilesKeepOldTables) {
  dir_.Write("1\\Customers.dat", "older table");
  for (const char* kind : {"ITEM", "EMPLOY", "JOBS"}) {
    dir_.Write(std::string("myob\\") + kind + ".TXT",
               test::TestData(std::string("myob/text-export/in/") + kind + ".TXT"));
  }
  RunContext& ctx = Start();
  ExportMyobTextFiles(ctx);

  // No CUST.TXT: the customers' address span (slot 3) must not reach the
  // items' slot 3, "Sell Unit Measure" ("ea").
  for (const std::string table : {"StockItems", "Employee"}) {
    EXPECT_EQ(Table(table),
              SplitLines(test::TestData("myob/text-export/tables/" + table + ".txt")));
  }

  EXPECT_EQ(dir_.Read("1\\Customers.dat"), "older table");
  for (const char* table : {"Suppliers", "Activity", "Jobs"}) {
    EXPECT_FALSE(dir_.Exists(std::string("1\\") + table + ".dat")) << table;
  }
  EXPECT_NE(dir_.Read("Lumbra.log").find("CUST.TXT not read"), std::string::npos);
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
  const std::string junk = test::JunkBytes(11, 50000, 5);
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
