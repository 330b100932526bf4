// lumbra_test_child: another program for the tests to start through
// Env::RunCommand, the same on every platform (no fork, no shell). Its first
// argument names what it does, from the table at the end; a test names the
// program by LUMBRA_TEST_CHILD (test::TestChild, test::ChildBeside).
//
// A new subcommand is one function taking the remaining arguments and
// returning the exit status, and one row of the table.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backends/aurora/table_engine.h"
#include "platform/env.h"
#include "platform/program_start.h"
#include "support/hooked_env.h"

namespace lumbra {
namespace {

using Args = std::vector<std::string>;

// The status a process ended "as by a kill" exits with.
constexpr int kKilledStatus = 77;

void Put(FILE* f, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

long Number(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

// cat: standard input to standard output, byte for byte.
int Cat(const Args&) {
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) std::fwrite(buf, 1, n, stdout);
  std::fflush(stdout);
  return 0;
}

// echo ARG...: each argument as it arrived, followed by a line feed.
int Echo(const Args& args) {
  std::string out;
  for (const std::string& arg : args) out += arg + "\n";
  Put(stdout, out);
  return 0;
}

// exit STATUS [LINE...]: each LINE on standard error, then ends with STATUS.
int Exit(const Args& args) {
  for (size_t i = 1; i < args.size(); ++i) Put(stderr, args[i] + "\n");
  return static_cast<int>(Number(args[0]));
}

// print-env NAME...: the value of each NAME, then the working folder,
// joined by "|".
int PrintEnv(const Args& args) {
  std::string out;
  for (const std::string& name : args) {
    std::string value;
    Env::Default()->GetEnvVar(name, &value);
    out += value + "|";
  }
  std::string folder;
  Env::Default()->GetWorkingDir(&folder);
  Put(stdout, out + folder);
  return 0;
}

// sleep MS [TEXT]: TEXT on standard output, then MS milliseconds of sleep.
int Sleep(const Args& args) {
  if (args.size() > 1) Put(stdout, args[1]);
  Env::Default()->SleepMicros(static_cast<uint64_t>(Number(args[0])) * 1000);
  return 0;
}

// write COUNT: COUNT bytes "y" on standard output; without end when COUNT
// is negative.
int Write(const Args& args) {
  long count = Number(args[0]);
  std::string chunk(1 << 16, 'y');
  for (long left = count; count < 0 || left > 0;) {
    size_t n = count < 0 ? chunk.size() : std::min<size_t>(chunk.size(), static_cast<size_t>(left));
    if (std::fwrite(chunk.data(), 1, n, stdout) != n) return 1;
    left -= static_cast<long>(n);
  }
  std::fflush(stdout);
  return 0;
}

// lock-range FILE OFFSET LENGTH MS READY: holds an exclusive byte-range
// lock of FILE (LockFileEx on Windows, as the accounting package takes
// it) for MS milliseconds, from the moment it has created the file READY.
int LockRange(const Args& args) {
  Env* env = Env::Default();
  std::unique_ptr<RandomRWFile> file;
  if (!env->OpenRandomRW(args[0], true, &file).ok()) return 1;
  uint64_t offset = static_cast<uint64_t>(std::strtoull(args[1].c_str(), nullptr, 10));
  uint64_t length = static_cast<uint64_t>(std::strtoull(args[2].c_str(), nullptr, 10));
  if (!file->LockRange(offset, length, true, 0).ok()) return 1;
  if (!env->WriteFile(args[4], "").ok()) return 1;
  env->SleepMicros(static_cast<uint64_t>(Number(args[3])) * 1000);
  return 0;
}

// run ARG...: this program once more with ARG, through Env::RunCommand,
// its output passed on: a command that started another process.
int Run(const Args& args) {
  std::string self;
  if (!Env::Default()->GetProgramPath(&self).ok()) return 1;
  CommandSpec command;
  command.argv = {self};
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  CommandResult result;
  if (!Env::Default()->RunCommand(command, &result).ok()) return 1;
  Put(stdout, result.output);
  return result.exit_status;
}

// dbf-change CHANGE TABLE N: makes CHANGE to TABLE (a table of fields NAME,
// QTY and NOTES) and ends at once, exit status 77, before the N-th write to
// the table or its memo file, as a kill there would; 0 when the change was
// complete first. CHANGE is "append" (a record with a memo) or "memo" (a
// longer memo for record 1).
int DbfChange(const Args& args) {
  dbftest::HookedEnv env;
  long left = Number(args[2]);
  env.before_write = [&left] {
    if (--left == 0) std::_Exit(kKilledStatus);
  };
  TableEngine engine(&env, nullptr);
  if (engine.Use(args[1], "t", TableEngine::kReadWrite, TableEngine::kDriverDbf) == 0) return 1;
  if (args[0] == "append") {
    engine.GoBottom();
    engine.Skip(1);
    engine.Replace("NAME", TableEngine::kValueOrdinary, "Dee");
    engine.Replace("NOTES", TableEngine::kValueMemo, "new note");
    engine.Append();
  } else if (args[0] == "memo") {
    engine.Replace("NOTES", TableEngine::kValueMemo, std::string(200, 'z'));
    engine.Commit();
  } else {
    return 2;
  }
  engine.Close();
  return 0;
}

struct Subcommand {
  const char* name;
  size_t min_args;
  int (*run)(const Args& args);
};

constexpr Subcommand kSubcommands[] = {
    {"cat", 0, Cat},
    {"echo", 0, Echo},
    {"exit", 1, Exit},
    {"print-env", 0, PrintEnv},
    {"sleep", 1, Sleep},
    {"write", 1, Write},
    {"lock-range", 5, LockRange},
    {"run", 1, Run},
    {"dbf-change", 3, DbfChange},
};

}  // namespace
}  // namespace lumbra

int LUMBRA_MAIN(int argc, lumbra::ArgChar** argv) {
  lumbra::ProgramStart start;
  if (!lumbra::ReadProgramStart(argc, argv, &start).ok() || start.args.empty()) return 2;
  lumbra::Args args(start.args.begin() + 1, start.args.end());
  for (const lumbra::Subcommand& sub : lumbra::kSubcommands) {
    if (start.args[0] == sub.name && args.size() >= sub.min_args) return sub.run(args);
  }
  std::fprintf(stderr, "lumbra_test_child: unknown subcommand or too few arguments\n");
  return 2;
}
