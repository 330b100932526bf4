#include "platform/win_api.h"

#include <cstdlib>

#include "platform/process_end.h"

namespace lumbra {

// ExitProcess, where std::_Exit leads, would first run every loaded DLL's
// detach code; TerminateProcess ends the process without it.
void EndProcessAtOnce(int status) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  std::_Exit(status);  // not reached
}

}  // namespace lumbra
