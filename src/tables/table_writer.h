// WriteTable: turns the rows collected in RowBuffer into the device table
// "1\<name>.dat" under the program's folder: the coded header, then each
// distinct row once, in sorted order.
#ifndef LUMBRA_TABLES_TABLE_WRITER_H_
#define LUMBRA_TABLES_TABLE_WRITER_H_

#include <string>

#include "run/status.h"

namespace lumbra {

struct RunContext;

// An empty RowBuffer writes nothing and leaves any existing file untouched.
// RowBuffer is not cleared. The result is for the caller's information only:
// a table that cannot be written is logged, and the devices keep the copy
// they have.
Status WriteTable(RunContext& ctx, const std::string& name, const std::string& header);

}  // namespace lumbra

#endif  // LUMBRA_TABLES_TABLE_WRITER_H_
