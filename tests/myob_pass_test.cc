// Whole passes over MYOB text-file installations in temporary folders: the
// devices hand in sales, time records, a customer change and mail; the pass
// writes MYOB import files and turns MYOB's export files into the device
// tables.
//
// The files are under tests/data/myob/, laid out as in an installation:
// installation/ holds MYOB's export files; for each case, in/ holds what the
// devices hand in and out/ files the pass must leave, byte for byte;
// pass/tables/ holds the device tables the first pass writes, decoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "text/lines.h"
#include "run/run_driver.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

std::string Data(const std::string& name) { return test::TestData("myob/" + name); }

// The names in a folder, sorted; the names of folders end with "/".
std::vector<std::string> FilesIn(const std::string& path) {
  std::vector<DirEntry> entries;
  Env::Default()->ListDir(path, &entries);
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name + (e.is_dir ? "/" : ""));
  std::sort(names.begin(), names.end());
  return names;
}

// The files below tests/data/myob/<folder>, by their paths there.
std::vector<std::string> DataFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const std::string& name : FilesIn(LUMBRA_SOURCE_DIR "/tests/data/myob/" + folder)) {
    if (!name.ends_with("/")) {
      files.push_back(name);
      continue;
    }
    for (const std::string& f : DataFiles(folder + "/" + name)) files.push_back(name + f);
  }
  return files;
}

// Copies the files below tests/data/myob/<folder> into the installation.
void CopyIn(const test::TempDir& dir, const std::string& folder) {
  for (const std::string& f : DataFiles(folder)) dir.Write(f, Data(folder + "/" + f));
}

// Every file below tests/data/myob/<folder> is in the installation, byte
// for byte.
void ExpectFiles(const test::TempDir& dir, const std::string& folder) {
  const std::vector<std::string> files = DataFiles(folder);
  EXPECT_FALSE(files.empty()) << folder;
  for (const std::string& f : files) EXPECT_EQ(dir.Read(f), Data(folder + "/" + f)) << f;
}

class NoSync : public RandomRWFileWrapper {
 public:
  using RandomRWFileWrapper::RandomRWFileWrapper;
  Status Sync() override { return Status::OK(); }
};

// Stands the clock still at 5 December 2026, 14:30:15 (or another minute).
// Forcing files to the disk matters only when the machine stops, which no
// test here makes happen, so it is skipped unless asked for; it would cost
// most of the time of the many small passes.
class ClockEnv : public EnvWrapper {
 public:
  explicit ClockEnv(int minute = 30, bool sync = false)
      : EnvWrapper(Env::Default()), minute_(minute), sync_(sync) {}
  LocalTime Now() override { return {2026, 12, 5, 14, minute_, 15}; }
  Status SyncFile(const std::string& p) override {
    return sync_ ? EnvWrapper::SyncFile(p) : Status::OK();
  }
  Status OpenRandomRW(const std::string& p, bool w, std::unique_ptr<RandomRWFile>* f) override {
    Status s = EnvWrapper::OpenRandomRW(p, w, f);
    if (s.ok() && !sync_) *f = std::make_unique<NoSync>(std::move(*f));
    return s;
  }

 private:
  int minute_;
  bool sync_;
};

// The installation. MYOB's export files have two address blocks that repeat
// their continuation titles (indented), "*None" for absent values and empty
// lines; ITEM.TXT names "Hammer" twice (the first item of a name is the one
// sold) and has the tax code of a sale in field 27 (field 15 stands in for
// the shorter file of Business Basics). A customer, an item, an activity and
// an employee have names with bytes the device tables fold (M\xFCller GmbH,
// Tile L'Ha\xFF, Pr\xFCfung, J\xFCrgens), and the customer's notes hold a bare
// line feed.
void WriteInstallation(const test::TempDir& dir, std::string_view backend) {
  dir.Write("Lumbra.ini", "appname=" + std::string(backend) + "\r\npath=myob\\\r\n");
  dir.Write("devicenames.xml", "North van\t2\r\nSpare\t3\r\nVan 5 (S/E)\t5\r\n");
  dir.Write("Myob1.dat", test::Coded({"Freighttype", "Courier", "Post"}));
  dir.Write("Myob2.dat", test::Coded({"Paymenttype\t", "Cash\t", "Account\t"}));
  dir.MakeDir("3");
  CopyIn(dir, "installation");
}

void Pass(const test::TempDir& dir, Env* env) {
  test::TestRun run(dir, env);
  RunPass(run.ctx());
}

