// The intake as whole passes on temporary installations.
#include "intake/intake.h"

#include <gtest/gtest.h>

#include "intake/device_files.h"
#include "intake/device_mail.h"
#include "intake/placed_file.h"
#include "intake/posting_journal.h"
#include "run/run_driver.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

// A back-end that takes in and posts nothing.
constexpr char kNoPostingIni[] = "appname=QuickBooks Pro\r\n";

// Fixes the clock at 2026-12-05 14:30:15.
class ClockEnv : public test::FaultEnv {
 public:
  explicit ClockEnv(Rule rule = [](std::string_view, const std::string&) { return false; })
      : FaultEnv(std::move(rule)) {}
  LocalTime Now() override { return LocalTime{2026, 12, 5, 14, 30, 15}; }
};

void PassIn(const test::TempDir& dir, Env* env = nullptr) {
  ClockEnv healthy;
  test::TestRun run(dir, env ? env : &healthy);
  RunPass(run.ctx());
}

class IntakeTest : public ::testing::Test {
 protected:
  IntakeTest() { dir_.Write("Lumbra.ini", kNoPostingIni); }
  void Pass(Env* env = nullptr) { PassIn(dir_, env); }
  std::string Log() { return dir_.Read("Lumbra.log"); }
  test::TempDir dir_;
};

TEST_F(IntakeTest, TakesInEveryDeviceArchivesForNinetyDaysAndStagesTheLast) {
  for (const char* day : {"20260906", "20260905", "notes", "20261399"}) {
    dir_.Write(std::string("Archive\\") + day + "\\1-000000-transact.xml", "x");
  }
  dir_.Write("1\\transact.xml", "20061201abcdJobs\tJobno\t1\r\n");
  dir_.Write("3\\transact.xml", "20061202abcdJobs\tJobno\t3\r\n20061202abcdJobs\tJobno\t4");
  dir_.Write("7\\transact.xml", "20061203abcdCustomers\tName\tZed\r\n");
  Pass();
  for (const char* d : {"1", "3", "7"}) {
    EXPECT_FALSE(dir_.Exists(std::string(d) + "\\transact.xml")) << d;
    EXPECT_FALSE(dir_.Exists(std::string(d) + "\\transact.xml.intake")) << d;
  }
  EXPECT_EQ(dir_.Read("tempdb.dat"), "20061203abcdCustomers\tName\tZed\r\n");
  EXPECT_EQ(dir_.Read("Archive\\20261205\\3-143015-transact.xml"),
            "20061202abcdJobs\tJobno\t3\r\n20061202abcdJobs\tJobno\t4");
  EXPECT_NE(Log().find("device 3: transact.xml taken in, 2 lines, archived as "
                       "Archive\\20261205\\3-143015-transact.xml"),
            std::string::npos);
  EXPECT_NE(Log().find("device 7: records taken in and not posted"), std::string::npos);
  for (const char* kept : {"20260906", "notes", "20261399"}) {  // 90 days ago, no days
    EXPECT_TRUE(dir_.Exists(std::string("Archive\\") + kept)) << kept;
  }
  EXPECT_FALSE(dir_.Exists("Archive\\20260905"));
}

// Device 2's file (tests/data/intake/mail/in/2/) mixes mail records, a
// stray line without field 1 and a job; its message list has a row of twelve
// fields, a short row and a row without a number. The mail goes to the end of
// mailX.txt; the last answer to m1 reaches the first row of m1; rows are cut
// or padded to ten fields and the row without a number is dropped.
TEST_F(IntakeTest, RoutesMailIntoTheLogAndTheMessageList) {
  for (const std::string file : {"transact.xml", "mailX.txt", "messages.txt"}) {
    dir_.Write("2\\" + file, test::TestData("intake/mail/in/2/" + file));
  }
  Pass();
  EXPECT_EQ(dir_.Read("tempdb.dat"), "20061201abcdJobs\tJobno\t1\r\n");
  for (const std::string file : {"mailX.txt", "messages.txt"}) {
    EXPECT_EQ(dir_.Read("2\\" + file), test::TestData("intake/mail/out/2/" + file)) << file;
  }
}

TEST_F(IntakeTest, MailOnlyFileLeavesAnEmptyStagingFileAndNoListIsCreated) {
  dir_.Write("4\\transact.xml", "20061201abcdMail\ta\tb\tc\r\n");
  Pass();
  EXPECT_TRUE(dir_.Exists("tempdb.dat"));
  EXPECT_EQ(dir_.Read("tempdb.dat"), "");
  EXPECT_FALSE(dir_.Exists("4\\messages.txt"));
  EXPECT_EQ(dir_.Read("4\\mailX.txt"), "20061201abcdMail\ta\tb\tc\r\n");
}

