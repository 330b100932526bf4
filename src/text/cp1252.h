// Windows-1252, the code page of every text the system keeps, and the
// Unicode forms outside servers and programs answer in. Answers are brought
// into Windows-1252 as they arrive; the other way is only for people reading
// on a terminal.
#ifndef LUMBRA_TEXT_CP1252_H_
#define LUMBRA_TEXT_CP1252_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace lumbra {

std::string Cp1252ToUtf8(std::string_view bytes);

// Unicode text as Windows-1252. A character the code page cannot hold, and
// every byte (or byte pair) that is not part of a well-formed character,
// becomes "?"; *unmapped (when given) is raised by the number of them. The
// text shrinks in place (a character never takes fewer bytes in UTF-8 or
// UTF-16 than in Windows-1252), so a large answer is not held twice. A
// byte-order mark at the start is a character like any other here.
std::string Utf8ToCp1252(std::string_view utf8, size_t* unmapped = nullptr);
void Utf8ToCp1252InPlace(std::string* text, size_t* unmapped = nullptr);
void Utf16ToCp1252InPlace(std::string* text, bool big_endian, size_t* unmapped = nullptr);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_CP1252_H_
