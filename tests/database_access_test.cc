// The database access layer against real SQLite files through the SQLite3
// ODBC driver: where DataPath leads, recordsets, the text forms of values and
// the row an update reaches.
#include <gtest/gtest.h>

#include <memory>

#include "backends/database/connection.h"
#include "backends/database/data_source.h"
#include "backends/database/database.h"
#include "backends/database/recordset.h"
#include "backends/database/value.h"
#include "run/run_context.h"
#include "support/odbc_test_util.h"
#include "support/test_util.h"

namespace lumbra::database {
namespace {

class DatabaseAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = dir_.Path("shop.db");
    ASSERT_TRUE(test::MakeSqliteFile(
                    db_, {"CREATE TABLE Items (Code TEXT PRIMARY KEY, Price MONEY, Qty INTEGER, "
                          "Weight REAL, Added DATE, Seen TIMESTAMP, Note TEXT)",
                          "INSERT INTO Items VALUES ('A1', 3.5, 7, 0.1, '2006-03-05', "
                          "'2006-03-05 09:05:00', 'x')",
                          "INSERT INTO Items VALUES ('B2', NULL, NULL, NULL, NULL, "
                          "'2006-03-06 00:00:00', NULL)",
                          "CREATE TABLE Loose (K TEXT, V TEXT)",
                          "INSERT INTO Loose VALUES ('k', 'one')",
                          "INSERT INTO Loose VALUES ('k', 'two')",
                          "CREATE TABLE Empty (K TEXT, V TEXT)"})
                    .ok());
    ASSERT_TRUE(Connection::Open(test::SqliteConnectionString(db_), &conn_).ok());
  }
  std::vector<std::string> Rows(const std::string& sql) {
    return test::QueryRows(test::SqliteConnectionString(db_), sql);
  }

  test::TempDir dir_;
  std::string db_;
  std::unique_ptr<Connection> conn_;
};

TEST_F(DatabaseAccessTest, DataPathLeadsToTheDriverByTheFilesHeader) {
  Env* env = Env::Default();
  DataSource source;
  // An SQLite file is known by its header, whatever its name.
  ASSERT_TRUE(test::MakeSqliteFile(dir_.Path("named.mdb"), {"CREATE TABLE T (A TEXT)"}).ok());
  ASSERT_TRUE(ResolveDataSource(env, "named.mdb", dir_.Path("named.mdb"), &source).ok());
  EXPECT_EQ(source.kind, DataSourceKind::kSqliteFile);
  EXPECT_NE(source.connection_string.find("Driver={SQLite3}"), std::string::npos);

  std::string jet(0x800, '\0');
  jet.replace(4, 15, "Standard Jet DB");
  dir_.Write("old.mdb", jet);
  ASSERT_TRUE(ResolveDataSource(env, "old.mdb", dir_.Path("old.mdb"), &source).ok());
  EXPECT_EQ(source.kind, DataSourceKind::kAccessFile);
  EXPECT_NE(source.connection_string.find("Driver={MDBTools}"), std::string::npos);

  ASSERT_TRUE(ResolveDataSource(env, "DSN=shop;PWD=secret", "", &source).ok());
  EXPECT_EQ(source.connection_string, "DSN=shop;PWD=secret");
  EXPECT_EQ(source.description.find("secret"), std::string::npos);

  dir_.Write("notes.txt", "plain text, no database");
  EXPECT_TRUE(ResolveDataSource(env, "notes.txt", dir_.Path("notes.txt"), &source).IsNotSupported());
  EXPECT_TRUE(ResolveDataSource(env, "gone.mdb", dir_.Path("gone.mdb"), &source).IsNotFound());
}

TEST_F(DatabaseAccessTest, OpeningTheConnectionLogsWhyItFailed) {
  test::TestRun run(dir_);
  RunContext& ctx = run.ctx();
  ctx.DataPath = "missing.mdb";
  OpenDatabaseConnection(ctx);
  EXPECT_EQ(ctx.DbConnection, nullptr);
  ctx.DataPath = "Driver={NoSuchDriver};Database=x";
  OpenDatabaseConnection(ctx);
  EXPECT_EQ(ctx.DbConnection, nullptr);
  ctx.DataPath = "shop.db";
  OpenDatabaseConnection(ctx);
  ASSERT_NE(ctx.DbConnection, nullptr);
  EXPECT_TRUE(ctx.DbConnection->IsOpen());
  std::string log = dir_.Read("Lumbra.log");
  EXPECT_NE(log.find("missing.mdb cannot be read"), std::string::npos) << log;
  EXPECT_NE(log.find("NoSuchDriver"), std::string::npos) << log;
  EXPECT_NE(log.find("database opened: SQLite file"), std::string::npos) << log;
}

