// Structural indexes: the xBase expressions of tags and the keys they give,
// and the engine keeping a .CDX in step while records are added, changed
// and deleted, checked tag by tag against the table (CheckIndex). Other
// readers of what it writes: dbf_crosscheck_test.
#include "backends/aurora/cdx_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "backends/aurora/cdx_file.h"
#include "backends/aurora/cdx_writer.h"
#include "backends/aurora/dbf_dump.h"
#include "backends/aurora/dbf_table.h"
#include "backends/aurora/dbf_values.h"
#include "backends/aurora/xbase_expr.h"
#include "dbf_test_support.h"
#include "text/numbers.h"

namespace lumbra {
namespace {

using dbf::DbfTable;
using dbf::XbaseExpr;
using dbf::XType;
using dbftest::LE;
using dbftest::ReadAll;
using dbftest::WriteAll;

std::string Shown(const dbf::XValue& v) {
  switch (v.type) {
    case XType::kChar: return v.text;
    case XType::kLogical: return v.logical ? ".T." : ".F.";
    default: return DoubleText(v.number);
  }
}

std::unique_ptr<DbfTable> OpenTable(const std::string& path, bool writable = false) {
  std::unique_ptr<DbfTable> t;
  Status s = DbfTable::Open(Env::Default(), path, writable, &t);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return t;
}

// A Visual FoxPro table of every type a key may read: a live record and a
// deleted one with blank values.
class XbaseExprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string stamp = LE(2453800) + LE(32707000), zero(8, '\0');
    WriteAll(dir_ / "T.DBF",
             dbftest::BuildDbf(0x30,
                               {{"NAME", 'C', 10}, {"QTY", 'N', 8, 2}, {"DUE", 'D', 8},
                                {"OK", 'L', 1}, {"ID", 'I', 4}, {"STAMP", 'T', 8}, {"NOTE", 'M', 4}},
                               {{false, {"Ann \xE9", "   12.50", "20060305", "T", LE(42), stamp, LE(0)}},
                                {true, {"", "", "", " ", LE(static_cast<uint32_t>(-7)), zero, LE(0)}}}));
    table_ = OpenTable(dir_ / "T.DBF");
  }
  std::string Row(uint32_t recno) {
    std::string_view r;
    EXPECT_TRUE(table_->Record(recno, &r).ok());
    return std::string(r);
  }
  dbftest::ScratchDir dir_;
  std::unique_ptr<DbfTable> table_;
};

