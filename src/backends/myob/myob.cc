#include "backends/myob/myob.h"

namespace lumbra {

// Not built yet: nothing is written and the devices keep their tables.
void ExportMyobTextFiles(RunContext&) {}
void WriteMyobSaleFiles(RunContext&, int, int) {}
void ExportMyobOdbc(RunContext&) {}

}  // namespace lumbra
