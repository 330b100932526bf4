#include "backends/database/database.h"

namespace lumbra {

// Not built yet: nothing is posted or exported, and every device file stays
// where it is.
void ExportDatabaseByMenu(RunContext&) {}
void PostDatabaseTransactions(RunContext&) {}
void OpenDatabaseConnection(RunContext&) {}

}  // namespace lumbra
