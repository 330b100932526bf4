#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backends/aurora/aurora.h"
#include "backends/aurora/cdx_writer.h"
#include "backends/aurora/dbf_format.h"
#include "backends/aurora/table_engine.h"
#include "backends/context/backend_names.h"
#include "dbf_test_support.h"
#include "intake/posting.h"
#include "run/run_driver.h"
#include "support/aurora_installation.h"
#include "support/test_util.h"
#include "text/lines.h"

namespace lumbra::test {
namespace {

using Col = std::vector<std::string>;

constexpr int kShortLockWaitMs = 200;
const Col kPostedTables = {"INVIDX.DBF", "OLDINV.DBF", "STKBALS.DBF", "Flags.dbf", "DMASTER.DBF"};

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

// Forcing data to the disk guards against power cuts, which these tests do
// not make: they skip it, to run many passes quickly.
Env* Quick() {
  static FaultEnv env([](std::string_view, const std::string&) { return false; });
  env.SkipSyncs();
  return &env;
}

// Runs a whole pass of device 3's hand-in on an installation.
void PassIn(AuroraInstallation& a, Env* env = Quick(), int lock_wait_ms = kShortLockWaitMs) {
  TestRun run(a.dir(), env);
  run.ctx().lock_wait_ms = lock_wait_ms;
  RunPass(run.ctx());
}

void Install(AuroraInstallation& a, const std::string& transact) {
  a.TablesFrom("aurora/posting");
  a.CompleteWith(/*link=*/8, /*invnum=*/501);
  a.dir().Write("Lumbra.ini", "appname=" + std::string(kAuroraBackend) + "\r\npath=data\r\n");
  a.dir().Write("devicenames.xml", "Rep\t3\r\n");
  a.dir().Write("3\\transact.xml", transact);
}

// What the posting leaves in the tables: the live records of each.
std::string Snapshot(const AuroraInstallation& a) {
  std::string out;
  for (const std::string& t : kPostedTables) out += t + "\n" + a.Listing(t);
  return out;
}

// The tables after one clean pass over the hand-in, for comparing passes
// that met trouble on the way.
std::string CleanSnapshot(const std::string& transact) {
  AuroraInstallation a;
  Install(a, transact);
  PassIn(a);
  EXPECT_FALSE(a.dir().Exists("3\\transact.xml.intake")) << a.Log();
  return Snapshot(a);
}

// The hand-in of the trouble tests: a line for the open invoice P9 with a
// note, a new invoice, a free line, and a customer change with notes.
std::string TroubleHandIn() {
  return Joined({Sale("Customer\tBrown & Co\tOrdnum\tP9\tDescription\tWidget\tQty\t2\tExtend\t8\t"
                      "Note\tFragile"),
                 Sale("Customer\tBrown & Co\tOrdnum\tP2\tDescription\tGadget\tQty\t1\tExtend\t5"),
                 Sale("Customer\tBrown & Co\tOrdnum\tP2\tDescription\tWidget\tQty\t1\tExtend\t0"),
                 "20060306abcdCustomers\tName\tBrown & Co\tNotes\tcall first\tContact1\tZoe"});
}

std::string PeerPath() { return LUMBRA_TEST_PEER; }

// Another program's process holding lock bytes of a file until it ends.
class LockHolder {
 public:
  LockHolder(const TempDir& dir, const std::string& file, const std::vector<uint64_t>& offsets,
             int ms) {
    ready_ = dir.Path("held.flag");
    CommandSpec c;
    c.argv = {PeerPath(), "hold", file};
    for (uint64_t o : offsets) c.argv.push_back(std::to_string(o));
    c.argv.push_back(std::to_string(ms));
    c.argv.push_back(ready_);
    c.silence_limit_ms = static_cast<uint64_t>(ms) + 20000;
    thread_ = std::thread([c, this] { Env::Default()->RunCommand(c, &result_); });
    for (int i = 0; i < 1000 && !Env::Default()->FileExists(ready_); ++i) {
      Env::Default()->SleepMicros(5000);
    }
    EXPECT_TRUE(Env::Default()->FileExists(ready_)) << "the holder did not take its locks";
  }
  ~LockHolder() {
    thread_.join();
    Env::Default()->DeleteFile(ready_);
  }

