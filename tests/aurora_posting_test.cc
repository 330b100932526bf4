#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backends/aurora/aurora.h"
#include "backends/aurora/dbf_format.h"
#include "backends/aurora/table_engine.h"
#include "backends/context/backend_names.h"
#include "run/run_driver.h"
#include "support/aurora_installation.h"
#include "support/test_util.h"

namespace lumbra::test {
namespace {

using Col = std::vector<std::string>;

std::string Joined(const Col& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

std::string Sale(const std::string& fields) { return "20060305abcdInvoiceLines\t" + fields; }

// The named fields of a record, joined by "|".
std::string Pick(RecordValues r, const Col& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : "|") + r[n];
  return out;
}

int Count(const std::string& log, const std::string& what) {
  int n = 0;
  for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
  return n;
}

// The accounting package at work on INVIDX.DBF during the pass: does
// meanwhile() at the pass's third look at the table's size (between the
// device's first and second records).
class OtherProgramEnv : public EnvWrapper {
 public:
  OtherProgramEnv() : EnvWrapper(Env::Default()) {}
  void Meanwhile(std::function<void(const std::string& invidx)> f) {
    meanwhile_ = std::move(f);
    invidx_sizes_ = 0;
  }
  Status GetFileSize(const std::string& path, uint64_t* size) override {
    if (meanwhile_ && path.ends_with("INVIDX.DBF") && ++invidx_sizes_ == 3) meanwhile_(path);
    return target()->GetFileSize(path, size);
  }

 private:
  std::function<void(const std::string&)> meanwhile_;
  int invidx_sizes_ = 0;
};

class AuroraPostingTest : public ::testing::Test {
 protected:
  // Brown & Co with an address and 20 days to pay, two stock items, an
  // order P1 already invoiced and posted, and an open invoice for P9.
  void FillInstallation() {
    a_.TablesFrom("aurora/posting");
    a_.CompleteWith(/*link=*/8, /*invnum=*/501);
  }

  void Post(const Col& lines) {
    a_.dir().Write("tempdb.dat", Joined(lines));
    PostAuroraTransactions(a_.ctx());
  }

  // The same through a whole pass, the lines coming from device 3.
  void Pass(const std::string& transact) {
    a_.dir().Write("Lumbra.ini", "appname=" + std::string(kAuroraBackend) + "\r\npath=data\r\n");
    a_.dir().Write("devicenames.xml", "Rep\t3\r\n");
    a_.dir().Write("3\\transact.xml", transact);
    a_.dir().MakeDir("2");
    RunPass(a_.ctx());
    EXPECT_FALSE(a_.dir().Exists("3\\transact.xml"));
  }

