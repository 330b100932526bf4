#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "backends/aurora/aurora.h"
#include "backends/aurora/dbf_format.h"
#include "backends/aurora/table_engine.h"
#include "run/backend_names.h"
#include "run/run_driver.h"
#include "support/aurora_installation.h"
#include "support/test_util.h"

namespace lumbra::test {
namespace {

std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

// Another program holds the record locks of one table: every attempt to
// lock a record of it is refused at once.
class RecordLockedEnv : public EnvWrapper {
 public:
  explicit RecordLockedEnv(std::string table) : EnvWrapper(Env::Default()), table_(table) {}

  Status OpenRandomRW(const std::string& path, bool writable,
                      std::unique_ptr<RandomRWFile>* file) override {
    Status s = target()->OpenRandomRW(path, writable, file);
    if (s.ok() && path.size() >= table_.size() &&
        path.compare(path.size() - table_.size(), table_.size(), table_) == 0) {
      *file = std::make_unique<LockedFile>(std::move(*file));
    }
    return s;
  }

 private:
  class LockedFile : public RandomRWFile {
   public:
    explicit LockedFile(std::unique_ptr<RandomRWFile> f) : f_(std::move(f)) {}
    Status Read(uint64_t o, size_t n, std::string* out) override { return f_->Read(o, n, out); }
    Status Write(uint64_t o, std::string_view d) override { return f_->Write(o, d); }
    Status Size(uint64_t* size) override { return f_->Size(size); }
    Status Sync() override { return f_->Sync(); }
    Status LockRange(uint64_t offset, uint64_t length, bool exclusive, int timeout) override {
      if (offset < dbf::kLockBase) return Status::Busy("record locked by another program");
      return f_->LockRange(offset, length, exclusive, timeout);
    }
    Status UnlockRange(uint64_t o, uint64_t l) override { return f_->UnlockRange(o, l); }

   private:
    std::unique_ptr<RandomRWFile> f_;
  };
  std::string table_;
};

class AuroraPostingTest : public ::testing::Test {
 protected:
  AuroraPostingTest() = default;
  explicit AuroraPostingTest(Env* env) : a_(env) {}

  void FillInstallation() {
    a_.Table("DMASTER.DBF",
             {Rec({{"NAME", "Brown & Co"}, {"ACCOUNT", "B100"}, {"DAYS", "20"},
                   {"ADDR1", "12 High St"}, {"ADDR2", "Riccarton"}, {"ADDR3", "Christchurch"},
                   {"CONTACT", "Ann"}, {"CONTACT2", "Bob"}, {"PHONE", "03 1"},
                   {"NOTES", "old note"}}),
              Rec({{"NAME", ""}}), Rec({{"NAME", "Late Ltd"}})});
    a_.Table("STOCK.DBF", {Rec({{"CODE", "W1"}, {"DESC", "Widget"}, {"LATEST", "4"}}),
                           Rec({{"CODE", "W2"}, {"DESC", "Gadget"}, {"LATEST", "2.5"}})});
    a_.Table("STKBALS.DBF", {Rec({{"CODE", "W1"}, {"INSTOCK", "50"}, {"ALLOC", "1"}}),
                             Rec({{"CODE", "W2"}, {"INSTOCK", "5"}, {"ALLOC", "0"}})});
    a_.Table("INVIDX.DBF",
             {Rec({{"NAME", "Brown & Co"}, {"LINK", "7"}, {"POSTED", "1"}, {"ORDNUM", "P1"},
                   {"INVNUM", "500"}}),
              Rec({{"NAME", "Brown & Co"}, {"LINK", "8"}, {"POSTED", "0"}, {"ORDNUM", "P9"},
                   {"INVNUM", "501"}, {"TOTAL", "10"}, {"GST", "1"}})});
    a_.CompleteWith(/*link=*/8, /*invnum=*/501);
  }

  void Post(const std::vector<std::string>& lines) {
    a_.dir().Write("tempdb.dat", Lines(lines));
    PostAuroraTransactions(a_.ctx());
  }

