#include <unistd.h>

#include "run/cli.h"
#include "platform/env.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  lumbra::CliStreams io;
  io.out_is_terminal = ::isatty(STDOUT_FILENO) != 0;
  return lumbra::RunCommandLine(lumbra::Env::Default(), args, io);
}
