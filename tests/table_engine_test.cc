// The DBF table engine on real files: moving, changing, locking, and tables
// that are not what they should be. How it reads the types of other
// programs' tables is checked against other readers in dbf_crosscheck_test.
#include "backends/aurora/table_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <tuple>

#include "backends/aurora/cdx_writer.h"
#include "backends/aurora/dbf_dump.h"
#include "backends/aurora/dbf_format.h"
#include "platform/file_case.h"
#include "dbf_test_support.h"
#include "platform/env.h"
#include "text/lines.h"
#include "backends/context/run_log.h"
#include "text/text_fields.h"

namespace lumbra {
namespace {

using dbftest::BuildDbf;
using dbftest::BuildFpt;
using dbftest::LE;
using dbftest::Num;
using dbftest::ReadAll;
using dbftest::WriteAll;
constexpr int kOrdinary = TableEngine::kValueOrdinary;
constexpr int kMemo = TableEngine::kValueMemo;

class FixedClockEnv : public EnvWrapper {
 public:
  FixedClockEnv() : EnvWrapper(Env::Default()) {}
  LocalTime Now() override { return LocalTime{2026, 7, 9, 10, 11, 12}; }
};

constexpr size_t kHeader = 32 + 7 * 32 + 1, kRecord = 66;
const std::vector<dbftest::FieldSpec> kStockFields = {
    {"CODE", 'C', 10}, {"DESC", 'C', 20}, {"SELL1", 'N', 10, 2}, {"QTY", 'N', 6},
    {"SOLD", 'D', 8},  {"OK", 'L', 1},    {"NOTES", 'M', 10}};

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

class TableEngineTest : public ::testing::Test {
 protected:
  TableEngineTest() : log_(&env_, dir_ / "Lumbra.log"), engine_(&env_, &log_) {
    engine_.SetLockTimeout(100);
  }

  // FoxPro 2.x with an FPT memo file: four records, the second deleted.
  std::string MakeStock(const std::string& name = "STOCK") {
    std::vector<uint32_t> b;
    WriteAll(dir_ / (name + ".FPT"), BuildFpt(64, {"Ring before\r\ndelivery ", "a\nb"}, &b));
    WriteAll(dir_ / (name + ".DBF"),
             BuildDbf(0xF5, kStockFields,
                      {{false, {"A1", "Widget", "     12.50", "    10", "20060305", "T", Num(b[0], 10)}},
                       {true, {"B2", "Gadget", "      3.00", "     1", "20060306", "F", ""}},
                       {false, {"C3", "Sprocket", "      0.00", "     0", "", " ", Num(b[1], 10)}},
                       {false, {"D4", "Thing", "      1.25", "     7", "20070101", "F", ""}}}));
    return dir_ / (name + ".DBF");
  }

  int Open(const std::string& path, int mode = TableEngine::kReadWrite) {
    return engine_.Use(path, "Stock", mode, TableEngine::kDriverDbf);
  }
  void ToNewRecord() {
    engine_.GoBottom();
    engine_.Skip(1);
  }
  std::string LogText() { return ReadAll(dir_ / "Lumbra.log"); }

