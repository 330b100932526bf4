// The database access layer against real SQLite files through the SQLite3
// ODBC driver: where DataPath leads, recordsets, the text forms of values,
// the row an update reaches, and the export of the menu's tables.
#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <vector>

#include "backends/database/connection.h"
#include "backends/database/data_source.h"
#include "backends/database/database.h"
#include "backends/database/dialect.h"
#include "backends/database/menu_export.h"
#include "backends/database/recordset.h"
#include "backends/database/value.h"
#include "backends/context/run_context.h"
#include "support/odbc_test_util.h"
#include "support/test_util.h"

namespace lumbra::database {
namespace {

using Rows = std::vector<std::string>;
using test::Logged;

class DatabaseAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::TestDriversAvailable()) GTEST_SKIP() << test::kNoTestDrivers;
    ASSERT_TRUE(test::MakeSqliteFile(
                    dir_.Path("shop.db"),
                    {"CREATE TABLE Items (Code TEXT PRIMARY KEY, Price MONEY, Qty INTEGER, Weight REAL, "
                     "Added DATE, Seen TIMESTAMP, Note TEXT)",
                     "INSERT INTO Items VALUES ('A1', 3.5, 7, 0.1, '2006-03-05', '2006-03-05 09:05:00', 'x'), "
                     "('B2', NULL, NULL, 12, NULL, '2006-03-06 00:00:00', NULL)",
                     "CREATE TABLE Loose (K TEXT, V TEXT)", "INSERT INTO Loose VALUES ('k', 'one'), ('k', 'two')",
                     "CREATE TABLE Empty (K TEXT, V TEXT)",
                     // What SQLite keeps when a column's declared type and its
                     // values disagree.
                     "CREATE TABLE Odd (N INTEGER, D DATE, M MONEY)",
                     "INSERT INTO Odd VALUES (2.5, '05/12/2026', 3.5), (1e20, '2026-02-30', 'n/a'), "
                     "('n/a', '2026-05-12', NULL), (1234567890123, 20260512, '-2')"})
                    .ok());
    ASSERT_TRUE(Connection::Open(test::SqliteConnectionString(dir_.Path("shop.db")), &conn_).ok());
  }
  Rows Query(const std::string& sql) {
    return test::QueryRows(test::SqliteConnectionString(dir_.Path("shop.db")), sql);
  }
  // Opens the database as a pass does (unless data_path is empty) and
  // exports the menu's tables.
  void Export(const char* data_path = "shop.db") {
    test::TestRun run(dir_);
    run.ctx().DataPath = data_path;
    if (*data_path) OpenDatabaseConnection(run.ctx());
    ExportDatabaseByMenu(run.ctx());
  }

  test::TempDir dir_;
  std::unique_ptr<Connection> conn_;
};

