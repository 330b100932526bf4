// The Env of Windows, through the wide-character Win32 calls. Paths arrive
// as Windows-1252 bytes and are widened through code page 1252 itself (see
// win_text.h). Files are opened sharing reading, writing and deletion, so
// the accounting package keeps its tables open while a pass works on them,
// and byte-range locks are LockFileEx locks, the very ones that package
// takes.
#include "platform/win_api.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/win_command.h"
#include "platform/win_handle.h"
#include "platform/win_text.h"

namespace lumbra {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kChunk = 1 << 20;
// ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack.
constexpr DWORD kErrorDiskQuotaExceeded = 1295;

Status WinError(const std::string& context, DWORD code) {
  std::string msg = context + ": " + DescribeWinError(code);
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return Status::NotFound(msg);
    case ERROR_LOCK_VIOLATION:
      return Status::Busy(msg);
    // Told apart as on POSIX (ENOSPC, EDQUOT): what could not be written
    // waits for the next pass instead of being rejected.
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kErrorDiskQuotaExceeded:
      return Status::DiskFull(msg);
    default:
      return Status::IOError(msg);
  }
}

Status LastError(const std::string& context) { return WinError(context, ::GetLastError()); }

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition) {
  return ::CreateFileW(WidenCp1252(path).c_str(), access, kShareAll, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD Attributes(const std::string& path) {
  return ::GetFileAttributesW(WidenCp1252(path).c_str());
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The scratch name a replacement is written under before it takes the
// target's place; it lives in the target's folder so the move is atomic.
std::string TempNameFor(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + base + ".lumbra-tmp";
}

Status WriteAll(HANDLE h, std::string_view data, const std::string& path) {
  while (!data.empty()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), kChunk));
    DWORD written = 0;
    if (!::WriteFile(h, data.data(), chunk, &written, nullptr)) return LastError(path);
    data.remove_prefix(written);
  }
  return Status::OK();
}

// Someone reading the target (a device's sync, a virus scanner) holds the
// replacement off for a moment: it is tried again for up to this long.
constexpr int kReplaceRetryMs = 2000;

// Moves from over to, replacing it, forced to the disk before it returns.
Status MoveReplacing(const std::string& from, const std::string& to) {
  std::wstring wide_from = WidenCp1252(from), wide_to = WidenCp1252(to);
  for (int waited = 0;; waited += 50) {
    if (::MoveFileExW(wide_from.c_str(), wide_to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return Status::OK();
    }
    DWORD code = ::GetLastError();
    bool held = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
    if (!held || waited >= kReplaceRetryMs) return WinError(to, code);
    ::Sleep(50);
  }
}

// Closes the scratch copy and moves it over the target, or throws it away
// when anything failed, leaving the target as it was.
Status FinishReplacement(Status s, WinHandle& scratch, const std::string& tmp,
                         const std::string& target) {
  if (!scratch.Close() && s.ok()) s = LastError(target);
  if (s.ok()) s = MoveReplacing(tmp, target);
  if (!s.ok()) ::DeleteFileW(WidenCp1252(tmp).c_str());
  return s;
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov = {};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

class WinFileLock : public FileLock {
 public:
  WinFileLock(HANDLE mutex, HANDLE file) : mutex_(mutex), file_(file) {}
  ~WinFileLock() override {
    OVERLAPPED ov = At(0);
    ::UnlockFileEx(file_, 0, 1, 0, &ov);
    ::CloseHandle(file_);
    ::ReleaseMutex(mutex_);
    ::CloseHandle(mutex_);
  }

 private:
  HANDLE mutex_;
  HANDLE file_;
};

// "Global\Lumbra-" and a hash of the full, upper-cased path: names of named
// objects are case-sensitive and may not hold a backslash, file names are
// neither. Global, so a pass started by hand beside a scheduled one (in
// another session) is refused too.
std::wstring MutexNameFor(const std::string& path) {
  std::wstring wide = WidenCp1252(path);
  DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n > 0) {
    std::wstring full(n, L'\0');
    n = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (n > 0 && n < full.size()) wide = full.substr(0, n);
  }
  if (!wide.empty()) ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : wide) {
    hash ^= static_cast<uint16_t>(c);
    hash *= 1099511628211ull;
  }
  wchar_t hex[17];
  for (int i = 15; i >= 0; --i, hash >>= 4) hex[i] = L"0123456789ABCDEF"[hash & 15];
  hex[16] = L'\0';
  return std::wstring(L"Global\\Lumbra-") + hex;
}

