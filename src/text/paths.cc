#include "text/paths.h"

namespace lumbra {

std::string NativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

bool IsAbsolutePath(std::string_view path) {
  return !path.empty() && (path[0] == '/' || path[0] == '\\');
}

std::string JoinPath(std::string_view dir, std::string_view rel) {
  if (IsAbsolutePath(rel) || dir.empty()) return NativePath(rel);
  std::string out = NativePath(dir);
  if (rel.empty()) return out;
  if (out.back() != '/') out.push_back('/');
  out += NativePath(rel);
  return out;
}

std::string ParentDir(std::string_view path) {
  std::string native = NativePath(path);
  size_t slash = native.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return native.substr(0, slash);
}

}  // namespace lumbra