TEST_F(DatabaseAccessTest, DataPathLeadsToTheDriverByTheFilesHeaderAndFailuresAreLogged) {
  Env* env = Env::Default();
  DataSource source;
  // An SQLite file is known by its header, whatever its name.
  dir_.Write("named.mdb", dir_.Read("shop.db"));
  std::string jet(0x800, '\0');
  dir_.Write("old.mdb", jet.replace(4, 15, "Standard Jet DB"));
  std::string ace(0x800, '\0');
  dir_.Write("new.accdb", ace.replace(4, 15, "Standard ACE DB"));
  const std::string kAce = "Microsoft Access Driver (*.mdb, *.accdb)", kJet = "Microsoft Access Driver (*.mdb)";
  const std::vector<std::string> all = {"SQLite3", "MDBTools", "microsoft access driver (*.mdb, *.accdb)", kJet};
  ASSERT_TRUE(ResolveDataSource(env, "named.mdb", dir_.Path("named.mdb"), &source, 30, &all).ok());
  EXPECT_EQ(source.kind, DataSourceKind::kSqliteFile);
  EXPECT_EQ(source.connection_string.find("Driver={SQLite3};Database="), 0u) << source.connection_string;
  EXPECT_TRUE(source.read_only_reason.empty());
  ASSERT_TRUE(ResolveDataSource(env, "old.mdb", dir_.Path("old.mdb"), &source, 30, &all).ok());
  EXPECT_EQ(source.kind, DataSourceKind::kAccessFile);
  EXPECT_NE(source.description.find(std::string(kAccessDrivers[0].name)), std::string::npos);
  // Access files: on Windows through Microsoft's drivers, read and written,
  // the newer driver first and Jet's only for the older format; elsewhere
  // MDB Tools, which can only read.
  struct Case {
    std::span<const FileDriver> drivers;
    bool ace_file;
    std::vector<std::string> installed;
    std::string chosen;
  };
  for (const Case& c : std::vector<Case>{
           {kWindowsAccessDrivers, false, {kJet, kAce}, kAce},
           {kWindowsAccessDrivers, false, {"SQLite3", kJet}, kJet},
           {kWindowsAccessDrivers, true, {kJet}, ""},
           {kWindowsAccessDrivers, true, {"MICROSOFT ACCESS DRIVER (*.MDB, *.ACCDB)"}, kAce},
           {kWindowsAccessDrivers, false, {"MDBTools"}, ""},
           {kMdbToolsDrivers, true, {"MDBTools"}, "MDBTools"},
           {kSqliteDrivers, false, {"SQLite", "SQLite3 ODBC Driver"}, "SQLite3 ODBC Driver"},
       }) {
    const FileDriver* d = ChooseDriver(c.drivers, c.ace_file, c.installed);
    EXPECT_EQ(d != nullptr ? std::string(d->name) : "", c.chosen) << c.installed.back();
    if (d != nullptr) {
      EXPECT_EQ(d->read_only_reason.empty(), c.drivers.data() != kMdbToolsDrivers);
    }
  }
  // Without a driver for it the file is not opened, and the message says
  // what to install.
  const std::vector<std::string> none = {"SQLite"};
  for (const char* name : {"old.mdb", "new.accdb", "named.mdb"}) {
    Status s = ResolveDataSource(env, name, dir_.Path(name), &source, 30, &none);
    EXPECT_TRUE(s.IsNotSupported()) << name;
    EXPECT_NE(s.message().find("none is installed: install "), std::string::npos) << s.message();
  }
  ASSERT_TRUE(ResolveDataSource(env, "DSN=shop;PWD=secret", "", &source).ok());
  EXPECT_EQ(source.connection_string, "DSN=shop;PWD=secret");
  EXPECT_EQ(source.description.find("secret"), std::string::npos);
  dir_.Write("notes.txt", "plain text, no database");
  EXPECT_TRUE(ResolveDataSource(env, "notes.txt", dir_.Path("notes.txt"), &source).IsNotSupported());
  EXPECT_TRUE(ResolveDataSource(env, "gone.mdb", dir_.Path("gone.mdb"), &source).IsNotFound());

  test::TestRun run(dir_);
  RunContext& ctx = run.ctx();
  for (const char* path : {"missing.mdb", "Driver={NoSuchDriver};Database=x", "shop.db"}) {
    ctx.DataPath = path;
    OpenDatabaseConnection(ctx);
    EXPECT_EQ(ctx.DbConnection != nullptr, ctx.DataPath == "shop.db") << path;
  }
  ASSERT_NE(ctx.DbConnection, nullptr);
  EXPECT_TRUE(ctx.DbConnection->IsOpen());
  for (const char* message : {"missing.mdb cannot be read", "NoSuchDriver", "database opened: SQLite file",
                              "through the driver \"SQLite3"}) {
    EXPECT_TRUE(Logged(dir_, message));
  }
}

TEST_F(DatabaseAccessTest, RecordsetOpensCatalogueTablesOnlyAndMovesOverTheirRows) {
  // The values' text forms are checked through the export below.
  Recordset rs;
  ASSERT_TRUE(rs.Open(conn_.get(), "Items", CursorType::kStatic).ok());
  EXPECT_EQ(rs.RecordCount(), 2);
  EXPECT_EQ(rs.FieldIndex("qty"), 2);
  EXPECT_EQ(rs.FieldIndex("Nope"), -1);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(rs.MoveNext().ok());
  EXPECT_TRUE(rs.Eof());
  EXPECT_TRUE(rs.MoveFirst().ok());
  EXPECT_EQ(PlainText(rs.FieldValue(0)), "A1");
  ASSERT_TRUE(rs.Open(conn_.get(), "Empty", CursorType::kStatic).ok());
  EXPECT_EQ(rs.RecordCount(), 0);
  EXPECT_TRUE(rs.Eof());
  EXPECT_FALSE(rs.MoveFirst().ok());

  // A name in other letters means the table the database would take.
  ASSERT_TRUE(rs.Open(conn_.get(), "iTEMS", CursorType::kStatic).ok());
  EXPECT_EQ(rs.table(), "Items");
  EXPECT_TRUE(rs.Open(conn_.get(), "Items; DROP TABLE Items", CursorType::kStatic).IsNotFound());
  EXPECT_TRUE(rs.Open(nullptr, "Items", CursorType::kStatic).IsIOError());
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), Rows{"2"});
}

