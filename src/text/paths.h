// Paths as the system builds them ("1\Customers.dat", DataPath + "\ITEM.TXT")
// turned into paths of this platform.
#ifndef LUMBRA_TEXT_PATHS_H_
#define LUMBRA_TEXT_PATHS_H_

#include <string>
#include <string_view>

namespace lumbra {

// A backslash in a built path is the folder separator.
std::string NativePath(std::string_view path);

bool IsAbsolutePath(std::string_view path);

// rel resolved against dir, unless rel is absolute already.
std::string JoinPath(std::string_view dir, std::string_view rel);

// The folder part of a path (everything before its last separator), "." when
// there is none.
std::string ParentDir(std::string_view path);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_PATHS_H_