class WinRandomRWFile : public RandomRWFile {
 public:
  WinRandomRWFile(std::string path, HANDLE h, bool writable)
      : path_(std::move(path)), h_(h), writable_(writable) {}

  // Each call moves the handle's file pointer and then reads or writes, as
  // only one thread uses a table's file: Wine answers a read or write that
  // carries its offset (OVERLAPPED) with a round trip to its server, some
  // 40 times slower.
  Status Read(uint64_t offset, size_t n, std::string* out) override {
    out->resize(n);
    size_t got = 0;
    Status s = Seek(offset);
    while (s.ok() && got < n) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - got, kChunk));
      DWORD read = 0;
      if (!::ReadFile(h_.get(), out->data() + got, chunk, &read, nullptr)) s = LastError(path_);
      if (read == 0) break;
      got += read;
    }
    out->resize(s.ok() ? got : 0);
    return s;
  }

  Status Write(uint64_t offset, std::string_view data) override {
    Status s = Seek(offset);
    return s.ok() ? WriteAll(h_.get(), data, path_) : s;
  }

  Status Size(uint64_t* size) override {
    LARGE_INTEGER li;
    if (!::GetFileSizeEx(h_.get(), &li)) return LastError(path_);
    *size = static_cast<uint64_t>(li.QuadPart);
    return Status::OK();
  }

  Status Sync() override {
    // A handle opened for reading has nothing to force, and Windows refuses
    // to flush one.
    if (!writable_) return Status::OK();
    return ::FlushFileBuffers(h_.get()) ? Status::OK() : LastError(path_);
  }

  Status LockRange(uint64_t offset, uint64_t length, bool exclusive, int timeout_ms) override {
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    for (int waited = 0;; waited += 20) {
      OVERLAPPED ov = At(offset);
      if (::LockFileEx(h_.get(), flags, 0, static_cast<DWORD>(length),
                       static_cast<DWORD>(length >> 32), &ov)) {
        return Status::OK();
      }
      DWORD code = ::GetLastError();
      if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) return WinError(path_, code);
      if (waited >= timeout_ms) return Status::Busy(path_ + ": locked by another program");
      ::Sleep(20);
    }
  }

  Status UnlockRange(uint64_t offset, uint64_t length) override {
    OVERLAPPED ov = At(offset);
    if (::UnlockFileEx(h_.get(), 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32),
                       &ov)) {
      return Status::OK();
    }
    // Unlocking what is not locked is no failure, as with POSIX locks.
    DWORD code = ::GetLastError();
    return code == ERROR_NOT_LOCKED ? Status::OK() : WinError(path_, code);
  }

 private:
  Status Seek(uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(h_.get(), to, nullptr, FILE_BEGIN) ? Status::OK() : LastError(path_);
  }

  std::string path_;
  WinHandle h_;
  bool writable_;
};

// Whether a box would be seen: the process runs on the visible window
// station of a person's session. Session 0 holds services and the tasks
// that run whether or not a user is logged on; Wine without a display has
// a desktop that nobody sees.
bool PersonsDesktop() {
  DWORD session = 0;
  if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session) && session == 0) return false;
  HWINSTA station = ::GetProcessWindowStation();
  USEROBJECTFLAGS flags = {};
  if (station == nullptr ||
      !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) ||
      (flags.dwFlags & WSF_VISIBLE) == 0) {
    return false;
  }
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  bool wine = ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  if (wine && ::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0 &&
      ::GetEnvironmentVariableW(L"WAYLAND_DISPLAY", nullptr, 0) == 0) {
    return false;
  }
  return true;
}

struct MessageBoxCall {
  std::wstring title;
  std::wstring text;
};

