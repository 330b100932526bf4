#include "platform/file_case.h"

#include <vector>

#include "platform/env.h"
#include "platform/path_rules.h"

namespace lumbra {
namespace {

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool Exists(Env* env, const std::string& path) {
  return env->FileExists(path) || env->DirExists(path);
}

std::string InCase(std::string s, bool upper) {
  for (char& c : s) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

}  // namespace

bool FindPathIgnoringCase(Env* env, const std::string& path, std::string* found) {
  if (path.empty()) return false;
  if (Exists(env, path)) {
    *found = path;
    return true;
  }
  size_t slash = LastPathSeparator(path);
  std::string dir = FolderOf(path);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return false;
  std::string real_dir = dir;
  if (!env->DirExists(dir) && !FindPathIgnoringCase(env, dir, &real_dir)) return false;
  std::vector<DirEntry> entries;
  if (!env->ListDir(real_dir, &entries).ok()) return false;
  const std::string* best = nullptr;
  for (const DirEntry& e : entries) {
    if (SameIgnoringCase(e.name, name) && (best == nullptr || e.name < *best)) best = &e.name;
  }
  if (best == nullptr) return false;
  if (slash == std::string::npos) {
    *found = *best;
  } else {
    *found = InFolder(real_dir, *best);
  }
  return true;
}

std::vector<std::string> FindSiblings(Env* env, const std::string& file,
                                      const std::vector<std::string>& extensions,
                                      bool search_folder) {
  std::vector<std::string> found(extensions.size());
  size_t slash = LastPathSeparator(file);
  size_t dot = file.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = file.size();
  const std::string base = file.substr(0, dot);
  const std::string own_ext = file.substr(dot);
  const bool upper = own_ext != InCase(own_ext, false);
  const std::string dir_part = slash == std::string::npos ? "" : file.substr(0, slash + 1);
  const std::string stem = base.substr(dir_part.size());
  bool all = true;
  for (size_t i = 0; i < extensions.size(); ++i) {
    for (const std::string& name :
         {stem + InCase(extensions[i], upper), stem + InCase(extensions[i], !upper),
          InCase(stem + extensions[i], true), InCase(stem + extensions[i], false)}) {
      if (env->FileExists(dir_part + name)) {
        found[i] = dir_part + name;
        break;
      }
    }
    all = all && !found[i].empty();
  }
  if (all || !search_folder) return found;

  const std::string dir = FolderOf(file);
  std::vector<DirEntry> entries;
  if (!env->ListDir(dir, &entries).ok()) return found;
  for (size_t i = 0; i < extensions.size(); ++i) {
    if (!found[i].empty()) continue;
    const std::string want = stem + extensions[i];
    const std::string* best = nullptr;
    for (const DirEntry& e : entries) {
      if (!e.is_dir && SameIgnoringCase(e.name, want) && (best == nullptr || e.name < *best)) {
        best = &e.name;
      }
    }
    if (best != nullptr) found[i] = dir_part + *best;
  }
  return found;
}

}  // namespace lumbra