TEST(ApplyMailToMessages, HasNoRowOrMailLimit) {
  std::string messages;
  std::vector<std::string> mail;
  for (int i = 0; i < 1500; ++i) {
    messages += "x\tid" + std::to_string(i) + "\tk\r\n";
    mail.push_back("20061201abcdMail\tid" + std::to_string(i) + "\tk\tv" + std::to_string(i));
  }
  std::string out;
  ASSERT_TRUE(ApplyMailToMessages(messages, mail, &out));
  EXPECT_NE(out.find("x\tid1499\tk\t\t\t\t\t\tv1499\t\r\n"), std::string::npos);
  EXPECT_FALSE(ApplyMailToMessages("", mail, &out));

  // Memory follows the list's bytes: twelve million empty lines, which used
  // to take a row of ten columns each (5 GB), now take next to nothing.
  const std::string empty_lines = std::string(12000000, '\r') + "x\tid7\tk";
  size_t before = test::PeakMemoryKiB();
  ASSERT_TRUE(ApplyMailToMessages(empty_lines, mail, &out));
  EXPECT_EQ(out, "x\tid7\tk\t\t\t\t\t\tv7\t\r\n");
  EXPECT_LT(test::PeakMemoryKiB() - before, 100u * 1024);
}

TEST_F(IntakeTest, FailedStagingKeepsTheRecordsForTheNextPass) {
  const std::string records = "20061201abcdJobs\tJobno\t9\r\n";
  dir_.Write("5\\transact.xml", records);
  ClockEnv failing([](std::string_view op, const std::string& path) {
    return op == "CopyFile" && path.ends_with("tempdb.dat");
  });
  Pass(&failing);
  EXPECT_EQ(dir_.Read("5\\transact.xml.intake"), records);
  EXPECT_NE(Log().find("device 5: records not dropped, kept for a later pass"), std::string::npos);

  // Handed in meanwhile: taken in by the same pass once the older records
  // are done with, and archived after them.
  const std::string newer = "20061202abcdJobs\tJobno\tnewer\r\n";
  dir_.Write("5\\transact.xml", newer);
  Pass();
  EXPECT_EQ(dir_.Read("tempdb.dat"), newer);
  EXPECT_FALSE(dir_.Exists("5\\transact.xml"));
  EXPECT_FALSE(dir_.Exists("5\\transact.xml.intake"));
  EXPECT_EQ(dir_.Read("Archive\\20261205\\5-143015-transact.xml"), records);
  EXPECT_EQ(dir_.Read("Archive\\20261205\\5-143015-2-transact.xml"), newer);
  EXPECT_FALSE(dir_.Exists("Archive\\20261205\\5-143015-3-transact.xml"));
}