TEST_F(DatabaseAccessTest, ExportWritesEveryColumnAndRowAndCopiesToExistingDeviceFolders) {
  for (const char* folder : {"1", "2", "5"}) dir_.MakeDir(folder);
  dir_.Write("1\\menu.xml",
             "0\tS\tItems\r\n1\tE\t..Empty\r\n0\tN\tNothing\r\n0\tX\t..\\evil\r\n0\to\todd\r\n");
  dir_.Write("2\\Nothing.dat", "older");
  Export();
  EXPECT_EQ(dir_.Read("1\\Items.dat"),
            test::Coded({"Code\tPrice\tQty\tWeight\tAdded\tSeen\tNote\t",
                         "A1\t$3.50\t7\t0.1\t2006-03-05\t2006-03-05 09:05:00\tx\t", "B2\t\t\t12\t\t2006-03-06\t\t"}));
  // The menu's "odd" is the table Odd, in a file of the menu's name. Values
  // that do not have their column's type are written as SQLite holds them,
  // never truncated, zeroed or read day first.
  EXPECT_EQ(dir_.Read("1\\odd.dat"),
            test::Coded({"N\tD\tM\t", "2.5\t05/12/2026\t$3.50\t", "1.0e+20\t2026-02-30\tn/a\t",
                         "n/a\t2026-05-12\t\t", "1234567890123\t20260512\t-$2.00\t"}));
  EXPECT_EQ(dir_.Read("1\\Empty.dat"), test::Coded({"K\tV\t"}));
  // A failed query leaves a file with an empty header line only.
  EXPECT_EQ(dir_.Read("1\\Nothing.dat"), test::Coded({""}));
  for (std::string name : {"Items.dat", "Empty.dat", "Nothing.dat"}) {
    EXPECT_EQ(dir_.Read("2\\" + name), dir_.Read("1\\" + name)) << name;
    EXPECT_EQ(dir_.Read("5\\" + name), dir_.Read("1\\" + name)) << name;
  }
  EXPECT_FALSE(dir_.Exists("3"));
  EXPECT_FALSE(dir_.Exists("evil.dat"));
  EXPECT_TRUE(Logged(dir_, "menu table \"..\\evil\" skipped"));
  EXPECT_TRUE(Logged(dir_, "table 1\\Nothing.dat written: 0 records (query failed"));
}

TEST_F(DatabaseAccessTest, WithoutMenuOrConnectionTheDevicesKeepTheirTables) {
  for (const char* folder : {"1", "5"}) dir_.MakeDir(folder);
  Export();
  EXPECT_FALSE(dir_.Exists("1\\Items.dat"));
  EXPECT_TRUE(Logged(dir_, "menu 1\\menu.xml not read"));
  dir_.Write("1\\menu.xml", "0\tS\tItems\r\n");
  dir_.Write("1\\Items.dat", "older");
  dir_.Write("5\\Items.dat", "older");
  Export("");
  EXPECT_EQ(dir_.Read("1\\Items.dat"), "older");
  EXPECT_EQ(dir_.Read("5\\Items.dat"), "older");
  EXPECT_TRUE(Logged(dir_, "no database connection: no menu table is written"));
}

