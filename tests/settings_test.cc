#include "backends/context/settings.h"

#include <gtest/gtest.h>

#include "backends/context/backend_names.h"
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
  Parsed p = Parse("APPNAME=x\r\nappname= MS Access\xAE\r\npath=a\rpath= b \rjunk=1\r\n");
  EXPECT_EQ(p.name, " MS Access\xAE");  // a blank after "=" is part of the name
  EXPECT_EQ(p.path, " b ");
  EXPECT_EQ(Parse("appname=x\npath=/srv/books/\n").path, "/srv/books/");  // edited on Linux
  EXPECT_EQ(Parse(" appname=x\r\npath =y").name, "");
  EXPECT_EQ(Parse("appname=\r\n").name, "");
  // The database time-out: whole seconds, the last line wins, nonsense and
  // "no limit" fall back to the default.
  const std::pair<const char*, int> timeouts[] = {
      {"", 30}, {"dbtimeout=5\r\n", 5}, {"dbtimeout=5\r\ndbtimeout=7", 7}, {"dbtimeout=0", 30},
      {"dbtimeout=-3", 30}, {"dbtimeout=5s", 30}, {"dbtimeout=5\r\ndbtimeout=", 30}, {"DBTIMEOUT=5", 30}};
  for (const auto& [text, seconds] : timeouts) EXPECT_EQ(ParseDbTimeout(text), seconds) << text;
}

// Aurora wants the folder of its database; MoneyWorks Gold a document; the
// database back-ends take the path as a connection string; the rest a folder.
TEST(NormaliseDataPath, EachBackEndItsRule) {
  const std::string_view other = kMyobPremierBackend, aurora = kAuroraBackend, gold = kMoneyWorksGoldBackend;
  const std::string_view cases[][3] = {
      {other, "C:\\Books\\Shop.dat", "C:\\Books"},   {other, "D:\\Data\\", "D:\\Data"},
      {other, "D:\\Data", "D:"},                       {other, "x", "C:\\Premier9"},
      {other, "", "C:\\Premier9"},                     {"", "/srv/books/Shop.dat", "/srv/books"},
      {"Unknown", "/srv/books/", "/srv/books"},        {aurora, "C:\\Books\\DMASTER.DBF", "C:\\Books"},
      {aurora, "C:\\Books\\SHOP.dbf", "C:\\Books"},    {aurora, "C:\\Books\\", "C:\\Books"},
      {aurora, "C:\\Books", "C:\\Books"},              {aurora, "dmaster.dbf", "C:\\Aurora\\Standard"},
      {aurora, "", "C:\\Aurora\\Standard"},            {aurora, "/srv/aurora/DMASTER.DBF", "/srv/aurora"},
      {gold, "C:\\Books\\", "C:\\Books\\Acme Widgets.mwd3"},
      {gold, "C:\\Books\\Shop.mwd3", "C:\\Books\\Shop.mwd3"},
      {gold, "", ""},                                  {"MoneyWorks Cashbook", "C:\\Books\\Shop.mwd3", "C:\\Books"}};
  for (const auto& c : cases) EXPECT_EQ(NormaliseDataPath(c[0], std::string(c[1])), c[2]) << c[0] << " " << c[1];
  for (std::string_view name : {kAccessBackend, kSqlServerBackend, kOdbcBackend, kQuickBooksDatabaseBackend}) {
    EXPECT_EQ(NormaliseDataPath(name, "DSN=shop;"), "DSN=shop;");
    EXPECT_EQ(NormaliseDataPath(name, ""), "");
  }
}

TEST(ReadSettings, ReadsAndNormalisesFromTheWorkingFolderOrFallsBack) {
  test::TempDir dir;
  test::TestRun run(dir);
  run.ctx().DataPath = "stale";
  ReadSettings(run.ctx());  // no file: the name stays empty, the folder is the default
  EXPECT_EQ(run.ctx().BackendName, "");
  EXPECT_EQ(run.ctx().DataPath, "C:\\Premier9");

  dir.Write("Lumbra.ini", "appname=MYOB\xAE Aurora (database)\r\npath=/srv/a/DMASTER.DBF\r\n");
  ReadSettings(run.ctx());
  EXPECT_EQ(run.ctx().BackendName, kAuroraBackend);
  EXPECT_EQ(run.ctx().DataPath, "/srv/a");
}

}  // namespace
}  // namespace lumbra
