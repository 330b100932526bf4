// Paths as the system builds them ("1\Customers.dat", DataPath + "\ITEM.TXT")
// turned into paths of this platform: a backslash in a built path separates
// folders on every platform, and the platform's own rules
// (platform/path_rules.h) then decide what is absolute.
#ifndef LUMBRA_TEXT_PATHS_H_
#define LUMBRA_TEXT_PATHS_H_

#include <string>
#include <string_view>

#include "platform/path_rules.h"

namespace lumbra {

// Every separator made this platform's own.
std::string NativePath(std::string_view path);

bool IsAbsolutePath(std::string_view path);

// rel resolved against dir, unless rel is absolute already.
std::string JoinPath(std::string_view dir, std::string_view rel);

// The folder part of a path (everything before its last separator; the
// root itself for a file in the root), "." when there is none.
std::string ParentDir(std::string_view path);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_PATHS_H_
