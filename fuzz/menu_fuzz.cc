// The devices' menu "1\menu.xml", which names the tables the database
// export writes as files.
#include <set>
#include <string>

#include "backends/database/menu_export.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  std::vector<std::string> tables = database::ReadMenuTables(fuzz::Bytes(data, size));
  fuzz::Require(tables.size() <= database::kMaxMenuTables, "more menu tables than allowed");
  std::set<std::string> seen;
  for (const std::string& table : tables) {
    fuzz::Require(!table.empty() && seen.insert(table).second, "an empty or repeated table");
    if (database::IsSafeTableFileName(table)) {
      fuzz::Require(table.find_first_of("/\\") == std::string::npos &&
                        table.find("..") == std::string::npos,
                    "a table name that leaves the folder passed as safe");
    }
  }
  return 0;
}