  OtherProgramEnv env_;
  AuroraInstallation a_{&env_};
};

// A whole pass: the device's order becomes an invoice, exported to every
// device. The device's lines: three for order P1 (one with a note, one for
// an unknown item without an extend), a phone change for Brown & Co, a job
// line, a sale to a customer not in DMASTER, and a change to a customer
// after an empty name. Also: the tables' structural indexes hold the new
// records' keys.
TEST_F(AuroraPostingTest, OneOrderBecomesOneInvoiceWithItsLinesAndAllocations) {
  FillInstallation();
  Pass(TestData("aurora/posting/transact.xml"));

  EXPECT_EQ(Pick(a_.Records("Flags.dbf").at(0), {"LINK", "NEXTINV"}), "10|503");
  // The open invoice of another order is left alone; 7 days to pay and no
  // address for a customer not in DMASTER. The line without an extend is
  // invoiced at qty x rate; the note becomes a comment line.
  EXPECT_EQ(a_.Listing("INVIDX.DBF"), TestData("aurora/posting/INVIDX.posted.txt"));
  EXPECT_EQ(a_.Listing("OLDINV.DBF"), TestData("aurora/posting/OLDINV.posted.txt"));
  EXPECT_EQ(a_.Column("STKBALS.DBF", "ALLOC"), (Col{"5.00", "2.00"}));
  // Only the phone changes; a customer after an empty name is not reached.
  EXPECT_EQ(a_.Listing("DMASTER.DBF"), TestData("aurora/posting/DMASTER.posted.txt"));

  std::string log = a_.Log();
  EXPECT_NE(log.find("came without an extend; worked out as 4"), std::string::npos) << log;
  EXPECT_NE(log.find("\"Late Ltd\" not made"), std::string::npos) << log;
  EXPECT_NE(log.find("device 3: 5 lines posted, 0 kept for the next pass, 1 rejected"),
            std::string::npos) << log;
  EXPECT_EQ(log.find("structural index"), std::string::npos) << log;
  EXPECT_EQ(a_.IndexDifferences(), "");

  std::string header = CodedData("aurora/posting/InvoiceHeader.txt");
  EXPECT_EQ(a_.dir().Read("1\\InvoiceHeader.dat"), header);
  EXPECT_EQ(a_.dir().Read("2\\InvoiceHeader.dat"), header);
  EXPECT_EQ(a_.dir().Read("1\\InvoiceLines.dat"), CodedData("aurora/posting/InvoiceLines.txt"));
}

// A tag whose key the engine cannot compute keeps its table from being
// written at all: the lines wait for the next pass, and the log names the
// tag and its expression.
TEST_F(AuroraPostingTest, AnIndexTheEngineCannotKeepKeepsTheLinesForTheNextPass) {
  FillInstallation();
  std::string cdx = a_.dir().Read("data\\INVIDX.CDX");
  cdx.replace(cdx.find("DTOS(DATE)"), 10, "XTOS(DATE)");
  a_.dir().Write("data\\INVIDX.CDX", cdx);
  std::string invidx = a_.dir().Read("data\\INVIDX.DBF");
  Pass(TestData("aurora/posting/transact.xml"));
  EXPECT_EQ(a_.dir().Read("data\\INVIDX.DBF"), invidx);
  EXPECT_EQ(a_.dir().Read("data\\INVIDX.CDX"), cdx);
  EXPECT_TRUE(a_.Records("OLDINV.DBF").empty());
  std::string log = a_.Log();
  EXPECT_NE(log.find("tag CUSTOMER (key UPPER(NAME)+XTOS(DATE)) cannot be kept up to date: "
                     "function XTOS() is not known"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("0 lines posted"), std::string::npos) << log;
  EXPECT_TRUE(a_.dir().Exists("3\\transact.xml.intake"));
}

TEST_F(AuroraPostingTest, NewestMatchingOpenInvoiceTakesTheLine) {
  a_.Table("INVIDX.DBF", {"NAME", "LINK", "POSTED", "ORDNUM", "TOTAL", "GST"},
           {{"Carr", "20", "0", "A", "1", ""}, {"Carr", "21", "", "A", "2", "0.5"},
            {"Carr", "22", "1", "A", "", ""}});
  a_.CompleteWith(30, 300);
  Post({Sale("Customer\tCarr\tOrdnum\tA\tDescription\tX\tQty\t1\tExtend\t8\tNote\t" +
             std::string(45, 'n'))});
  EXPECT_EQ(a_.Column("INVIDX.DBF", "TOTAL"), (Col{"1.00", "11.00", ""}));
  EXPECT_EQ(a_.Column("INVIDX.DBF", "GST"), (Col{"", "1.50", ""}));
  EXPECT_EQ(a_.Column("Flags.dbf", "LINK"), Col{"30"});
  EXPECT_EQ(a_.Column("OLDINV.DBF", "LINK"), (Col{"21", "21"}));
  EXPECT_EQ(a_.Column("OLDINV.DBF", "DESC")[1], std::string(40, 'n'));
  EXPECT_EQ(a_.Column("OLDINV.DBF", "NOTE")[1], std::string(45, 'n'));
}

// Records far apart in large tables, deleted records in between, and
// customers changed repeatedly: each change lands on its own record.
TEST_F(AuroraPostingTest, ChangesReachRecordsAnywhereInLargeTables) {
  std::vector<DbfRecord> balances, stock, customers;
  for (int i = 0; i < 6000; ++i) {
    std::string code = "I" + std::to_string(i);
    balances.push_back(Rec({{"CODE", code}, {"INSTOCK", "9"}, {"ALLOC", "1"}}, i == 3001));
    stock.push_back(Rec({{"CODE", code}, {"DESC", "Item " + std::to_string(i)}}));
    customers.push_back(Rec({{"NAME", "C" + std::to_string(i)}}, i == 4000));
  }
  a_.Table("STKBALS.DBF", balances);
  a_.Table("STOCK.DBF", stock);
  a_.Table("DMASTER.DBF", customers);
  a_.CompleteWith(0, 0);
  Col lines;
  for (int item : {5999, 5, 3000, 3002, 5, 1500, 5999, 0, 3001}) {
    lines.push_back(Sale("Customer\tC1\tOrdnum\tA\tDescription\tItem " + std::to_string(item) +
                         "\tQty\t2\tExtend\t1"));
  }
  for (int c : {5000, 2, 4001, 5000}) {
    std::string n = std::to_string(c);
    lines.push_back("20060305abcdCustomers\tName\tC" + n + "\tPhone\tP" + n +
                    "\tNotes\tline one\tContact1\tX" + n);
  }
  Post(lines);
  Col alloc = a_.Column("STKBALS.DBF", "ALLOC");  // record 3002 is item 3002
  ASSERT_EQ(alloc.size(), 5999u);
  for (int i : {5999, 5}) EXPECT_EQ(alloc[i - (i > 3001)], "5.00") << i;
  for (int i : {3000, 3002, 1500, 0}) EXPECT_EQ(alloc[i - (i > 3001)], "3.00") << i;
  EXPECT_EQ(alloc[1], "1.00");
  EXPECT_EQ(a_.Column("OLDINV.DBF", "LINK").size(), 9u);
  EXPECT_EQ(a_.Records("INVIDX.DBF").size(), 1u);

  std::vector<RecordValues> cust = a_.Records("DMASTER.DBF");  // record 4001 is C4001
  EXPECT_EQ(Pick(cust[4999], {"PHONE", "NOTES", "CONTACT"}), "P5000|line one|X5000");
  EXPECT_EQ(cust[2]["CONTACT"], "X2");
  EXPECT_EQ(cust[4000]["PHONE"], "P4001");
  EXPECT_EQ(cust[3]["PHONE"], "");
}

// Balances another program has locked are left as they are, each refusal
// logged; the lines are still posted.
TEST_F(AuroraPostingTest, LockedRecordsAreLeftAndLogged) {
  FillInstallation();
  std::unique_ptr<RandomRWFile> other;  // another program's hold on both records
  std::string stkbals = a_.dir().Path("data\\STKBALS.DBF");
  ASSERT_TRUE(Env::Default()->OpenRandomRW(stkbals, true, &other).ok());
  for (uint32_t r : {1, 2}) {
    ASSERT_TRUE(other->LockRange(dbf::RecordLockOffset(r), 1, true, 0).ok());
  }
  Col lines;
  for (const char* item : {"Widget", "Gadget", "Widget", "Gadget"}) {
    lines.push_back(Sale("Customer\tBrown & Co\tOrdnum\tP1\tDescription\t" + std::string(item) +
                         "\tQty\t1\tExtend\t2"));
  }
  Post(lines);
  EXPECT_EQ(a_.Column("STKBALS.DBF", "ALLOC"), (Col{"1.00", "0.00"}));
  EXPECT_EQ(a_.Records("OLDINV.DBF").size(), 4u);
  EXPECT_EQ(Count(a_.Log(), "not made"), 4) << a_.Log();
}

// The accounting package changes INVIDX.DBF between the device's two lines
// for the same order; the second line follows what it did.
TEST_F(AuroraPostingTest, ChangesByAnotherProgramMeanwhileAreSeen) {
  FillInstallation();
  std::string invidx = a_.dir().Read("data\\INVIDX.DBF");
  std::string line = Sale("Customer\tBrown & Co\tOrdnum\tP1\tDescription\tWidget\tQty\t1\t"
                          "Extend\t2");
  const struct {
    const char* what;
    std::function<void(const std::string& invidx)> meanwhile;
    Col links;
  } kCases[] = {
      {"adds a newer open invoice for the order",
       [](const std::string& path) {
         TableEngine other(Env::Default(), nullptr);
         other.Use(path, "Invidx", TableEngine::kReadWrite, TableEngine::kDriverDbf);
         other.GoBottom();
         other.Skip(1);
         for (auto [field, value] : {std::pair{"NAME", "Brown & Co"}, {"ORDNUM", "P1"},
                                     {"POSTED", "0"}, {"LINK", "99"}}) {
           other.Replace(field, TableEngine::kValueOrdinary, value);
         }
         other.Append();
       },
       {"9", "99"}},
      {"deletes the invoice the first line started",
       [](const std::string& path) {
         std::unique_ptr<RandomRWFile> f;
         std::string head;
         ASSERT_TRUE(Env::Default()->OpenRandomRW(path, true, &f).ok());
         f->Read(8, 4, &head);
         uint32_t lengths = dbf::ReadLE32(head.data());  // of the header and of a record
         f->Write((lengths & 0xFFFF) + 2 * (lengths >> 16), "*");
       },
       {"9", "10"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    a_.dir().Write("data\\INVIDX.DBF", invidx);
    a_.Table("OLDINV.DBF", {});
    a_.Table("Flags.dbf", {Rec({{"LINK", "8"}, {"NEXTINV", "501"}})});
    env_.Meanwhile(c.meanwhile);
    Post({line, line});
    EXPECT_EQ(a_.Column("OLDINV.DBF", "LINK"), c.links);
  }
  EXPECT_NE(a_.Log().find("INVIDX.DBF: records added by another program"), std::string::npos);
}

TEST_F(AuroraPostingTest, NothingIsWrittenWhenTheLineCannotBePosted) {
  FillInstallation();
  std::string invidx = a_.dir().Read("data\\INVIDX.DBF");
  std::string oldinv = a_.dir().Read("data\\OLDINV.DBF");

  PostAuroraTransactions(a_.ctx());  // no staging file
  EXPECT_NE(a_.Log().find("tempdb.dat cannot be read"), std::string::npos);

  a_.dir().Write("data\\Flags.dbf", "");  // the counters cannot be read
  Post({Sale("Customer\tNew\tOrdnum\tZ\tDescription\tWidget\tQty\t1\tExtend\t8")});
  EXPECT_EQ(a_.dir().Read("data\\INVIDX.DBF"), invidx);
  EXPECT_EQ(a_.dir().Read("data\\OLDINV.DBF"), oldinv);
  EXPECT_NE(a_.Log().find("no invoice could be created for it; it stays in the archive"),
            std::string::npos) << a_.Log();
}

}  // namespace
}  // namespace lumbra::test
