// A Win32 handle closed when it goes out of scope. Windows only.
#ifndef LUMBRA_PLATFORM_WIN_HANDLE_H_
#define LUMBRA_PLATFORM_WIN_HANDLE_H_

#include "platform/win_api.h"

namespace lumbra {

class WinHandle {
 public:
  explicit WinHandle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~WinHandle() { Close(); }
  WinHandle(const WinHandle&) = delete;
  WinHandle& operator=(const WinHandle&) = delete;

  HANDLE get() const { return h_; }
  // Some calls fail with INVALID_HANDLE_VALUE, others with null.
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }
  // Hands the handle over to the caller, who closes it.
  HANDLE Release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  // Closes now and reports a failure of the close itself.
  bool Close() {
    HANDLE h = Release();
    return !(h != INVALID_HANDLE_VALUE && h != nullptr) || ::CloseHandle(h);
  }

 private:
  HANDLE h_;
};

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_WIN_HANDLE_H_