TEST_F(XbaseExprTest, EvaluatesWhatTagsUse) {
  const std::string blank(10, ' ');
  struct Case {
    const char* expr;
    std::string live, deleted;  // "-": not checked
  } cases[] = {
      {"NAME", "Ann \xE9     ", blank},
      {"UPPER(t.NAME)", "ANN \xC9     ", blank},
      {"lower(T->name)", "ann \xE9     ", blank},
      {"NAME+'|'", "Ann \xE9     |", blank + "|"},
      {"NAME-\"|\"", "Ann \xE9|     ", "|" + blank},
      {"STR(QTY,8,2)+STR(QTY)+STR(-QTY,6,1)", "   12.50        13 -12.5", "    0.00         0   0.0"},
      {"STR(QTY*100000,5)", "*****", "    0"},
      {"DTOS(DUE)+DTOC(DUE)+DTOC(DUE,1)", "2006030503/05/0620060305", "          /  /          "},
      {"DTOS(STAMP)", "20060305", "        "},
      {"LEFT(NAME,2)+RIGHT(NAME,3)+SUBSTR(NAME,2,2)+SUBS(NAME,9)+SUBSTR(NAME,11)", "An   nn  ",
       std::string(9, ' ')},
      {"PADL(ALLTRIM(NAME),7,'*')+PADR(LTRIM(NAME),6)+PADC('ab',6,'-')",
       "**Ann \xE9" "Ann \xE9 --ab--", "*******      --ab--"},
      {"[x]+RTRIM(NAME)+TRIM(NAME)", "xAnn \xE9" "Ann \xE9", "x"},
      {"VAL('1.5E1')+QTY", "27.5", "15"},
      {"IIF(OK, 'yes', 'no ')", "yes", "no "},
      {"IIF(DELETED(), 1, ID)", "42", "1"},
      {"ID", "42", "-7"},
      {"BINTOC(ID)+BINTOC(ID,2)", std::string("\x80\0\0\x2A\x80\x2A", 6), "\x7F\xFF\xFF\xF9\x7F\xF9"},
      {"DTOS(DUE+30)", "20060404", "-"},
      {"2^3 + 7 % 4 - 10/4", "8.5", "8.5"},
      {"EMPTY(DUE) .OR. EMPTY(NAME) .OR. EMPTY(0)", ".T.", ".T."},
      {"EMPTY(DUE) .OR. EMPTY(NAME)", ".F.", ".T."},
      {"QTY > 10 .AND. !DELETED()", ".T.", ".F."},
      {"NAME = 'An' .AND. 'nn' $ NAME .AND. .NOT. NAME == 'An'", ".T.", ".F."},
      {".NOT. OK .OR. QTY # 0 .OR. DUE < DUE - 1", ".T.", ".T."},
      {"NOT OK OR QTY > 0 AND !DELETED()", ".T.", ".T."},
      {"OK = .T. .AND. ID <> 0 .AND. QTY >= 12.5 .AND. QTY <= 12.5", ".T.", ".F."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expr);
    std::unique_ptr<XbaseExpr> e;
    Status s = XbaseExpr::Compile(c.expr, table_->header(), "t", &e);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(Shown(e->Evaluate(Row(1))), c.live);
    if (c.deleted != "-") {
      EXPECT_EQ(Shown(e->Evaluate(Row(2))), c.deleted);
    }
  }
  // The widths a tag's key length is checked against: what evaluating
  // gives, lengths beyond what a call makes included.
  for (auto [expr, width] : std::vector<std::pair<const char*, int>>{
           {"NAME+DTOS(DUE)", 18}, {"ALLTRIM(NAME)", -1}, {"PADR(NAME,20)", 20},
           {"LEFT(NAME,20)", 10}, {"STR(QTY,8,2)", 8}, {"SUBSTR(NAME,3)", 8}, {"QTY", -1},
           {"STR(QTY,111111112,2)", 255}, {"PADL(NAME,0.5)", 0}, {"LEFT(NAME,99999999999)", 10}}) {
    std::unique_ptr<XbaseExpr> e;
    ASSERT_TRUE(XbaseExpr::Compile(expr, table_->header(), "T", &e).ok()) << expr;
    EXPECT_EQ(e->width(), width) << expr;
    if (width >= 0) {
      EXPECT_EQ(Shown(e->Evaluate(Row(1))).size(), static_cast<size_t>(width)) << expr;
    }
  }
}

