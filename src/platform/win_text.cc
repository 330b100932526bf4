#include "platform/win_text.h"

#include "platform/win_api.h"

namespace lumbra {
namespace {

constexpr UINT kCodePage = 1252;

// Converts with WC_NO_BEST_FIT_CHARS; *lossy tells whether a character had
// to become the default "?".
std::string Narrow(std::wstring_view wide, bool* lossy) {
  *lossy = false;
  if (wide.empty()) return std::string();
  int length = static_cast<int>(wide.size());
  BOOL used_default = FALSE;
  int n = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0,
                                "?", &used_default);
  std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), length, bytes.data(), n,
                          "?", &used_default);
  }
  *lossy = used_default != FALSE || n <= 0;
  return bytes;
}

}  // namespace

std::wstring WidenCp1252(std::string_view bytes) {
  if (bytes.empty()) return std::wstring();
  int length = static_cast<int>(bytes.size());
  int n = ::MultiByteToWideChar(kCodePage, 0, bytes.data(), length, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(kCodePage, 0, bytes.data(), length, wide.data(), n);
  return wide;
}

Status NarrowCp1252(std::wstring_view wide, std::string_view what, std::string* bytes) {
  bool lossy = false;
  *bytes = Narrow(wide, &lossy);
  if (!lossy) return Status::OK();
  return Status::InvalidArgument(std::string(what) + " \"" + *bytes +
                                 "\" holds characters that Windows-1252 cannot (shown as \"?\")");
}

std::string NarrowCp1252Lossy(std::wstring_view wide) {
  bool lossy = false;
  return Narrow(wide, &lossy);
}

std::string SystemMessage(unsigned long code) {
  wchar_t* buffer = nullptr;
  DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n > 0 ? NarrowCp1252Lossy(std::wstring_view(buffer, n)) : std::string();
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                           text.back() == '.')) {
    text.pop_back();
  }
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::string DescribeWinError(unsigned long code) {
  std::string text = SystemMessage(code);
  if (text.empty()) text = "Windows error";
  return text + " (" + std::to_string(code) + ")";
}

}  // namespace lumbra
