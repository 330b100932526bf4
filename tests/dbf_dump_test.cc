// The table dump for administrators (`lumbra dbf`) and the memo flattening
// it shares with the export. The dump of other programs' tables is checked
// against another reader in dbf_crosscheck_test.
#include <gtest/gtest.h>

#include "backends/aurora/cdx_writer.h"
#include "backends/aurora/flatten_memo.h"
#include "dbf_test_support.h"
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

// The command prints the stored values one record a line, bytes as stored:
// a Visual FoxPro table of every type with an FPT memo file, and a dBase III
// table with its DBT memo file named in another case.
TEST(DumpTable, LumbraDbfPrintsStoredValuesOneRecordALine) {
  dbftest::ScratchDir dir;
  std::vector<uint32_t> b;
  dir.Write("T.FPT", dbftest::BuildFpt(64, {"Ring before\r\ndelivery ", "a\nb"}, &b));
  auto eight = [](const void* p) { return std::string(static_cast<const char*>(p), 8); };
  const double kRatio[] = {0.1, 1e20};
  const int64_t kPrice[] = {123400, -5000};
  std::string stamp = LE(2453800) + LE(32707000), zero(8, '\0');
  dir.Write("T.DBF",
            dbftest::BuildDbf(
                0x30,
                {{"NAME", 'C', 10}, {"QTY", 'N', 8, 2}, {"DAY", 'D', 8}, {"OK", 'L', 1},
                 {"COUNT", 'I', 4}, {"PRICE", 'Y', 8}, {"STAMP", 'T', 8}, {"RATIO", 'B', 8},
                 {"NOTE", 'M', 4}, {"_NullFlags", '0', 1, 0, 0x05}},
                {{false, {"Tab\there", "   12.50", "20060305", "T", LE(42), eight(&kPrice[0]), stamp,
                          eight(&kRatio[0]), LE(b[0]), zero}},
                 {true, {"Old", "", "00000000", " ", LE(static_cast<uint32_t>(-1)),
                         eight(&kPrice[1]), zero, eight(&kRatio[1]), LE(b[1]), zero}}}));
  dir.Write("stock.dbt", std::string("\x02\0\0\0", 4) + std::string(508, '\0') +
                             "Caf\xE9\tnote\r\nline two\x1A\x1A");
  dir.Write("STOCK.DBF", dbftest::BuildDbf(0x83, {{"CODE", 'C', 6}, {"QTY", 'N', 6, 1}, {"NOTE", 'M', 10}},
                                           {{false, {"A1", "   2.5", dbftest::Num(1, 10)}},
                                            {true, {"B2", "  -1.0", ""}}}));
  const std::string kHead = "NAME\tQTY\tDAY\tOK\tCOUNT\tPRICE\tSTAMP\tRATIO\tNOTE\n";
  const std::string kLive =
      "Tab here\t12.50\t20060305\tT\t42\t12.3400\t20060305 09:05:07\t0.1\tRing before delivery\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"t.dbf"}, kHead + kLive},
      {{"--deleted", "T.DBF"}, "\t" + kHead + "\t" + kLive + "*\tOld\t\t\t\t-1\t-0.5000\t\t1e+20\ta b\n"},
      {{"STOCK.DBF"}, "CODE\tQTY\tNOTE\nA1\t2.5\tCaf\xE9 note line two\n"},
      {{"--deleted", "stock.dbf"}, "\tCODE\tQTY\tNOTE\n\tA1\t2.5\tCaf\xE9 note line two\n*\tB2\t-1.0\t\n"}};
  auto dbf = [](std::vector<std::string> args) {
    args.insert(args.begin(), "dbf");
    return test::Lumbra(std::move(args));
  };
  std::string out, err;
  for (const Case& c : cases) {  // the folder is the scratch folder
    CommandSpec command = dbf(c.args);
    command.working_dir = dir.path();
    ASSERT_EQ(test::RunProgram(command, &out), 0) << c.args[0];
    EXPECT_EQ(out, c.out) << c.args[0];
  }
  dir.Write("BAD.DBF", "\x03\x7E\x01\x01");
  EXPECT_EQ(test::RunProgram(dbf({dir.Path("NONE.DBF")}), &out, &err), 1);
  EXPECT_NE(err.find("not found"), std::string::npos) << err;
  EXPECT_NE(err.find("NONE.DBF"), std::string::npos);
  EXPECT_EQ(test::RunProgram(dbf({dir.Path("BAD.DBF")}), &out, &err), 1);
  EXPECT_EQ(err.find("lumbra: corrupt"), 0u) << err;
  EXPECT_EQ(test::RunProgram(dbf({})), 2);
  EXPECT_EQ(test::RunProgram(dbf({"a.dbf", "b.dbf"})), 2);
  EXPECT_EQ(test::RunProgram(test::Lumbra({"--help"}), &out), 0);
  EXPECT_NE(out.find("lumbra dbf FILE [--deleted]"), std::string::npos);
}