// Device 2 hands in two orders of one customer, an order of an item MYOB does
// not know, an order and a time slip with the folded names as the device
// tables gave them (the order's note holds a bare line feed), a service sale
// of two lines, time slips with and without a known activity, a new customer
// (which MYOB's import ignores), a stray line and mail; device 5 one order.
TEST(MyobPass, SalesSlipsAndMailBecomeImportFilesAndTheExportReachesEveryDevice) {
  test::TempDir dir;
  WriteInstallation(dir, "MYOB\xAE Accounting Plus v15 (text files)");
  CopyIn(dir, "pass/in");
  ClockEnv clock;
  Pass(dir, &clock);

  // What the devices handed in is gone from their folders and archived.
  for (const char* d : {"2", "5"}) {
    for (const char* f : {"\\transact.xml", "\\transact.xml.taken", "\\transact.xml.intake"}) {
      EXPECT_FALSE(dir.Exists(std::string(d) + f)) << d << f;
    }
  }
  const std::string device5 = Data("pass/in/5/transact.xml");
  EXPECT_EQ(dir.Read("Archive\\20261205\\2-143015-transact.xml"), Data("pass/in/2/transact.xml"));
  EXPECT_EQ(dir.Read("Archive\\20261205\\5-143015-transact.xml"), device5);
  EXPECT_EQ(dir.Read("tempdb.dat"), device5);  // the last device staged

  // Mail is logged as written and applied to the message list. The import
  // files have the long layout without currency. The rate is 12.5 %; GST
  // ties go to the even cent (1.125 to 1.12, 3.375 to 3.38); an item of a
  // non-standard tax code has no GST; an empty line separates sales; only
  // the first "&&" of a value becomes "&"; folded names are written in the
  // master's spelling, and a bare line feed stays inside its field, with the
  // pairs after it read. Device 5 sold items only; its name is made safe for
  // a file name. The customer's notes are one row on the devices.
  ExpectFiles(dir, "pass/out");
  const std::vector<std::string> myob_files = {
      "ACCOUNTS.TXT", "ACTIVITY.TXT", "CUST.TXT", "EMPLOY.TXT", "ITEM.TXT", "JOBS.TXT",
      "NONCONTAXCODE.TXT", "SUPPLIERS.TXT", "TamselITEMSALE202612051430North van.TXT",
      "TamselITEMSALE202612051430Van 5 (S_E).TXT", "TamselSERVSALE202612051430North van.TXT",
      "TamselSLIPS202612051430North van.TXT"};
  EXPECT_EQ(FilesIn(dir.Path("myob")), myob_files);

  // The device tables in every device folder: chosen by title, rows of H + 1
  // fields; the empty lines of CUST.TXT give one row.
  const std::vector<std::string> tables = DataFiles("pass/tables");
  ASSERT_EQ(tables.size(), 11u);
  for (const std::string& table : tables) {
    const std::string bytes = test::Coded(SplitLines(Data("pass/tables/" + table)));
    const std::string name = table.substr(0, table.find('.')) + ".dat";
    for (const char* folder : {"1", "2", "3", "5"}) {
      EXPECT_EQ(dir.Read(std::string(folder) + "\\" + name), bytes) << folder << name;
    }
  }
  EXPECT_NE(dir.Read("Lumbra.log").find("1\\Customers.dat written"), std::string::npos);

  // A later pass with nothing handed in writes no import file.
  ClockEnv later(31);
  Pass(dir, &later);
  EXPECT_EQ(FilesIn(dir.Path("myob")), myob_files);
}

// A data folder copied from Windows: the folder, MYOB's export files and the
// ready-made tables are spelled in other letters than the settings and the
// program name them. The pass finds them all and writes what it writes in
// the other case, into the folder as the disk spells it.
TEST(MyobPass, FilesAreFoundInAnyLetterCase) {
  test::TempDir dir;
  WriteInstallation(dir, "MYOB\xAE Accounting Plus v15 (text files)");
  CopyIn(dir, "pass/in");
  // Through another name: Wine keeps a name that changes only its case.
  auto respell = [&](const std::string& from, const std::string& to) {
    std::filesystem::rename(dir.Path(from), dir.Path(from + ".respelled"));
    std::filesystem::rename(dir.Path(from + ".respelled"), dir.Path(to));
  };
  for (const std::string& f : FilesIn(dir.Path("myob"))) {
    respell("myob\\" + f, "myob\\" + f.substr(0, f.size() - 3) + "txt");
  }
  respell("myob", "Myob");
  respell("Myob1.dat", "MYOB1.DAT");
  ClockEnv clock;
  Pass(dir, &clock);

  // No folder of the settings' spelling beside it (where names match in any
  // case, "myob" is "Myob" itself).
  const std::vector<std::string> top = FilesIn(dir.path());
  EXPECT_EQ(std::count(top.begin(), top.end(), "myob/"), 0);
  respell("Myob", "myob");
  ExpectFiles(dir, "pass/out");  // item numbers, tax codes and activities found
  for (const std::string& table : DataFiles("pass/tables")) {
    const std::string name = table.substr(0, table.find('.')) + ".dat";
    EXPECT_EQ(dir.Read("1\\" + name), test::Coded(SplitLines(Data("pass/tables/" + table))))
        << name;
  }
}

