// The program as an administrator starts it.
#include <gtest/gtest.h>

#include "platform/env.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

using test::Lumbra;
using test::RunProgram;

TEST(CommandLine, HelpVersionAndBadArguments) {
  std::string out;
  EXPECT_EQ(RunProgram(Lumbra({"--version"}), &out), 0);
  EXPECT_EQ(out.rfind("lumbra ", 0), 0u);
  EXPECT_EQ(RunProgram(Lumbra({"--help"}), &out), 0);
  EXPECT_NE(out.find("decode"), std::string::npos);
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--bogus"}, {"--dir"}, {"decode"}, {"encode", "extra"},
        {"--no-dialogs", "--no-dialogs"}, {"--dir", "a", "--dir", "b"}}) {
    EXPECT_EQ(RunProgram(Lumbra(bad)), 2) << bad[0];
  }
}

TEST(CommandLine, EncodeAndDecodeRoundTrip) {
  test::TempDir dir;
  CommandSpec encode = Lumbra({"encode"});
  encode.input = "Name\tAccount\nO'Brien Caf\xE9\t1 2\nlast\x1A";
  std::string coded, folded, decoded, warning;
  ASSERT_EQ(RunProgram(encode, &coded, &warning), 0);
  // Exact bytes both ways, on Windows too: no CR added, none taken, ^Z kept.
  EXPECT_EQ(coded, test::Coded({"Name\tAccount", "O'Brien Caf\xE9\t1 2", "last\x1A"}));
  EXPECT_EQ(warning, "");
  // A byte the coding folds is named on standard error.
  encode.input = "M\xFCller\r\nplain\r\nJ\xFFrgen\r\n";
  ASSERT_EQ(RunProgram(encode, &folded, &warning), 0);
  EXPECT_EQ(folded, test::Coded({"Muller", "plain", "Jyrgen"}));
  EXPECT_NE(warning.find("2 lines (the first: line 1) held bytes 252 to 255"), std::string::npos)
      << warning;
  dir.Write("t.dat", coded);
  ASSERT_EQ(RunProgram(Lumbra({"decode", dir.Path("t.dat")}), &decoded), 0);
  EXPECT_EQ(decoded, "Name\tAccount\nO'Brien Caf\xE9\t1 2\nlast\x1A\n");  // bytes kept off a terminal
  EXPECT_EQ(RunProgram(Lumbra({"decode", dir.Path("missing.dat")})), 1);
}

// The MYOB ODBC export fails (no such company file): its error goes to
// standard error, never into a box that nobody at this machine could see
// (no display, or --no-dialogs), and the pass ends.
TEST(CommandLine, PassInAFolderAndSecondPassRefused) {
  test::TempDir dir, other;
  dir.MakeDir("2");
  dir.Write("filestats.dat", test::Coded({"/no/such/company.myo", "user", "pw"}));
  std::string err;
  for (bool no_dialogs : {false, true}) {
    CommandSpec pass = Lumbra({"--dir", dir.path()});
    if (no_dialogs) pass.argv.push_back("--no-dialogs");
    EXPECT_EQ(RunProgram(pass, nullptr, &err), 0);
    EXPECT_NE(err.find("MYOB ODBC export stopped"), std::string::npos) << err;
    // The placeholder comes after the copies: device 2 gets it a pass later.
    EXPECT_EQ(dir.Read("2\\Customers.dat"), no_dialogs ? "c1\r\n" : "");
    EXPECT_EQ(dir.Read("1\\Customers.dat"), "c1\r\n");
  }

  std::unique_ptr<FileLock> held;
  ASSERT_TRUE(Env::Default()->LockFile(dir.Path("Lumbra.lock"), &held).ok());
  EXPECT_EQ(RunProgram(Lumbra({"--dir", dir.path()}), nullptr, &err), 3);
  EXPECT_NE(err.find("already running"), std::string::npos) << err;
  // Another installation's pass is no other pass of this one.
  EXPECT_EQ(RunProgram(Lumbra({"--dir", other.path()})), 0);
}

}  // namespace
}  // namespace lumbra
