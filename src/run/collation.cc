// Placeholder until the measured weight table lands: plain byte order.
#include "run/collation.h"

namespace lumbra {

std::string CollationKey(std::string_view row) {
  std::string key(row);
  key.push_back('\0');
  return key;
}

int CompareRows(std::string_view a, std::string_view b) {
  int c = CollationKey(a).compare(CollationKey(b));
  if (c != 0) return c;
  return a.compare(b);
}

}  // namespace lumbra
