// The program as an administrator starts it.
#include <gtest/gtest.h>

#include "platform/env.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

const std::string kLumbra = LUMBRA_BINARY;

TEST(CommandLine, HelpVersionAndBadArguments) {
  std::string out;
  EXPECT_EQ(test::RunShell(kLumbra + " --version", &out), 0);
  EXPECT_EQ(out.rfind("lumbra ", 0), 0u);
  EXPECT_EQ(test::RunShell(kLumbra + " --help", &out), 0);
  EXPECT_NE(out.find("decode"), std::string::npos);
  EXPECT_EQ(test::RunShell(kLumbra + " --bogus 2>/dev/null"), 2);
  EXPECT_EQ(test::RunShell(kLumbra + " --dir 2>/dev/null"), 2);
  EXPECT_EQ(test::RunShell(kLumbra + " decode 2>/dev/null"), 2);
  EXPECT_EQ(test::RunShell(kLumbra + " encode extra 2>/dev/null"), 2);
}

TEST(CommandLine, EncodeAndDecodeRoundTrip) {
  test::TempDir dir;
  dir.Write("plain.txt", "Name\tAccount\nO'Brien Caf\xE9\t1 2\nlast");
  std::string coded, decoded, warning;
  ASSERT_EQ(test::RunShell(kLumbra + " encode < " + dir.Path("plain.txt") + " 2>" +
                               dir.Path("err.txt"), &coded), 0);
  EXPECT_EQ(coded, test::Coded({"Name\tAccount", "O'Brien Caf\xE9\t1 2", "last"}));
  EXPECT_EQ(dir.Read("err.txt"), "");
  // A byte the coding folds is named on standard error.
  dir.Write("folded.txt", "M\xFCller\r\nplain\r\nJ\xFFrgen\r\n");
  ASSERT_EQ(test::RunShell(kLumbra + " encode < " + dir.Path("folded.txt") + " 2>&1 >" +
                               dir.Path("out.dat"), &warning), 0);
  EXPECT_EQ(dir.Read("out.dat"), test::Coded({"Muller", "plain", "Jyrgen"}));
  EXPECT_NE(warning.find("2 lines (the first: line 1) held bytes 252 to 255"), std::string::npos)
      << warning;
  dir.Write("t.dat", coded);
  ASSERT_EQ(test::RunShell(kLumbra + " decode " + dir.Path("t.dat") + " | cat", &decoded), 0);
  EXPECT_EQ(decoded, "Name\tAccount\nO'Brien Caf\xE9\t1 2\nlast\n");  // bytes kept off a terminal
  EXPECT_EQ(test::RunShell(kLumbra + " decode " + dir.Path("missing.dat") + " 2>/dev/null"), 1);
}

TEST(CommandLine, PassInAFolderAndSecondPassRefused) {
  test::TempDir dir;
  dir.MakeDir("2");
  EXPECT_EQ(test::RunShell(kLumbra + " --dir " + dir.path()), 0);
  EXPECT_EQ(dir.Read("2\\Customers.dat"), "");  // the placeholder comes after the copies
  EXPECT_EQ(dir.Read("1\\Customers.dat"), "c1\r\n");

  std::unique_ptr<FileLock> held;
  ASSERT_TRUE(Env::Default()->LockFile(dir.Path("Lumbra.lock"), &held).ok());
  std::string err;
  EXPECT_EQ(test::RunShell(kLumbra + " --dir " + dir.path() + " 2>&1", &err), 3);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
}

}  // namespace
}  // namespace lumbra