 private:
  std::string ready_;
  std::thread thread_;
  CommandResult result_;
};

class AuroraPostingTest : public ::testing::Test {
 protected:
  // Brown & Co with an address and 20 days to pay, Müller GmbH, three stock
  // items, an order P1 already invoiced and posted, and an open invoice for
  // P9.
  void FillInstallation() {
    a_.TablesFrom("aurora/posting");
    a_.CompleteWith(/*link=*/8, /*invnum=*/501);
  }

  void Post(const Col& lines) {
    a_.dir().Write("tempdb.dat", Joined(lines));
    PostAuroraTransactions(a_.ctx());
  }

  AuroraInstallation a_;
};

// A whole pass: the device's order becomes an invoice, exported to every
// device. The device's lines (tests/data/aurora/posting/transact.xml): four
// for order P1 (one with a note, one for an unknown item without an extend,
// one free line given as $0.00), a phone change for Brown & Co, a job line,
// a sale to a customer not in DMASTER, a sale to "Muller GmbH" of
// "Blumchen" (the master spells them with ü), and a change to a customer
// after an empty name, which is rejected. Also: the tables' structural
// indexes hold the new records' keys.
TEST_F(AuroraPostingTest, OneOrderBecomesOneInvoiceWithItsLinesAndAllocations) {
  Install(a_, TestData("aurora/posting/transact.xml"));
  a_.dir().MakeDir("2");
  PassIn(a_);
  EXPECT_FALSE(a_.dir().Exists("3\\transact.xml"));
  EXPECT_FALSE(a_.dir().Exists("3\\transact.xml.intake"));

  EXPECT_EQ(Pick(a_.Records("Flags.dbf").at(0), {"LINK", "NEXTINV"}), "11|504");
  // The open invoice of another order is left alone; 7 days to pay and no
  // address for a customer not in DMASTER; Müller's invoice carries the
  // master's spelling and data. The line without an extend is invoiced at
  // qty x rate; the free line adds nothing to the totals; the note becomes a
  // comment line.
  EXPECT_EQ(a_.Listing("INVIDX.DBF"), TestData("aurora/posting/INVIDX.posted.txt"));
  EXPECT_EQ(a_.Listing("OLDINV.DBF"), TestData("aurora/posting/OLDINV.posted.txt"));
  EXPECT_EQ(a_.Column("STKBALS.DBF", "ALLOC"), (Col{"5.00", "3.00", "2.00"}));
  // Only the phone changes; a customer after an empty name is not reached.
  EXPECT_EQ(a_.Listing("DMASTER.DBF"), TestData("aurora/posting/DMASTER.posted.txt"));

  std::string log = a_.Log();
  EXPECT_NE(log.find("came without an extend; worked out as 4"), std::string::npos) << log;
  EXPECT_EQ(Count(log, "customer \"Muller GmbH\" of device 3 taken as \"M\xFCller GmbH\""), 1);
  EXPECT_EQ(Count(log, "stock item \"Blumchen\" of device 3 taken as \"Bl\xFCmchen\""), 1);
  ASSERT_EQ(a_.dir().FilesUnder("Rejected").size(), 1u);
  const std::string rejected_file = a_.dir().FilesUnder("Rejected")[0];
  EXPECT_EQ(a_.dir().Read(rejected_file), SplitLines(TestData("aurora/posting/transact.xml"))[8] + "\r\n");
  EXPECT_NE(log.find("device 3 line 9 rejected (" + rejected_file +
                     "): no customer named \"Late Ltd\""),
            std::string::npos) << log;
  EXPECT_NE(log.find("device 3: 7 lines posted, 0 kept for the next pass, 1 rejected"),
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
  Install(a_, TestData("aurora/posting/transact.xml"));
  std::string cdx = a_.dir().Read("data\\INVIDX.CDX");
  cdx.replace(cdx.find("DTOS(DATE)"), 10, "XTOS(DATE)");
  a_.dir().Write("data\\INVIDX.CDX", cdx);
  std::string invidx = a_.dir().Read("data\\INVIDX.DBF");
  PassIn(a_);
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

// The accounting package changes INVIDX.DBF between two devices' lines for
// the same order; the second device follows what it did.
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
      {"posts the invoice the first line started",
       [](const std::string& path) {
         TableEngine other(Env::Default(), nullptr);
         other.Use(path, "Invidx", TableEngine::kReadWrite, TableEngine::kDriverDbf);
         other.Goto(3);
         other.Replace("POSTED", TableEngine::kValueOrdinary, "1");
         other.Commit();
       },
       {"9", "10"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    a_.dir().Write("data\\INVIDX.DBF", invidx);
    a_.Table("OLDINV.DBF", {});
    a_.Table("Flags.dbf", {Rec({{"LINK", "8"}, {"NEXTINV", "501"}})});
    std::unique_ptr<Posting> posting = NewAuroraPosting();
    DeviceLines first(3, {line}), second(4, {line});
    posting->PostDevice(a_.ctx(), first);
    c.meanwhile(a_.dir().Path("data\\INVIDX.DBF"));
    posting->PostDevice(a_.ctx(), second);
    EXPECT_EQ(a_.Column("OLDINV.DBF", "LINK"), c.links);
  }
}

// Another program holds, in turn, each lock a device's lines need: the line
// that needs it, and every later line of the device, waits in the device's
// folder with nothing of it written; the next pass, with the lock gone,
// posts them, leaving the tables as one clean pass would.
TEST(AuroraPostingLocks, LinesWaitWhileAnotherProgramHoldsTheirLocks) {
  const std::string hand_in = TroubleHandIn();
  const std::string clean = CleanSnapshot(hand_in);
  const Col lines = SplitLines(hand_in);
  const uint64_t kHeader = dbf::kLockBase;
  const struct {
    const char* file;
    uint64_t offset;
    size_t first_kept;  // the first line that needs the lock
    const char* said;
  } kCases[] = {
      {"INVIDX.DBF", dbf::RecordLockOffset(2), 0, "INVIDX.DBF record 2 is locked"},
      {"STKBALS.DBF", dbf::RecordLockOffset(1), 0, "STKBALS.DBF record 1 is locked"},
      {"OLDINV.DBF", kHeader, 0, "OLDINV.DBF (adding a line) is locked"},
      {"OLDINV.FPT", kHeader, 0, "OLDINV.DBF's memo file is locked"},
      {"OLDINV.CDX", kHeader, 0, "OLDINV.DBF's index is locked"},
      {"INVIDX.CDX", kHeader, 1, "INVIDX.DBF's index is locked"},
      {"Flags.dbf", dbf::RecordLockOffset(1), 1, "Flags.dbf record 1 (the counters) is locked"},
      {"INVIDX.DBF", kHeader, 1, "INVIDX.DBF (adding an invoice) is locked"},
      {"DMASTER.DBF", dbf::RecordLockOffset(1), 3, "DMASTER.DBF record 1 is locked"},
      {"DMASTER.FPT", kHeader, 3, "DMASTER.DBF's memo file is locked"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.said);
    AuroraInstallation a;
    Install(a, hand_in);
    {
      LockHolder other(a.dir(), a.dir().Path(std::string("data\\") + c.file), {c.offset}, 500);
      PassIn(a);
    }
    std::string kept;
    for (size_t i = c.first_kept; i < lines.size(); ++i) kept += lines[i] + "\r\n";
    EXPECT_EQ(a.dir().Read("3\\transact.xml.intake"), kept);
    EXPECT_NE(a.Log().find("line " + std::to_string(c.first_kept + 1) +
                           " kept for the next pass: " + c.said),
              std::string::npos) << a.Log();
    PassIn(a);
    EXPECT_FALSE(a.dir().Exists("3\\transact.xml.intake"));
    EXPECT_EQ(Snapshot(a), clean);
  }
}

// The accounting package raises the invoice counter, an allocation and an
// open invoice's total under its record locks while a device's thousand
// lines are posted: no invoice number is handed out twice and no raise of
// either program is lost.
TEST(AuroraPostingLocks, AnotherProgramsChangesUnderItsLocksAreNeverLost) {
  AuroraInstallation a;
  Col hand_in;
  double p9_extends = 0;
  int widgets = 0;
  std::set<std::string> new_orders;
  for (int i = 0; i < 1000; ++i) {
    bool p9 = i % 3 == 0;
    std::string order = p9 ? "P9" : "N" + std::to_string(i - i % 2);
    if (!p9) new_orders.insert(order);
    // Totals are stored with two decimals: extends of 8 raise them by 9.00.
    hand_in.push_back(Sale("Customer\tBrown & Co\tOrdnum\t" + order +
                           "\tDescription\tWidget\tQty\t1\tExtend\t" + (p9 ? "8" : "1")));
    ++widgets;
    p9_extends += p9 ? 8 : 0;
  }
  Install(a, Joined(hand_in));
  const int kBumps = 300;
  auto bump = [&](const char* table, const char* field, int recno, std::string* out) {
    CommandSpec c;
    c.argv = {PeerPath(), "bump", a.dir().Path(std::string("data\\") + table), field,
              std::to_string(recno), std::to_string(kBumps)};
    c.silence_limit_ms = 60000;
    CommandResult r;
    EXPECT_TRUE(Env::Default()->RunCommand(c, &r).ok());
    EXPECT_EQ(r.exit_status, 0) << table;
    *out = r.output;
  };
  std::string counters, allocs, totals;
  std::thread t1(bump, "Flags.dbf", "NEXTINV", 1, &counters);
  std::thread t2(bump, "STKBALS.DBF", "ALLOC", 1, &allocs);
  std::thread t3(bump, "INVIDX.DBF", "TOTAL", 2, &totals);
  PassIn(a, Env::Default(), 10000);
  t1.join();
  t2.join();
  t3.join();
  ASSERT_FALSE(a.dir().Exists("3\\transact.xml.intake")) << a.Log();

  std::vector<RecordValues> invoices = a.Records("INVIDX.DBF");
  std::map<std::string, int> numbers;
  for (RecordValues& r : invoices) ++numbers[r["INVNUM"]];
  for (const std::string& taken : SplitLines(counters)) ++numbers[taken];
  for (const auto& [number, n] : numbers) EXPECT_EQ(n, 1) << "invoice number " << number;
  EXPECT_EQ(std::stoi(a.Records("Flags.dbf")[0]["NEXTINV"]), 501 + kBumps + static_cast<int>(new_orders.size()));
  EXPECT_EQ(std::stod(a.Records("STKBALS.DBF")[0]["ALLOC"]), 1 + kBumps + widgets);
  EXPECT_DOUBLE_EQ(std::stod(a.Records("INVIDX.DBF")[1]["TOTAL"]), 10 + kBumps + p9_extends * 1.125);
}

// A write of a line's posting fails (a full disk, an I/O error), once, at
// each write in turn: what the line wrote is undone and the line kept, and
// the next pass leaves the tables as one clean pass would.
TEST(AuroraPostingFailures, AFailedWriteAnywhereIsUndoneAndThePostingRedone) {
  const std::string hand_in = TroubleHandIn();
  const std::string clean = CleanSnapshot(hand_in);
  int failures = 0, undone = 0;
  for (int k = 1;; ++k) {
    SCOPED_TRACE("write " + std::to_string(k) + " fails");
    ASSERT_LT(k, 200);
    AuroraInstallation a;
    Install(a, hand_in);
    int left = k;
    bool failed = false;
    FaultEnv once(
        [&](std::string_view op, const std::string& path) {
          bool write = op == "Write" || op == "WriteFile" || op == "CopyFile" ||
                       op == "RenameFile" || op == "DeleteFile";
          // The export's tables (folder 1 and their copies) have nothing to lose.
          bool exported = path.find(NativePath("/1/")) != std::string::npos || path.ends_with(".dat");
          if (!write || exported || path.ends_with("Lumbra.log") || failed || --left > 0) {
            return false;
          }
          return failed = true;
        },
        Quick());
    PassIn(a, &once);
    if (!failed) break;
    ++failures;
    undone += a.Log().find("undoing a failed line:") != std::string::npos;
    PassIn(a);
    PassIn(a);  // a journal left behind is finished by the first
    EXPECT_FALSE(a.dir().Exists("Lumbra.journal"));
    EXPECT_FALSE(a.dir().Exists("3\\transact.xml.intake")) << a.Log();
    EXPECT_EQ(Snapshot(a), clean) << a.Log();
  }
  EXPECT_GT(failures, 20);
  EXPECT_GT(undone, 10);  // failures inside a line, undone at once
}

// A pass of another process, killed (SIGKILL) before its k-th write.
CommandResult KilledPass(const AuroraInstallation& a, int k) {
  CommandSpec c;
  c.argv = {PeerPath(), "pass", a.dir().path(), std::to_string(k),
            std::to_string(kShortLockWaitMs)};
  c.silence_limit_ms = 60000;
  CommandResult r;
  EXPECT_TRUE(Env::Default()->RunCommand(c, &r).ok());
  return r;
}

// A pass killed (SIGKILL) before each of its writes in turn, then a clean
// pass: every line posted exactly once, the tables as one clean pass leaves
// them, their structural indexes in step with them, and readable by the two
// independent readers.
TEST(AuroraPostingFailures, APassKilledAtAnyWriteLeavesEveryLinePostedOnce) {
  const std::string hand_in = TroubleHandIn();
  const std::string clean = CleanSnapshot(hand_in);
  dbftest::ScratchDir kept_tables;
  std::string tables;
  int deaths = 0, undone = 0;
  for (int k = 1;; ++k) {
    SCOPED_TRACE("killed before write " + std::to_string(k));
    ASSERT_LT(k, 300);
    AuroraInstallation a;
    Install(a, hand_in);
    CommandResult r = KilledPass(a, k);
    if (r.end == CommandResult::End::kExited && r.exit_status == 0) break;
    // Killed: by SIGKILL, or where there are no signals, ended at once.
    ASSERT_TRUE(r.end == CommandResult::End::kSignaled ||
                (r.end == CommandResult::End::kExited && r.exit_status == 137));
    ++deaths;
    bool half_posted = a.dir().Exists("Lumbra.journal");
    // The pass that finishes the work is killed too, early on, now and then.
    if (k % 3 == 0) KilledPass(a, k % 4 + 1);
    PassIn(a);
    undone += half_posted && a.Log().find(" undone") != std::string::npos;
    EXPECT_FALSE(a.dir().Exists("Lumbra.journal"));
    EXPECT_FALSE(a.dir().Exists("3\\transact.xml.intake"));
    EXPECT_FALSE(a.dir().Exists("3\\transact.xml"));
    EXPECT_EQ(Snapshot(a), clean) << a.Log();
    EXPECT_EQ(a.IndexDifferences(), "") << a.Log();
    for (const std::string t : {"INVIDX.DBF", "OLDINV.DBF"}) {
      std::string copy = kept_tables / (std::to_string(k) + t);
      dbftest::WriteAll(copy, a.dir().Read("data\\" + t));
      std::string memo = std::string(t).replace(std::string(t).size() - 3, 3, "FPT");
      if (a.dir().Exists("data\\" + memo)) {
        dbftest::WriteAll(kept_tables / (std::to_string(k) + memo), a.dir().Read("data\\" + memo));
      }
      tables += " " + dbftest::Quote(copy);
    }
  }
  EXPECT_GT(deaths, 20);
  EXPECT_GT(undone, 10);  // deaths inside a line, undone by the next pass
  std::string output;
  if (!dbftest::CrossCheckAvailable()) return;
  EXPECT_EQ(dbftest::RunCrossCheck("count" + tables, &output), 0) << output;
}

// Tables the posting cannot write (read-only, or a header that counts more
// records than the file holds): every line waits with nothing written, and
// is posted once the table is mended.
TEST(AuroraPostingFailures, TablesThatCannotBeWrittenKeepTheirLines) {
  const std::string hand_in = TroubleHandIn();
  const std::string clean = CleanSnapshot(hand_in);
  const Col lines = SplitLines(hand_in);
  const struct {
    const char* what;
    const char* file;
    bool cut_short;  // else opened read-only
    size_t first_kept;
    const char* said;
  } kCases[] = {
      {"read-only line table", "OLDINV.DBF", false, 0, "OLDINV.DBF cannot be written"},
      {"read-only memo file", "OLDINV.FPT", false, 0, "OLDINV.DBF's memo file cannot be written"},
      {"line table cut short", "OLDINV.DBF", true, 0, "OLDINV.DBF cannot be written"},
      {"read-only customer memos", "DMASTER.FPT", false, 3,
       "DMASTER.DBF's memo file cannot be written"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    AuroraInstallation a;
    Install(a, hand_in);
    std::string file = "data\\" + std::string(c.file);
    std::string bytes = a.dir().Read(file);
    std::string before = Snapshot(a);
    if (c.cut_short) {
      std::string longer = bytes;
      longer[4] = static_cast<char>(longer[4] + 1);  // one record more than the file holds
      a.dir().Write(file, longer);
    }
    FaultEnv read_only(
        [&](std::string_view op, const std::string& path) {
          return !c.cut_short && op == "OpenForWriting" && path.ends_with(c.file);
        },
        Quick());
    PassIn(a, &read_only);
    std::string kept;
    for (size_t i = c.first_kept; i < lines.size(); ++i) kept += lines[i] + "\r\n";
    EXPECT_EQ(a.dir().Read("3\\transact.xml.intake"), kept);
    EXPECT_NE(a.Log().find("line " + std::to_string(c.first_kept + 1) +
                           " kept for the next pass: " + std::string(c.said)),
              std::string::npos) << a.Log();
    a.dir().Write(file, bytes);
    if (c.first_kept == 0) {
      EXPECT_EQ(Snapshot(a), before);
    }
    PassIn(a);
    EXPECT_EQ(Snapshot(a), clean) << a.Log();
  }
}

// Flags.dbf's counter lags behind the invoices and INVIDX's index takes each
// invoice number once: the new invoice is refused for good, so the line is
// rejected, with nothing of it left and the counter where it was.
TEST(AuroraPostingFailures, AnInvoiceNumberTheIndexHoldsRejectsTheLine) {
  AuroraInstallation a;
  const std::string line =
      Sale("Customer\tBrown & Co\tOrdnum\tP2\tDescription\tGadget\tQty\t1\tExtend\t5");
  Install(a, line + "\r\n");
  a.Table("Flags.dbf", {Rec({{"LINK", "8"}, {"NEXTINV", "500"}})});
  ASSERT_TRUE(WriteStructuralIndex(Env::Default(), a.dir().Path("data\\INVIDX.DBF"),
                                   {{"INVNUM", "INVNUM", "", false, false, true}})
                  .ok());
  std::string before = Snapshot(a);
  PassIn(a);
  EXPECT_EQ(Snapshot(a), before);
  ASSERT_EQ(a.dir().FilesUnder("Rejected").size(), 1u) << a.Log();
  EXPECT_EQ(a.dir().Read(a.dir().FilesUnder("Rejected")[0]), line + "\r\n");
  EXPECT_FALSE(a.dir().Exists("3\\transact.xml.intake"));
  EXPECT_NE(a.Log().find("device 3 line 1 rejected"), std::string::npos) << a.Log();
}

}  // namespace
}  // namespace lumbra::test
