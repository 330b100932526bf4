// Reading how the rows of a table can be named, from the driver's catalogue
// functions: SQLPrimaryKeys, SQLSpecialColumns (SQL_BEST_ROWID) and
// SQLStatistics (unique indexes). Used by Connection, which keeps the answer
// for the pass.
#ifndef LUMBRA_BACKENDS_DATABASE_ROW_IDENTITY_H_
#define LUMBRA_BACKENDS_DATABASE_ROW_IDENTITY_H_

#include <string_view>
#include <vector>

#include "backends/database/connection.h"
#include "backends/database/value.h"
#include "platform/status.h"

namespace lumbra::database {

// What the driver tells of the table (catalogue spelling) with these
// columns, into *out. A view has no pseudo columns. A question the driver
// cannot answer leaves that part empty; the first such failure is returned.
Status ReadRowIdentity(Connection* connection, std::string_view table,
                       const std::vector<Column>& columns, bool view, RowIdentity* out);

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_ROW_IDENTITY_H_