// `lumbra dbf --index` lists each tag and its keys in index order;
// `--check` finds every tag in step with the table, and once a record is
// added without its keys (as by a program that does not keep the index),
// names it and exits 1.
TEST(DumpTable, LumbraDbfListsAndChecksTheStructuralIndex) {
  dbftest::ScratchDir dir;
  dir.Write("T.DBF", dbftest::BuildDbf(0x03, {{"CODE", 'C', 6}, {"QTY", 'N', 6, 2}, {"DAY", 'D', 8}},
                                       {{false, {"B2", "  2.00", "20060305"}},
                                        {false, {"A1", " -1.50", ""}},
                                        {true, {"C3", "  0.00", "20061104"}}}));
  dir.Write("PLAIN.DBF", dbftest::BuildDbf(0x03, {{"CODE", 'C', 6}}, {}));
  ASSERT_TRUE(WriteStructuralIndex(Env::Default(), dir / "T.DBF",
                                   {{"CODE", "CODE", "", false, false},
                                    {"QTY", "QTY", "", false, true},
                                    {"DAY", "DAY", "!DELETED()", false, false}})
                  .ok());
  auto dbf = [&dir](std::vector<std::string> args) {
    args.insert(args.begin(), "dbf");
    CommandSpec command = test::Lumbra(std::move(args));
    command.working_dir = dir.path();
    return command;
  };
  std::string out;
  EXPECT_EQ(test::RunProgram(dbf({"T.DBF", "--index"}), &out), 0);
  EXPECT_EQ(out,
            "tag CODE: key CODE\n2\tA1\n1\tB2\n3\tC3\n\n"
            "tag DAY: key DAY, for !DELETED()\n2\t\n1\t20060305\n\n"
            "tag QTY: key QTY, descending\n1\t2\n3\t0\n2\t-1.5\n\n");
  EXPECT_EQ(test::RunProgram(dbf({"--check", "T.DBF"}), &out), 0);
  EXPECT_EQ(out, "tag CODE: 3 keys, as the table says\ntag DAY: 2 keys, as the table says\n"
                 "tag QTY: 3 keys, as the table says\n");
  EXPECT_EQ(test::RunProgram(dbf({"PLAIN.DBF", "--check"}), &out), 0);
  EXPECT_NE(out.find("PLAIN.DBF: no structural index"), std::string::npos) << out;

  std::string table = dir.Read("T.DBF");
  table[4] = 4;  // the record count
  table.insert(table.size() - 1, " D4      1.0020060305");
  dir.Write("T.DBF", table);
  EXPECT_EQ(test::RunProgram(dbf({"T.DBF", "--check"}), &out), 1);
  EXPECT_EQ(out, "tag CODE: record 4 has no key\ntag DAY: record 4 has no key\n"
                 "tag QTY: record 4 has no key\n");
  EXPECT_EQ(test::RunProgram(dbf({"T.DBF", "--index", "--check"})), 2);
}

}  // namespace
}  // namespace lumbra
