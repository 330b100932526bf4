// The run report: whole passes of an Aurora installation in which devices
// post, keep and reject lines, go silent, and a pass fails or is killed;
// then the pass record, the page Lumbra.html (read back by the well-
// formedness checking reader tests/tools/report_check.py, and rendered by
// headless Chromium) and `lumbra status` are checked for what they say.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "backends/context/backend_names.h"
#include "report/pass_record.h"
#include "report/run_overview.h"
#include "report/run_report.h"
#include "run/cli.h"
#include "run/run_driver.h"
#include "support/aurora_installation.h"
#include "support/test_util.h"
#include "text/lines.h"

namespace lumbra {
namespace {

using Lines = std::vector<std::string>;

// The clock stands where a test puts it, forced writes are skipped, and a
// file operation fails with the status `fault` gives it.
class PassEnv : public EnvWrapper {
 public:
  PassEnv() : EnvWrapper(Env::Default()) {}
  LocalTime now;
  std::function<Status(std::string_view op, const std::string& path)> fault;

  LocalTime Now() override { return now; }
  Status SyncFile(const std::string&) override { return Status::OK(); }
  Status WriteFile(const std::string& p, std::string_view d) override {
    Status s = Fault("WriteFile", p);
    return s.ok() ? EnvWrapper::WriteFile(p, d) : s;
  }
  Status OpenRandomRW(const std::string& p, bool w, std::unique_ptr<RandomRWFile>* f) override {
    Status s = w ? Fault("OpenForWriting", p) : Status::OK();
    return s.ok() ? EnvWrapper::OpenRandomRW(p, w, f) : s;
  }

 private:
  Status Fault(std::string_view op, const std::string& path) {
    return fault ? fault(op, path) : Status::OK();
  }
};

std::string Sale(const std::string& order) {
  return "20061204abcdInvoiceLines\tCustomer\tBrown & Co\tOrdnum\t" + order +
         "\tDescription\tWidget\tQty\t1\tExtend\t4\r\n";
}

// What report_check.py read from a page or picture: its lines by their
// first field, each the fields after it.
using Reading = std::multimap<std::string, Lines>;

// The reader is Linux's python3: a Windows build (under Wine) has none.
bool ReaderAvailable() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}
constexpr const char* kNoReader = "reads the page with Linux's python3 (tests/tools/report_check.py)";

int Check(const std::string& what, const std::string& file, Reading* reading,
          std::string* output) {
#ifdef _WIN32
  *output = "no python3 on Windows: " + what + " " + file;
  int status = -1;
#else
  std::string python = test::FileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  int status = test::RunShell(python + " '" LUMBRA_SOURCE_DIR "/tests/tools/report_check.py' " +
                                  what + " '" + file + "' 2>&1",
                              output);
#endif
  reading->clear();
  for (const std::string& line : SplitLines(*output)) {
    Lines fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    std::string kind = fields[0];
    fields.erase(fields.begin());
    reading->emplace(kind, std::move(fields));
  }
  return status;
}

// The page of the installation, read; the test fails when it is not well
// formed and self-contained.
Reading Page(const test::TempDir& dir) {
  Reading page;
  std::string output;
  EXPECT_EQ(Check("html", dir.Path("Lumbra.html"), &page, &output), 0) << output;
  return page;
}

std::vector<Lines> All(const Reading& r, const std::string& kind) {
  std::vector<Lines> out;
  for (auto [it, end] = r.equal_range(kind); it != end; ++it) out.push_back(it->second);
  return out;
}

// The body rows of a table of the page, cells only.
std::vector<Lines> Rows(const Reading& page, const std::string& table) {
  std::vector<Lines> out;
  for (Lines row : All(page, "row")) {
    if (row[0] != table) continue;
    row.erase(row.begin());
    out.push_back(row);
  }
  return out;
}

// The page's row of a device: name, last handed in, last posted, posted,
// kept, rejected, note.
Lines DeviceStanding(const Reading& page, int device) {
  for (Lines row : Rows(page, "devices")) {
    if (row[0] == std::to_string(device)) return Lines(row.begin() + 1, row.end());
  }
  ADD_FAILURE() << "no row for device " << device;
  return Lines(7);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// `lumbra status --dir DIR` at the time env says; its exit status and
// output.
int Status(Env* env, const test::TempDir& dir, std::string* text) {
  CliStreams io;
  io.out = std::tmpfile();
  io.err = std::tmpfile();
  int status = RunCommandLine(env, {"status", "--dir", dir.path()}, io);
  std::rewind(io.out);
  text->clear();
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, io.out)) > 0;) text->append(buf, n);
  std::fclose(io.out);
  std::fclose(io.err);
  return status;
}

