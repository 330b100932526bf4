// The tables and views a database lists, and names looked up as the
// database itself resolves them: a name it holds exactly, or else the one
// name that differs from it only in letter case (SQLite compares names
// without regard to case; PostgreSQL stores a name written without quotes
// in small letters). Two or more such names are ambiguous and refused.
#ifndef LUMBRA_BACKENDS_DATABASE_CATALOGUE_H_
#define LUMBRA_BACKENDS_DATABASE_CATALOGUE_H_

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "backends/database/value.h"
#include "platform/status.h"

namespace lumbra::database {

class Catalogue {
 public:
  // view: a view rather than a base table.
  void Add(std::string name, bool view);
  bool empty() const { return exact_.empty(); }

  // The catalogue's spelling of name, and whether it is a view. NotFound
  // when there is none; InvalidArgument when several names differ from it
  // only in letter case.
  Status Resolve(std::string_view name, std::string* spelling, bool* view) const;

 private:
  std::unordered_map<std::string, bool> exact_;
  std::unordered_map<std::string, std::vector<std::string>> folded_;
};

// The position of the column that name means, by the same rule.
Status ResolveColumn(std::span<const Column> columns, std::string_view name, size_t* index);

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_CATALOGUE_H_