TEST(DatabaseMenuTest, MenuNamesEachTableOnceUpToAHundred) {
  std::string menu = "0\tx\tStock\r\n1\ty\t--Stock\r\n2\ty\t\"-\"-Jobs\r\n0\tz\t\r\n1\tz\tab\r\nA\t\tC\r\n";
  EXPECT_EQ(ReadMenuTables(menu), (Rows{"Stock", "Jobs", "C"}));
  std::string many;
  for (int i = 0; i < 105; ++i) many += "0\t\tT" + std::to_string(i) + "\r\n";
  Rows tables = ReadMenuTables(many);
  ASSERT_EQ(tables.size(), 100u);
  EXPECT_EQ(tables.back(), "T99");
  EXPECT_TRUE(ReadMenuTables("").empty());
  EXPECT_FALSE(IsSafeTableFileName("..\\x"));
  EXPECT_FALSE(IsSafeTableFileName("a/b"));
  EXPECT_TRUE(IsSafeTableFileName("Order Lines"));
}

TEST_F(DatabaseAccessTest, AddNewAndUpdateBindValuesAndChangeExactlyTheRow) {
  Recordset rs;
  ASSERT_TRUE(rs.Open(conn_.get(), "Items", CursorType::kStatic).ok());
  ASSERT_TRUE(rs.AddNew().ok());
  ASSERT_TRUE(rs.SetField(0, "C3'); DROP TABLE Items; --").ok());
  ASSERT_TRUE(rs.SetField(1, "$2.25").ok());
  EXPECT_FALSE(rs.SetField(2, "many").ok());  // refused: not a number
  ASSERT_TRUE(rs.Update().ok());
  EXPECT_EQ(Query("SELECT Code, Price, Qty FROM Items WHERE Price = 2.25"),
            Rows{"C3'); DROP TABLE Items; --|2.25|NULL"});

  // Without a primary key the row is named by its rowid, so of two rows
  // alike in every value only the one found changes.
  ASSERT_TRUE(conn_->Run("INSERT INTO Loose VALUES ('k', 'one')").ok());
  ASSERT_TRUE(rs.Open(conn_.get(), "Loose", CursorType::kStatic).ok());
  EXPECT_EQ(rs.FieldCount(), 2u);
  ASSERT_TRUE(rs.MoveNext().ok());
  ASSERT_TRUE(rs.MoveNext().ok());
  ASSERT_TRUE(rs.SetField(1, "ONE").ok());
  ASSERT_TRUE(rs.Update().ok());
  EXPECT_EQ(Query("SELECT V FROM Loose ORDER BY rowid"), (Rows{"one", "two", "ONE"}));
  // A row deleted meanwhile is not there to change: that passes by itself.
  ASSERT_TRUE(rs.MoveFirst().ok());
  ASSERT_TRUE(conn_->Run("DELETE FROM Loose WHERE V = 'one'").ok());
  ASSERT_TRUE(rs.SetField(1, "gone").ok());
  EXPECT_TRUE(rs.Update().IsBusy());

  // A read-only connection refuses every write with its reason.
  conn_->SetReadOnly("opened through a driver that can only read");
  ASSERT_TRUE(rs.Open(conn_.get(), "Items", CursorType::kStatic).ok());
  Status s = rs.AddNew();
  EXPECT_TRUE(s.IsNotSupported());
  EXPECT_EQ(s.message(), "opened through a driver that can only read");
}