// An Aurora installation handed through four days of passes:
//   4 Dec 09:00  device 2 and 5 post an order each; device 3 its day
//                (7 lines posted, a customer change rejected, a Jobs line
//                passed over); device 4's customer note is kept (the memo
//                file cannot be written);
//   4 Dec 17:00  device 4's note goes in; device 3 hands its rejected file
//                back, and it is rejected again into a new file;
//   6 Dec 11:00  the office has deleted that file; devices 2 to 4 hand in,
//                device 5 (silent since the 4th) does not; the disk is full
//                when the customer table is written.
class RunReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a_.TablesFrom("aurora/posting");
    a_.CompleteWith(/*link=*/8, /*invnum=*/501);
    dir().Write("Lumbra.ini", "appname=" + std::string(kAuroraBackend) + "\r\npath=data\r\n");
    dir().Write("devicenames.xml", "North van\t2\r\nRep\t3\r\nM\xFCller's van\t4\r\nSpare\t5\r\n");
  }
  const test::TempDir& dir() { return a_.dir(); }

  int PassAt(LocalTime when) {
    env_.now = when;
    int status = RunMain(&env_, RunOptions{dir().path()});
    env_.fault = nullptr;
    return status;
  }

  void FirstDay() {
    dir().Write("2\\transact.xml", Sale("N1"));
    dir().Write("3\\transact.xml", test::TestData("aurora/posting/transact.xml"));
    dir().Write("4\\transact.xml", "20061204abcdCustomers\tName\tBrown & Co\tNotes\tcall first\r\n");
    dir().Write("5\\transact.xml", Sale("S1"));
    env_.fault = [](std::string_view op, const std::string& path) {
      return op == "OpenForWriting" && path.ends_with("DMASTER.FPT")
                 ? Status::IOError(path + ": Permission denied")
                 : Status::OK();
    };
    ASSERT_EQ(PassAt({2026, 12, 4, 9, 0, 0}), kExitPassDone);
  }

  void SecondDay() {
    dir().Write("3\\transact.xml", dir().Read(kFirstRejected));
    dir().Write("2\\transact.xml", Sale("N2"));
    ASSERT_EQ(PassAt({2026, 12, 4, 17, 0, 0}), kExitPassDone);
  }

  void ThirdDay() {
    std::remove(dir().Path(kSecondRejected).c_str());
    for (const char* device : {"2", "3", "4"}) {
      dir().Write(std::string(device) + "\\transact.xml", Sale(std::string("D") + device));
    }
    env_.fault = [](std::string_view op, const std::string& path) {
      return op == "WriteFile" &&
                     (path.ends_with("1/Customers.dat") || path.ends_with("1\\Customers.dat"))
                 ? Status::DiskFull(path + ": No space left on device")
                 : Status::OK();
    };
    ASSERT_EQ(PassAt({2026, 12, 6, 11, 0, 0}), kExitPassDone);
  }

  static constexpr const char* kFirstRejected = "Rejected\\20261204\\3-090000-transact.xml";
  static constexpr const char* kSecondRejected = "Rejected\\20261204\\3-170000-transact.xml";
  test::AuroraInstallation a_;
  PassEnv env_;
};

