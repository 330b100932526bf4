// The command line: a pass (no arguments, or --dir DIR), and the
// administrator's tools that run no pass (decode, encode, dbf).
#ifndef LUMBRA_RUN_CLI_H_
#define LUMBRA_RUN_CLI_H_

#include <cstdio>
#include <string>
#include <vector>

namespace lumbra {

class Env;

struct CliStreams {
  FILE* in = stdin;
  FILE* out = stdout;
  FILE* err = stderr;
  // Device text is shown as UTF-8 when the output is a terminal.
  bool out_is_terminal = false;
};

// Returns the process's exit status.
int RunCommandLine(Env* env, const std::vector<std::string>& args, const CliStreams& io);

}  // namespace lumbra

#endif  // LUMBRA_RUN_CLI_H_
