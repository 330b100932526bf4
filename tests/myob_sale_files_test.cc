#include "backends/myob/myob_sale_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "backends/myob/myob.h"
#include "intake/posting.h"
#include "text/lines.h"
#include "text/numbers.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

// The clock stands still at 5 March 2024, 09:07:33.
class ClockEnv : public EnvWrapper {
 public:
  ClockEnv() : EnvWrapper(Env::Default()) {}
  LocalTime Now() override { return {2024, 3, 5, 9, 7, 33}; }
};

std::vector<std::string> Tabs(std::string_view line) {
  std::vector<std::string> out(1);
  for (char c : line) c == '\t' ? void(out.emplace_back()) : out.back().push_back(c);
  return out;
}

// A row's values by the titles of the header row above them.
std::map<std::string, std::string> Cells(const std::string& header, const std::string& row) {
  std::vector<std::string> titles = Tabs(header), values = Tabs(row);
  EXPECT_LE(values.size(), titles.size()) << row;
  std::map<std::string, std::string> cells;
  for (size_t i = 0; i < values.size() && i < titles.size(); ++i) {
    cells.emplace(titles[i], values[i]);
  }
  return cells;
}

std::string Record(const std::string& type, const std::string& pairs) {
  return "20240304abcd" + type + "\t" + pairs + "\r\n";
}

class MyobSaleFilesTest : public ::testing::Test {
 protected:
  // MYOB's reference files (tests/data/myob/sale-files/): tax codes GST
  // (10 %) and S (12.5 %); items W-1 "Widget", E-9 "Export crate" and W-2
  // "Widget" again, with the short layout's tax code in field 15 and the long
  // layouts' in field 27 (S, E/N-T, Z); activities LAB "Labour", TRV and LAB2
  // "Labour" again.
  MyobSaleFilesTest() {
    for (const char* kind : {"NONCONTAXCODE", "ITEM", "ACTIVITY"}) {
      dir_.Write(std::string("myob\\") + kind + ".TXT",
                 test::TestData(std::string("myob/sale-files/") + kind + ".TXT"));
    }
  }

  RunContext& Start(Env* env = nullptr) {
    run_ = std::make_unique<test::TestRun>(dir_, env ? env : &clock_);
    run_->ctx().DataPath = "myob";
    run_->ctx().DeviceNames[3] = "Van3";
    return run_->ctx();
  }

  // Posts a device's lines as a pass does, and tells what became of them.
  std::vector<LineFate> Post(const std::string& staged, int edition, int device = 3) {
    RunContext& ctx = run_->ctx();
    DeviceLines lines(device, SplitLines(staged));
    WriteMyobSaleFiles(ctx, ReadMyobReference(ctx, edition), lines);
    std::vector<LineFate> fates;
    for (size_t i = 0; i < lines.size(); ++i) fates.push_back(lines.fate(i));
    return fates;
  }

  std::string File(const std::string& kind, const std::string& device = "Van3") {
    return "myob\\Tamsel" + kind + "202403050907" + device + ".TXT";
  }
  std::vector<std::string> FileLines(const std::string& kind) {
    std::string bytes = dir_.Read(File(kind));
    // Plain text, every line ended by CR LF.
    EXPECT_EQ(bytes.substr(bytes.size() < 2 ? 0 : bytes.size() - 2), "\r\n");
    return SplitLines(bytes);
  }

  test::TempDir dir_;
  ClockEnv clock_;
  std::unique_ptr<test::TestRun> run_;
};

TEST_F(MyobSaleFilesTest, NoFileWithoutRecordsAndNoFileReplaced) {
  // A service file an earlier pass left in the same minute may hold sales
  // MYOB has not imported yet: it stays, and the new one gets a number.
  dir_.Write(File("SERVSALE"), "older\r\n");
  Start();
  EXPECT_EQ(Post(Record("InvoiceLines", "Customer\tAcme\tItem\tWidget\tExtend\t1") +
                     Record("Customers", "Name\tAcme") +
                     Record("InvoiceLines", "Customer\tAcme\tAccount Number\t4-1\tExtend\t2"),
                 kMyobPremier9),
            (std::vector<LineFate>{LineFate::kPosted, LineFate::kPassedOver, LineFate::kPosted}));
  EXPECT_TRUE(dir_.Exists(File("ITEMSALE")));
  EXPECT_EQ(dir_.Read(File("SERVSALE")), "older\r\n");
  EXPECT_TRUE(dir_.Exists(File("SERVSALE", "Van3-2")));
  EXPECT_FALSE(dir_.Exists(File("SLIPS")));

  // Nothing to import at all: no file.
  const size_t files = dir_.FilesUnder("myob").size();
  EXPECT_EQ(Post(Record("Customers", "Name\tAcme"), kMyobPremier9),
            std::vector<LineFate>{LineFate::kPassedOver});
  EXPECT_EQ(dir_.FilesUnder("myob").size(), files);
}

