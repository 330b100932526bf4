#include "backends/myob/myob.h"

namespace lumbra {

// The text-file back-ends live in myob_text_export.cc (export) and
// myob_sale_files.cc (import files); the ODBC export in myob_odbc_export.cc.

}  // namespace lumbra