  AuroraInstallation a_;
};

TEST_F(AuroraPostingTest, OneOrderBecomesOneInvoiceWithItsLinesAndAllocations) {
  FillInstallation();
  Post({"20060305abcdInvoiceLines\tCustomer\tBrown & Co\tOrdnum\tP1\tDescription\tWidget\t"
        "Rate\t$4.50\tQty\t3\tDiscount\t0\tExtend\t$100\tNote\tLeave at back door",
        "20060305abcdInvoiceLines\tcustomer\tBrown & Co\tORDNUM\tP1\tdescription\tGadget\t"
        "rate\t2.5\tqty\t2\textend\t5",
        "20060305abcdInvoiceLines\tCustomer\tBrown & Co\tOrdnum\tP1\tDescription\t"
        "Unknown thing\tRate\t1\tQty\t4\tExtend\t0",
        "20060306abcdCustomers\tName\tBrown & Co\tPhone\t03 999",
        "20060306abcdJobs\tCustomer\tBrown & Co\tOrdnum\tP1",
        "20060305abcdInvoiceLines\tCustomer\tNobody\tOrdnum\tP1\tDescription\tWidget\tRate\t1\t"
        "Qty\t1\tExtend\t10",
        "20060306abcdCustomers\tName\tLate Ltd\tContact1\tX"});

  std::vector<RecordValues> flags = a_.Records("Flags.dbf");
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags[0]["LINK"], "10");
  EXPECT_EQ(flags[0]["NEXTINV"], "503");

  std::vector<RecordValues> inv = a_.Records("INVIDX.DBF");
  ASSERT_EQ(inv.size(), 4u);
  EXPECT_EQ(inv[1]["TOTAL"], "10.00");  // the open invoice of another order is left alone
  RecordValues brown = inv[2];
  RecordValues expected = {
      {"NAME", "Brown & Co"}, {"DELNAME", "Brown & Co"}, {"LINK", "9"}, {"POSTED", "0"},
      {"INVNUM", "502"}, {"DATE", "20060305"}, {"DUE", "20060325"}, {"TERMS", "20060325"},
      {"ORDNUM", "P1"}, {"TOTAL", "122.63"}, {"GST", "13.63"}, {"ADD1", "12 High St"},
      {"ADD2", "Riccarton"}, {"ADD3", "Christchurch"}, {"DELADD1", "12 High St"},
      {"DELADD2", "Riccarton"}, {"DELADD3", "Christchurch"}, {"DEBTOR", "B100"},
      {"METHOD", "Courier"}, {"LOCATION", "Central"}, {"SRCE", "I"}, {"AGING", "C"},
      {"BANKACC", "9172"}, {"PAYMETHOD", "2"}, {"TILLID", "527093164"}};
  EXPECT_EQ(brown, expected);
  EXPECT_EQ(inv[3]["NAME"], "Nobody");
  EXPECT_EQ(inv[3]["LINK"], "10");
  EXPECT_EQ(inv[3]["INVNUM"], "503");
  EXPECT_EQ(inv[3]["DUE"], "20060312");  // 7 days for a customer not in DMASTER
  EXPECT_EQ(inv[3]["TOTAL"], "11.25");
  EXPECT_EQ(inv[3]["GST"], "1.25");
  EXPECT_EQ(inv[3]["ADD1"], "");
  EXPECT_EQ(inv[3]["DEBTOR"], "");

  std::vector<RecordValues> lines = a_.Records("OLDINV.DBF");
  ASSERT_EQ(lines.size(), 5u);
  RecordValues widget = {{"LINK", "9"}, {"CODE", "W1"}, {"DESC", "Widget"}, {"QTY", "3.000"},
                         {"RATE", "4.50"}, {"DISC", "0.00"}, {"EXTEND", "100.00"},
                         {"COST", "12.00"}, {"GSTEXT", "12.50"}, {"GSTCODE", "E"},
                         {"SERIAL", "F"}, {"DERIVE", "F"}, {"NOTE", ""}};
  EXPECT_EQ(lines[0], widget);
  RecordValues comment = {{"LINK", "9"}, {"CODE", "/C"}, {"DESC", "Leave at back door"},
                          {"QTY", "0.000"}, {"RATE", "0.00"}, {"DISC", ""},
                          {"EXTEND", "0.00"}, {"COST", ""}, {"GSTEXT", "0.00"},
                          {"GSTCODE", "E"}, {"SERIAL", "F"}, {"DERIVE", "F"},
                          {"NOTE", "Leave at back door"}};
  EXPECT_EQ(lines[1], comment);
  EXPECT_EQ(lines[2]["DESC"], "Gadget");
  EXPECT_EQ(lines[2]["COST"], "5.00");
  EXPECT_EQ(lines[2]["GSTEXT"], "0.63");
  // No extend: the line is invoiced at qty x rate, and the log says so.
  EXPECT_EQ(lines[3]["CODE"], "");
  EXPECT_EQ(lines[3]["EXTEND"], "4.00");
  EXPECT_EQ(lines[3]["GSTEXT"], "0.50");
  EXPECT_EQ(lines[3]["COST"], "0.00");
  EXPECT_EQ(lines[4]["LINK"], "10");

