#include "intake/intake.h"

#include "run/run_context.h"

namespace lumbra {

// Device files stay where the devices left them until the intake is built;
// nothing is taken in.
void TakeInTransactions(RunContext&) {}

}  // namespace lumbra
