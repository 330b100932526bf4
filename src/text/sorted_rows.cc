#include "text/sorted_rows.h"

#include <algorithm>

#include "text/collation.h"

namespace lumbra {

void SortedRows::Clear() {
  entries_.clear();
  sorted_ = true;
}

void SortedRows::Add(std::string_view row) {
  Entry e;
  e.key_and_row = CollationKey(row);
  e.key_size = e.key_and_row.size();
  e.key_and_row.append(row);
  entries_.push_back(std::move(e));
  sorted_ = false;
}

std::string_view SortedRows::At(size_t index) const {
  SortIfNeeded();
  const Entry& e = entries_.at(index);
  return std::string_view(e.key_and_row).substr(e.key_size);
}

void SortedRows::SortIfNeeded() const {
  if (sorted_) return;
  std::sort(entries_.begin(), entries_.end(),
            [](const Entry& a, const Entry& b) { return a.key_and_row < b.key_and_row; });
  sorted_ = true;
}

}  // namespace lumbra
