#include "backends/myob/myob.h"

namespace lumbra {

// The text-file back-ends live in myob_text_export.cc (export) and
// myob_sale_files.cc (import files).

// Not built yet: nothing is written and the devices keep their tables.
void ExportMyobOdbc(RunContext&) {}

}  // namespace lumbra
