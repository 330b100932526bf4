#include <fcntl.h>
#include <io.h>
#include "platform/win_api.h"

#include <cstdio>
#include <cstdlib>

#include "platform/program_start.h"
#include "platform/win_text.h"

namespace lumbra {
namespace {

UINT console_code_page = 0;

void RestoreConsoleCodePage() { ::SetConsoleOutputCP(console_code_page); }

// The console shows what is written to it in its own code page: for the
// UTF-8 the program writes to a terminal, it is switched to UTF-8 while the
// program runs.
bool ShowUtf8OnConsole() {
  DWORD mode = 0;
  if (!::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return false;
  console_code_page = ::GetConsoleOutputCP();
  if (console_code_page != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
    std::atexit(RestoreConsoleCodePage);
  }
  return true;
}

}  // namespace

Status ReadProgramStart(int argc, ArgChar** argv, ProgramStart* start) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  start->args.clear();
  for (int i = 1; i < argc; ++i) {
    std::string arg;
    Status s = NarrowCp1252(argv[i], "argument " + std::to_string(i), &arg);
    if (!s.ok()) return s;
    start->args.push_back(std::move(arg));
  }
  start->out_is_terminal = ShowUtf8OnConsole();
  return Status::OK();
}

}  // namespace lumbra
