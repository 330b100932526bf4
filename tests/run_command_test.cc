// Env::RunCommand on this platform.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/env.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

CommandSpec Shell(const std::string& script, std::string input = "") {
  CommandSpec command;
  command.argv = {"/bin/sh", "-c", script};
  command.input = std::move(input);
  command.silence_limit_ms = 20000;
  return command;
}

TEST(RunCommandTest, FeedsInputAndCollectsOutputAsBytes) {
  Env* env = Env::Default();
  CommandResult result;
  // Far more than a pipe holds in both directions: input and output must
  // flow at the same time.
  std::string input(3 << 20, 'x');
  input += std::string("\0\r\n\r tail", 9);
  ASSERT_TRUE(env->RunCommand(Shell("cat", input), &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kExited);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, input);

  // A program that never reads a large input: no SIGPIPE ends this process.
  ASSERT_TRUE(env->RunCommand(Shell("echo first >&2; echo second >&2; exit 3", input), &result).ok());
  EXPECT_EQ(result.exit_status, 3);
  EXPECT_EQ(result.first_error_line, "first");

  ASSERT_TRUE(env->RunCommand(Shell("kill -9 $$"), &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kSignaled);
  EXPECT_EQ(result.signal, 9);
}

TEST(RunCommandTest, EnvironmentAndFolder) {
  test::TempDir dir;
  ::setenv("LUMBRA_TEST_OLD", "old", 1);
  CommandSpec command = Shell("printf '%s|%s|%s' \"$LUMBRA_TEST_OLD\" \"$LUMBRA_TEST_NEW\" \"$(pwd)\"");
  command.environment = {{"LUMBRA_TEST_OLD", "replaced"}, {"LUMBRA_TEST_NEW", "a b"}};
  command.working_dir = dir.path();
  CommandResult result;
  ASSERT_TRUE(Env::Default()->RunCommand(command, &result).ok());
  EXPECT_EQ(result.output, "replaced|a b|" + dir.path());
  ::unsetenv("LUMBRA_TEST_OLD");

  command.argv = {"/nonexistent/program"};
  EXPECT_FALSE(Env::Default()->RunCommand(command, &result).ok());
  command.argv = {"/bin/sh", "-c", "true"};
  command.working_dir = dir.Path("missing");
  EXPECT_FALSE(Env::Default()->RunCommand(command, &result).ok());
}

TEST(RunCommandTest, LimitsKillTheWholeCommand) {
  Env* env = Env::Default();
  CommandResult result;
  // The background sleep keeps standard output open after the shell is
  // gone, silent; the limit ends it too.
  CommandSpec command = Shell("sleep 30 & echo partial; exit 0");
  command.silence_limit_ms = 300;
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(env->RunCommand(command, &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kTimedOut);
  EXPECT_EQ(result.output, "partial\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));  // not the sleep's 30

  // Slow but never silent for long, on either output: it runs to its end,
  // well past the limit in all.
  for (const char* to : {"", ">&2"}) {
    command = Shell(std::string("for i in 1 2 3 4 5 6; do echo $i ") + to + "; sleep 0.3; done");
    command.silence_limit_ms = 1500;
    ASSERT_TRUE(env->RunCommand(command, &result).ok());
    EXPECT_EQ(result.end, CommandResult::End::kExited) << to;
  }

  // A flood on either stream, which the silence limit never stops.
  for (const char* flood : {"yes", "yes >&2"}) {
    command = Shell(flood);
    command.output_limit = 100000;
    ASSERT_TRUE(env->RunCommand(command, &result).ok());
    EXPECT_EQ(result.end, CommandResult::End::kOutputTooLarge) << flood;
  }
  // Exactly at the limit is within it.
  command.argv[2] = "head -c 100000 /dev/zero";
  ASSERT_TRUE(env->RunCommand(command, &result).ok());
  EXPECT_EQ(result.end, CommandResult::End::kExited);
  EXPECT_EQ(result.output.size(), 100000u);
}

}  // namespace
}  // namespace lumbra
