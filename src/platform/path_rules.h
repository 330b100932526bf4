// How this platform's paths are made: the folder separator, where the root
// of an absolute path ends, a path's folder. On Windows "\" and "/" both
// separate folders and "C:\", "\\server\share" and "\" begin absolute paths;
// elsewhere "/" does. text/paths.h builds the system's paths on these rules.
#ifndef LUMBRA_PLATFORM_PATH_RULES_H_
#define LUMBRA_PLATFORM_PATH_RULES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace lumbra {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

bool IsPathSeparator(char c);

// The length of the root an absolute path begins with ("C:\" 3, "\" and
// "/" 1); 0 for a relative path.
size_t PathRootLength(std::string_view path);

// Where the last separator of a path is; npos when it has none.
size_t LastPathSeparator(std::string_view path);

// The folder part of a path: everything before its last separator, the
// root itself for a file in the root, "." when there is no separator.
std::string FolderOf(std::string_view path);

// name inside folder, with one separator between them.
std::string InFolder(std::string_view folder, std::string_view name);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_PATH_RULES_H_
