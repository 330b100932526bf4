// Env::RunCommand on Windows. Windows only.
#ifndef LUMBRA_PLATFORM_WIN_COMMAND_H_
#define LUMBRA_PLATFORM_WIN_COMMAND_H_

#include <string>
#include <vector>

#include "platform/env.h"

namespace lumbra {

// Starts the program with CreateProcessW inside a job object of its own, so
// a limit ends the program and every process it started; standard input,
// output and error are pipes this process serves all at once.
Status RunWindowsCommand(const CommandSpec& command, CommandResult* result);

// The command line that hands argv to a program as the C runtime splits it
// again (quotes around arguments with blanks, backslashes before quotes
// doubled).
std::wstring JoinCommandLine(const std::vector<std::wstring>& argv);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_WIN_COMMAND_H_