// An order of bread (tax code FRE), a service sale and a time slip.
TEST(MyobPass, BusinessBasicsWritesTheShortLayout) {
  test::TempDir dir;
  WriteInstallation(dir, "MYOB\xAE Business Basics v1 (text files)");
  CopyIn(dir, "short-layout/in");
  ClockEnv clock;
  Pass(dir, &clock);
  // The short layout charges GST whatever the item's tax code: the bread
  // carries 0.84.
  ExpectFiles(dir, "short-layout/out");
}

TEST(MyobPass, RecordsWaitWhileTheDataFolderIsMissing) {
  test::TempDir dir;
  CopyIn(dir, "waiting/in");  // no myob folder
  const std::vector<std::string> records = SplitLines(Data("waiting/in/2/transact.xml"));
  ASSERT_EQ(records.size(), 2u);  // mail, a service sale
  ClockEnv clock;
  Pass(dir, &clock);
  // The mail is routed; the sale waits in the device's folder.
  EXPECT_EQ(dir.Read("2\\mailX.txt"), records[0] + "\r\n");
  EXPECT_EQ(dir.Read("2\\transact.xml.intake"), records[1] + "\r\n");
  const std::string log = dir.Read("Lumbra.log");
  EXPECT_NE(log.find("device 2 line 1 kept for the next pass: "), std::string::npos);
  EXPECT_NE(log.find("TamselSERVSALE202612051430North van.TXT not written"), std::string::npos);

  dir.MakeDir("myob");
  ClockEnv later(31);
  Pass(dir, &later);
  EXPECT_FALSE(dir.Exists("2\\transact.xml.intake"));
  ExpectFiles(dir, "waiting/out");  // the service sale file of minute 31
  EXPECT_EQ(dir.Read("2\\mailX.txt"), records[0] + "\r\n");  // logged once
}

// ---------------------------------------------------------------------------
// Passes that stop at any point, and the pass after them. The hand-in: an
// item sale, mail, a service sale and a time slip, with the message list of
// the first pass above; rows.txt holds the rows of the import files they
// become. Whatever the first pass did before it stopped, after the next one
// every record is in exactly one import file MYOB can see, the mail is
// logged once and applied, and nothing is left half-done.

int CountLine(const test::TempDir& dir, const std::string& line) {
  int n = 0;
  for (const std::string& name : FilesIn(dir.Path("myob"))) {
    if (!name.starts_with("Tamsel") || !name.ends_with(".TXT")) continue;
    for (const std::string& l : SplitLines(dir.Read("myob\\" + name))) n += l == line;
  }
  return n;
}

void ExpectEachRecordOnce(const test::TempDir& dir) {
  const std::string mail = SplitLines(Data("killed/in/2/transact.xml")).at(1) + "\r\n";
  for (const char* f : {"2\\transact.xml", "2\\transact.xml.taken", "2\\transact.xml.intake",
                        "2\\transact.xml.mail", "Lumbra.journal"}) {
    EXPECT_FALSE(dir.Exists(f)) << f;
  }
  EXPECT_EQ(dir.Read("2\\mailX.txt"), mail);
  EXPECT_NE(dir.Read("2\\messages.txt").find("\tPlease count bins\t\t\tRead\tN\r\n"),
            std::string::npos);
  for (const std::string& row : SplitLines(Data("killed/rows.txt"))) {
    EXPECT_EQ(CountLine(dir, row), 1) << row;
  }
  for (const std::string& name : FilesIn(dir.Path("myob"))) {
    EXPECT_FALSE(name.ends_with(".part") || name.starts_with(".")) << name;
  }
}

