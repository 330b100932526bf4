// The platform's Env: RunCommand, with lumbra_test_peer as the program,
// a full disk told apart, and on Windows the names it converts.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#ifdef _WIN32
#include <filesystem>
#include <fstream>

#include "platform/win_text.h"
#endif
#include "platform/env.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

using test::Peer;

#ifndef _WIN32
CommandSpec Shell(const std::string& script) {
  CommandSpec command;
  command.argv = {"/bin/sh", "-c", script};
  return command;
}
#endif

CommandSpec Limited(CommandSpec command, std::string input = "") {
  command.input = std::move(input);
  command.silence_limit_ms = 20000;
  return command;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(RunCommandTest, FeedsInputAndCollectsOutputAsBytes) {
  Env* env = Env::Default();
  CommandResult result;
  // Far more than a pipe holds in both directions: input and output must
  // flow at the same time.
  std::string input(3 << 20, 'x');
  input += std::string("\0\r\n\r tail\x1A", 10);
  ASSERT_TRUE(env->RunCommand(Limited(Peer({"cat"}), input), &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kExited);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, input);

  // A program that never reads a large input: the writer here is not hurt.
  ASSERT_TRUE(env->RunCommand(Limited(Peer({"exit", "3", "first", "second"}), input), &result)
                  .ok());
  EXPECT_EQ(result.exit_status, 3);
  EXPECT_EQ(result.first_error_line, "first");

#ifndef _WIN32
  ASSERT_TRUE(env->RunCommand(Limited(Shell("kill -9 $$")), &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kSignaled);
  EXPECT_EQ(result.signal, 9);
#endif
}

TEST(RunCommandTest, ArgumentsEnvironmentAndFolder) {
  // Arguments arrive as given, whatever a Windows command line does with
  // blanks, quotes and backslashes before them.
  const std::vector<std::string> args = {"a b", "", "say \"hi\"", "C:\\dir\\", "\\\\\"x",
                                         "caf\xE9\t\x80"};
  CommandSpec echo = Peer({"echo"});
  echo.argv.insert(echo.argv.end(), args.begin(), args.end());
  std::string out;
  ASSERT_EQ(test::RunProgram(echo, &out), 0);
  std::string expected;
  for (const std::string& arg : args) expected += arg + "\n";
  EXPECT_EQ(out, expected);

  test::TempDir dir;
  // PATH is in every environment: the command's value replaces it.
  CommandSpec command = Peer({"print-env", "PATH", "LUMBRA_TEST_NEW"});
  command.environment = {{"PATH", "replaced"}, {"LUMBRA_TEST_NEW", "a b"}};
  command.working_dir = dir.path();
  CommandResult result;
  ASSERT_TRUE(Env::Default()->RunCommand(command, &result).ok());
  EXPECT_EQ(result.output, "replaced|a b|" + dir.path());

  command.argv = {dir.Path("missing-program")};
  EXPECT_FALSE(Env::Default()->RunCommand(command, &result).ok());
  command = Peer({"exit", "0"});
  command.working_dir = dir.Path("missing");
  EXPECT_FALSE(Env::Default()->RunCommand(command, &result).ok());
}

TEST(RunCommandTest, LimitsKillTheWholeCommand) {
  Env* env = Env::Default();
  CommandResult result;
  // Long enough for the program to start and write, even under Wine.
  CommandSpec command = Peer({"sleep", "30000", "partial"});
  command.silence_limit_ms = 1500;
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(env->RunCommand(command, &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kTimedOut);
  EXPECT_EQ(result.output, "partial");
  EXPECT_LT(SecondsSince(start), 10);  // not the sleep's 30

#ifdef _WIN32
  // A process the command started goes with it (the job object): the lock
  // it held is free at once.
  test::TempDir dir;
  dir.Write("table", "");
  command = Peer({"run", "hold", dir.Path("table"), "0", "30000", dir.Path("ready")});
  command.silence_limit_ms = 2000;
  ASSERT_TRUE(env->RunCommand(command, &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kTimedOut);
  ASSERT_TRUE(dir.Exists("ready"));
  std::unique_ptr<RandomRWFile> table;
  ASSERT_TRUE(env->OpenRandomRW(dir.Path("table"), true, &table).ok());
  EXPECT_TRUE(table->LockRange(0, 1, true, 1000).ok());
#else
  // The background sleep keeps standard output open after the shell is
  // gone, silent; the limit ends it too.
  command = Limited(Shell("sleep 30 & echo partial; exit 0"));
  command.silence_limit_ms = 300;
  start = std::chrono::steady_clock::now();
  ASSERT_TRUE(env->RunCommand(command, &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kTimedOut);
  EXPECT_LT(SecondsSince(start), 5);

  // Slow but never silent for long, on either output: it runs to its end,
  // well past the limit in all.
  for (const char* to : {"", ">&2"}) {
    command = Shell(std::string("for i in 1 2 3 4 5 6; do echo $i ") + to + "; sleep 0.3; done");
    command.silence_limit_ms = 1500;
    ASSERT_TRUE(env->RunCommand(command, &result).ok());
    EXPECT_EQ(result.end, CommandResult::End::kExited) << to;
  }

  // A flood on standard error, which the silence limit never stops.
  command = Shell("yes >&2");
  command.output_limit = 100000;
  ASSERT_TRUE(env->RunCommand(command, &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kOutputTooLarge);
#endif

  command = Peer({"write", "-1"});
  command.output_limit = 100000;
  ASSERT_TRUE(env->RunCommand(command, &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kOutputTooLarge);
  // Exactly at the limit is within it.
  command.argv.back() = "100000";
  ASSERT_TRUE(env->RunCommand(command, &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kExited);
  EXPECT_EQ(result.output.size(), 100000u);
}

#ifdef _WIN32
// Names reach Windows through code page 1252 and come back unchanged; a
// name that code page cannot hold is refused, or listed with "?", which no
// file name can hold, so it never opens another file.
TEST(WindowsNames, Cp1252BothWaysAndNothingByBestFit) {
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes.push_back(static_cast<char>(c));
  std::string back;
  ASSERT_TRUE(NarrowCp1252(WidenCp1252(bytes), "all bytes", &back).ok());
  EXPECT_EQ(back, bytes);
  Status s = NarrowCp1252(L"C:\\Users\u03b1\u03b2\\Lumbra", "the program's path", &back);
  EXPECT_TRUE(s.IsInvalidArgument());
  EXPECT_NE(s.message().find("C:\\Users??\\Lumbra"), std::string::npos) << s.ToString();

  test::TempDir dir;
  std::ofstream(std::filesystem::path(dir.path()) / L"\u03b1.txt") << "alpha";
  std::vector<DirEntry> entries;
  ASSERT_TRUE(Env::Default()->ListDir(dir.path(), &entries).ok());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "?.txt");
  EXPECT_FALSE(Env::Default()->FileExists(dir.Path("?.txt")));
  EXPECT_FALSE(Env::Default()->FileExists(dir.Path("a.txt")));  // no best fit
}
#endif

// A write that finds no space is a full disk, not any I/O error: a pass
// keeps the lines it could not place for the next one. Linux's /dev/full
// refuses every write so; Wine shows it on drive Z:.
TEST(FullDisk, AWriteWithNoSpaceLeftSaysSo) {
#ifdef _WIN32
  const std::string full = "Z:\\dev\\full";
#else
  const std::string full = "/dev/full";
  if (!Env::Default()->FileExists(full)) GTEST_SKIP() << "needs Linux's /dev/full";
#endif
  Status s = Env::Default()->AppendFile(full, "x");
  if (s.IsNotFound()) GTEST_SKIP() << "needs Linux's /dev/full (on drive Z: under Wine)";
  EXPECT_TRUE(s.IsDiskFull()) << s.ToString();
}

}  // namespace
}  // namespace lumbra
