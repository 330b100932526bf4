#include "backends/context/run_log.h"

#include <cstdio>

#include "platform/env.h"

namespace lumbra {

void RunLog::Write(std::string_view message) {
  if (path_.empty()) return;
  LocalTime t = env_->Now();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  std::string line = stamp;
  for (char c : message) line.push_back(c == '\r' || c == '\n' ? ' ' : c);
  line += "\r\n";
  RotateIfFull(line.size());
  if (env_->AppendFile(path_, line).ok()) size_ += line.size();
}

void RunLog::RotateIfFull(size_t incoming) {
  if (!size_known_) {
    uint64_t size = 0;
    size_ = env_->GetFileSize(path_, &size).ok() ? size : 0;
    size_known_ = true;
  }
  if (size_ == 0 || size_ + incoming <= kRotateSize) return;
  std::string older = path_ + ".1";
  env_->DeleteFile(older);
  if (env_->RenameFile(path_, older).ok()) size_ = 0;
}

}  // namespace lumbra
