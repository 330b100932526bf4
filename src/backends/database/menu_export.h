// The export of the database back-ends: the devices' menu "1\menu.xml"
// names the tables they use; each is written whole, every column and every
// row, as the device table "1\<table>.dat", whose header is the table's own
// column names, and copied into every existing device folder.
#ifndef LUMBRA_BACKENDS_DATABASE_MENU_EXPORT_H_
#define LUMBRA_BACKENDS_DATABASE_MENU_EXPORT_H_

#include <string>
#include <string_view>
#include <vector>

namespace lumbra {

struct RunContext;

namespace database {

class Connection;

inline constexpr std::string_view kMenuFile = "1\\menu.xml";
inline constexpr size_t kMaxMenuTables = 100;

// The table names of a menu, in order, each once, at most kMaxMenuTables.
// Per line: field 1's first character is the level (a digit, else 0);
// field 3 is the table name, less its first two characters (a prefix) when
// the level is above 0. Empty names are passed over.
std::vector<std::string> ReadMenuTables(std::string_view menu_text);

// Whether a menu name can serve as a file name in folder "1\" and the device
// folders: not empty, no folder separator, no "..".
bool IsSafeTableFileName(std::string_view name);

// Writes "1\<table>.dat" from the database table that the menu's name
// resolves to; true when the file was written. A name the database does not
// resolve, or a query the database refuses, gives a file holding only an
// empty header line; a table without records, its header line alone; a
// table whose reading fails on the way, the records read until then. A
// time-out, a lock, a busy database or a lost connection leaves the older
// file in place. Numbers in currency columns are written "$0.00", nulls
// empty.
bool ExportTable(RunContext& ctx, Connection* connection, const std::string& table);

}  // namespace database
}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_DATABASE_MENU_EXPORT_H_