TEST_F(XbaseExprTest, RefusesWhatItCannotEvaluateSayingWhat) {
  struct Case {
    const char* expr;
    const char* why;
  } cases[] = {
      {"SOUNDEX(NAME)", "SOUNDEX"},         {"OTHER.NAME", "OTHER.NAME"},
      {"m.custname", "M.CUSTNAME"},         {"NAME +", "unexpected"},
      {"UPPER(QTY)", "UPPER() needs a text"}, {"NOTE", "NOTE of type M"},
      {"'abc", "closing"},                  {"NAME = QTY", "cannot compare"},
      {"IIF(OK, 1, 'x')", "one type"},      {"STR()", "STR() takes 1 to 3"},
      {"  ", "empty"},                      {"NAME .AND. OK", "logical"},
      {"NAME NAME", "unexpected"},          {"BINTOC(ID, 3)", "BINTOC"},
      {"(NAME", "')' expected"},            {"NOSUCH", "no field NOSUCH"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<XbaseExpr> e;
    Status s = XbaseExpr::Compile(c.expr, table_->header(), "T", &e);
    EXPECT_TRUE(s.IsNotSupported()) << c.expr;
    EXPECT_NE(s.message().find(c.why), std::string::npos) << c.expr << ": " << s.ToString();
  }
}

TEST(CdxKeys, NumberAndIntegerKeysSortAsTheirValues) {
  const double kValues[] = {-1e300, -2147483648, -12.5, -1, -1e-9, 0, 1e-9, 1, 12.5, 2147483647, 1e300};
  for (size_t i = 1; i < std::size(kValues); ++i) {
    EXPECT_LT(dbf::NumberKey(kValues[i - 1]), dbf::NumberKey(kValues[i])) << kValues[i];
    if (std::abs(kValues[i]) < 3e9 && kValues[i] != kValues[i - 1]) {
      EXPECT_LE(dbf::IntegerKey(kValues[i - 1]), dbf::IntegerKey(kValues[i])) << kValues[i];
    }
  }
  EXPECT_EQ(dbf::NumberKey(-0.0), dbf::NumberKey(0));
  EXPECT_EQ(dbf::IntegerKey(1), std::string("\x80\0\0\x01", 4));  // as FoxPro's own integer tags
}

// A table of customers with four tags: by name, by number for the records
// not deleted, unique by the first twelve letters, and descending by day
// and number.
class CdxIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<dbftest::Row> rows;
    for (int i = 0; i < 200; ++i) rows.push_back({i % 17 == 0, RowValues(i)});
    WriteAll(path_, dbftest::BuildDbf(0x03, kFields, rows));
    ASSERT_TRUE(WriteStructuralIndex(Env::Default(), path_,
                                     {{"NAME", "UPPER(NAME)", "", false, false},
                                      {"NUM", "NUM", "!DELETED()", false, false},
                                      {"PREFIX", "LEFT(NAME,12)", "", true, false},
                                      {"DAYS", "DTOS(DAY)+STR(NUM,8)", "", false, true}})
                    .ok());
  }

  std::vector<std::string> RowValues(int i) {
    std::string name = "Customer " + std::to_string(rng_() % 5000);
    if (i % 7 == 0) name = "";
    std::string day = "2006" + std::string(rng_() % 2 ? "03" : "11") + "0" + std::to_string(1 + rng_() % 9);
    return {name, dbftest::Num(static_cast<long>(rng_() % 100000), 8), day, rng_() % 2 ? "T" : "F"};
  }

  std::string Record(DbfTable& t, int i) {
    std::string r = t.BlankRecord();
    std::vector<std::string> v = RowValues(i);
    for (size_t f = 0; f < v.size(); ++f) {
      const dbf::Field& field = t.header().fields[f];
      EXPECT_TRUE(dbf::EncodeText(field, v[f], r.data() + field.offset).ok());
    }
    return r;
  }

  void ExpectIndexAgrees() {
    bool agrees = false;
    std::string out;
    Status s = CheckIndex(Env::Default(), path_, [&out](std::string_view p) { out += p; }, &agrees);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_TRUE(agrees) << out;
  }

  const std::vector<dbftest::FieldSpec> kFields = {
      {"NAME", 'C', 24}, {"NUM", 'N', 8}, {"DAY", 'D', 8}, {"FLAG", 'L', 1}};
  std::mt19937 rng_{20061104};
  dbftest::ScratchDir dir_;
  std::string path_ = dir_ / "CUST.DBF";
  std::string cdx_ = dir_ / "CUST.CDX";
};

// Thousands of appends, key changes and deletions in random order: every
// tag holds exactly the keys of the table, the trees split to several
// levels, and pages that deletions empty are used again.
TEST_F(CdxIndexTest, ManyChangesKeepEveryTagInStep) {
  ExpectIndexAgrees();
  std::unique_ptr<DbfTable> t = OpenTable(path_, true);
  const std::vector<int> kAll = {0, 1, 2, 3};
  for (int i = 0; i < 6000; ++i) {
    int op = static_cast<int>(rng_() % 20);
    uint32_t recno = 1 + static_cast<uint32_t>(rng_() % t->record_count());
    Status s = op < 12   ? t->AppendRecord(Record(*t, i), {}, 0)
               : op < 17 ? t->UpdateRecord(recno, Record(*t, i), kAll, {}, 0)
                         : t->MarkDeleted(recno, op == 17, 0);
    ASSERT_TRUE(s.ok()) << i << ": " << s.ToString();
  }
  ExpectIndexAgrees();
  EXPECT_GE(dbftest::TagDepth(path_, "NAME"), 3);
  EXPECT_GE(dbftest::TagDepth(path_, "DAYS"), 3);

  // Nine in ten records deleted take their keys out of NUM, emptying its
  // pages; bringing them back takes those pages again.
  uint64_t before = 0, after = 0;
  ASSERT_TRUE(Env::Default()->GetFileSize(cdx_, &before).ok());
  for (bool deleted : {true, false}) {
    for (uint32_t r = 1; r <= t->record_count(); ++r) {
      if (r % 10 != 0) {
        ASSERT_TRUE(t->MarkDeleted(r, deleted, 0).ok());
      }
    }
    ExpectIndexAgrees();
  }
  ASSERT_TRUE(Env::Default()->GetFileSize(cdx_, &after).ok());
  EXPECT_LT(after, before + before / 8);
}

