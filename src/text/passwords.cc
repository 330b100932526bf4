#include "text/passwords.h"

#include <algorithm>

namespace lumbra {
namespace {

constexpr std::string_view kHidden = "***";

// Replaces what follows the first ':' of text[from, end) up to end.
void HideAfterColon(std::string* text, size_t from, size_t end) {
  size_t colon = text->find(':', from);
  if (colon == std::string::npos || colon >= end) return;
  text->replace(colon + 1, end - colon - 1, kHidden);
}

void HideUrlPasswords(std::string* text) {
  if (size_t scheme = text->find("://"); scheme != std::string::npos) {
    size_t user = scheme + 3;
    size_t at = text->find('@', user);
    if (at != std::string::npos && text->find('/', user) > at) HideAfterColon(text, user, at);
  }
  if (size_t folder = text->find("folder="); folder != std::string::npos) {
    size_t start = folder + 7;
    HideAfterColon(text, start, std::min(text->find('&', start), text->size()));
  }
}

std::string KeyOf(std::string_view part) {
  std::string key;
  size_t eq = part.find('=');
  if (eq == std::string_view::npos) return key;
  for (char c : part.substr(0, eq)) {
    if (c != ' ') key.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
  }
  return key;
}

std::string HideConnectionPasswords(std::string_view text) {
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t end = std::min(text.find(';', pos), text.size());
    std::string_view part = text.substr(pos, end - pos);
    std::string key = KeyOf(part);
    if (key == "PWD" || key == "PASSWORD") {
      out.append(part.substr(0, part.find('=') + 1)).append(kHidden);
    } else {
      out.append(part);
    }
    if (end == text.size()) break;
    out.push_back(';');
    pos = end + 1;
  }
  return out;
}

}  // namespace

std::string HidePasswords(std::string_view text) {
  std::string out = HideConnectionPasswords(text);
  HideUrlPasswords(&out);
  return out;
}

}  // namespace lumbra
