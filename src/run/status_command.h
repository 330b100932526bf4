// `lumbra status [--dir DIR]`: the run report's summary and device rows as
// plain text, for a person at a terminal or a monitoring script.
#ifndef LUMBRA_RUN_STATUS_COMMAND_H_
#define LUMBRA_RUN_STATUS_COMMAND_H_

#include <string>
#include <vector>

#include "run/cli.h"

namespace lumbra {

class Env;

// Exit status: 0 when nothing needs attention; 1 when the folder cannot be
// used or holds no record of a pass; 2 for a wrong command line; else the
// sum of the kAttention values of run_overview.h that hold (8 the last pass
// failed, 16 rejected lines not yet handed back, 32 a device silent for a
// day, 64 lines kept for a day).
int ShowStatus(Env* env, const std::vector<std::string>& args, const CliStreams& io);

}  // namespace lumbra

#endif  // LUMBRA_RUN_STATUS_COMMAND_H_
