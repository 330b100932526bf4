#include "platform/driver_path.h"

#include "platform/win_api.h"
#include "platform/win_text.h"

namespace lumbra {
namespace {

// Wine's own export (kernel32), absent from Windows: the host path of a
// Windows path, in UTF-8, on the process heap.
using UnixFileName = char*(__cdecl*)(const wchar_t*);

UnixFileName WineUnixFileName() {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_unix_file_name")));
}

}  // namespace

std::string PathForDrivers(const std::string& path) {
  static const UnixFileName unix_file_name = WineUnixFileName();
  if (unix_file_name == nullptr) return path;
  std::wstring wide = WidenCp1252(path);
  char* host = unix_file_name(wide.c_str());
  if (host == nullptr) return path;
  int n = ::MultiByteToWideChar(CP_UTF8, 0, host, -1, nullptr, 0);
  std::wstring host_wide(static_cast<size_t>(n > 1 ? n - 1 : 0), L'\0');
  if (n > 1) ::MultiByteToWideChar(CP_UTF8, 0, host, -1, host_wide.data(), n);
  ::HeapFree(::GetProcessHeap(), 0, host);
  // A host name that Windows-1252 cannot hold gets "?", which opens nothing.
  return NarrowCp1252Lossy(host_wide);
}

}  // namespace lumbra
