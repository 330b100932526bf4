#include "backends/aurora/flatten_memo.h"

#include "text/text_fields.h"

namespace lumbra {

std::string FlattenMemo(std::string_view memo) {
  std::string out;
  if (memo.empty()) return out;
  out.reserve(memo.size());
  for (size_t cr = memo.find('\r'); cr != std::string_view::npos; cr = memo.find('\r')) {
    out.append(memo.substr(0, cr));
    out.push_back(' ');
    memo.remove_prefix(cr + 2 <= memo.size() ? cr + 2 : memo.size());
  }
  out += Trim(memo);
  return out;
}

std::string MemoWithCrLf(std::string_view memo) {
  if (memo.find_first_of("\r\n") == std::string_view::npos) return std::string(memo);
  std::string out;
  out.reserve(memo.size() + 16);
  for (size_t i = 0; i < memo.size(); ++i) {
    char c = memo[i];
    if (c == '\r' || c == '\n') {
      out += "\r\n";
      if (c == '\r' && i + 1 < memo.size() && memo[i + 1] == '\n') ++i;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace lumbra
