// Windows-1252 bytes shown as UTF-8, for people reading on a terminal. The
// system itself never transcodes: files stay in Windows-1252.
#ifndef LUMBRA_TEXT_CP1252_H_
#define LUMBRA_TEXT_CP1252_H_

#include <string>
#include <string_view>

namespace lumbra {

std::string Cp1252ToUtf8(std::string_view bytes);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_CP1252_H_
