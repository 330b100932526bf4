// The table dump for administrators and the memo flattening it shares with
// the export. The dump of other programs' tables is checked against another
// reader in dbf_crosscheck_test.
#include "backends/aurora/dbf_dump.h"

#include <gtest/gtest.h>

#include <cstring>

#include "backends/aurora/flatten_memo.h"
#include "dbf_test_support.h"
#include "run/env.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

using dbftest::LE;

TEST(FlattenMemo, JoinsLinesWithOneBlankAndTrimsOnlyTheLastPiece) {
  EXPECT_EQ(FlattenMemo(""), "");
  EXPECT_EQ(FlattenMemo("Ring before\r\ndelivery "), "Ring before delivery");
  EXPECT_EQ(FlattenMemo(" a \r\n b \r\n c "), " a   b  c");
  EXPECT_EQ(FlattenMemo("x\r"), "x ");      // a carriage return at the very end
  EXPECT_EQ(FlattenMemo("ab\rcd"), "ab d");  // the character after it goes, whatever it is
  EXPECT_EQ(FlattenMemo(MemoWithCrLf("a\rb\n c")), "a b c");
}

TEST(DumpTable, ShowsStoredValuesOneRecordALine) {
  dbftest::ScratchDir dir;
  std::vector<uint32_t> b;
  dbftest::WriteAll(dir / "T.FPT", dbftest::BuildFpt(64, {"Ring before\r\ndelivery ", "a\nb"}, &b));
  auto eight = [](const void* p) { return std::string(static_cast<const char*>(p), 8); };
  const double kRatio[] = {0.1, 1e20};
  const int64_t kPrice[] = {123400, -5000};
  std::string stamp = LE(2453800) + LE(32707000), zero(8, '\0');
  dbftest::WriteAll(
      dir / "T.DBF",
      dbftest::BuildDbf(0x30,
                        {{"NAME", 'C', 10}, {"QTY", 'N', 8, 2}, {"DAY", 'D', 8}, {"OK", 'L', 1},
                         {"COUNT", 'I', 4}, {"PRICE", 'Y', 8}, {"STAMP", 'T', 8},
                         {"RATIO", 'B', 8}, {"NOTE", 'M', 4}, {"_NullFlags", '0', 1, 0, 0x05}},
                        {{false, {"Tab\there", "   12.50", "20060305", "T", LE(42), eight(&kPrice[0]),
                                  stamp, eight(&kRatio[0]), LE(b[0]), zero}},
                         {true, {"Old", "", "00000000", " ", LE(static_cast<uint32_t>(-1)),
                                 eight(&kPrice[1]), zero, eight(&kRatio[1]), LE(b[1]), zero}}}));
  std::string out;
  ASSERT_TRUE(DumpTable(Env::Default(), dir / "t.dbf", false, &out).ok());
  const std::string kHead = "NAME\tQTY\tDAY\tOK\tCOUNT\tPRICE\tSTAMP\tRATIO\tNOTE\n";
  const std::string kLive =
      "Tab here\t12.50\t20060305\tT\t42\t12.3400\t20060305 09:05:07\t0.1\tRing before delivery\n";
  EXPECT_EQ(out, kHead + kLive);
  ASSERT_TRUE(DumpTable(Env::Default(), dir / "T.DBF", true, &out).ok());
  EXPECT_EQ(out, "\t" + kHead + "\t" + kLive + "*\tOld\t\t\t\t-1\t-0.5000\t\t1e+20\ta b\n");

  EXPECT_TRUE(DumpTable(Env::Default(), dir / "NONE.DBF", false, &out).IsNotFound());
  EXPECT_EQ(out, "");
  dbftest::WriteAll(dir / "BAD.DBF", "\x03\x7E\x01\x01");
  EXPECT_TRUE(DumpTable(Env::Default(), dir / "BAD.DBF", false, &out).IsCorruption());
}

// The administrator's command prints the dump as it stands, bytes as stored.
TEST(DumpTable, LumbraDbfCommandPrintsTheDump) {
  dbftest::ScratchDir dir;
  dir.Write("stock.dbt", std::string("\x02\0\0\0", 4) + std::string(508, '\0') +
                             "Caf\xE9\tnote\r\nline two\x1A\x1A");
  dir.Write("STOCK.DBF", dbftest::BuildDbf(0x83, {{"CODE", 'C', 6}, {"QTY", 'N', 6, 1}, {"NOTE", 'M', 10}},
                                           {{false, {"A1", "   2.5", dbftest::Num(1, 10)}},
                                            {true, {"B2", "  -1.0", ""}}}));
  const std::string kLumbra = LUMBRA_BINARY;
  std::string out;
  ASSERT_EQ(test::RunShell(kLumbra + " dbf " + dir.Path("STOCK.DBF"), &out), 0);
  EXPECT_EQ(out, "CODE\tQTY\tNOTE\nA1\t2.5\tCaf\xE9 note line two\n");
  ASSERT_EQ(test::RunShell(kLumbra + " dbf --deleted " + dir.Path("stock.dbf"), &out), 0);
  EXPECT_EQ(out, "\tCODE\tQTY\tNOTE\n\tA1\t2.5\tCaf\xE9 note line two\n*\tB2\t-1.0\t\n");

  EXPECT_EQ(test::RunShell(kLumbra + " dbf " + dir.Path("NONE.DBF") + " 2>&1", &out), 1);
  EXPECT_NE(out.find("NONE.DBF"), std::string::npos);
  EXPECT_EQ(test::RunShell(kLumbra + " dbf 2>/dev/null"), 2);
  EXPECT_EQ(test::RunShell(kLumbra + " dbf a.dbf b.dbf 2>/dev/null"), 2);
  EXPECT_EQ(test::RunShell(kLumbra + " --help", &out), 0);
  EXPECT_NE(out.find("lumbra dbf FILE [--deleted]"), std::string::npos);
}

}  // namespace
}  // namespace lumbra
