// Ending the process at once, from any thread, while another thread may be
// held inside a driver's call: no exit handlers, no flushing of C streams,
// and on Windows none of the loaded libraries' detach code either, which a
// held driver could keep waiting for ever.
#ifndef LUMBRA_PLATFORM_PROCESS_END_H_
#define LUMBRA_PLATFORM_PROCESS_END_H_

namespace lumbra {

[[noreturn]] void EndProcessAtOnce(int status);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_PROCESS_END_H_
