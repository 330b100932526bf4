// SortedRows: a list of text rows kept in the devices' order (see
// collation.h; rows the collation finds equal are ordered by their bytes).
// The exporters collect a table's rows here and the table writer reads them
// back by index. Each row's sort key is computed once, when it is added, and
// the list is sorted once, when it is first read after a change.
#ifndef LUMBRA_TEXT_SORTED_ROWS_H_
#define LUMBRA_TEXT_SORTED_ROWS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra {

class SortedRows {
 public:
  void Clear();
  void Add(std::string_view row);
  size_t Count() const { return entries_.size(); }
  // The row at a 0-based index, in sorted order. Valid until the next change.
  std::string_view At(size_t index) const;

 private:
  // The row's key followed by the row itself: since a key ends with its only
  // zero byte, one byte comparison of two entries compares the keys first
  // and the rows second.
  struct Entry {
    std::string key_and_row;
    size_t key_size;
  };
  void SortIfNeeded() const;

  mutable std::vector<Entry> entries_;
  mutable bool sorted_ = true;
};

}  // namespace lumbra

#endif  // LUMBRA_TEXT_SORTED_ROWS_H_