  std::vector<RecordValues> balances = a_.Records("STKBALS.DBF");
  EXPECT_EQ(balances[0]["ALLOC"], "5.00");
  EXPECT_EQ(balances[1]["ALLOC"], "2.00");

  // Only the phone changes; a customer after an empty name is not reached.
  std::vector<RecordValues> customers = a_.Records("DMASTER.DBF");
  EXPECT_EQ(customers[0]["PHONE"], "03 999");
  EXPECT_EQ(customers[0]["CONTACT"], "Ann");
  EXPECT_EQ(customers[0]["CONTACT2"], "Bob");
  EXPECT_EQ(customers[0]["NOTES"], "old note");
  EXPECT_EQ(customers[2]["CONTACT"], "");

  std::string log = a_.Log();
  EXPECT_NE(log.find("came without an extend; worked out as 4"), std::string::npos) << log;
  EXPECT_NE(log.find("\"Late Ltd\" not made"), std::string::npos) << log;
  EXPECT_NE(log.find("4 invoice lines posted, 0 not posted, 1 customers changed"),
            std::string::npos)
      << log;
}

TEST_F(AuroraPostingTest, NewestMatchingOpenInvoiceTakesTheLine) {
  a_.Table("INVIDX.DBF", {Rec({{"NAME", "Carr"}, {"LINK", "20"}, {"POSTED", "0"},
                               {"ORDNUM", "A"}, {"TOTAL", "1"}}),
                          Rec({{"NAME", "Carr"}, {"LINK", "21"}, {"ORDNUM", "A"},
                               {"TOTAL", "2"}, {"GST", "0.5"}}),
                          Rec({{"NAME", "Carr"}, {"LINK", "22"}, {"POSTED", "1"},
                               {"ORDNUM", "A"}})});
  a_.CompleteWith(30, 300);
  Post({"20060305abcdInvoiceLines\tCustomer\tCarr\tOrdnum\tA\tDescription\tX\tQty\t1\t"
        "Extend\t8\tNote\t" + std::string(45, 'n')});
  std::vector<RecordValues> inv = a_.Records("INVIDX.DBF");
  ASSERT_EQ(inv.size(), 3u);
  EXPECT_EQ(inv[0]["TOTAL"], "1.00");
  EXPECT_EQ(inv[1]["TOTAL"], "11.00");
  EXPECT_EQ(inv[1]["GST"], "1.50");
  EXPECT_EQ(a_.Records("Flags.dbf")[0]["LINK"], "30");
  std::vector<RecordValues> lines = a_.Records("OLDINV.DBF");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["LINK"], "21");
  EXPECT_EQ(lines[1]["LINK"], "21");
  EXPECT_EQ(lines[1]["DESC"], std::string(40, 'n'));
  EXPECT_EQ(lines[1]["NOTE"], std::string(45, 'n'));
}

