#include "backends/database/catalogue.h"

namespace lumbra::database {
namespace {

// Letter case folded as the databases fold identifiers: ASCII letters only.
std::string Folded(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

Status Ambiguous(std::string_view what, std::string_view name,
                 const std::vector<std::string>& matches) {
  std::string list;
  for (const std::string& m : matches) list += (list.empty() ? "" : ", ") + m;
  return Status::InvalidArgument(std::string(what) + " name " + std::string(name) +
                                 " is ambiguous: it matches " + list);
}

}  // namespace

void Catalogue::Add(std::string name, bool view) {
  if (exact_.count(name)) return;
  folded_[Folded(name)].push_back(name);
  exact_.emplace(std::move(name), view);
}

Status Catalogue::Resolve(std::string_view name, std::string* spelling, bool* view) const {
  auto exact = exact_.find(std::string(name));
  if (exact == exact_.end()) {
    auto folded = folded_.find(Folded(name));
    if (folded == folded_.end()) {
      return Status::NotFound("no table named " + std::string(name) + " in the database");
    }
    if (folded->second.size() > 1) return Ambiguous("table", name, folded->second);
    exact = exact_.find(folded->second.front());
  }
  *spelling = exact->first;
  *view = exact->second;
  return Status::OK();
}

Status ResolveColumn(std::span<const Column> columns, std::string_view name, size_t* index) {
  std::vector<std::string> matches;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == name) {
      *index = i;
      return Status::OK();
    }
    if (EqualsIgnoringCase(columns[i].name, name)) {
      *index = i;
      matches.push_back(columns[i].name);
    }
  }
  if (matches.empty()) return Status::NotFound("no such column");
  if (matches.size() > 1) return Ambiguous("column", name, matches);
  return Status::OK();
}

}  // namespace lumbra::database