TEST_F(MyobSaleFilesTest, EachEditionWritesItsOwnLayout) {
  // A tax code file named in other letters is found as well.
  std::remove(dir_.Path("myob\\NONCONTAXCODE.TXT").c_str());
  dir_.Write("myob\\NonConTaxCode.txt", "Code\tx\tx\tRate\r\nS\tStandard\tG\t15\r\n");
  const std::string staged =
      Record("InvoiceLines", "Customer\tA\tItem\tExport crate\tExtend\t10\tPaymenttype\tEft") +
      Record("InvoiceLines", "Customer\tA\tAccount Number\t4-2\tExtend\t10");
  struct Expected {
    int edition;
    size_t item_titles, service_titles;
    std::string gst_code, gst_amount;  // of the item sale with a non-standard tax code
  };
  for (const Expected& e : {Expected{kMyobPremier9, 49, 45, "N-T", "0.00"},
                            Expected{kMyobAccountingPlus15, 47, 43, "N-T", "0.00"},
                            Expected{kMyobAccounting15, 47, 43, "N-T", "0.00"},
                            Expected{kMyobBusinessBasics1, 37, 35, "E", "1.50"}}) {
    SCOPED_TRACE(e.edition);
    Start();
    Post(staged, e.edition);
    std::vector<std::string> items = FileLines("ITEMSALE"), services = FileLines("SERVSALE");
    for (const char* kind : {"ITEMSALE", "SERVSALE"}) std::remove(dir_.Path(File(kind)).c_str());
    ASSERT_EQ(items.size() + services.size(), 4u);
    EXPECT_EQ(Tabs(items[0]).size(), e.item_titles);
    EXPECT_EQ(Tabs(services[0]).size(), e.service_titles);
    const bool currency = e.edition == kMyobPremier9;
    EXPECT_EQ(items[0].find("Currency Code\tExchange Rate") != std::string::npos, currency);
    EXPECT_EQ(services[0].find("Currency Code\tExchange Rate") != std::string::npos, currency);
    EXPECT_NE(services[0].find("\tAccount  No.\tAmount\t"), std::string::npos);

    auto item = Cells(items[0], items[1]);
    EXPECT_EQ(item["GST Code"], e.gst_code);
    EXPECT_EQ(item["GST Amount"], e.gst_amount);
    EXPECT_EQ(item["Payment Method"], "Eft");
    EXPECT_EQ(Tabs(items[1]).back(), "Eft");
    auto service = Cells(services[0], services[1]);
    EXPECT_EQ(service["GST Amount"], "1.50");
    EXPECT_EQ(Tabs(services[1]).back(), "Other");
  }
}

TEST_F(MyobSaleFilesTest, MissingReferenceFilesLeaveDefaults) {
  for (const char* kind : {"NONCONTAXCODE", "ITEM", "ACTIVITY"}) {
    std::remove(dir_.Path(std::string("myob\\") + kind + ".TXT").c_str());
  }
  Start();
  Post(Record("InvoiceLines", "Customer\tA\tItem\tWidget\tExtend\t10") +
           Record("Jobs", "Employee\tKim\tActivity\tLabour"),
       kMyobAccounting15);
  std::vector<std::string> items = FileLines("ITEMSALE"), slips = FileLines("SLIPS");
  ASSERT_EQ(items.size() + slips.size(), 4u);
  auto item = Cells(items[0], items[1]);
  EXPECT_EQ(item["Item Number"], "");
  EXPECT_EQ(item["GST Code"], "S");
  EXPECT_EQ(item["GST Amount"], "1.25");  // the standard rate of 12.5 %
  EXPECT_EQ(Cells(slips[0], slips[1])["Activity ID"], "");
  EXPECT_NE(dir_.Read("Lumbra.log").find("ITEM.TXT not read"), std::string::npos);
}

// The item-sale file cannot be written, or cannot be renamed into place: its
// line is kept, no trace of the file is left for MYOB, and the device's other
// files are written.
TEST_F(MyobSaleFilesTest, AFileThatCannotBePlacedKeepsItsLinesAndLeavesNothing) {
  const std::string staged = Record("InvoiceLines", "Customer\tA\tItem\tWidget\tExtend\t1") +
                             Record("InvoiceLines", "Customer\tA\tAccount Number\t4\tExtend\t1") +
                             Record("Jobs", "Employee\tKim");
  for (const char* op : {"WriteFile", "RenameFile"}) {
    SCOPED_TRACE(op);
    test::FaultEnv env(
        [op](std::string_view o, const std::string& path) {
          return o == op && path.find("ITEMSALE") != std::string::npos;
        },
        &clock_);
    Start(&env);
    EXPECT_EQ(Post(staged, kMyobAccounting15),
              (std::vector<LineFate>{LineFate::kKept, LineFate::kPosted, LineFate::kPosted}));
    for (const std::string& f : dir_.FilesUnder("myob")) {
      EXPECT_EQ(f.find("ITEMSALE"), std::string::npos) << f;
    }
    EXPECT_TRUE(dir_.Exists(File("SERVSALE")));
    EXPECT_TRUE(dir_.Exists(File("SLIPS")));
    EXPECT_NE(dir_.Read("Lumbra.log").find("ITEMSALE202403050907Van3.TXT not written, its 1 lines"),
              std::string::npos);
    for (const char* kind : {"SERVSALE", "SLIPS"}) std::remove(dir_.Path(File(kind)).c_str());
  }
}

