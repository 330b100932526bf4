// Status: the result of an operation that can fail. Modules return a Status
// instead of throwing, so a caller decides, step by step, whether a failure
// ends its work or is only logged and passed over.
#ifndef LUMBRA_PLATFORM_STATUS_H_
#define LUMBRA_PLATFORM_STATUS_H_

#include <string>
#include <utility>

namespace lumbra {

class Status {
 public:
  Status() = default;

  static Status OK() { return Status(); }
  static Status NotFound(std::string msg) { return Status(Code::kNotFound, std::move(msg)); }
  static Status IOError(std::string msg) { return Status(Code::kIOError, std::move(msg)); }
  // An I/O error because the disk (or the user's quota) is full: the one
  // failure an office mends by itself, so it is told apart.
  static Status DiskFull(std::string msg) {
    Status s(Code::kIOError, std::move(msg));
    s.disk_full_ = true;
    return s;
  }
  static Status Busy(std::string msg) { return Status(Code::kBusy, std::move(msg)); }
  static Status InvalidArgument(std::string msg) {
    return Status(Code::kInvalidArgument, std::move(msg));
  }
  static Status Corruption(std::string msg) { return Status(Code::kCorruption, std::move(msg)); }
  static Status NotSupported(std::string msg) {
    return Status(Code::kNotSupported, std::move(msg));
  }
  // An outside component that did not answer within its time limit.
  static Status TimedOut(std::string msg) { return Status(Code::kTimedOut, std::move(msg)); }

  bool ok() const { return code_ == Code::kOk; }
  bool IsNotFound() const { return code_ == Code::kNotFound; }
  bool IsIOError() const { return code_ == Code::kIOError; }
  bool IsDiskFull() const { return disk_full_; }
  bool IsBusy() const { return code_ == Code::kBusy; }
  bool IsInvalidArgument() const { return code_ == Code::kInvalidArgument; }
  bool IsCorruption() const { return code_ == Code::kCorruption; }
  bool IsNotSupported() const { return code_ == Code::kNotSupported; }
  bool IsTimedOut() const { return code_ == Code::kTimedOut; }

  const std::string& message() const { return msg_; }
  std::string ToString() const;

 private:
  enum class Code { kOk, kNotFound, kIOError, kBusy, kInvalidArgument, kCorruption, kNotSupported,
                    kTimedOut };
  Status(Code code, std::string msg) : code_(code), msg_(std::move(msg)) {}

  Code code_ = Code::kOk;
  bool disk_full_ = false;
  std::string msg_;
};

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_STATUS_H_
