// A pass killed while it writes a table: a child process ends dead before
// its n-th write, for every n an append or a memo change makes. The table
// must still open and read, in the engine and in dbfread, with at most the
// record being written missing and every other record as it was.
#include <gtest/gtest.h>

#include <algorithm>

#include "backends/aurora/table_engine.h"
#include "dbf_test_support.h"

namespace lumbra {
namespace {

using dbftest::ReadingOf;

// Runs a change of lumbra_test_peer's "dbf-change" on a fresh table in a
// child killed before its n-th write, for n = 1, 2, ... until the change
// completes; each time the table must read as before or as changed, and
// dbfread must count live records among live_counts.
void KillAtEveryWrite(const std::string& change, const std::string& changed_row,
                      const std::string& replaced_row, std::vector<int> live_counts) {
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
    int status =
        test::RunProgram(test::Peer({"dbf-change", change, dir / "T.DBF", std::to_string(n)}));
    ASSERT_TRUE(status == 0 || status == 77) << status;
    finished = status == 0;
    std::string after = ReadingOf(dir / "T.DBF");
    EXPECT_TRUE(after == changed || (!finished && after == before)) << after;
    if (!dbftest::CrossCheckAvailable()) continue;
    std::string output;
    EXPECT_EQ(dbftest::RunCrossCheck("count " + dbftest::Quote(dir / "T.DBF"), &output), 0) << output;
    EXPECT_NE(std::find(live_counts.begin(), live_counts.end(), std::atoi(output.c_str())),
              live_counts.end()) << output;
  }
}

TEST(DbfCrashTest, AppendKilledAtAnyWriteLeavesTheTableReadable) {
  KillAtEveryWrite("append", "-\tDee       \t      \tnew note\n", "", {2, 3});
}

TEST(DbfCrashTest, MemoChangeKilledAtAnyWriteKeepsTheOldOrTheNewMemo) {
  KillAtEveryWrite("memo", "-\tAnn       \t  1.00\t" + std::string(200, 'z') + "\n",
                   "-\tAnn       \t  1.00\tfirst note\n", {2});
}

}  // namespace
}  // namespace lumbra
