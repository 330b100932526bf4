// A pass killed while it writes a table: a child process ends dead before
// its n-th write, for every n an append or a memo change makes. The table
// must still open and read, in the engine and in dbfread, with at most the
// record being written missing and every other record as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "backends/aurora/table_engine.h"
#include "dbf_test_support.h"

namespace lumbra {
namespace {

using dbftest::ReadingOf;

// Runs change on a fresh table in a child killed before its n-th write, for
// n = 1, 2, ... until the change completes; each time the table must read
// as before or as changed, and dbfread must count live records among
// live_counts.
void KillAtEveryWrite(const std::function<void(TableEngine&)>& change,
                      const std::string& changed_row, const std::string& replaced_row,
                      std::vector<int> live_counts) {
  dbftest::ScratchDir dir;
  std::vector<uint32_t> b;
  std::string fpt = dbftest::BuildFpt(64, {"first note", "second note"}, &b);
  std::string dbf = dbftest::BuildDbf(
      0xF5, {{"NAME", 'C', 10}, {"QTY", 'N', 6, 2}, {"NOTES", 'M', 10}},
      {{false, {"Ann", "  1.00", dbftest::Num(b[0], 10)}}, {true, {"Bob", "  2.00", ""}},
       {false, {"Cy", "  3.00", dbftest::Num(b[1], 10)}}});
  std::string before, changed;
  for (int n = 1, finished = 0; !finished; ++n) {
    SCOPED_TRACE("killed before write " + std::to_string(n));
    ASSERT_LT(n, 20);
    dbftest::WriteAll(dir / "T.DBF", dbf);
    dbftest::WriteAll(dir / "T.FPT", fpt);
    if (before.empty()) {
      before = changed = ReadingOf(dir / "T.DBF");
      size_t at = replaced_row.empty() ? changed.size() : changed.find(replaced_row);
      changed.replace(at, replaced_row.size(), changed_row);
    }
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
      dbftest::HookedEnv env;
      int left = n;
      env.before_write = [&left] {
        if (--left == 0) ::_exit(77);  // as a kill would
      };
      TableEngine engine(&env, nullptr);
      engine.Use(dir / "T.DBF", "t", TableEngine::kReadWrite, 2);
      change(engine);
      engine.Close();
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    finished = WEXITSTATUS(status) == 0;
    std::string after = ReadingOf(dir / "T.DBF");
    EXPECT_TRUE(after == changed || (!finished && after == before)) << after;
    std::string output;
    EXPECT_EQ(dbftest::RunCrossCheck("count " + dbftest::Quote(dir / "T.DBF"), &output), 0) << output;
    EXPECT_NE(std::find(live_counts.begin(), live_counts.end(), std::atoi(output.c_str())),
              live_counts.end()) << output;
  }
}

TEST(DbfCrashTest, AppendKilledAtAnyWriteLeavesTheTableReadable) {
  KillAtEveryWrite(
      [](TableEngine& e) {
        e.GoBottom();
        e.Skip(1);
        e.Replace("NAME", TableEngine::kValueOrdinary, "Dee");
        e.Replace("NOTES", TableEngine::kValueMemo, "new note");
        e.Append();
      },
      "-\tDee       \t      \tnew note\n", "", {2, 3});
}

TEST(DbfCrashTest, MemoChangeKilledAtAnyWriteKeepsTheOldOrTheNewMemo) {
  KillAtEveryWrite(
      [](TableEngine& e) {
        e.Replace("NOTES", TableEngine::kValueMemo, std::string(200, 'z'));
        e.Commit();
      },
      "-\tAnn       \t  1.00\t" + std::string(200, 'z') + "\n", "-\tAnn       \t  1.00\tfirst note\n",
      {2});
}

}  // namespace
}  // namespace lumbra