  FixedClockEnv env_;
  dbftest::ScratchDir dir_;
  RunLog log_;
  TableEngine engine_;
};

TEST_F(TableEngineTest, MovesAndReadsAsTheCallersExpect) {
  ASSERT_EQ(Open(MakeStock()), 1);
  EXPECT_EQ(engine_.GetString("code"), "A1        ");  // names in any case
  EXPECT_EQ(engine_.GetMemo("NOTES", 0), "Ring before\r\ndelivery ");
  EXPECT_EQ(engine_.GetString("NOPE"), "");
  EXPECT_TRUE(engine_.last_error().IsInvalidArgument());
  engine_.SetDeleted(true);

  std::vector<long> seen;
  for (engine_.GoTop(); !engine_.Eof(); engine_.Skip(1)) seen.push_back(engine_.RecNo());
  EXPECT_EQ(seen, (std::vector<long>{1, 3, 4}));
  EXPECT_FALSE(engine_.Bof());
  EXPECT_EQ(engine_.GetString("CODE"), std::string(10, ' '));  // the blank new-record buffer
  seen.clear();
  for (engine_.GoBottom(); !engine_.Bof(); engine_.Skip(-1)) seen.push_back(engine_.RecNo());
  EXPECT_EQ(seen, (std::vector<long>{4, 3, 1}));
  EXPECT_EQ(engine_.RecNo(), 1);  // Bof stays on the first record
  engine_.Skip(1);
  EXPECT_EQ(engine_.GetMemo("NOTES", 0), "a\r\nb");  // line breaks as CR LF

  engine_.SetDeleted(false);
  int n = 0;
  for (engine_.GoTop(); !engine_.Eof(); engine_.Skip(1)) n += engine_.Deleted() ? 100 : 1;
  EXPECT_EQ(n, 103);

  // Empty tables, tables with only deleted records, and no table at all.
  WriteAll(dir_ / "EMPTY.DBF", BuildDbf(0x03, {{"NAME", 'C', 10}}, {}));
  WriteAll(dir_ / "GONE.DBF", BuildDbf(0x03, {{"NAME", 'C', 10}}, {{true, {"x"}}}));
  for (const char* name : {"EMPTY.DBF", "GONE.DBF", "NOSUCH.DBF"}) {
    SCOPED_TRACE(name);
    Open(dir_ / name);
    engine_.SetDeleted(true);
    engine_.GoTop();
    EXPECT_TRUE(engine_.Eof() && engine_.Bof());
    ToNewRecord();
    EXPECT_TRUE(engine_.Eof() && engine_.Bof());
    EXPECT_EQ(engine_.GetString("NAME"), std::string(name[0] == 'N' ? 0 : 10, ' '));
  }
  EXPECT_TRUE(engine_.last_error().IsNotFound());
  EXPECT_NE(LogText().find("NOSUCH.DBF cannot be opened"), std::string::npos);
  engine_.Replace("NAME", kOrdinary, "x");  // no table: nothing happens
  engine_.Append();
  engine_.Commit();
  engine_.CloseAll();
}

TEST_F(TableEngineTest, GotoReadsTheRecordAsOtherProgramsLeftIt) {
  std::string path = MakeStock();
  ASSERT_NE(Open(path), 0);
  engine_.SetDeleted(true);
  EXPECT_TRUE(engine_.Goto(2));  // deleted, but asked for by number
  EXPECT_TRUE(engine_.Deleted());
  EXPECT_EQ(engine_.GetString("CODE"), "B2        ");

  // Another program changes record 3 and adds a fifth record.
  std::string bytes = ReadAll(path);
  bytes.replace(kHeader + 2 * kRecord + 11, 8, "Changed ");
  std::string fifth = " E5" + std::string(kRecord - 3, ' ');
  bytes.replace(bytes.size() - 1, 1, fifth + "\x1A");
  bytes[4] = 5;
  WriteAll(path, bytes);
  engine_.Skip(1);
  EXPECT_EQ(engine_.GetString("DESC"), "Sprocket            ");  // as first read
  EXPECT_TRUE(engine_.Goto(3));
  EXPECT_EQ(engine_.GetString("DESC"), "Changed             ");
  EXPECT_TRUE(engine_.Goto(5));
  EXPECT_EQ(engine_.GetString("CODE"), "E5        ");
  EXPECT_FALSE(engine_.Eof() || engine_.Bof());
  for (long outside : {0L, 6L}) {
    EXPECT_FALSE(engine_.Goto(outside));
    EXPECT_TRUE(engine_.Eof());
    EXPECT_EQ(engine_.RecNo(), 6);
  }
  engine_.Close();
  EXPECT_FALSE(engine_.Goto(1));
}

TEST_F(TableEngineTest, AppendWritesTheRecordThenTheCountThenTheEndMarker) {
  std::string path = MakeStock();
  ASSERT_NE(Open(path), 0);
  ToNewRecord();
  ASSERT_TRUE(engine_.Eof());
  for (auto [field, value] : {std::pair{"CODE", "E5"}, {"DESC", "A description longer than 20"},
                              {"SELL1", "112.5"}, {"QTY", "-3"}, {"SOLD", "20060325"},
                              {"OK", ".t."}}) {
    engine_.Replace(field, kOrdinary, value);
  }
  engine_.Replace("NOTES", kMemo, "Leave at the door");
  engine_.Append();
  EXPECT_TRUE(engine_.last_error().ok()) << engine_.last_error().ToString();
  EXPECT_FALSE(engine_.Eof());
  EXPECT_EQ(engine_.RecNo(), 5);
  engine_.Close();

  std::string bytes = ReadAll(path);
  EXPECT_EQ(bytes.substr(1, 7), std::string("\x7E\x07\x09\x05\0\0\0", 7));  // 2026-07-09, 5
  ASSERT_EQ(bytes.size(), kHeader + 5 * kRecord + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
  EXPECT_EQ(bytes.substr(kHeader + 4 * kRecord, 56),
            " E5        A description longer    112.50    -320060325T");
}

TEST_F(TableEngineTest, ReplaceFormatsValuesForTheirFieldOrRefusesThem) {
  WriteAll(dir_ / "V.DBF", BuildDbf(0x30, {{"N", 'N', 10, 2}, {"SMALL", 'N', 5, 2}, {"W", 'N', 4},
                                           {"D", 'D', 8}, {"L", 'L', 1}, {"I", 'I', 4},
                                           {"Y", 'Y', 8}, {"T", 'T', 8}, {"B", 'B', 8}},
                                    {}));
  ASSERT_NE(Open(dir_ / "V.DBF"), 0);
  // One case a line: field, value given, value stored, "refused" or not.
  std::vector<std::string> cases = SplitLines(test::TestData("aurora/table_engine/replace.tsv"));
  for (size_t i = 1; i < cases.size(); ++i) {
    std::string field, value, stored, refused;
    for (std::string* part : {&field, &value, &stored, &refused}) SplitField(cases[i], *part);
    SCOPED_TRACE(field + " " + value);
    engine_.ClearError();
    engine_.Replace(field, kOrdinary, value);
    EXPECT_EQ(engine_.GetString(field), stored);
    EXPECT_EQ(engine_.last_error().IsInvalidArgument(), refused == "refused");
  }
  EXPECT_NE(LogText().find("W of record 1 not changed: number 12345 too wide"), std::string::npos);
}

TEST_F(TableEngineTest, ChangesToStoredRecordsKeepOtherProgramsChanges) {
  std::string path = MakeStock();
  std::string memo_before = ReadAll(dir_ / "STOCK.FPT");
  ASSERT_NE(Open(path), 0);
  engine_.Skip(2);
  engine_.Replace("QTY", kOrdinary, "8");
  engine_.Replace("NOTES", kMemo, std::string(100, 'n'));
  // Meanwhile another program changes DESC of the same record.
  std::string bytes = ReadAll(path);
  WriteAll(path, bytes.replace(kHeader + 2 * kRecord + 11, 8, "Changed "));
  engine_.Commit();
  EXPECT_EQ(engine_.GetString("QTY"), "     8");
  EXPECT_EQ(engine_.GetString("DESC"), "Changed             ");
  EXPECT_EQ(engine_.GetMemo("NOTES", 0), std::string(100, 'n'));
  // A move writes what is pending, and so does Close; an empty memo needs no block.
  engine_.Replace("QTY", kOrdinary, "9");
  engine_.GoTop();
  engine_.Replace("NOTES", kMemo, "");
  engine_.Close();

  bytes = ReadAll(path);
  EXPECT_EQ(bytes.substr(kHeader + 2 * kRecord + 41, 6), "     9");
  EXPECT_EQ(bytes.substr(kHeader + 56, 10), std::string(10, ' '));
  std::string memo_after = ReadAll(dir_ / "STOCK.FPT");
  EXPECT_EQ(memo_after.substr(8, memo_before.size() - 8), memo_before.substr(8));  // old blocks kept
  EXPECT_EQ(memo_after.size(), static_cast<uint8_t>(memo_after[3]) * 64u);  // next-free raised

  // Opened for reading only: changes are ignored, and said once.
  ASSERT_NE(Open(path, TableEngine::kReadOnly), 0);
  engine_.Replace("DESC", kOrdinary, "x");
  engine_.Commit();
  ToNewRecord();
  engine_.Append();
  engine_.Close();
  EXPECT_EQ(ReadAll(path), bytes);
  EXPECT_EQ(Count(LogText(), "opened for reading only; changes ignored"), 1u);
}

// Counts the forcing of files to the disk, of open files and by name.
struct SyncCountingEnv : dbftest::HookedEnv {
  Status SyncFile(const std::string& path) override {
    synced.push_back(path);
    return target()->SyncFile(path);
  }
  std::vector<std::string> synced;
};

// Commit and Close force the table and its memo file to the disk; deferred,
// the changes are in the files at once and forced to the disk together.
TEST_F(TableEngineTest, CommitSyncsAtOnceOrAllTogetherWhenDeferred) {
  std::string path = MakeStock();
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "deferred" : "at once");
    SyncCountingEnv env;
    TableEngine engine(&env, nullptr);
    engine.SetDeferredSync(deferred);
    ASSERT_NE(engine.Use(path, "Stock", TableEngine::kReadWrite, 2), 0);
    engine.Replace("NOTES", kMemo, deferred ? "second" : "first");
    engine.Commit();
    EXPECT_EQ(env.file_syncs, deferred ? 0 : 2);  // the table and its memo file
    engine.Close();
    ASSERT_NE(engine.Use(path, "Stock", TableEngine::kReadOnly, 2), 0);
    EXPECT_EQ(engine.GetMemo("NOTES", 0), deferred ? "second" : "first");
    engine.Close();
    EXPECT_TRUE(env.synced.empty());
    engine.CloseAll();
    EXPECT_EQ(env.synced, (deferred ? std::vector<std::string>{path, dir_ / "STOCK.FPT"}
                                    : std::vector<std::string>{}));
  }
}

// A folder copied from Windows: names in any case, the memo file spelled
// unlike its table, pictures in a folder of another case.
TEST_F(TableEngineTest, FindsTablesMemoFilesAndPicturesInAnyCase) {
  dir_.MakeDir("Aurora/IMAGES");
  dir_.Write("Aurora/IMAGES/I17.JPG", "jpeg");
  std::vector<uint32_t> b;
  WriteAll(dir_ / "Aurora/DMaster.Fpt", BuildFpt(64, {"note"}, &b));
  WriteAll(dir_ / "Aurora/dmaster.dbf",
           BuildDbf(0xF5, {{"NOTES", 'M', 10}}, {{false, {Num(b[0], 10)}}}));
  ASSERT_NE(engine_.Use(dir_.path() + "\\AURORA\\DMASTER.DBF", "Dmaster", 1, 2), 0);
  EXPECT_EQ(engine_.GetMemo("NOTES", 0), "note");

  std::string found;
  ASSERT_TRUE(FindPathIgnoringCase(&env_, dir_ / "AURORA/images/i17.jpg", &found));
  EXPECT_EQ(test::MatchedName(found), test::MatchedName(dir_ / "Aurora/IMAGES/I17.JPG"));
  EXPECT_FALSE(FindPathIgnoringCase(&env_, dir_ / "Aurora/images/i18.jpg", &found));
}

TEST_F(TableEngineTest, ChangesWaitForOtherProgramsLocksThenGiveUp) {
  std::string path = MakeStock();
  std::string before = ReadAll(path);
  std::unique_ptr<RandomRWFile> other, other_memo;
  ASSERT_TRUE(Env::Default()->OpenRandomRW(path, true, &other).ok());
  ASSERT_TRUE(Env::Default()->OpenRandomRW(dir_ / "STOCK.FPT", true, &other_memo).ok());
  const uint64_t kBase = dbf::kLockBase;
  // The header, the whole table (as a program holding it exclusively), the
  // memo file: the first append waits the timeout out, a second one in the
  // same pass gives up at once.
  for (auto [file, offset, length] :
       {std::tuple{other.get(), kBase, uint64_t{1}}, {other.get(), kBase - 1000000, 1000001},
        {other_memo.get(), kBase, 1}}) {
    ASSERT_TRUE(file->LockRange(offset, length, true, 0).ok());
    TableEngine engine(&env_, &log_);
    engine.SetLockTimeout(100);
    ASSERT_NE(engine.Use(path, "Stock", TableEngine::kReadWrite, 2), 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
      engine.GoBottom();
      engine.Skip(1);
      engine.Replace("NOTES", kMemo, "memo");
      auto start = std::chrono::steady_clock::now();
      engine.Append();
      double waited = MillisecondsSince(start);
      EXPECT_TRUE(attempt == 0 ? waited >= 90 : waited < 50 || !test::TimingIsMeaningful());
      EXPECT_TRUE(engine.last_error().IsBusy()) << engine.last_error().ToString();
    }
    ASSERT_TRUE(file->UnlockRange(offset, length).ok());
  }
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(Count(LogText(), "record not added to " + path), 6u);
  EXPECT_EQ(Count(LogText(), "further changes to it are tried without waiting"), 3u);

  // A record another program has locked, here truly another process (as
  // the accounting package's lock would be); the other records can be
  // changed.
  ASSERT_NE(Open(path), 0);
  {
    test::PeerBeside other_program(
        {"hold", path, std::to_string(dbf::RecordLockOffset(3)), "1000", dir_ / "locked"},
        dir_ / "locked");
    ASSERT_TRUE(other_program.ready());
    for (long recno : {3, 1}) {
      engine_.GoTop();
      engine_.Skip(static_cast<int>(recno - 1));
      engine_.Replace("QTY", kOrdinary, "5");
      engine_.Commit();
      EXPECT_EQ(engine_.GetString("QTY"), recno == 3 ? "     0" : "     5");
    }
  }
  EXPECT_NE(LogText().find("change to record 3 of " + path + " not made"), std::string::npos);
  ToNewRecord();
  engine_.Append();
  EXPECT_EQ(engine_.RecCount(), 5);
}

// A .CDX beside the table is kept in step; one that cannot be read keeps
// the table from being changed; an index of another kind, or one the
// header announces but that is missing, is logged as going stale.
TEST_F(TableEngineTest, KeepsCdxIndexesAndNotesTheIndexesItCannotKeep) {
  std::string with_cdx = MakeStock("STOCK"), broken = MakeStock("BROKEN");
  ASSERT_TRUE(WriteStructuralIndex(&env_, with_cdx, {{"CODE", "CODE", "", false, false}}).ok());
  WriteAll(dir_ / "broken.cdx", "index");
  std::string flagged = dir_ / "FLAGGED.DBF", plain = dir_ / "PLAIN.DBF";
  WriteAll(flagged, BuildDbf(0x30, {{"NAME", 'C', 5}}, {}, true, 0x01));
  WriteAll(plain, BuildDbf(0x30, {{"NAME", 'C', 5}}, {}));
  WriteAll(dir_ / "PLAIN.MDX", "dBase IV index");
  std::string counted = dir_ / "COUNTED.DBF";
  WriteAll(counted, BuildDbf(0x31, {{"ID", 'I', 4, 0, 0x0C}, {"NAME", 'C', 5}}, {}));
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string& path : {with_cdx, broken, flagged, plain, counted}) {
      ASSERT_NE(Open(path), 0);
      ToNewRecord();
      engine_.Replace("CODE", kOrdinary, "E" + std::to_string(pass));
      engine_.Append();
      engine_.Close();
    }
  }
  std::string log = LogText();
  EXPECT_EQ(Count(log, "structural index"), 4u) << log;
  EXPECT_EQ(Count(test::MatchedName(log), test::MatchedName("PLAIN.MDX is not updated")), 1u);
  EXPECT_EQ(Count(log, "FLAGGED.DBF: the structural index its header announces"), 1u);
  EXPECT_EQ(Count(log, "record not added to " + broken), 2u);
  EXPECT_EQ(Count(test::MatchedName(log), test::MatchedName("broken.cdx cannot be read")), 2u);
  bool agrees = false;
  std::string out;
  ASSERT_TRUE(CheckIndex(&env_, with_cdx, [&out](std::string_view p) { out += p; }, &agrees).ok());
  EXPECT_EQ(out, "tag CODE: 6 keys, as the table says\n");
  EXPECT_EQ(ReadAll(broken).size(), kHeader + 4 * kRecord + 1);

  ASSERT_NE(Open(counted, TableEngine::kReadOnly), 0);
  EXPECT_EQ(engine_.GetString("ID"), "1");
  engine_.Skip(1);
  EXPECT_EQ(engine_.GetString("ID"), "2");
  EXPECT_EQ(ReadAll(counted).substr(32 + 19, 4), dbftest::LE(3));  // the next value
}

