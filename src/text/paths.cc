#include "text/paths.h"

namespace lumbra {

std::string NativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '/' || c == '\\') c = kPathSeparator;
  }
  return out;
}

bool IsAbsolutePath(std::string_view path) { return PathRootLength(NativePath(path)) > 0; }

std::string JoinPath(std::string_view dir, std::string_view rel) {
  if (IsAbsolutePath(rel) || dir.empty()) return NativePath(rel);
  if (rel.empty()) return NativePath(dir);
  return InFolder(NativePath(dir), NativePath(rel));
}

std::string ParentDir(std::string_view path) { return FolderOf(NativePath(path)); }

}  // namespace lumbra
