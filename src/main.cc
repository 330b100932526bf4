#include <cstdio>

#include "platform/env.h"
#include "platform/program_start.h"
#include "run/cli.h"
#include "run/run_driver.h"

int LUMBRA_MAIN(int argc, lumbra::ArgChar** argv) {
  lumbra::ProgramStart start;
  lumbra::Status s = lumbra::ReadProgramStart(argc, argv, &start);
  if (!s.ok()) {
    std::fprintf(stderr, "lumbra: %s\n", s.ToString().c_str());
    return lumbra::kExitUsage;
  }
  lumbra::CliStreams io;
  io.out_is_terminal = start.out_is_terminal;
  return lumbra::RunCommandLine(lumbra::Env::Default(), start.args, io);
}