TEST(DatabaseValueTest, TextFormsAndTheValuesDevicesSend) {
  Column money, real, date, integer, decimal;
  money.type_name = "smallMoney";
  real.sql_type = 8;      // SQL_DOUBLE
  date.sql_type = 91;     // SQL_TYPE_DATE
  integer.sql_type = 4;   // SQL_INTEGER, which SQLite's driver reports for 64 bits
  decimal.sql_type = 3;   // SQL_DECIMAL
  for (Column* c : {&money, &real, &date, &integer, &decimal}) ClassifyColumn(c);
  EXPECT_TRUE(money.currency());
  EXPECT_EQ(ExportText(money, Value()), "");
  // Numbers keep every digit; their range and scale are the database's to
  // judge.
  struct {
    const Column& column;
    const char* sent;
    const char* stored;
  } cases[] = {{money, "-$3.5", "-$3.50"},           {real, "1e3", "1000"},          {real, "12abc", "refused"},
               {date, "05/03/2006", "2006-03-05"}, {date, "2006-02-30", "refused"},
               {integer, "9300000000017", "9300000000017"}, {integer, "9223372036854775807", "9223372036854775807"},
               {integer, "1.5e3", "1500"},          {integer, "2.5", "2.5"},        {integer, "x1", "refused"},
               {integer, "99999999999999999999", "99999999999999999999"},
               {decimal, "-1.25E-3", "-0.00125"},   {decimal, "12345678901234567.89", "12345678901234567.89"},
               {decimal, "0e999999999", "0"}};
  for (const auto& c : cases) {
    Value v;
    bool ok = ValueForColumn(c.column, c.sent, &v).ok();
    EXPECT_EQ(!ok ? "refused" : &c.column == &money ? ExportText(money, v) : PlainText(v), c.stored) << c.sent;
  }
  // Keys beyond a double's 53 bits still tell apart.
  Value key, row;
  ASSERT_TRUE(ValueForColumn(integer, "9007199254740993", &key).ok());
  ASSERT_TRUE(ValueForColumn(integer, "9007199254740992", &row).ok());
  EXPECT_FALSE(KeyMatches(row, key));
  EXPECT_TRUE(KeyMatches(StoredValue(integer, "9007199254740993"), key));
  EXPECT_TRUE(KeyMatches(StoredValue(integer, "9007199254740993.0"), key));
  // Whatever a device or a database hands over: a number taken for a number
  // column reads back as a number, and nothing grows out of bounds.
  const std::string junk = test::JunkBytes(5, 40000, 9) + "1e308\t-0e99999999\t.5E-3\t+7.\t";
  std::string_view rest = junk;
  while (!rest.empty()) {
    std::string_view text = rest.substr(0, rest.find('\t'));
    rest.remove_prefix(std::min(rest.size(), text.size() + 1));
    for (const Column* c : {&integer, &decimal, &money, &real, &date}) {
      Value v;
      if (ValueForColumn(*c, text, &v).ok() && c != &date) {
        EXPECT_TRUE(ParseNumber(PlainText(v), nullptr)) << PlainText(v);
        EXPECT_LT(PlainText(v).size(), text.size() + 400);
      }
      EXPECT_LE(ExportText(*c, StoredValue(*c, std::string(text))).size(), text.size() + 400);
    }
  }
  EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16("Caf\xE9 \x80 \x81")), "Caf\xE9 \x80 \x81");
  EXPECT_EQ(Utf8ToCp1252("Caf\xC3\xA9 \xE2\x82\xAC \xE4"), "Caf\xE9 \x80 \xE4");
}

// SQL Server is reached only through its dialect here: no server runs in the
// tests.
TEST(DatabaseDialectTest, SavepointsAndPassingErrorsByDatabase) {
  Dialect server = DialectFor("Microsoft SQL Server"), pg = DialectFor("PostgreSQL"),
          lite = DialectFor("SQLite");
  EXPECT_EQ(server.Savepoint("s1"), "SAVE TRANSACTION s1");
  EXPECT_EQ(server.RollbackTo("s1"), "ROLLBACK TRANSACTION s1");
  EXPECT_EQ(server.Release("s1"), "");
  EXPECT_FALSE(server.open_transaction.empty());
  EXPECT_EQ(pg.Savepoint("s1"), "SAVEPOINT s1");
  EXPECT_EQ(pg.RollbackTo("s1"), "ROLLBACK TO SAVEPOINT s1");
  EXPECT_EQ(pg.Release("s1"), "RELEASE SAVEPOINT s1");
  EXPECT_EQ(pg.row_id_column, "ctid");
  EXPECT_TRUE(lite.loosely_typed);
  struct {
    const Dialect& dialect;
    const char* state;
    long native;
    bool passes;
  } errors[] = {{pg, "57014", 0, true},   {pg, "55P03", 0, true},     {pg, "40P01", 0, true},
                {pg, "08006", 0, true},   {pg, "HYT00", 0, true},     {pg, "22003", 0, false},
                {pg, "42P01", 0, false},  {pg, "23505", 0, false},    {server, "HY000", 1222, true},
                {server, "40001", 1205, true}, {server, "HY000", 8152, false}, {lite, "HY000", 5, true},
                {lite, "HY000", 261, true},    {lite, "HY000", 19, false},     {pg, "HY000", 5, false}};
  for (const auto& e : errors) {
    EXPECT_EQ(IsPassingError(e.dialect, e.state, e.native), e.passes) << e.state << " " << e.native;
  }
}

}  // namespace
}  // namespace lumbra::database