// Where the page cannot be read (under Wine, kNoReader), the passes, the
// status command and the pass record are still checked.
TEST_F(RunReportTest, PagePassRecordAndStatusFollowTheDevicesThroughTheirDays) {
  const bool read_page = ReaderAvailable();
  FirstDay();
  std::string text;
  EXPECT_EQ(Status(&env_, dir(), &text), kAttentionRejectedLines) << text;
  if (read_page) {
    Reading page = Page(dir());
    const Lines summary = All(page, "summary").at(0);
    EXPECT_TRUE(Has(summary[0], "Last pass 2026-12-04 09:00")) << summary[0];
    EXPECT_TRUE(Has(summary[0], "MYOB\xC2\xAE Aurora (database)")) << summary[0];
    EXPECT_EQ(DeviceStanding(page, 2), (Lines{"North van", "2026-12-04 09:00", "2026-12-04 09:00",
                                         "1", "0", "0", ""}));
    EXPECT_EQ(DeviceStanding(page, 3), (Lines{"Rep", "2026-12-04 09:00", "2026-12-04 09:00", "7",
                                         "0", "1 3-090000-transact.xml", ""}));
    const Lines four = DeviceStanding(page, 4);  // the name shown from Windows-1252
    EXPECT_EQ(Lines(four.begin(), four.end() - 1),
              (Lines{"M\xC3\xBCller's van", "2026-12-04 09:00", "never", "0", "1", "0"}));
    EXPECT_TRUE(Has(four.back(), "DMASTER.DBF's memo file cannot be written")) << four.back();
    // The link leads to the rejected file, relative to the page.
    std::vector<Lines> links = All(page, "link");
    ASSERT_EQ(links.size(), 2u);  // the device row and the list of waiting files
    for (const Lines& link : links) {
      EXPECT_EQ(link[2], "Rejected/20261204/3-090000-transact.xml");
      EXPECT_EQ(dir().Read(link[2]), "20060306abcdCustomers\tName\tLate Ltd\tContact1\tX\r\n");
    }
    EXPECT_EQ(All(page, "attention").size(), 1u);  // kept and passed-over lines need nothing
    std::vector<Lines> failures = Rows(page, "failures");
    ASSERT_EQ(failures.size(), 2u);  // in the order the devices were served
    EXPECT_TRUE(Has(failures[0][1], "Late Ltd")) << failures[0][1];
    EXPECT_TRUE(Has(failures[0][2], "transact.xml")) << failures[0][2];
    EXPECT_TRUE(Has(failures[1][1], "Lines kept for the next pass")) << failures[1][1];
  }

  SecondDay();
  EXPECT_EQ(Status(&env_, dir(), &text), kAttentionRejectedLines) << text;
  if (read_page) {
    Reading page = Page(dir());
    // The file handed back no longer waits; its lines, rejected again, do.
    std::vector<Lines> waiting = Rows(page, "rejected");
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0][0], kSecondRejected);
    const Lines note_posted = DeviceStanding(page, 4);
    EXPECT_EQ(Lines(note_posted.begin() + 2, note_posted.end() - 1),
              (Lines{"2026-12-04 17:00", "1", "0", "0"}));
  }

  ThirdDay();
  EXPECT_EQ(Status(&env_, dir(), &text), kAttentionFailedPass + kAttentionSilentDevice) << text;
  if (read_page) {
    Reading page = Page(dir());
    std::vector<Lines> attention = All(page, "attention");
    ASSERT_EQ(attention.size(), 2u);
    EXPECT_TRUE(Has(attention[0][0], "The last pass failed: table 1\\Customers.dat not written"))
        << attention[0][0];
    EXPECT_EQ(attention[1][0],
              "Device 5 (Spare) has handed in nothing since 2026-12-04 09:00, while other devices "
              "have.");
    EXPECT_EQ(All(page, "class"), (std::vector<Lines>{{"devices", "4", "silent"}}));
    EXPECT_TRUE(Rows(page, "rejected").empty());
    std::vector<Lines> failures = Rows(page, "failures");  // newest first, with what to do
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(failures[0][0], "2026-12-06 11:00");
    EXPECT_TRUE(Has(failures[0][1], "A disk is full")) << failures[0][1];
    EXPECT_TRUE(Has(failures[0][2], "Free space")) << failures[0][2];
    std::map<std::string, std::string> tables;
    for (const Lines& t : Rows(page, "tables")) tables[t[0]] = t[1];
    EXPECT_EQ(tables["1\\Customers.dat"], "left as it was");
    EXPECT_EQ(tables["1\\StockItems.dat"], "written");
    EXPECT_EQ(All(page, "bars"), (std::vector<Lines>{{"failed", "1"}, {"posted", "2"}}));
  }
  // The terminal's text says the same.
  EXPECT_TRUE(Has(text, "  ! Device 5 (Spare) has handed in nothing since")) << text;
  int silent_rows = 0;
  for (const std::string& line : SplitLines(text)) silent_rows += Has(line, "SILENT");
  EXPECT_EQ(silent_rows, 1) << text;
  EXPECT_TRUE(Has(text, "\n     5  Spare")) << text;

  // A pass killed on the way: the record says it is running until the next
  // pass, which knows better.
  env_.now = {2026, 12, 6, 12, 0, 0};
  {
    test::TestRun killed(dir(), &env_);
    RunReport report(killed.ctx());
  }
  EXPECT_EQ(Status(&env_, dir(), &text), kAttentionFailedPass + kAttentionSilentDevice);
  EXPECT_TRUE(Has(text, "A pass started at 2026-12-06 12:00 has not ended")) << text;
  dir().Write("5\\transact.xml", Sale("S2"));
  ASSERT_EQ(PassAt({2026, 12, 6, 13, 0, 0}), kExitPassDone);
  EXPECT_EQ(Status(&env_, dir(), &text), 0) << text;
  if (read_page) {
    std::vector<Lines> failures = Rows(Page(dir()), "failures");
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(failures[0][0], "2026-12-06 12:00");
    EXPECT_TRUE(Has(failures[0][1], "A pass stopped before its end")) << failures[0][1];
  }

  PassRecord record;
  size_t dropped = 0;
  ASSERT_TRUE(ParsePassRecord(dir().Read("Lumbra.history"), &record, &dropped).ok());
  EXPECT_EQ(dropped, 0u);
  ASSERT_EQ(record.passes.size(), 5u);
  EXPECT_EQ(record.passes[0].totals.posted, 9u);  // 1 + 7 + 1
  EXPECT_EQ(record.passes[0].totals.rejected, 1u);
  EXPECT_EQ(record.passes[0].totals.kept, 1u);
}