// Tables that are not what they should be: refused, or read as far as they
// go, without a crash and without a byte written.
TEST_F(TableEngineTest, MalformedTablesFailCleanlyAndAreNeverWritten) {
  std::string good = BuildDbf(0xF5, kStockFields, {{false, {"A1"}}, {false, {"B2"}}});
  auto with = [&good](size_t at, std::string bytes) {
    return std::string(good).replace(at, bytes.size(), bytes);
  };
  std::vector<uint32_t> b;
  WriteAll(dir_ / "BAD.FPT", BuildFpt(64, {"memo"}, &b));
  struct Case {
    const char* what;
    std::string bytes;
    int records;  // -1: refused
  } cases[] = {
      {"empty file", "", -1},
      {"header cut short", good.substr(0, 20), -1},
      {"descriptors cut short", good.substr(0, 100), -1},
      {"unknown version", with(0, "\x04"), -1},
      {"header length beyond the file", with(8, "\xFF\x7F"), -1},
      {"header length too small", with(8, std::string("\x20\0", 2)), -1},
      {"record length smaller than the fields", with(10, std::string("\x10\0", 2)), -1},
      {"date field of the wrong size", with(32 + 4 * 32 + 16, "\x09"), -1},
      {"record count larger than the file", with(4, "\x10"), 2},
      {"last record cut short", good.substr(0, good.size() - 30), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteAll(dir_ / "BAD.DBF", c.bytes);
    engine_.ClearError();
    EXPECT_EQ(Open(dir_ / "BAD.DBF") != 0, c.records >= 0);
    EXPECT_EQ(engine_.last_error().IsCorruption(), c.records < 0);
    int n = 0;
    for (engine_.GoTop(); !engine_.Eof(); engine_.Skip(1)) ++n;
    EXPECT_EQ(n, std::max(c.records, 0));
    engine_.GoTop();
    engine_.Replace("CODE", kOrdinary, "X");
    engine_.Commit();
    ToNewRecord();
    engine_.Replace("NOTES", kMemo, "new memo");
    engine_.Append();
    engine_.Close();
    EXPECT_EQ(ReadAll(dir_ / "BAD.DBF"), c.bytes);
  }
  EXPECT_EQ(ReadAll(dir_ / "BAD.FPT").size(), 512u + 64u);
  EXPECT_NE(LogText().find("the header counts 16 records but the file holds 2"), std::string::npos);
}

TEST_F(TableEngineTest, BadMemoPointersGiveEmptyOrShortenedMemos) {
  std::vector<uint32_t> b;
  std::string fpt = BuildFpt(64, {"whole memo"}, &b);
  fpt[8 * 64 + 7] = 100;  // says 100 bytes; the file holds 56 after the block header
  WriteAll(dir_ / "M.FPT", fpt);
  WriteAll(dir_ / "M.DBF", BuildDbf(0xF5, {{"NOTE", 'M', 10}},
                                    {{false, {Num(b[0], 10)}}, {false, {Num(999, 10)}},
                                     {false, {"     12abc"}}, {false, {Num(3, 10)}}}));
  ASSERT_NE(Open(dir_ / "M.DBF", TableEngine::kReadOnly), 0);
  EXPECT_EQ(engine_.GetMemo("NOTE", 0), "whole memo" + std::string(46, '\0'));
  for (int i = 0; i < 3; ++i) {  // past the end, not a number, inside the header
    engine_.Skip(1);
    EXPECT_EQ(engine_.GetMemo("NOTE", 0), "");
  }
  EXPECT_TRUE(engine_.last_error().IsCorruption());
  engine_.Close();
  EXPECT_EQ(Count(LogText(), "M.FPT: memo block"), 1u);  // once per table

  fpt[6] = fpt[7] = 0;  // no block size: memos read as empty
  WriteAll(dir_ / "M.FPT", fpt);
  ASSERT_NE(Open(dir_ / "M.DBF", TableEngine::kReadOnly), 0);
  EXPECT_EQ(engine_.GetMemo("NOTE", 0), "");
  EXPECT_NE(LogText().find("memo block size 0"), std::string::npos);
}

// Random damage to tables of every type: whatever the bytes, the engine and
// the dump either refuse the table or read it to the end, and never write.
TEST_F(TableEngineTest, RandomlyDamagedTablesAreReadOrRefusedNeverWritten) {
  std::vector<uint32_t> b;
  std::string fpt = BuildFpt(64, {"first memo", std::string(300, 'm')}, &b);
  std::string y = LE(123400) + LE(0), t = LE(2453800) + LE(32707000), d = LE(0) + LE(0x40040000);
  const std::vector<dbftest::FieldSpec> kFields = {
      {"NAME", 'C', 12}, {"QTY", 'N', 8, 2}, {"DAY", 'D', 8}, {"OK", 'L', 1}, {"N", 'I', 4},
      {"PRICE", 'Y', 8}, {"AT", 'T', 8},     {"R", 'B', 8},   {"NOTE", 'M', 4}};
  std::string good = BuildDbf(
      0x30, kFields,
      {{false, {"Alice", "    1.50", "20060305", "T", LE(7), y, t, d, LE(b[0])}},
       {true, {"Bob", "   -2.00", "", "F", LE(1), y, t, d, LE(b[1])}},
       {false, {"Cy", "", "19991231", "?", LE(0), y, t, d, LE(0)}}});
  const size_t kHeaderLength = 32 + kFields.size() * 32 + 1 + 263;
  std::mt19937 random(20260709);
  auto below = [&random](size_t n) { return n == 0 ? 0 : random() % n; };
  for (int round = 0; round < 1500; ++round) {
    std::string table = good, memo = fpt;
    auto scramble = [&](std::string& bytes, size_t times) {  // bytes anywhere
      for (size_t i = 0; i < times; ++i) bytes[below(bytes.size())] = static_cast<char>(random());
    };
    auto fill = [&](std::string& bytes, size_t from, size_t to) {  // every byte from..to
      for (size_t i = from; i < to; ++i) bytes[i] = static_cast<char>(random());
    };
    if (round % 4 == 0) {  // a few bytes anywhere changed
      scramble(table, 1 + below(6));
    } else if (round % 4 == 1) {  // cut short, the memo file too
      table.resize(below(table.size()));
      memo.resize(below(memo.size()));
    } else if (round % 4 == 2) {  // field descriptors of random bytes
      fill(table, 32, 32 + below(kFields.size() * 32));
    } else {  // records of random bytes, memo blocks scrambled
      table.resize(kHeaderLength + below(600));
      fill(table, kHeaderLength, table.size());
      scramble(memo, 40);
    }
    WriteAll(dir_ / "F.DBF", table);
    WriteAll(dir_ / "F.FPT", memo);
    std::string dump;
    DumpTable(&env_, dir_ / "F.DBF", true, &dump);  // must not crash
    if (Open(dir_ / "F.DBF", TableEngine::kReadOnly) != 0) {
      long n = 0;
      for (engine_.GoTop(); !engine_.Eof(); engine_.Skip(1), ++n) {
        for (const dbftest::FieldSpec& f : kFields) engine_.GetString(f.name);
        ASSERT_LE(n, engine_.RecCount());
      }
      for (engine_.GoBottom(); !engine_.Bof(); engine_.Skip(-1)) engine_.GetMemo("NOTE", 0);
      engine_.Close();
    }
    ASSERT_EQ(ReadAll(dir_ / "F.DBF"), table);
    ASSERT_EQ(ReadAll(dir_ / "F.FPT"), memo);
    env_.DeleteFile(dir_ / "F.DBF");  // truncating a file in place is slow on some disks
    env_.DeleteFile(dir_ / "F.FPT");
  }
}

TEST_F(TableEngineTest, ReadsAHundredThousandRecordsAndAppendsTenThousand) {
  const uint32_t kRecords = 100000, kAppends = 10000;
  WriteAll(dir_ / "BIG.DBF",
           BuildDbf(0xF5, {{"CODE", 'C', 12}, {"DESC", 'C', 40}, {"INSTOCK", 'N', 10, 2},
                           {"ALLOC", 'N', 10, 2}, {"NOTE", 'M', 10}},
                    std::vector<dbftest::Row>(kRecords, {false, {"ITEM00000000", std::string(40, 'd'),
                                                                 "     12.50", "      2.50"}})));
  std::vector<uint32_t> none;
  WriteAll(dir_ / "BIG.FPT", BuildFpt(64, {}, &none));

  auto start = std::chrono::steady_clock::now();
  ASSERT_NE(Open(dir_ / "BIG.DBF", TableEngine::kReadOnly), 0);
  engine_.SetDeleted(true);
  size_t n = 0, chars = 0;
  for (engine_.GoTop(); !engine_.Eof(); engine_.Skip(1), ++n) {
    chars += engine_.GetString("CODE").size() + engine_.GetString("INSTOCK").size() +
             engine_.GetString("ALLOC").size() + engine_.GetMemo("NOTE", 0).size();
  }
  engine_.Close();
  double read = MillisecondsSince(start);
  EXPECT_EQ(n, kRecords);
  EXPECT_EQ(chars, kRecords * 32u);

  start = std::chrono::steady_clock::now();
  ASSERT_NE(Open(dir_ / "BIG.DBF"), 0);
  for (uint32_t i = 0; i < kAppends; ++i) {
    ToNewRecord();
    for (auto [field, value] : {std::pair{"CODE", "NEW" + std::to_string(i)},
                                {"DESC", "Appended item"}, {"INSTOCK", "12.5"}, {"ALLOC", "-3"}}) {
      engine_.Replace(field, kOrdinary, value);
    }
    if (i % 10 == 0) engine_.Replace("NOTE", kMemo, "Note of item " + std::to_string(i));
    engine_.Append();
  }
  engine_.Close();
  double append = MillisecondsSince(start);
  ASSERT_TRUE(engine_.last_error().ok()) << engine_.last_error().ToString();
  ASSERT_NE(Open(dir_ / "BIG.DBF", TableEngine::kReadOnly), 0);
  EXPECT_EQ(engine_.RecCount(), kRecords + kAppends);
  engine_.GoBottom();
  engine_.Skip(-9);
  EXPECT_EQ(engine_.GetMemo("NOTE", 0), "Note of item 9990");
  // Figures, not limits: build/aurora_bench measures the engine's speed.
  std::printf("[ figures  ] reading %u records: %.0f ms; appending %u: %.0f ms\n", kRecords, read,
              kAppends, append);
}

}  // namespace
}  // namespace lumbra