// Changes the engine cannot make while keeping the index are not made at
// all: neither table nor index changes by a byte.
TEST_F(CdxIndexTest, ChangesThatCannotBeKeptLeaveTableAndIndexAlone) {
  const std::string table = ReadAll(path_), index = ReadAll(cdx_);
  auto patched = [&index](const std::string& from, const std::string& to) {
    std::string out = index;
    out.replace(out.find(from), from.size(), to);
    return out;
  };
  std::unique_ptr<DbfTable> probe = OpenTable(path_);
  uint32_t prefix = 0;
  for (const dbf::IndexTag& tag : probe->structural_index()->tags()) {
    if (tag.name == "PREFIX") prefix = tag.header_offset;
  }
  std::string candidate = index;
  candidate[prefix + 14] = static_cast<char>(candidate[prefix + 14] | dbf::kCdxCandidate);
  struct Case {
    std::string cdx;
    bool lock;  // another program holds the index's lock
    const char* why;
  } cases[] = {
      {patched("UPPER(NAME)", "UPPOR(NAME)"), false, "tag NAME (key UPPOR(NAME)) cannot be kept"},
      {patched("STR(NUM,8)", "XTR(NUM,8)"), false, "function XTR()"},
      {candidate, false, "already holds the key"},
      {index, true, "index locked by another program"},
      {"not an index at all", false, "cannot be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    WriteAll(path_, table);
    WriteAll(cdx_, c.cdx);
    // The lock is another process's, as the accounting package's would be.
    std::unique_ptr<test::PeerBeside> holder;
    if (c.lock) {
      const std::string ready = cdx_ + ".held";
      holder = std::make_unique<test::PeerBeside>(
          std::vector<std::string>{"hold", cdx_, std::to_string(dbf::kLockBase), "2000", ready},
          ready);
      ASSERT_TRUE(holder->ready());
    }
    std::unique_ptr<DbfTable> t = OpenTable(path_, true);
    std::string_view first;
    ASSERT_TRUE(t->Record(1, &first).ok());
    std::string copy(first);  // its first twelve letters are taken
    Status added = t->AppendRecord(copy, {}, 0);
    Status changed = t->UpdateRecord(2, copy, {0, 1}, {}, 0);
    EXPECT_TRUE(!c.lock || (added.IsBusy() && changed.IsBusy()));
    EXPECT_FALSE(added.ok());
    EXPECT_NE(added.message().find(c.why), std::string::npos) << added.ToString();
    EXPECT_NE(changed.message().find(c.why), std::string::npos) << changed.ToString();
    EXPECT_EQ(ReadAll(path_), table);
    EXPECT_EQ(ReadAll(cdx_), c.cdx);
  }
}

// Index files that are not what they should be (junk, and a real index
// with bytes changed at random) are listed, checked, appended to and
// changed without a crash or a hang; so are junk expressions compiled and
// evaluated.
TEST_F(CdxIndexTest, DamagedIndexesAndJunkExpressionsFailCleanly) {
  const std::string table = ReadAll(path_), index = ReadAll(cdx_);
  auto ignore = [](std::string_view) {};
  for (uint32_t round = 0; round < 120; ++round) {
    std::string cdx = index;
    if (round < 20) {
      cdx = test::JunkBytes(round, dbf::kCdxPageSize * (1 + round % 8), 50);
    } else {
      for (uint32_t k = 0; k < 1 + round % 6; ++k) cdx[rng_() % cdx.size()] = static_cast<char>(rng_());
    }
    WriteAll(path_, table);
    WriteAll(cdx_, cdx);
    bool agrees;
    DumpIndex(Env::Default(), path_, ignore).ok();
    CheckIndex(Env::Default(), path_, ignore, &agrees).ok();
    std::unique_ptr<DbfTable> t = OpenTable(path_, true);
    t->AppendRecord(Record(*t, 3), {}, 0).ok();
    t->UpdateRecord(5, Record(*t, 4), {0, 1, 2}, {}, 0).ok();
  }
  std::unique_ptr<DbfTable> t = OpenTable(path_);
  std::string_view record;
  ASSERT_TRUE(t->Record(1, &record).ok());
  for (uint32_t seed = 0; seed < 400; ++seed) {
    std::string text = test::JunkBytes(seed, seed % 40, 9);
    if (seed % 2) text = "UPPER(NAME" + text.substr(0, seed % 7) + ")+STR(NUM,8" + text;
    std::unique_ptr<XbaseExpr> e;
    if (XbaseExpr::Compile(text, t->header(), "CUST", &e).ok()) e->Evaluate(record);
  }
}

// The unique tag keeps the first record of a key; a second one is added to
// the table and left out of that tag only.
TEST_F(CdxIndexTest, UniqueTagKeepsTheFirstRecordOfAKey) {
  std::unique_ptr<DbfTable> t = OpenTable(path_, true);
  EXPECT_TRUE(t->IndexReads({3, 1}));  // NUM
  EXPECT_FALSE(t->IndexReads({3}));    // FLAG: no tag reads it
  std::string_view first;
  ASSERT_TRUE(t->Record(2, &first).ok());
  ASSERT_TRUE(t->AppendRecord(std::string(first), {}, 0).ok());
  std::string listing;
  ASSERT_TRUE(DumpIndex(Env::Default(), path_, [&listing](std::string_view p) { listing += p; }).ok());
  auto section = [&listing](const std::string& head) {
    size_t at = listing.find(head);
    return at == std::string::npos ? std::string() : listing.substr(at, listing.find("\n\n", at) - at);
  };
  EXPECT_NE(section("tag DAYS: key DTOS(DAY)+STR(NUM,8), descending\n"), "");
  EXPECT_NE(section("tag NUM: key NUM, for !DELETED()\n"), "");
  EXPECT_NE(section("tag NAME: key UPPER(NAME)\n").find("\n201\t"), std::string::npos);
  std::string prefix = section("tag PREFIX: key LEFT(NAME,12), unique\n");
  EXPECT_NE(prefix.find("\n2\t"), std::string::npos) << listing;
  EXPECT_EQ(prefix.find("\n201\t"), std::string::npos);
  ExpectIndexAgrees();
}

// A table written by FoxPro itself, with integer keys in its tags, takes
// new records and changes; its candidate tag refuses a second record of a
// key.
TEST(CdxFoxProIndex, RealIndexTakesNewRecordsAndChanges) {
  dbftest::ScratchDir dir;
  for (const char* ext : {".dbf", ".FPT", ".CDX"}) {
    WriteAll(dir / (std::string("calls") + ext),
             ReadAll(dbftest::SourcePath("tests/data/dbf/infused_foxprodb_calls") + ext));
  }
  std::unique_ptr<DbfTable> t = OpenTable(dir / "calls.dbf", true);
  ASSERT_NE(t->structural_index(), nullptr);
  const dbf::Field& id = t->header().fields[0];
  const dbf::Field& contact = t->header().fields[1];
  for (int i = 17; i <= 400; ++i) {
    std::string r = t->BlankRecord();
    ASSERT_TRUE(dbf::EncodeText(id, std::to_string(i), r.data() + id.offset).ok());
    ASSERT_TRUE(dbf::EncodeText(contact, std::to_string(i % 7), r.data() + contact.offset).ok());
    ASSERT_TRUE(t->AppendRecord(r, {}, 0).ok()) << i;
    if (i % 5 == 0) {
      ASSERT_TRUE(t->UpdateRecord(static_cast<uint32_t>(i / 5), r, {1}, {}, 0).ok());
    }
  }
  std::string r = t->BlankRecord();
  ASSERT_TRUE(dbf::EncodeText(id, "3", r.data() + id.offset).ok());
  EXPECT_TRUE(t->AppendRecord(r, {}, 0).IsInvalidArgument());
  bool agrees = false;
  std::string out;
  ASSERT_TRUE(CheckIndex(Env::Default(), dir / "calls.dbf", [&out](std::string_view p) { out += p; },
                         &agrees).ok());
  EXPECT_TRUE(agrees) << out;
  EXPECT_EQ(out, "tag CALL_ID: 400 keys, as the table says\ntag CONTACT_ID: 400 keys, as the table says\n");
}

}  // namespace
}  // namespace lumbra
