#include "backends/moneyworks/moneyworks.h"

namespace lumbra {

// Not built yet: nothing is written and the devices keep their tables.
void ExportMoneyWorks(RunContext&) {}

}  // namespace lumbra
