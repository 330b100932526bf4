#include "backends/quickbooks/quickbooks.h"

namespace lumbra {

// Not built yet: nothing is written and the devices keep their tables.
void ExportQuickBooksIif(RunContext&) {}
void ExportQuickBooksQbxml(RunContext&) {}

}  // namespace lumbra
