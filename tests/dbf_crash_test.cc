// A pass killed while it writes a table: a child process ends dead before
// its n-th write, for every n an append or a memo change makes. The table
// must still open and read, in the engine and in dbfread, with at most the
// record being written missing and every other record as it was. With a
// structural index, the changes are written down in a posting journal
// first, and undoing the journal's open line leaves table and index as they
// were.
#include <gtest/gtest.h>

#include <algorithm>

#include "backends/aurora/cdx_writer.h"
#include "backends/aurora/dbf_dump.h"
#include "backends/aurora/dbf_values.h"
#include "backends/aurora/table_engine.h"
#include "dbf_test_support.h"
#include "intake/posting_journal.h"

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

// A table with a memo file and a structural index whose leaves are full, so
// the changes below split nodes: an append (with a memo) whose name goes in
// the middle of the NAME tag, and a change of a record's name. Killed before
// any of their writes, the journal's undo leaves table and index as they
// were (the index may keep pages it appended, unused; an append that had
// counted its record leaves it deleted) and every tag agrees with the
// table; done, the table holds the change and still agrees.
TEST(DbfCrashTest, IndexedChangeKilledAtAnyWriteIsUndoneWhole) {
  dbftest::ScratchDir dir;
  std::vector<dbftest::Row> rows;
  for (int i = 0; i < 300; ++i) {
    rows.push_back({i % 9 == 0, {"N" + std::to_string(i * 7 % 1000), dbftest::Num(i, 6), ""}});
  }
  std::vector<uint32_t> b;
  const std::string fpt = dbftest::BuildFpt(64, {"first note"}, &b);
  dbftest::WriteAll(dir / "T.FPT", fpt);
  dbftest::WriteAll(dir / "T.DBF", dbftest::BuildDbf(
      0xF5, {{"NAME", 'C', 10}, {"QTY", 'N', 6}, {"NOTES", 'M', 10}}, rows));
  ASSERT_TRUE(WriteStructuralIndex(Env::Default(), dir / "T.DBF",
                                   {{"NAME", "NAME", "", false, false},
                                    {"LIVE", "STR(QTY,6)+NAME", "!DELETED()", false, true}})
                  .ok());
  const std::string dbf = dbftest::ReadAll(dir / "T.DBF"), cdx = dbftest::ReadAll(dir / "T.CDX");

  for (const char* change : {"append", "rename"}) {
    int n = 1;
    for (int finished = 0; !finished; ++n) {
      SCOPED_TRACE(std::string(change) + " killed before write " + std::to_string(n));
      ASSERT_LT(n, 60);
      dbftest::WriteAll(dir / "T.DBF", dbf);
      dbftest::WriteAll(dir / "T.FPT", fpt);
      dbftest::WriteAll(dir / "T.CDX", cdx);
      Env::Default()->DeleteFile(dir / "Lumbra.journal");
      test::TestRun run(dir);
      int status = test::RunProgram(
          test::Peer({"dbf-journaled-change", change, dir.path(), std::to_string(n)}));
      ASSERT_TRUE(status == 0 || status == 77) << status;
      finished = status == 0;
      if (!finished) {
        JournalState state;
        ASSERT_TRUE(ReadJournal(run.ctx(), &state));
        std::vector<std::string> notes;
        ASSERT_TRUE(UndoChanges(Env::Default(), state.open_changes, 1000, &notes).ok());
        std::string table = dbftest::ReadAll(dir / "T.DBF");
        if (table.size() > dbf.size()) {  // the record was counted: it stays, deleted
          EXPECT_EQ(table[dbf.size() - 1], '*');
          table = table.substr(0, dbf.size() - 1) + '\x1A';
          table[4] = dbf[4];
          std::copy_n(dbf.begin() + 1, 3, table.begin() + 1);  // the date of the last change
        }
        EXPECT_EQ(table, dbf);
        EXPECT_EQ(dbftest::ReadAll(dir / "T.CDX").substr(0, cdx.size()), cdx);
      } else {
        EXPECT_NE(dbftest::ReadAll(dir / "T.DBF"), dbf);
      }
      bool agrees = false;
      std::string out;
      ASSERT_TRUE(CheckIndex(Env::Default(), dir / "T.DBF",
                             [&out](std::string_view p) { out += p; }, &agrees)
                      .ok());
      EXPECT_TRUE(agrees) << out;
    }
    EXPECT_GE(n, 6);  // index pages and headers, then the record (and memo, count)
  }
}

}  // namespace
}  // namespace lumbra
