#include "tables/table_writer.h"

#include <gtest/gtest.h>

#include "support/test_util.h"

namespace lumbra {
namespace {

class TableWriterTest : public ::testing::Test {
 protected:
  TableWriterTest() { dir_.MakeDir("1"); }
  test::TempDir dir_;
};

TEST_F(TableWriterTest, WritesCodedHeaderThenEachDistinctRowInOrder) {
  test::TestRun run(dir_);
  for (const char* row : {"b", "a", "a", "Smith\tx", "SMITH\tx", ""}) run.ctx().RowBuffer.Add(row);
  ASSERT_TRUE(WriteTable(run.ctx(), "Employee", "Employee\t").ok());
  EXPECT_EQ(dir_.Read("1\\Employee.dat"),
            test::Coded({"Employee\t", "a", "b", "SMITH\tx", "Smith\tx"}));
  EXPECT_EQ(dir_.Read("1\\Employee.dat").substr(0, 11), "Iqtps}ii \r\n");  // final tab stored as a space
  EXPECT_EQ(run.ctx().RowBuffer.Count(), 6u);  // the buffer is not drained
}

TEST_F(TableWriterTest, EmptyBufferLeavesAnExistingTableUntouched) {
  const std::string old = "old bytes\r\nwithout coding";
  dir_.Write("1\\Jobs.dat", old);
  test::TestRun run(dir_);
  EXPECT_TRUE(WriteTable(run.ctx(), "Jobs", "Jobno").ok());
  EXPECT_EQ(dir_.Read("1\\Jobs.dat"), old);
  EXPECT_TRUE(WriteTable(run.ctx(), "Activity", "Code").ok());
  EXPECT_FALSE(dir_.Exists("1\\Activity.dat"));
}

TEST_F(TableWriterTest, FailedWriteKeepsTheOlderTableAndIsLogged) {
  dir_.Write("1\\Customers.dat", "older");
  test::FaultEnv env([](std::string_view op, const std::string&) { return op == "WriteFile"; });
  test::TestRun run(dir_, &env);
  run.ctx().RowBuffer.Add("new");
  EXPECT_FALSE(WriteTable(run.ctx(), "Customers", "Name").ok());
  EXPECT_EQ(dir_.Read("1\\Customers.dat"), "older");
  EXPECT_NE(dir_.Read("Lumbra.log").find("1\\Customers.dat not written"), std::string::npos);
}

TEST_F(TableWriterTest, WritesUnderTheProgramFolder) {
  test::TempDir program;
  program.MakeDir("1");
  RunLog log(Env::Default(), "");
  RunContext ctx(Env::Default(), &log, dir_.path(), program.path());
  ctx.RowBuffer.Add("x");
  ASSERT_TRUE(WriteTable(ctx, "Freight", "Freighttype").ok());
  EXPECT_TRUE(program.Exists("1\\Freight.dat"));
  EXPECT_FALSE(dir_.Exists("1\\Freight.dat"));
}

}  // namespace
}  // namespace lumbra