DWORD WINAPI ShowBoxThread(void* param) {
  auto* call = static_cast<MessageBoxCall*>(param);
  ::MessageBoxW(nullptr, call->text.c_str(), call->title.c_str(),
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
  delete call;
  return 0;
}

BOOL CALLBACK PressOk(HWND window, LPARAM) {
  ::PostMessageW(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

class WinEnv : public Env {
 public:
  Status ReadFile(const std::string& path, std::string* contents) override {
    contents->clear();
    WinHandle h(OpenFile(path, GENERIC_READ, OPEN_EXISTING));
    if (!h.valid()) return LastError(path);
    LARGE_INTEGER size;
    if (::GetFileSizeEx(h.get(), &size)) contents->reserve(static_cast<size_t>(size.QuadPart));
    std::string buf(kChunk, '\0');
    for (;;) {
      DWORD n = 0;
      if (!::ReadFile(h.get(), buf.data(), kChunk, &n, nullptr)) {
        contents->clear();
        return LastError(path);
      }
      if (n == 0) return Status::OK();
      contents->append(buf.data(), n);
    }
  }

  Status WriteFile(const std::string& path, std::string_view data) override {
    std::string tmp = TempNameFor(path);
    WinHandle h(OpenFile(tmp, GENERIC_WRITE, CREATE_ALWAYS));
    if (!h.valid()) return LastError(path);
    Status s = WriteAll(h.get(), data, path);
    return FinishReplacement(std::move(s), h, tmp, path);
  }

  Status AppendFile(const std::string& path, std::string_view data) override {
    WinHandle h(OpenFile(path, FILE_APPEND_DATA, OPEN_ALWAYS));
    if (!h.valid()) return LastError(path);
    Status s = WriteAll(h.get(), data, path);
    if (!h.Close() && s.ok()) s = LastError(path);
    return s;
  }

  // Copied by reading and writing, not CopyFileW: that would carry the
  // source's attributes over, and a read-only copy could never be replaced
  // by the next pass.
  Status CopyFile(const std::string& from, const std::string& to) override {
    DWORD attributes = Attributes(from);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return Status::IOError(from + ": is a folder");
    }
    WinHandle in(OpenFile(from, GENERIC_READ, OPEN_EXISTING));
    if (!in.valid()) return LastError(from);
    std::string tmp = TempNameFor(to);
    WinHandle out(OpenFile(tmp, GENERIC_WRITE, CREATE_ALWAYS));
    if (!out.valid()) return LastError(to);
    std::string buf(kChunk, '\0');
    Status s;
    for (;;) {
      DWORD n = 0;
      if (!::ReadFile(in.get(), buf.data(), kChunk, &n, nullptr)) {
        s = LastError(from);
        break;
      }
      if (n == 0) break;
      s = WriteAll(out.get(), std::string_view(buf.data(), n), to);
      if (!s.ok()) break;
    }
    return FinishReplacement(std::move(s), out, tmp, to);
  }

  Status RenameFile(const std::string& from, const std::string& to) override {
    if (::MoveFileExW(WidenCp1252(from).c_str(), WidenCp1252(to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return Status::OK();
    }
    return LastError(from);
  }

  Status DeleteFile(const std::string& path) override {
    return ::DeleteFileW(WidenCp1252(path).c_str()) ? Status::OK() : LastError(path);
  }

  Status SyncFile(const std::string& path) override {
    WinHandle h(OpenFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING));
    if (!h.valid()) return LastError(path);
    return ::FlushFileBuffers(h.get()) ? Status::OK() : LastError(path);
  }

  Status GetFileSize(const std::string& path, uint64_t* size) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(WidenCp1252(path).c_str(), GetFileExInfoStandard, &data)) {
      return LastError(path);
    }
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return Status::OK();
  }

  bool FileExists(const std::string& path) override {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  bool DirExists(const std::string& path) override {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  // A name Windows-1252 cannot hold is listed with "?" in its place: it can
  // be seen, and never opens another file.
  Status ListDir(const std::string& path, std::vector<DirEntry>* entries) override {
    entries->clear();
    std::string pattern = path;
    if (!pattern.empty() && !IsSeparator(pattern.back())) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW(WidenCp1252(pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
      DWORD code = ::GetLastError();
      // A drive's root may list nothing at all, not even "." and "..".
      if (code == ERROR_FILE_NOT_FOUND) return Status::OK();
      return WinError(path, code);
    }
    do {
      std::wstring_view name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      DirEntry entry;
      entry.name = NarrowCp1252Lossy(name);
      entry.is_dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      entries->push_back(std::move(entry));
    } while (::FindNextFileW(find, &found));
    DWORD code = ::GetLastError();
    ::FindClose(find);
    return code == ERROR_NO_MORE_FILES ? Status::OK() : WinError(path, code);
  }

  Status CreateDir(const std::string& path) override {
    return ::CreateDirectoryW(WidenCp1252(path).c_str(), nullptr) ? Status::OK()
                                                                  : LastError(path);
  }

  Status RemoveDir(const std::string& path) override {
    return ::RemoveDirectoryW(WidenCp1252(path).c_str()) ? Status::OK() : LastError(path);
  }

  Status OpenRandomRW(const std::string& path, bool writable,
                      std::unique_ptr<RandomRWFile>* file) override {
    HANDLE h = OpenFile(path, GENERIC_READ | (writable ? GENERIC_WRITE : 0), OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return LastError(path);
    file->reset(new WinRandomRWFile(path, h, writable));
    return Status::OK();
  }

  Status LockFile(const std::string& path, std::unique_ptr<FileLock>* lock) override {
    WinHandle mutex(::CreateMutexW(nullptr, TRUE, MutexNameFor(path).c_str()));
    DWORD code = ::GetLastError();
    // Another account's instance made it: this one may not even open it.
    if (!mutex.valid() && code != ERROR_ACCESS_DENIED) return WinError(path, code);
    if (!mutex.valid() || code == ERROR_ALREADY_EXISTS) {
      return Status::Busy(path + ": held by another pass");
    }
    WinHandle file(OpenFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
    if (!file.valid()) {
      ::ReleaseMutex(mutex.get());
      return LastError(path);
    }
    OVERLAPPED ov = At(0);
    if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &ov)) {
      code = ::GetLastError();
      ::ReleaseMutex(mutex.get());
      if (code == ERROR_LOCK_VIOLATION) return Status::Busy(path + ": held by another pass");
      return WinError(path, code);
    }
    *lock = std::make_unique<WinFileLock>(mutex.Release(), file.Release());
    return Status::OK();
  }

  Status GetProgramPath(std::string* path) override {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
      DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
      if (n == 0) return LastError("the program's path");
      if (n < buf.size()) return NarrowCp1252(buf.substr(0, n), "the program's path", path);
      buf.resize(buf.size() * 2);
    }
  }

  LocalTime Now() override {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    LocalTime lt;
    lt.year = st.wYear;
    lt.month = st.wMonth;
    lt.day = st.wDay;
    lt.hour = st.wHour;
    lt.minute = st.wMinute;
    lt.second = st.wSecond;
    return lt;
  }

  uint64_t NowMicros() override {
    LARGE_INTEGER count, frequency;
    ::QueryPerformanceCounter(&count);
    ::QueryPerformanceFrequency(&frequency);
    uint64_t ticks = static_cast<uint64_t>(count.QuadPart);
    uint64_t hz = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / hz * 1000000u + ticks % hz * 1000000u / hz;
  }

  void SleepMicros(uint64_t micros) override {
    ::Sleep(static_cast<DWORD>((micros + 999) / 1000));
  }

  Status SetWorkingDir(const std::string& path) override {
    return ::SetCurrentDirectoryW(WidenCp1252(path).c_str()) ? Status::OK() : LastError(path);
  }

  Status GetWorkingDir(std::string* path) override {
    DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring buf(n, L'\0');
    n = ::GetCurrentDirectoryW(n, buf.data());
    if (n == 0 || n >= buf.size()) return LastError("current folder");
    return NarrowCp1252(buf.substr(0, n), "the current folder", path);
  }

  // A value Windows-1252 cannot hold keeps "?" for those characters.
  bool GetEnvVar(const std::string& name, std::string* value) override {
    std::wstring wide_name = WidenCp1252(name);
    ::SetLastError(ERROR_SUCCESS);
    DWORD n = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value->clear();
      return true;
    }
    std::wstring buf(n, L'\0');
    n = ::GetEnvironmentVariableW(wide_name.c_str(), buf.data(), n);
    *value = NarrowCp1252Lossy(std::wstring_view(buf.data(), n));
    return true;
  }

  Status RunCommand(const CommandSpec& command, CommandResult* result) override {
    return RunWindowsCommand(command, result);
  }

  // The box waits in a thread of its own; when the time runs out its OK
  // button is pressed for the person who did not come.
  bool ShowMessageBox(const std::string& title, const std::string& text, int timeout_ms) override {
    if (!PersonsDesktop()) return false;
    auto* call = new MessageBoxCall{WidenCp1252(title), WidenCp1252(text)};
    DWORD thread_id = 0;
    WinHandle thread(::CreateThread(nullptr, 0, ShowBoxThread, call, 0, &thread_id));
    if (!thread.valid()) {
      delete call;
      return false;
    }
    if (::WaitForSingleObject(thread.get(), static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0) {
      return true;
    }
    ::EnumThreadWindows(thread_id, PressOk, 0);
    ::WaitForSingleObject(thread.get(), 5000);
    return false;
  }
};

}  // namespace

Env* Env::Default() {
  static WinEnv* env = new WinEnv;
  return env;
}

}  // namespace lumbra