// Headless Chromium draws the page: the page and its screenshot are kept in
// the build folder (report-page.html, report-page.png), and the screenshot
// must show more than a blank page.
TEST_F(RunReportTest, ChromiumDrawsThePage) {
  if (!ReaderAvailable()) GTEST_SKIP() << kNoReader;
  const std::string chromium = "/usr/bin/chromium";
  if (!Env::Default()->FileExists(chromium)) {
    GTEST_SKIP() << "chromium is not installed (Debian package chromium; make test installs it)";
  }
  FirstDay();
  SecondDay();
  ThirdDay();
  test::TempDir profile;
  const std::string shot = ParentDir(LUMBRA_BINARY) + "/report-page.png";
  std::remove(shot.c_str());
  ASSERT_TRUE(Env::Default()->CopyFile(dir().Path("Lumbra.html"),
                                       ParentDir(LUMBRA_BINARY) + "/report-page.html").ok());
  CommandSpec command;
  command.argv = {chromium, "--headless", "--no-sandbox", "--disable-gpu",
                  "--disable-background-networking", "--disable-component-update",
                  "--disable-sync", "--no-first-run", "--user-data-dir=" + profile.path(),
                  "--hide-scrollbars", "--window-size=1000,1300", "--screenshot=" + shot,
                  "file://" + dir().Path("Lumbra.html")};
  command.silence_limit_ms = 120000;
  CommandResult result;
  ASSERT_TRUE(Env::Default()->RunCommand(command, &result).ok());
  ASSERT_EQ(result.end, CommandResult::End::kExited) << result.first_error_line;
  Reading picture;
  std::string output;
  ASSERT_EQ(Check("png", shot, &picture, &output), 0) << output;
  EXPECT_EQ(All(picture, "size"), (std::vector<Lines>{{"1000", "1300"}}));
  // Text, table rules, the coloured summary and the chart's two colours.
  EXPECT_GT(std::stoi(All(picture, "colours").at(0).at(0)), 20) << output;
}

// The record and the page never stand in a pass's way: a damaged record is
// started afresh, one that cannot be written is logged, and the pass's own
// work is done either way.
TEST_F(RunReportTest, DamagedOrUnwritableRecordNeverStopsAPass) {
  dir().Write("Lumbra.history", "lumbra pass record\t1\r\npass\tjunk\r\n");
  dir().Write("2\\transact.xml", Sale("N1"));
  ASSERT_EQ(PassAt({2026, 12, 4, 9, 0, 0}), kExitPassDone);
  EXPECT_TRUE(Has(a_.Log(), "1 damaged lines of Lumbra.history left out")) << a_.Log();
  dir().Write("Lumbra.history", std::string("\0\xFF not a record", 16));
  env_.fault = [](std::string_view op, const std::string& path) {
    return op == "WriteFile" && (path.ends_with("Lumbra.html") || path.ends_with("Lumbra.history"))
               ? Status::IOError(path + ": Read-only file system")
               : Status::OK();
  };
  dir().Write("2\\transact.xml", Sale("N2"));
  ASSERT_EQ(PassAt({2026, 12, 4, 9, 10, 0}), kExitPassDone);
  EXPECT_FALSE(dir().Exists("2\\transact.xml.intake"));  // posted all the same
  EXPECT_TRUE(dir().Exists("1\\Customers.dat"));
  const std::string log = a_.Log();
  EXPECT_TRUE(Has(log, "Lumbra.history not read (corrupt: not a pass record of this version); the "
                       "run report starts afresh")) << log;
  EXPECT_TRUE(Has(log, "Lumbra.history not written")) << log;
  EXPECT_TRUE(Has(log, "Lumbra.html not written")) << log;

  // A record of as many passes as it keeps loses its oldest to the next.
  PassRecord full;
  for (int i = 0; i < static_cast<int>(kRecordedPasses); ++i) {
    PassEntry p;
    p.start = {2026, 1, 1 + i / 24, i % 24, 0, 0};
    p.end = PassEnd::kEnded;
    full.passes.push_back(p);
  }
  dir().Write("Lumbra.history", FormatPassRecord(full));
  ASSERT_EQ(PassAt({2026, 12, 5, 9, 0, 0}), kExitPassDone);
  PassRecord record;
  size_t dropped = 0;
  ASSERT_TRUE(ParsePassRecord(dir().Read("Lumbra.history"), &record, &dropped).ok());
  ASSERT_EQ(record.passes.size(), kRecordedPasses);
  EXPECT_EQ(record.passes.front().start.hour, 1);
  EXPECT_EQ(record.passes.back().start.month, 12);
}