TEST_F(DatabaseAccessTest, RecordsetReadsEveryRowWithNamesTypesAndTextForms) {
  Recordset rs;
  ASSERT_TRUE(rs.Open(conn_.get(), "Items", CursorType::kStatic).ok());
  EXPECT_EQ(rs.RecordCount(), 2);
  ASSERT_EQ(rs.FieldCount(), 7u);
  EXPECT_EQ(rs.FieldName(1), "Price");
  EXPECT_EQ(rs.FieldIndex("qty"), 2);
  EXPECT_EQ(rs.FieldIndex("Nope"), -1);
  EXPECT_TRUE(rs.FieldColumn(1).currency());
  EXPECT_FALSE(rs.FieldColumn(3).currency());

  std::vector<std::string> first, second;
  for (size_t i = 0; i < rs.FieldCount(); ++i) first.push_back(ExportText(rs.FieldColumn(i), rs.FieldValue(i)));
  ASSERT_TRUE(rs.MoveNext().ok());
  for (size_t i = 0; i < rs.FieldCount(); ++i) second.push_back(ExportText(rs.FieldColumn(i), rs.FieldValue(i)));
  ASSERT_TRUE(rs.MoveNext().ok());
  EXPECT_TRUE(rs.Eof());
  EXPECT_EQ(first, (std::vector<std::string>{"A1", "$3.50", "7", "0.1", "2006-03-05",
                                             "2006-03-05 09:05:00", "x"}));
  EXPECT_EQ(second, (std::vector<std::string>{"B2", "", "", "", "", "2006-03-06", ""}));
  EXPECT_TRUE(rs.MoveFirst().ok());
  EXPECT_EQ(PlainText(rs.FieldValue(0)), "A1");

  Recordset empty;
  ASSERT_TRUE(empty.Open(conn_.get(), "Empty", CursorType::kStatic).ok());
  EXPECT_EQ(empty.RecordCount(), 0);
  EXPECT_TRUE(empty.Eof());
  EXPECT_FALSE(empty.MoveFirst().ok());
}

TEST_F(DatabaseAccessTest, OnlyTablesOfTheCatalogueReachTheDatabase) {
  Recordset rs;
  EXPECT_TRUE(rs.Open(conn_.get(), "items", CursorType::kStatic).IsNotFound());
  EXPECT_TRUE(rs.Open(conn_.get(), "Items; DROP TABLE Items", CursorType::kStatic).IsNotFound());
  EXPECT_TRUE(rs.Open(nullptr, "Items", CursorType::kStatic).IsIOError());
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Items"), std::vector<std::string>{"2"});
}

TEST_F(DatabaseAccessTest, AddNewAndUpdateBindValuesAndChangeExactlyTheRow) {
  Recordset rs;
  ASSERT_TRUE(rs.Open(conn_.get(), "Items", CursorType::kStatic).ok());
  ASSERT_TRUE(rs.AddNew().ok());
  ASSERT_TRUE(rs.SetField(0, "C3'); DROP TABLE Items; --").ok());
  ASSERT_TRUE(rs.SetField(1, "$2.25").ok());
  EXPECT_FALSE(rs.SetField(2, "many").ok());  // refused: not a number
  ASSERT_TRUE(rs.Update().ok());
  EXPECT_EQ(Rows("SELECT Code, Price, Qty FROM Items WHERE Price = 2.25"),
            std::vector<std::string>{"C3'); DROP TABLE Items; --|2.25|NULL"});

  // Without a primary key the row is named by all its original values, so a
  // second row with the same key value stays as it was.
  Recordset loose;
  ASSERT_TRUE(loose.Open(conn_.get(), "Loose", CursorType::kStatic).ok());
  ASSERT_TRUE(loose.MoveNext().ok());
  ASSERT_TRUE(loose.SetField(1, "TWO").ok());
  ASSERT_TRUE(loose.Update().ok());
  EXPECT_EQ(Rows("SELECT K, V FROM Loose ORDER BY rowid"),
            (std::vector<std::string>{"k|one", "k|TWO"}));

  // Two rows alike in every value: the change would reach both, so it is
  // refused and undone.
  ASSERT_TRUE(conn_->Run("INSERT INTO Loose VALUES ('k', 'one')").ok());
  ASSERT_TRUE(loose.Open(conn_.get(), "Loose", CursorType::kStatic).ok());
  ASSERT_TRUE(loose.SetField(1, "ONE").ok());
  EXPECT_FALSE(loose.Update().ok());
  EXPECT_EQ(Rows("SELECT V FROM Loose ORDER BY rowid"),
            (std::vector<std::string>{"one", "TWO", "one"}));
}

TEST_F(DatabaseAccessTest, ReadOnlyConnectionRefusesEveryWriteWithItsReason) {
  conn_->SetReadOnly("opened through a driver that can only read");
  Recordset rs;
  ASSERT_TRUE(rs.Open(conn_.get(), "Items", CursorType::kStatic).ok());
  Status s = rs.AddNew();
  EXPECT_TRUE(s.IsNotSupported());
  EXPECT_EQ(s.message(), "opened through a driver that can only read");
}

TEST(DatabaseValueTest, TextFormsAndTheValuesDevicesSend) {
  Column money;
  money.type_name = "smallMoney";
  ClassifyColumn(&money);
  EXPECT_TRUE(money.currency());
  Value v;
  ASSERT_TRUE(ValueForColumn(money, "-$3.5", &v).ok());
  EXPECT_EQ(ExportText(money, v), "-$3.50");
  EXPECT_EQ(ExportText(money, Value()), "");

  Column real;
  real.sql_type = 8;  // SQL_DOUBLE
  ClassifyColumn(&real);
  ASSERT_TRUE(ValueForColumn(real, "1e3", &v).ok());
  EXPECT_EQ(PlainText(v), "1000");
  EXPECT_FALSE(ValueForColumn(real, "12abc", &v).ok());

  Column date;
  date.sql_type = 91;  // SQL_TYPE_DATE
  ClassifyColumn(&date);
  ASSERT_TRUE(ValueForColumn(date, "05/03/2006", &v).ok());
  EXPECT_EQ(PlainText(v), "2006-03-05");
  EXPECT_FALSE(ValueForColumn(date, "2006-02-30", &v).ok());

  EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16("Caf\xE9 \x80 \x81")), "Caf\xE9 \x80 \x81");
  EXPECT_EQ(Utf8ToCp1252("Caf\xC3\xA9 \xE2\x82\xAC \xE4"), "Caf\xE9 \x80 \xE4");
}

}  // namespace
}  // namespace lumbra::database
