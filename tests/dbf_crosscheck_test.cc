// The engine and the table dump against two independent DBF readers,
// dbfread and dbf (python3-dbfread, python3-dbf), through
// tests/tools/dbf_crosscheck.py: real tables written by other programs,
// tables written by dbf, and both kinds changed and appended to by the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "backends/aurora/aurora.h"
#include "backends/aurora/aurora_layouts.h"
#include "backends/aurora/dbf_dump.h"
#include "backends/aurora/dbf_table.h"
#include "backends/aurora/table_engine.h"
#include "dbf_test_support.h"
#include "platform/env.h"
#include "support/aurora_installation.h"

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

// Many orders, comment lines and customer changes posted into an
// installation whose tables have structural indexes, enough to split the
// tags' trees to three levels: every tag, read by XBase::Index
// (tests/tools/cdx_crosscheck.pl), holds the entries the engine lists, in
// the same order, finds each text key from its root, and agrees with its
// table (lumbra dbf --check).
TEST(CdxCrossCheck, PostedIndexesReadTheSameInXBaseIndex) {
  test::AuroraInstallation a;
  auto n = [](int i) { return std::to_string(i); };
  std::vector<DbfRecord> customers, stock, balances, invoices, lines;
  for (int i = 0; i < 2000; ++i) {
    customers.push_back(test::Rec({{"NAME", "Customer " + n(i)}, {"ACCOUNT", "C" + n(i)}}));
  }
  for (int i = 0; i < 1000; ++i) {
    stock.push_back(test::Rec({{"CODE", "I" + n(i)}, {"DESC", "Item " + n(i)}}));
    balances.push_back(test::Rec({{"CODE", "I" + n(i)}, {"INSTOCK", "9"}}));
  }
  for (int i = 1; i <= 500; ++i) {
    invoices.push_back(test::Rec({{"NAME", "Customer " + n(i * 3 % 2000)}, {"LINK", n(i)},
                                  {"POSTED", n(i % 2)}, {"INVNUM", n(1000 + i)},
                                  {"DATE", "20061104"}, {"ORDNUM", "O" + n(i)}}));
  }
  for (int i = 0; i < 2000; ++i) {
    lines.push_back(test::Rec({{"LINK", n(i / 4 + 1)}, {"CODE", "I" + n(i % 1000)}, {"QTY", "1"}}));
  }
  a.Table("DMASTER.DBF", customers);
  a.Table("STOCK.DBF", stock);
  a.Table("STKBALS.DBF", balances);
  a.Table("INVIDX.DBF", invoices);
  a.Table("OLDINV.DBF", lines);
  a.CompleteWith(500, 1500);
  std::string device;
  for (int i = 0; i < 1500; ++i) {
    device += "20061105abcdInvoiceLines\tCustomer\tCustomer " + n(i / 5 * 7 % 2000) + "\tOrdnum\tD" +
              n(i / 5) + "\tDescription\tItem " + n(i * 13 % 1000) + "\tQty\t1\tExtend\t10" +
              (i % 3 == 0 ? "\tNote\tCall first" : "") + "\r\n";
  }
  for (int c = 0; c < 100; ++c) {
    device += "20061105abcdCustomers\tName\tCustomer " + n(c * 19) + "\tPhone\t03 " + n(c) + "\r\n";
  }
  a.dir().Write("tempdb.dat", device);
  PostAuroraTransactions(a.ctx());
  ASSERT_EQ(a.Records("OLDINV.DBF").size(), 4000u);
  EXPECT_EQ(a.IndexDifferences(), "");
  EXPECT_GE(dbftest::TagDepth(a.dir().Path("data\\INVIDX.DBF"), "CUSTOMER"), 3);
  EXPECT_GE(dbftest::TagDepth(a.dir().Path("data\\OLDINV.DBF"), "CODE"), 3);
  if (!dbftest::CrossCheckAvailable()) GTEST_SKIP() << "needs Linux's perl with libdbd-xbase-perl";

  for (std::string_view file : kAuroraTableFiles) {
    if (AuroraIndexTags(file).empty()) continue;
    std::string table = a.dir().Path("data\\" + std::string(file)), listing, output;
    ASSERT_TRUE(DumpIndex(Env::Default(), table, [&listing](std::string_view p) { listing += p; }).ok());
    std::unique_ptr<dbf::DbfTable> t;
    ASSERT_TRUE(dbf::DbfTable::Open(Env::Default(), table, false, &t).ok());
    for (const dbf::IndexTag& tag : t->structural_index()->tags()) {
      SCOPED_TRACE(std::string(file) + " tag " + tag.name);
      size_t at = listing.find("tag " + tag.name + ": ");
      ASSERT_NE(at, std::string::npos);
      at = listing.find('\n', at) + 1;
      std::string entries = listing.substr(at, listing.find("\n\n", at) + 1 - at);
      bool text = tag.type == dbf::XType::kChar;
      ASSERT_EQ(dbftest::RunIndexReader(Quote(t->index_path()) + " " + tag.name +
                                            (text ? " char" : " num"),
                                        &output),
                0)
          << "needs perl with libdbd-xbase-perl:\n"
          << output;
      EXPECT_EQ(output, entries);
    }
  }
}

}  // namespace
}  // namespace lumbra
