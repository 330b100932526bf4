// The engine and the table dump against two independent DBF readers,
// dbfread and dbf (python3-dbfread, python3-dbf), through
// tests/tools/dbf_crosscheck.py: real tables written by other programs,
// tables written by dbf, and tables written by the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "backends/aurora/dbf_dump.h"
#include "backends/aurora/dbf_table.h"
#include "backends/aurora/table_engine.h"
#include "dbf_test_support.h"
#include "run/env.h"

namespace lumbra {
namespace {

using dbftest::Quote;
using dbftest::RunCrossCheck;
using dbftest::ScratchDir;
using dbftest::WriteAll;

std::vector<std::string> TablesIn(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().extension() == ".dbf") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The engine reads the table as each reader named ("dbfread", "dbf") does.
void ExpectSameReading(const std::string& table, std::vector<std::string> readers) {
  ScratchDir scratch;
  std::string reading = dbftest::ReadingOf(table), output;
  ASSERT_FALSE(reading.empty()) << table;
  WriteAll(scratch / "reading", reading);
  for (const std::string& r : readers) {
    EXPECT_EQ(RunCrossCheck("compare " + r + " " + Quote(table) + " " + Quote(scratch / "reading"),
                            &output),
              0)
        << r << " on " << table << ":\n"
        << output;
  }
}

class DbfCrossCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string output;
    ASSERT_EQ(RunCrossCheck("make-tables " + Quote(dir_.path()), &output), 0)
        << "needs python3 with python3-dbfread and python3-dbf:\n"
        << output;
  }
  ScratchDir dir_;
};

TEST_F(DbfCrossCheck, EngineAndDumpReadEverySampleAsDbfreadDoes) {
  std::vector<std::string> samples = TablesIn(dbftest::SourcePath("tests/data/dbf"));
  ASSERT_EQ(samples.size(), 12u);
  for (const std::string& table : samples) {
    ExpectSameReading(table, {"dbfread"});
    for (bool deleted : {false, true}) {
      std::string dump, output;
      ASSERT_TRUE(DumpTable(Env::Default(), table, deleted, &dump).ok()) << table;
      WriteAll(dir_ / "dump", dump);
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

TEST_F(DbfCrossCheck, TablesWrittenByTheEngineReadTheSameInDbfreadAndDbf) {
  TableEngine engine(Env::Default(), nullptr);
  for (const char* name : {"db3_empty", "db3_noend", "fp_empty", "fp_mixed", "vfp_mixed"}) {
    std::string table = dir_ / (std::string(name) + ".dbf");
    SCOPED_TRACE(table);
    ASSERT_NE(engine.Use(table, "t", TableEngine::kReadWrite, 2), 0);
    if (!engine.Eof()) {  // a stored record changed, its memo too
      engine.Replace("QTY", TableEngine::kValueOrdinary, "77.125");
      engine.Replace("NOTES", TableEngine::kValueMemo, "changed\r\nnote");
      engine.Commit();
    }
    const char* kFields[] = {"NAME", "QTY", "BORN", "OK", "NOTES"};
    for (const std::array<const char*, 5>& row :
         {std::array<const char*, 5>{"Posted \xE9", "112.5", "20060325", "T", "Deliver\r\nto back"},
          {"No memo", "-0.5", "", "F", ""},
          {"Long memo", "99999.99", "19991231", "", nullptr}}) {
      engine.GoBottom();
      engine.Skip(1);
      for (size_t i = 0; i < 4; ++i) engine.Replace(kFields[i], TableEngine::kValueOrdinary, row[i]);
      engine.Replace("NOTES", TableEngine::kValueMemo, row[4] ? row[4] : std::string(3000, 'm'));
      engine.Append();
      ASSERT_TRUE(engine.last_error().ok()) << engine.last_error().ToString();
    }
    engine.Close();
    ExpectSameReading(table, {"dbfread", "dbf"});
  }
}

// Real tables of every version the back-end may keep, changed and appended
// to by the engine, still read alike by both readers.
TEST_F(DbfCrossCheck, RealTablesChangedByTheEngineReadTheSameInDbfreadAndDbf) {
  for (const char* name : {"dbfread_people", "infused_dbase_83", "infused_dbase_f5",
                           "infused_dbase_30"}) {
    std::string table = dir_ / (std::string(name) + ".dbf");
    for (const char* ext : {".dbf", ".dbt", ".fpt"}) {
      std::string from = dbftest::SourcePath("tests/data/dbf/") + name + ext;
      if (std::filesystem::exists(from)) std::filesystem::copy_file(from, dir_ / (name + std::string(ext)));
    }
    SCOPED_TRACE(table);
    std::unique_ptr<dbf::DbfTable> t;
    ASSERT_TRUE(dbf::DbfTable::Open(Env::Default(), table, false, &t).ok());
    std::vector<std::pair<std::string, std::string>> values;  // a value for each field of a type
    for (const dbf::Field& f : t->header().fields) {
      const char* v = f.type == 'C' ? "Engine text" : f.type == 'N' ? "7" : f.type == 'D' ? "20060305"
                    : f.type == 'L' ? "T" : f.type == 'M' ? "Engine\r\nmemo" : nullptr;
      if (v != nullptr && !f.hidden) values.emplace_back(f.name, v);
    }
    t.reset();
    TableEngine engine(Env::Default(), nullptr);
    ASSERT_NE(engine.Use(table, "t", TableEngine::kReadWrite, 2), 0);
    for (int record = 0; record < 3; ++record) {
      if (record > 0) {
        engine.GoBottom();
        engine.Skip(1);
      }
      for (const auto& [field, value] : values) {
        engine.Replace(field, TableEngine::kValueOrdinary, record == 2 ? "" : value);
      }
      if (record == 0) engine.Commit();
      if (record > 0) engine.Append();
      ASSERT_TRUE(engine.last_error().ok()) << engine.last_error().ToString();
    }
    engine.Close();
    ExpectSameReading(table, {"dbfread", "dbf"});
  }
}

// dBase IV memo files, which dbf does not write: a real one appended to.
TEST_F(DbfCrossCheck, DbaseFourTableWrittenByTheEngineReadsTheSameInDbfread) {
  for (const char* ext : {".dbf", ".dbt"}) {
    std::filesystem::copy_file(dbftest::SourcePath("tests/data/dbf/infused_dbase_8b") + ext,
                               dir_ / (std::string("iv") + ext));
  }
  TableEngine engine(Env::Default(), nullptr);
  ASSERT_NE(engine.Use(dir_ / "iv.dbf", "t", TableEngine::kReadWrite, 2), 0);
  engine.Replace("MEMO", TableEngine::kValueMemo, "First memo, rewritten");
  engine.GoBottom();
  engine.Skip(1);
  engine.Replace("FLOAT", TableEngine::kValueOrdinary, "0.25");
  engine.Replace("MEMO", TableEngine::kValueMemo, "Eleventh memo");
  engine.Append();
  engine.Close();
  ExpectSameReading(dir_ / "iv.dbf", {"dbfread"});
}

}  // namespace
}  // namespace lumbra