TEST_F(IntakeTest, EveryEarlierFailureLeavesTheDeviceFileInPlace) {
  const std::string records = "20061201abcdMail\ta\tb\tc\r\n20061201abcdJobs\tJobno\t9\r\n";
  struct Case {
    const char *op, *path_end, *left_as;
  };
  const Case cases[] = {
      {"RenameFile", "transact.xml.taken", "6\\transact.xml"},
      {"WriteFile", "-transact.xml", "6\\transact.xml.taken"},
      {"WriteFile", "transact.xml.mail", "6\\transact.xml.intake"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    dir.Write("Lumbra.ini", kNoPostingIni);
    dir.Write("6\\transact.xml", records);
    ClockEnv env([&](std::string_view op, const std::string& path) {
      return op == c.op && path.ends_with(c.path_end);
    });
    PassIn(dir, &env);
    EXPECT_EQ(dir.Read(c.left_as), records) << c.op;
    EXPECT_FALSE(dir.Exists("tempdb.dat")) << c.op;
    PassIn(dir);
    EXPECT_EQ(dir.Read("tempdb.dat"), "20061201abcdJobs\tJobno\t9\r\n") << c.op;
  }
}

// The device's folder is full for two passes, then its mail log cannot be
// written for two more: each mail line reaches the log and the message list
// once, and the device's other records do not wait for the log.
TEST_F(IntakeTest, MailReachesTheLogAndTheListOncePerHandInWhateverFails) {
  const std::string mail = "20061201abcdMail\tm1\tOffice\tRead\r\n";
  const std::string job = "20061201abcdJobs\tJobno\t9\r\n";
  dir_.Write("6\\transact.xml", mail + job);
  dir_.Write("6\\messages.txt", "1\tm1\tOffice\r\n");
  ClockEnv full([](std::string_view op, const std::string& path) {
    return (op == "WriteFile" || op == "AppendFile") && path.find(NativePath("/6/")) != std::string::npos;
  });
  ClockEnv no_log([](std::string_view op, const std::string& path) {
    return op == "AppendFile" && path.ends_with("mailX.txt");
  });
  Pass(&full);
  Pass(&full);
  EXPECT_EQ(dir_.Read("6\\transact.xml.intake"), mail + job);
  EXPECT_FALSE(dir_.Exists("tempdb.dat"));
  Pass(&no_log);
  EXPECT_EQ(dir_.Read("tempdb.dat"), job);  // posted without waiting for the log
  EXPECT_FALSE(dir_.Exists("6\\transact.xml.intake"));
  EXPECT_FALSE(dir_.Exists("6\\mailX.txt"));
  Pass(&no_log);
  Pass();
  EXPECT_EQ(dir_.Read("6\\mailX.txt"), mail);
  EXPECT_EQ(dir_.Read("6\\messages.txt"), "1\tm1\tOffice\t\t\t\t\t\tRead\t\r\n");
  EXPECT_FALSE(dir_.Exists("6\\transact.xml.mail"));
  EXPECT_NE(Log().find("device 6: mail not yet logged and applied, tried again by the next pass"),
            std::string::npos);
  Pass();
  EXPECT_EQ(dir_.Read("6\\mailX.txt"), mail);
}

TEST_F(IntakeTest, AFileHandedInDuringThePassWaitsForTheNext) {
  dir_.Write("8\\transact.xml", "20061201abcdJobs\tJobno\t1\r\n");
  // The device writes a new file while the pass stages the one it took over.
  ClockEnv env([&](std::string_view op, const std::string&) {
    if (op == "CopyFile") dir_.Write("8\\transact.xml", "written during the pass\r\n");
    return false;
  });
  Pass(&env);
  EXPECT_EQ(dir_.Read("tempdb.dat"), "20061201abcdJobs\tJobno\t1\r\n");
  EXPECT_EQ(dir_.Read("8\\transact.xml"), "written during the pass\r\n");
}

TEST(DeviceNames, RoundsHalvesToEvenAndSkipsOutOfRange) {
  test::TempDir dir;
  dir.Write("devicenames.xml",
            "Three\t3.5\r\nTwo\t2.5\r\nBig\t100\r\nNeg\t-1\r\nHuge\t99999\r\nZero\tnone\r\n"
            "\"Rep 7\"\t7\r\nLater\t7\r\n");
  test::TestRun run(dir);
  ReadDeviceNames(run.ctx());
  const auto& names = run.ctx().DeviceNames;
  EXPECT_EQ(names[4], "Three");
  EXPECT_EQ(names[2], "Two");
  EXPECT_EQ(names[0], "Zero");
  EXPECT_EQ(names[7], "Later");
  EXPECT_EQ(names[99], "");

  // A list that is there but cannot be read leaves every device without a
  // name, and the log says so; a missing list is no news.
  test::FaultEnv unreadable([](std::string_view op, const std::string& path) {
    return op == "ReadFile" && path.ends_with("devicenames.xml");
  });
  test::TestRun failing(dir, &unreadable);
  ReadDeviceNames(failing.ctx());
  EXPECT_EQ(failing.ctx().DeviceNames[4], "");
  EXPECT_NE(dir.Read("Lumbra.log").find("devicenames.xml not read, the devices have no names"),
            std::string::npos);
  test::TempDir empty;
  test::TestRun missing(empty);
  ReadDeviceNames(missing.ctx());
  EXPECT_EQ(empty.Read("Lumbra.log"), "");
}

// Undoing a half-posted line: a change is undone only while its bytes still
// hold what was written; one that never reached the file, or was undone
// before, is left quietly; one another program overwrote is left and said;
// a group goes back whole or not at all; a lock another program holds
// stops the undoing, for a later pass to try again.
TEST(UndoChanges, UndoesOnlyWhatIsStillOursAndGroupsWhole) {
  test::TempDir dir;
  const std::string path = dir.Path("T");
  dir.Write("T", "xxzzppssaa");
  auto change = [&](uint64_t at, std::string after, int group = 0) {
    return FileChange{path, 100 + at, at, "aa", std::move(after), "aa", group};
  };
  const std::vector<FileChange> changes = {
      change(0, "xx"),                          // ours: undone
      change(2, "yy"),                          // overwritten since: left
      change(4, "pp", 7), change(6, "qq", 7),   // a group with an overwritten member
      change(8, "bb")};                         // never written
  std::vector<std::string> notes;
  ASSERT_TRUE(UndoChanges(Env::Default(), changes, 100, &notes).ok());
  EXPECT_EQ(dir.Read("T"), "aazzppssaa");
  EXPECT_EQ(notes.size(), 4u);  // one undone, three left
  notes.clear();
  ASSERT_TRUE(UndoChanges(Env::Default(), changes, 100, &notes).ok());  // again: no harm
  EXPECT_EQ(dir.Read("T"), "aazzppssaa");

  dir.Write("T", "xxzzppqqaa");
  std::unique_ptr<RandomRWFile> other;
  ASSERT_TRUE(Env::Default()->OpenRandomRW(path, true, &other).ok());
  ASSERT_TRUE(other->LockRange(106, 1, true, 0).ok());
  EXPECT_TRUE(UndoChanges(Env::Default(), changes, 50, &notes).IsBusy());
  other->UnlockRange(106, 1);
  ASSERT_TRUE(UndoChanges(Env::Default(), changes, 50, &notes).ok());
  EXPECT_EQ(dir.Read("T"), "aazzaaaaaa");
}

// The journal of a device's intake file of `lines` lines, none done yet.
JournalState NewJournal(int device, size_t lines) {
  JournalState st;
  st.device = device;
  st.source = std::to_string(device) + "\\transact.xml.intake";
  st.line_count = lines;
  st.fates.assign(lines, LineFate::kUnreported);
  st.reasons.assign(lines, "");
  return st;
}

// A journal cut short inside a record (a power cut) is read up to the last
// whole record.
TEST(PostingJournal, ACutShortRecordEndsTheJournal) {
  test::TempDir dir;
  test::TestRun run(dir);
  std::unique_ptr<PostingJournal> journal;
  ASSERT_TRUE(PostingJournal::Start(run.ctx(), NewJournal(4, 3), &journal).ok());
  journal->LineEnded(0, LineFate::kPosted, "");
  journal->LineBegins(1);
  journal->WillChange(FileChange{"T", 1, 2, "a", "b", "a", 0});
  journal->LineEnded(1, LineFate::kRejected, "too wide");
  journal.reset();
  std::string bytes = dir.Read("Lumbra.journal");
  for (size_t cut : {size_t{0}, size_t{3}}) {
    dir.Write("Lumbra.journal", bytes.substr(0, bytes.size() - cut));
    JournalState st;
    ASSERT_TRUE(ReadJournal(run.ctx(), &st));
    EXPECT_EQ(st.device, 4);
    EXPECT_EQ(st.fates[0], LineFate::kPosted);
    // Whole: line 2 rejected. Cut inside its fate: line 2 still under way.
    EXPECT_EQ(st.line_open, cut != 0) << cut;
    EXPECT_EQ(st.open_changes.size(), cut != 0 ? 1u : 0u);
    EXPECT_EQ(st.fates[1], cut != 0 ? LineFate::kUnreported : LineFate::kRejected);
  }
}

// Four files a killed pass was placing, one line each: ready and still
// under its temporary name; ready and renamed already; begun but not ready;
// ready, then given up. The next pass puts the first in place and counts
// the lines of the first two posted; the other temporary files go and their
// lines are posted again.
TEST(PostingJournal, PlacedFilesAreFinishedOrDiscarded) {
  test::TempDir dir;
  test::TestRun run(dir);
  std::unique_ptr<PostingJournal> journal;
  ASSERT_TRUE(PostingJournal::Start(run.ctx(), NewJournal(2, 4), &journal).ok());
  std::vector<PlacedFile> files;
  for (size_t i = 0; i < 4; ++i) {
    std::string name = dir.Path("F" + std::to_string(i) + ".TXT");
    files.push_back(PlacedFile{name + ".part", name, {i}});
    journal->FileBegins(files[i]);
    if (i != 1) dir.Write("F" + std::to_string(i) + ".TXT.part", "rows");
  }
  dir.Write("F1.TXT", "rows");
  journal->FilesReady({files[0], files[1], files[3]});
  journal->FileBegins(files[3]);
  journal.reset();

  JournalState st;
  ASSERT_TRUE(ReadJournal(run.ctx(), &st));
  std::vector<std::string> notes;
  ASSERT_TRUE(FinishPlacedFiles(run.ctx(), &st, &notes).ok());
  EXPECT_EQ(st.fates, (std::vector<LineFate>{LineFate::kPosted, LineFate::kPosted,
                                             LineFate::kUnreported, LineFate::kUnreported}));
  EXPECT_EQ(dir.FilesUnder(""), (std::vector<std::string>{"F0.TXT", "F1.TXT", "Lumbra.journal"}));
  EXPECT_EQ(notes.size(), 3u);
}

}  // namespace
}  // namespace lumbra