// Texts of any bytes come back as written; lines that cannot be read are
// dropped one by one, and junk never breaks the reader.
TEST(PassRecordFile, KeepsAnyTextAndDropsWhatItCannotRead) {
  PassRecord r;
  PassEntry p;
  p.start = {2026, 2, 28, 23, 59, 59};
  p.duration_ms = 1234;
  p.end = PassEnd::kStopped;
  p.backend = "MYOB\xAE \\ odd\tname\r\n";
  p.totals = {1, 2, 3, 4};
  p.failures = {{Trouble::kDiskFull, "a\\tb\tc"}, {Trouble::kLockHeld, ""}};
  p.failures_left_out = 7;
  r.passes = {p, PassEntry()};
  r.devices[3] = DeviceEntry{LocalTime{2026, 1, 2, 3, 4, 5}, std::nullopt, LocalTime{}, {5, 6, 7, 8},
                             "why\\"};
  r.waiting = {RejectedEntry{3, 2, {2026, 1, 2, 3, 4, 5}, "Rejected\\20260102\\3-030405-transact.xml"}};
  r.tables = {TableFact{"1\\Customers.dat", true, 12, ""}, TableFact{"1\\Jobs.dat", false, -1, "x"}};
  const std::string text = FormatPassRecord(r);
  PassRecord back;
  size_t dropped = 0;
  ASSERT_TRUE(ParsePassRecord(text, &back, &dropped).ok());
  EXPECT_EQ(dropped, 0u);
  EXPECT_EQ(FormatPassRecord(back), text);
  EXPECT_EQ(back.passes[0].backend, p.backend);
  EXPECT_EQ(back.passes[0].failures[0].text, "a\\tb\tc");
  EXPECT_TRUE(back.passes[0].Failed());

  // Damaged lines: a month 13, a count that is no number, a failure before
  // any pass, an unknown trouble, a cut line.
  const std::string damaged = "lumbra pass record\t1\r\nfailure\tdisk\tx\r\n"
                              "pass\t20261305000000\t1\tended\t0\t0\t0\t0\t0\t\r\n" +
                              SplitLines(text)[1] + "\r\nfailure\tsorrow\tx\r\n"
                              "device\t3\t\t\t\tx\t0\t0\t0\t\r\ntable\t1\\A.dat\t1\r\n";
  ASSERT_TRUE(ParsePassRecord(damaged, &back, &dropped).ok());
  EXPECT_EQ(dropped, 5u);
  ASSERT_EQ(back.passes.size(), 1u);
  EXPECT_EQ(back.passes[0].backend, p.backend);
  EXPECT_TRUE(back.devices.empty());

  EXPECT_TRUE(ParsePassRecord("", &back, &dropped).IsCorruption());
  for (uint32_t seed = 1; seed <= 50; ++seed) {
    std::string junk = "lumbra pass record\t1\r\n" + test::JunkBytes(seed, 4000, 5);
    EXPECT_TRUE(ParsePassRecord(junk, &back, &dropped).ok());
  }
}

// The command line: no record yet, and a wrong argument.
TEST(StatusCommand, ExitStatusWithoutARecordAndForAWrongCommandLine) {
  test::TempDir dir;
  dir.MakeDir("2");
  std::string out;
  EXPECT_EQ(test::RunProgram(test::Lumbra({"status", "--dir", dir.path()}), &out), 1);
  EXPECT_TRUE(Has(out, "No pass has ended here yet.")) << out;
  EXPECT_EQ(test::RunProgram(test::Lumbra({"status", "--all"})), 2);
  EXPECT_EQ(test::RunProgram(test::Lumbra({"status", "--dir", dir.Path("none")})), 1);
  EXPECT_EQ(test::RunProgram(test::Lumbra({"--dir", dir.path()})), 0);
  EXPECT_EQ(test::RunProgram(test::Lumbra({"status", "--dir", dir.path()}), &out), 0);
  EXPECT_TRUE(Has(out, "nothing needs attention")) << out;
}

}  // namespace
}  // namespace lumbra
