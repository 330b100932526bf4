// The layouts of the accounting package's tables that the Aurora back-end
// reads and writes, as a new installation (the demo, the benchmark, the
// tests) creates them. The pass itself takes whatever layout it finds and
// reaches fields by name.
#ifndef LUMBRA_BACKENDS_AURORA_AURORA_LAYOUTS_H_
#define LUMBRA_BACKENDS_AURORA_AURORA_LAYOUTS_H_

#include <string>
#include <string_view>
#include <vector>

#include "backends/aurora/aurora_dbf_writer.h"
#include "backends/aurora/cdx_writer.h"
#include "platform/status.h"

namespace lumbra {

class Env;

// The file names of the tables, as the pass opens them.
inline constexpr std::string_view kAuroraTableFiles[] = {
    "DMASTER.DBF", "STKBALS.DBF", "STOCK.DBF", "INVIDX.DBF",
    "OLDINV.DBF",  "CMASTER.DBF", "TABLES.DBF", "Flags.dbf"};

// The columns of the named table file (one of kAuroraTableFiles); empty for
// any other name.
const std::vector<DbfColumn>& AuroraLayout(std::string_view file_name);

// The tags of the table's structural index that the accounting package
// keeps: customers by account and by name, stock items by code and by
// description, balances by code, invoices by number and by customer and
// date, invoice lines by invoice link and by item code. Empty for the
// other tables.
const std::vector<IndexTagSpec>& AuroraIndexTags(std::string_view file_name);

// Writes the named table into folder dir with its layout and, unless told
// otherwise, its structural index.
Status WriteAuroraTable(Env* env, const std::string& dir, std::string_view file_name,
                        const std::vector<DbfRecord>& records, bool with_index = true);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_AURORA_LAYOUTS_H_
