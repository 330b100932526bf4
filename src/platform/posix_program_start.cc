#include <unistd.h>

#include "platform/program_start.h"

namespace lumbra {

Status ReadProgramStart(int argc, ArgChar** argv, ProgramStart* start) {
  start->args.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
  start->out_is_terminal = ::isatty(STDOUT_FILENO) != 0;
  return Status::OK();
}

}  // namespace lumbra
