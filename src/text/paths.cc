#include "text/paths.h"

namespace lumbra {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

#ifdef _WIN32
bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The length of the root a path begins with: "C:\" 3, "\" 1, none 0.
size_t RootLength(std::string_view path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) {
    return 3;
  }
  return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}
#else
size_t RootLength(std::string_view path) { return !path.empty() && IsSeparator(path[0]) ? 1 : 0; }
#endif

}  // namespace

std::string NativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (IsSeparator(c)) c = kPathSeparator;
  }
  return out;
}

bool IsAbsolutePath(std::string_view path) { return RootLength(path) > 0; }

std::string JoinPath(std::string_view dir, std::string_view rel) {
  if (IsAbsolutePath(rel) || dir.empty()) return NativePath(rel);
  std::string out = NativePath(dir);
  if (rel.empty()) return out;
  if (out.back() != kPathSeparator) out.push_back(kPathSeparator);
  out += NativePath(rel);
  return out;
}

std::string ParentDir(std::string_view path) {
  std::string native = NativePath(path);
  size_t slash = LastSeparator(native);
  if (slash == std::string::npos) return ".";
  size_t root = RootLength(native);
  return native.substr(0, slash < root ? root : slash);
}

size_t LastSeparator(std::string_view path) {
#ifdef _WIN32
  return path.find_last_of("/\\");
#else
  return path.find_last_of('/');
#endif
}

}  // namespace lumbra
