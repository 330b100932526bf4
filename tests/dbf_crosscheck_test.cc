// The engine and the table dump against two independent DBF readers,
// dbfread and dbf (python3-dbfread, python3-dbf), through
// tests/tools/dbf_crosscheck.py: real tables written by other programs,
// tables written by dbf, and both kinds changed and appended to by the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "backends/aurora/dbf_dump.h"
#include "backends/aurora/dbf_table.h"
#include "backends/aurora/table_engine.h"
#include "dbf_test_support.h"
#include "platform/env.h"

namespace lumbra {
namespace {

using dbftest::ExpectSameReading;
using dbftest::Quote;
using dbftest::RunCrossCheck;

std::vector<std::string> TablesIn(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().extension() == ".dbf") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

class DbfCrossCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!dbftest::CrossCheckAvailable()) GTEST_SKIP() << "needs Linux's python3-dbfread and python3-dbf";
    std::string output;
    ASSERT_EQ(RunCrossCheck("make-tables " + Quote(dir_.path()), &output), 0)
        << "needs python3 with python3-dbfread and python3-dbf:\n"
        << output;
  }
  dbftest::ScratchDir dir_;
};

TEST_F(DbfCrossCheck, EngineAndDumpReadEverySampleAsDbfreadDoes) {
  std::vector<std::string> samples = TablesIn(dbftest::SourcePath("tests/data/dbf"));
  ASSERT_EQ(samples.size(), 12u);
  for (const std::string& table : samples) {
    ExpectSameReading(table, {"dbfread"});
    for (bool deleted : {false, true}) {
      std::string dump, output;
      ASSERT_TRUE(DumpTable(Env::Default(), table, deleted, &dump).ok()) << table;
      dbftest::WriteAll(dir_ / "dump", dump);
      EXPECT_EQ(RunCrossCheck("compare-dump " + Quote(table) + " " + Quote(dir_ / "dump") +
                                  (deleted ? " --deleted" : ""),
                              &output),
                0)
          << table << ":\n"
          << output;
    }
  }
}

TEST_F(DbfCrossCheck, EngineReadsTablesWrittenByDbf) {
  std::vector<std::string> tables = TablesIn(dir_.path());
  ASSERT_EQ(tables.size(), 8u);  // memos, deleted records, empty, binary types, no end marker
  for (const std::string& table : tables) ExpectSameReading(table, {"dbfread", "dbf"});
}

// Tables written by dbf and real tables of every version the back-end may
// keep: the engine changes the first record and appends three (text beyond
// ASCII, line breaks in memos, a long memo, empty values); both readers
// still read them alike. dbf does not read dBase IV memo files.
TEST_F(DbfCrossCheck, TablesChangedByTheEngineReadTheSameInDbfreadAndDbf) {
  const char* kRows[][5] = {  // C, N, D, L, M
      {"Engine text", "77.125", "20060305", "T", "changed\r\nnote"},
      {"Posted \xE9", "112.5", "20060325", "T", "Deliver\r\nto back"},
      {"No memo", "-0.5", "", "F", ""},
      {"", "", "", "", nullptr}};
  for (const char* name : {"db3_empty", "db3_noend", "fp_empty", "fp_mixed", "vfp_mixed",
                           "dbfread_people", "infused_dbase_83", "infused_dbase_f5",
                           "infused_dbase_30", "infused_dbase_8b"}) {
    std::string table = dir_ / (std::string(name) + ".dbf");
    for (const char* ext : {".dbf", ".dbt", ".fpt"}) {
      std::string from = dbftest::SourcePath("tests/data/dbf/") + name + ext;
      if (std::filesystem::exists(from)) std::filesystem::copy_file(from, dir_ / (name + std::string(ext)));
    }
    SCOPED_TRACE(table);
    std::unique_ptr<dbf::DbfTable> t;
    ASSERT_TRUE(dbf::DbfTable::Open(Env::Default(), table, false, &t).ok());
    std::vector<dbf::Field> fields = t->header().fields;
    t.reset();
    TableEngine engine(Env::Default(), nullptr);
    ASSERT_NE(engine.Use(table, "t", TableEngine::kReadWrite, 2), 0);
    for (int row = engine.Eof() ? 1 : 0; row < 4; ++row) {
      if (row > 0) {
        engine.GoBottom();
        engine.Skip(1);
      }
      for (const dbf::Field& f : fields) {
        size_t k = std::string("CNDLM").find(f.type == 'F' ? 'N' : f.type);
        if (f.hidden || k == std::string::npos) continue;
        std::string v = kRows[row][k] ? kRows[row][k] : std::string(3000, 'm');
        if (k == 1 && f.length < 8 && !v.empty()) v = "7";
        engine.Replace(f.name, k == 4 ? TableEngine::kValueMemo : TableEngine::kValueOrdinary, v);
      }
      row == 0 ? engine.Commit() : engine.Append();
      ASSERT_TRUE(engine.last_error().ok()) << row << ": " << engine.last_error().ToString();
    }
    engine.Close();
    ExpectSameReading(table, {"dbfread"});
    if (std::string(name) != "infused_dbase_8b") ExpectSameReading(table, {"dbf"});
  }
}

}  // namespace
}  // namespace lumbra
