#include "platform/path_rules.h"

namespace lumbra {

bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

size_t PathRootLength(std::string_view path) {
#ifdef _WIN32
  bool drive = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') ||
                                    (path[0] >= 'a' && path[0] <= 'z'));
  if (drive && path[1] == ':' && IsPathSeparator(path[2])) return 3;
#endif
  return !path.empty() && IsPathSeparator(path[0]) ? 1 : 0;
}

size_t LastPathSeparator(std::string_view path) {
#ifdef _WIN32
  return path.find_last_of("\\/");
#else
  return path.find_last_of('/');
#endif
}

std::string FolderOf(std::string_view path) {
  size_t slash = LastPathSeparator(path);
  if (slash == std::string_view::npos) return ".";
  size_t root = PathRootLength(path);
  return std::string(path.substr(0, slash < root ? root : slash));
}

std::string InFolder(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && !IsPathSeparator(out.back())) out.push_back(kPathSeparator);
  return out.append(name);
}

}  // namespace lumbra
