// Paths as the system builds them ("1\Customers.dat", DataPath + "\ITEM.TXT")
// turned into paths of this platform. On Windows "\" and "/" both separate
// folders, and "C:\x", "\\server\share\x" and "\x" are absolute; elsewhere a
// backslash in a built path is the folder separator too.
#ifndef LUMBRA_TEXT_PATHS_H_
#define LUMBRA_TEXT_PATHS_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace lumbra {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Every separator made this platform's own.
std::string NativePath(std::string_view path);

bool IsAbsolutePath(std::string_view path);

// rel resolved against dir, unless rel is absolute already.
std::string JoinPath(std::string_view dir, std::string_view rel);

// The folder part of a path (everything before its last separator; the
// root itself for a file in the root), "." when there is none.
std::string ParentDir(std::string_view path);

// Where the last separator of a native path is; npos when it has none.
size_t LastSeparator(std::string_view path);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_PATHS_H_
