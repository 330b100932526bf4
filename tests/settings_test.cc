#include "run/settings.h"

#include <gtest/gtest.h>

#include "run/backend_names.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

struct Parsed {
  std::string name, path;
};

Parsed Parse(std::string_view text) {
  Parsed p;
  ParseSettings(text, &p.name, &p.path);
  return p;
}

TEST(ParseSettings, TakesExactKeysAndTheLastOfEach) {
  Parsed p = Parse("APPNAME=x\r\nappname= MS Access\xAE\r\npath=a\npath= b \rjunk=1\r\n");
  EXPECT_EQ(p.name, " MS Access\xAE");  // a blank after "=" is part of the name
  EXPECT_EQ(p.path, " b ");
  EXPECT_EQ(Parse(" appname=x\r\npath =y").name, "");
  EXPECT_EQ(Parse("appname=\r\n").name, "");
}

TEST(NormaliseDataPath, FolderRule) {
  const std::string_view other = kMyobPremierBackend;
  EXPECT_EQ(NormaliseDataPath(other, "C:\\Books\\Shop.dat"), "C:\\Books");
  EXPECT_EQ(NormaliseDataPath(other, "D:\\Data\\"), "D:\\Data");
  EXPECT_EQ(NormaliseDataPath(other, "D:\\Data"), "D:");
  EXPECT_EQ(NormaliseDataPath(other, "x"), "C:\\Premier9");
  EXPECT_EQ(NormaliseDataPath(other, ""), "C:\\Premier9");
  EXPECT_EQ(NormaliseDataPath("", "/srv/books/Shop.dat"), "/srv/books");
  EXPECT_EQ(NormaliseDataPath("Unknown", "/srv/books/"), "/srv/books");
}

TEST(NormaliseDataPath, AuroraRule) {
  const std::string_view aurora = kAuroraBackend;
  EXPECT_EQ(NormaliseDataPath(aurora, "C:\\Books\\DMASTER.DBF"), "C:\\Books");
  EXPECT_EQ(NormaliseDataPath(aurora, "C:\\Books\\SHOP.dbf"), "C:\\Books");
  EXPECT_EQ(NormaliseDataPath(aurora, "C:\\Books\\"), "C:\\Books");
  EXPECT_EQ(NormaliseDataPath(aurora, "C:\\Books"), "C:\\Books");
  EXPECT_EQ(NormaliseDataPath(aurora, "dmaster.dbf"), "C:\\Aurora\\Standard");
  EXPECT_EQ(NormaliseDataPath(aurora, ""), "C:\\Aurora\\Standard");
  EXPECT_EQ(NormaliseDataPath(aurora, "/srv/aurora/DMASTER.DBF"), "/srv/aurora");
}

TEST(NormaliseDataPath, MoneyWorksAndUnchangedRules) {
  EXPECT_EQ(NormaliseDataPath(kMoneyWorksGoldBackend, "C:\\Books\\"),
            "C:\\Books\\Acme Widgets.mwd3");
  EXPECT_EQ(NormaliseDataPath(kMoneyWorksGoldBackend, "C:\\Books\\Shop.mwd3"),
            "C:\\Books\\Shop.mwd3");
  EXPECT_EQ(NormaliseDataPath(kMoneyWorksGoldBackend, ""), "");
  EXPECT_EQ(NormaliseDataPath("MoneyWorks Cashbook", "C:\\Books\\Shop.mwd3"), "C:\\Books");
  for (std::string_view name :
       {kAccessBackend, kSqlServerBackend, kOdbcBackend, kQuickBooksDatabaseBackend}) {
    EXPECT_EQ(NormaliseDataPath(name, "DSN=shop;"), "DSN=shop;");
    EXPECT_EQ(NormaliseDataPath(name, ""), "");
  }
}

TEST(ReadSettings, MissingFileKeepsNameAndFallsBackToTheDefaultFolder) {
  test::TempDir dir;
  test::TestRun run(dir);
  run.ctx().DataPath = "stale";
  ReadSettings(run.ctx());
  EXPECT_EQ(run.ctx().BackendName, "");
  EXPECT_EQ(run.ctx().DataPath, "C:\\Premier9");
}

TEST(ReadSettings, ReadsAndNormalisesFromTheWorkingFolder) {
  test::TempDir dir;
  dir.Write("Lumbra.ini", "appname=MYOB\xAE Aurora (database)\r\npath=/srv/a/DMASTER.DBF\r\n");
  test::TestRun run(dir);
  ReadSettings(run.ctx());
  EXPECT_EQ(run.ctx().BackendName, kAuroraBackend);
  EXPECT_EQ(run.ctx().DataPath, "/srv/a");
}

}  // namespace
}  // namespace lumbra
