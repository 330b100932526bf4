#include "platform/status.h"

namespace lumbra {

std::string Status::ToString() const {
  const char* kind = "OK";
  switch (code_) {
    case Code::kOk: return "OK";
    case Code::kNotFound: kind = "not found"; break;
    case Code::kIOError: kind = "I/O error"; break;
    case Code::kBusy: kind = "busy"; break;
    case Code::kInvalidArgument: kind = "invalid argument"; break;
    case Code::kCorruption: kind = "corrupt"; break;
    case Code::kNotSupported: kind = "not supported"; break;
    case Code::kTimedOut: kind = "timed out"; break;
  }
  return msg_.empty() ? std::string(kind) : std::string(kind) + ": " + msg_;
}

}  // namespace lumbra