TEST_F(MyobSaleFilesTest, DeviceNamesAreMadeSafeForFileNames) {
  const std::string staged = Record("InvoiceLines", "Customer\tA\tExtend\t1");
  RunContext& ctx = Start();
  const std::string name = "..\\up/x:1|\x01*?";
  ctx.DeviceNames[3] = name;
  Post(staged, kMyobAccounting15);
  EXPECT_TRUE(dir_.Exists(File("ITEMSALE", "___up_x_1____")));
  EXPECT_EQ(ctx.DeviceNames[3], name);  // the name itself stays as read

  // A device without a name gets the stamp alone.
  ctx.DeviceNames[4].clear();
  Post(staged, kMyobAccounting15, 4);
  EXPECT_TRUE(dir_.Exists(File("ITEMSALE", "")));
  EXPECT_EQ(FileNameSafe("a.b...c<d>e\"f\x7Fg"), "a.b___c_d_e_f_g");
}

TEST(DeviceTimeTextTest, ReadsTheTimeOfAValue) {
  EXPECT_EQ(DeviceTimeText("9:30"), "09:30:00");
  EXPECT_EQ(DeviceTimeText("13:05:59"), "13:05:59");
  EXPECT_EQ(DeviceTimeText("05/03/2006 12:15 AM"), "00:15:00");
  EXPECT_EQ(DeviceTimeText("2006-03-05T12:15:07.250pm"), "12:15:07");
  EXPECT_EQ(DeviceTimeText("1:02 PM"), "13:02:00");
  for (const char* bad : {"", "noon", "24:00", "13:00 PM", "9:60", ":30", "9:", "123:45"}) {
    EXPECT_EQ(DeviceTimeText(bad), "00:00:00") << bad;
  }
}

// The cent counting of the import files against the general routines, on
// ties, near-ties and random bit patterns.
TEST(AmountTextTest, AgreesWithTheGeneralRoutines) {
  std::vector<float> values = {0.0f,  -0.0f,  0.005f, 0.015f, 1.125f, 3.375f, -1.125f, 2.675f,
                               1e14f, 9e13f,  1.5e13f, 3e38f, -3e38f, 1e-30f, 0.1f,    12.345f,
                               std::numeric_limits<float>::infinity()};
  uint32_t seed = 3;
  for (int i = 0; i < 60000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    float v;  // a random bit pattern, a multiple of 1/8 or of 1/1000
    std::memcpy(&v, &seed, sizeof v);
    if (i % 3 == 1) v = static_cast<float>(static_cast<int>(seed % 2000001) - 1000000) / 8.0f;
    if (i % 3 == 2) v = static_cast<float>(static_cast<int>(seed % 20000001) - 10000000) / 1000.0f;
    values.push_back(v);
  }
  for (float v : values) {
    ASSERT_EQ(AmountText(v), TwoDecimalText(v)) << v;
    if (std::isnan(v)) continue;
    const float general = static_cast<float>(Single(RoundHalfEven(v, 2)));
    const float counted = RoundCentsToEven(v);
    ASSERT_EQ(std::memcmp(&general, &counted, sizeof general), 0) << v;  // signs of zero too
  }
}

TEST_F(MyobSaleFilesTest, AnyBytesAreTakenWithoutHarm) {
  const std::string junk = test::JunkBytes(7, 20000, 7);
  dir_.Write("myob\\ITEM.TXT", junk);
  dir_.Write("myob\\ACTIVITY.TXT", junk);
  dir_.Write("myob\\NONCONTAXCODE.TXT", "h\nS\t\t\t" + junk);
  const std::string staged = Record("InvoiceLines", junk) + Record("Jobs", "Employee\t" + junk) +
                             "\r\n\t\t\r" + junk + std::string("\0\r\n", 3) +
                             Record("InvoiceLines", "Qty\t1e300\tSell1\t1e300\tExtend\t-$");
  Start();
  for (int edition = 0; edition < 4; ++edition) Post(staged, edition);
  std::vector<std::string> items = FileLines("ITEMSALE");
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(Cells(items[0], items.back())["Quantity"], "1e300");
}

}  // namespace
}  // namespace lumbra
