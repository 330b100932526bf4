// The order in which the devices keep their sorted tables: the ascending,
// case-insensitive order of a Windows sorted list box over Windows-1252
// bytes ("word sort": hyphens and apostrophes count only when all else is
// equal).
#ifndef LUMBRA_TEXT_COLLATION_H_
#define LUMBRA_TEXT_COLLATION_H_

#include <string>
#include <string_view>

namespace lumbra {

// The row's sort key: two rows are in list order exactly when their keys are
// in plain byte order. Equal keys mean equal rows under the collation. Every
// key ends with one zero byte and holds no other.
std::string CollationKey(std::string_view row);

// <0, 0 or >0: the collation first, then, for rows it finds equal, plain byte
// order, so that identical rows and only they compare 0.
int CompareRows(std::string_view a, std::string_view b);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_COLLATION_H_