// Records far apart in large tables, deleted records in between, and
// customers changed repeatedly: each change lands on its own record.
TEST_F(AuroraPostingTest, ChangesReachRecordsAnywhereInLargeTables) {
  std::vector<DbfRecord> balances, stock, customers;
  for (int i = 0; i < 40000; ++i) {  // three slices of the kept tables
    std::string code = "I" + std::to_string(i);
    balances.push_back(Rec({{"CODE", code}, {"INSTOCK", "9"}, {"ALLOC", "1"}}, i == 20001));
    stock.push_back(Rec({{"CODE", code}, {"DESC", "Item " + std::to_string(i)}}));
    customers.push_back(Rec({{"NAME", "C" + std::to_string(i)}}, i == 30000));
  }
  a_.Table("STKBALS.DBF", balances);
  a_.Table("STOCK.DBF", stock);
  a_.Table("DMASTER.DBF", customers);
  a_.CompleteWith(0, 0);
  std::vector<std::string> lines;
  std::vector<int> items = {39999, 5, 20000, 20002, 5, 16383, 16384, 39999, 0, 20001};
  for (int item : items) {
    lines.push_back("20060305abcdInvoiceLines\tCustomer\tC1\tOrdnum\tA\tDescription\tItem " +
                    std::to_string(item) + "\tQty\t2\tExtend\t1");
  }
  for (int c : {39000, 2, 30001, 39000}) {
    lines.push_back("20060305abcdCustomers\tName\tC" + std::to_string(c) + "\tPhone\tP" +
                    std::to_string(c) + "\tNotes\tline one\tContact1\tX" + std::to_string(c));
  }
  Post(lines);
  std::vector<RecordValues> bal = a_.Records("STKBALS.DBF", {"ALLOC"});
  ASSERT_EQ(bal.size(), 39999u);
  auto alloc = [&](int i) { return bal[static_cast<size_t>(i < 20001 ? i : i - 1)]["ALLOC"]; };
  EXPECT_EQ(alloc(39999), "5.00");
  EXPECT_EQ(alloc(5), "5.00");
  EXPECT_EQ(alloc(20000), "3.00");
  EXPECT_EQ(alloc(20002), "3.00");  // the deleted record 20001 was passed over
  EXPECT_EQ(alloc(16383), "3.00");
  EXPECT_EQ(alloc(16384), "3.00");
  EXPECT_EQ(alloc(0), "3.00");
  EXPECT_EQ(alloc(1), "1.00");
  EXPECT_EQ(a_.Records("OLDINV.DBF", {"LINK"}).size(), items.size());
  EXPECT_EQ(a_.Records("INVIDX.DBF").size(), 1u);

  std::vector<RecordValues> cust = a_.Records("DMASTER.DBF", {"PHONE", "NOTES", "CONTACT"});
  auto customer = [&](int i) { return cust[static_cast<size_t>(i < 30000 ? i : i - 1)]; };
  EXPECT_EQ(customer(39000)["PHONE"], "P39000");
  EXPECT_EQ(customer(39000)["NOTES"], "line one");
  EXPECT_EQ(customer(2)["CONTACT"], "X2");
  EXPECT_EQ(customer(30001)["PHONE"], "P30001");
  EXPECT_EQ(customer(3)["PHONE"], "");
}

TEST_F(AuroraPostingTest, StaleIndexesAreLoggedOncePerTable) {
  FillInstallation();
  for (const char* index : {"INVIDX.CDX", "STKBALS.CDX", "OLDINV.CDX", "Flags.cdx"}) {
    a_.dir().Write(std::string("data\\") + index, "");
  }
  std::vector<std::string> lines;
  for (const char* customer : {"A", "B", "A", "C", "B"}) {
    lines.push_back("20060305abcdInvoiceLines\tCustomer\t" + std::string(customer) +
                    "\tOrdnum\t1\tDescription\tWidget\tQty\t1\tExtend\t2\tNote\tn");
  }
  Post(lines);
  EXPECT_EQ(a_.Records("INVIDX.DBF").size(), 5u);
  std::string log = a_.Log();
  for (const char* index : {"INVIDX.CDX", "STKBALS.CDX", "OLDINV.CDX", "Flags.cdx"}) {
    std::string needle = std::string(index) + " is not updated";
    size_t first = log.find(needle);
    EXPECT_NE(first, std::string::npos) << needle << "\n" << log;
    EXPECT_EQ(log.find(needle, first + 1), std::string::npos) << needle << "\n" << log;
  }
}

class AuroraLockedBalancesTest : public AuroraPostingTest {
 protected:
  AuroraLockedBalancesTest() : AuroraPostingTest(&env_) {}
  static RecordLockedEnv env_;
};
RecordLockedEnv AuroraLockedBalancesTest::env_("STKBALS.DBF");

// Balances another program has locked are left as they are, each refusal
// logged once; the lines are still posted.
TEST_F(AuroraLockedBalancesTest, LockedRecordsAreLeftAndLogged) {
  FillInstallation();
  std::vector<std::string> lines;
  for (const char* item : {"Widget", "Gadget", "Widget", "Gadget"}) {
    lines.push_back("20060305abcdInvoiceLines\tCustomer\tBrown & Co\tOrdnum\tP1\t"
                    "Description\t" + std::string(item) + "\tQty\t1\tExtend\t2");
  }
  Post(lines);
  std::vector<RecordValues> balances = a_.Records("STKBALS.DBF");
  EXPECT_EQ(balances[0]["ALLOC"], "1.00");
  EXPECT_EQ(balances[1]["ALLOC"], "0.00");
  EXPECT_EQ(a_.Records("OLDINV.DBF").size(), 4u);
  // Four refusals, of which the last repeats the second.
  std::string log = a_.Log();
  int logged = 0;
  for (size_t at = log.find("not made"); at != std::string::npos; at = log.find("not made", at + 1)) {
    ++logged;
  }
  EXPECT_EQ(logged, 3) << log;
}

