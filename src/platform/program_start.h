// What a program's entry point learns of its own start, the same on every
// platform: the arguments as the system's bytes and the kind of standard
// output. Entry points are written
//
//   int LUMBRA_MAIN(int argc, lumbra::ArgChar** argv) {
//     lumbra::ProgramStart start;
//     lumbra::Status s = lumbra::ReadProgramStart(argc, argv, &start);
//
// which is wmain on Windows, where the command line arrives in UTF-16.
#ifndef LUMBRA_PLATFORM_PROGRAM_START_H_
#define LUMBRA_PLATFORM_PROGRAM_START_H_

#include <string>
#include <vector>

#include "platform/status.h"

#ifdef _WIN32
#define LUMBRA_MAIN wmain
#else
#define LUMBRA_MAIN main
#endif

namespace lumbra {

#ifdef _WIN32
using ArgChar = wchar_t;
#else
using ArgChar = char;
#endif

struct ProgramStart {
  // The arguments after the program's name; on Windows as Windows-1252.
  std::vector<std::string> args;
  // Standard output is a terminal (a console on Windows), which shows UTF-8.
  bool out_is_terminal = false;
};

// Reads the arguments and makes standard input and output carry exact bytes
// (Windows would otherwise turn "\n" into CR LF and stop reading at ^Z).
// Fails for an argument that Windows-1252 cannot hold.
Status ReadProgramStart(int argc, ArgChar** argv, ProgramStart* start);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_PROGRAM_START_H_
