#include "backends/aurora/aurora.h"

namespace lumbra {

// Not built yet: the export writes nothing and the devices keep their tables.
void ExportAuroraData(RunContext&) {}
void PostAuroraTransactions(RunContext&) {}

}  // namespace lumbra