// Another program adds an open invoice for the same order while the
// device's lines are posted: the next line goes to it, the newest.
class InvoiceAddedEnv : public EnvWrapper {
 public:
  InvoiceAddedEnv() : EnvWrapper(Env::Default()) {}
  Status GetFileSize(const std::string& path, uint64_t* size) override {
    if (path.size() > 10 && path.substr(path.size() - 10) == "INVIDX.DBF" && ++calls_ == 3) {
      TableEngine other(target(), nullptr);
      other.Use(path, "Invidx", TableEngine::kReadWrite, TableEngine::kDriverDbf);
      other.GoBottom();
      other.Skip(1);
      other.Replace("NAME", TableEngine::kValueOrdinary, "Brown & Co");
      other.Replace("ORDNUM", TableEngine::kValueOrdinary, "P1");
      other.Replace("POSTED", TableEngine::kValueOrdinary, "0");
      other.Replace("LINK", TableEngine::kValueOrdinary, "99");
      other.Append();
      other.Close();
    }
    return target()->GetFileSize(path, size);
  }

 private:
  int calls_ = 0;
};

class AuroraSharedTablesTest : public AuroraPostingTest {
 protected:
  AuroraSharedTablesTest() : AuroraPostingTest(&env_) {}
  static InvoiceAddedEnv env_;
};
InvoiceAddedEnv AuroraSharedTablesTest::env_;

TEST_F(AuroraSharedTablesTest, RecordsAddedByAnotherProgramAreSeen) {
  FillInstallation();
  std::string line = "20060305abcdInvoiceLines\tCustomer\tBrown & Co\tOrdnum\tP1\t"
                     "Description\tWidget\tQty\t1\tExtend\t2";
  Post({line, line});
  std::vector<RecordValues> lines = a_.Records("OLDINV.DBF", {"LINK"});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["LINK"], "9");
  EXPECT_EQ(lines[1]["LINK"], "99");
  EXPECT_NE(a_.Log().find("INVIDX.DBF: records added by another program"), std::string::npos);
}

TEST_F(AuroraPostingTest, NothingIsWrittenWhenTheLineCannotBePosted) {
  FillInstallation();
  std::string invidx = a_.dir().Read("data\\INVIDX.DBF");
  std::string oldinv = a_.dir().Read("data\\OLDINV.DBF");

  PostAuroraTransactions(a_.ctx());  // no staging file
  EXPECT_NE(a_.Log().find("tempdb.dat cannot be read"), std::string::npos);

  a_.dir().Write("data\\Flags.dbf", "");  // the counters cannot be read
  Post({"20060305abcdInvoiceLines\tCustomer\tNew\tOrdnum\tZ\tDescription\tWidget\tQty\t1\t"
        "Extend\t8"});
  EXPECT_EQ(a_.dir().Read("data\\INVIDX.DBF"), invidx);
  EXPECT_EQ(a_.dir().Read("data\\OLDINV.DBF"), oldinv);
  std::string log = a_.Log();
  EXPECT_NE(log.find("no invoice could be created for it; it stays in the archive"),
            std::string::npos)
      << log;
}

TEST_F(AuroraPostingTest, WholePassPostsTheDeviceOrderAndExportsIt) {
  FillInstallation();
  a_.dir().Write("Lumbra.ini", "appname=" + std::string(kAuroraBackend) + "\r\npath=data\r\n");
  a_.dir().Write("devicenames.xml", "Rep\t3\r\n");
  a_.dir().Write("3\\transact.xml",
                 Lines({"20060305abcdInvoiceLines\tCustomer\tBrown & Co\tOrdnum\tP1\t"
                        "Description\tWidget\tRate\t4\tQty\t2\tExtend\t8"}));
  a_.dir().MakeDir("2");
  RunPass(a_.ctx());
  EXPECT_FALSE(a_.dir().Exists("3\\transact.xml"));
  std::string header = Coded({"Invnum\tCustomer", "501\tBrown & Co", "502\tBrown & Co"});
  EXPECT_EQ(a_.dir().Read("1\\InvoiceHeader.dat"), header);
  EXPECT_EQ(a_.dir().Read("2\\InvoiceHeader.dat"), header);
  EXPECT_EQ(a_.dir().Read("1\\InvoiceLines.dat"),
            Coded({"Invnum\tCustomer\tDeliver to\tItem\tDescription\tQty\tRate\tOrdnum\tInvdate\t"
                   "Discount\tExtend\tNote",
                   "502\tBrown & Co\t12 High St Riccarton Christchurch\tW1\tWidget\t2\t$4.00\tP1\t"
                   "05 Mar 06\t\t$8.00\t"}));
}

}  // namespace
}  // namespace lumbra::test
