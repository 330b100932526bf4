#include "backends/moneyworks/http_client.h"

namespace lumbra::moneyworks {

std::string_view HttpResponse::Header(std::string_view name) const {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  for (const auto& [key, value] : headers) {
    if (key.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < key.size() && same; ++i) same = lower(key[i]) == lower(name[i]);
    if (same) return value;
  }
  return {};
}

}  // namespace lumbra::moneyworks