// Runs the first pass stopped at its k-th change of the disk (by stop, which
// says whether it stopped), for k = 0, 1, ... until a pass runs to its end;
// each time the next pass, a minute later, must leave every record once.
void StopAtEveryChange(const std::function<bool(const test::TempDir&, int)>& stop) {
  int stops = 0;
  for (int k = 0; k < 1000; ++k) {
    SCOPED_TRACE("stopped at change " + std::to_string(k));
    // Only what the sale files read: the export has nothing to lose.
    test::TempDir dir;
    CopyIn(dir, "killed/in");
    dir.Write("myob\\ITEM.TXT", Data("installation/myob/ITEM.TXT"));
    if (!stop(dir, k)) break;
    ++stops;
    ClockEnv next_minute(31);
    Pass(dir, &next_minute);
    ExpectEachRecordOnce(dir);
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("[ stops    ] %d\n", stops);
  // Some thirty changes of the disk, the log's not counted by every stopper.
  EXPECT_GT(stops, 30);
}

bool IsChange(std::string_view op) { return op != "ReadFile"; }

// From its k-th change on, nothing the pass does reaches the disk, and it
// goes on, every write failing.
TEST(MyobPass, APassThatStopsWritingAnywhereLosesAndDoublesNothing) {
  StopAtEveryChange([](const test::TempDir& dir, int k) {
    int left = k;
    bool stopped = false;
    ClockEnv clock;
    test::FaultEnv failing(
        [&](std::string_view op, const std::string&) {
          if (!IsChange(op) || (!stopped && left-- > 0)) return false;
          return stopped = true;
        },
        &clock);
    Pass(dir, &failing);
    return stopped;
  });
}

// The process is killed before its k-th change (the log's and the device
// tables' of folder 1 not counted), by the test peer's "pass".
TEST(MyobPass, APassKilledAnywhereLosesAndDoublesNothing) {
  StopAtEveryChange([](const test::TempDir& dir, int k) {
    return test::RunProgram(test::Peer({"pass", dir.path(), std::to_string(k + 1)})) != 0;
  });
}

// A device file of 100,000 lines selling from an item file of 100,000
// items. Well under a second of processor time in an optimised build; the
// bound catches a pass that grows faster than its input. Processor time,
// unlike the time on the clock, hardly grows when other work shares the
// machine.
TEST(MyobPassSize, HundredThousandLineDeviceFileAndItemFile) {
  test::TempDir dir;
  WriteInstallation(dir, "MYOB\xAE Premier v9 (text files)");
  // The titles of ITEM.TXT; the service sale and the slip of killed/.
  std::string items = SplitLines(Data("installation/myob/ITEM.TXT")).at(0) + "\r\n";
  std::string hand_in, messages;
  const std::vector<std::string> records = SplitLines(Data("killed/in/2/transact.xml"));
  for (int i = 0; i < 100000; ++i) {
    // 28 fields: number, name, B, S, I; tax codes in 15 and 27, GST when
    // bought in 20, price and unit in 25 and 26.
    const std::string n = std::to_string(i), code = i % 2 ? "S" : "FRE";
    items += "C" + n + "\tItem " + n + "\tB\tS\tI" + std::string(10, '\t') + code +
             std::string(5, '\t') + "GST" + std::string(5, '\t') + "$1.00\teach\t" + code +
             "\t\r\n";
  }
  for (int i = 0; i < 2000; ++i) {
    messages += std::to_string(i + 1) + "\tMSG-" + std::to_string(i) + "\tOffice\r\n";
  }
  for (int i = 0; i < 100000; ++i) {
    const std::string n = std::to_string(i);
    if (i % 20 == 0) {
      hand_in += "20261204abcdMail\tMSG-" + std::to_string(i / 20 % 2000) + "\tOffice\tRead\r\n";
    } else if (i % 20 < 3) {
      hand_in += records.at(i % 20 == 1 ? 2 : 3) + "\r\n";
    } else {
      hand_in += "20261204abcdInvoiceLines\tCustomer\tShop " + std::to_string(i / 40) +
                 "\tOrdnum\t" + n + "\tItem\tItem " + n + "\tQty\t" + n + "\tSell1\t$19.95\r\n";
    }
  }
  dir.Write("myob\\ITEM.TXT", items);
  dir.Write("2\\transact.xml", hand_in);
  dir.Write("2\\messages.txt", messages);
  ClockEnv clock(30, true);
  Pass(dir, &clock);

  std::string sales = dir.Read("myob\\TamselITEMSALE202612051430North van.TXT");
  EXPECT_EQ(SplitLines(sales).size(), 1u + 85000u + 84999u);  // every sale of one line
  EXPECT_NE(sales.find("\tC99999\t"), std::string::npos);
  EXPECT_EQ(SplitLines(dir.Read("myob\\TamselSLIPS202612051430North van.TXT")).size(), 5001u);
  EXPECT_EQ(SplitLines(dir.Read("2\\mailX.txt")).size(), 5000u);
  EXPECT_NE(dir.Read("2\\messages.txt").find("2000\tMSG-1999\tOffice\t\t\t\t\t\tRead\t\r\n"),
            std::string::npos);
  EXPECT_EQ(SplitLines(dir.Read("1\\StockItems.dat")).size(), 100001u);
}

}  // namespace
}  // namespace lumbra
