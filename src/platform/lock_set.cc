#include "platform/lock_set.h"

#include <algorithm>

namespace lumbra {
namespace {

// Between two tries of the whole set.
constexpr uint64_t kRetryMicros = 20000;

}  // namespace

void LockSet::Add(RandomRWFile* file, uint64_t offset, std::string what) {
  for (const Lock& l : locks_) {
    if (l.file == file && l.offset == offset) return;
  }
  locks_.push_back(Lock{file, offset, std::move(what)});
}

Status LockSet::TryAll(size_t* failed) {
  for (size_t i = 0; i < locks_.size(); ++i) {
    Status s = locks_[i].file->LockRange(locks_[i].offset, 1, true, 0);
    if (!s.ok()) {
      for (size_t j = 0; j < i; ++j) locks_[j].file->UnlockRange(locks_[j].offset, 1);
      *failed = i;
      return s;
    }
  }
  return Status::OK();
}

Status LockSet::AcquireAll(int timeout_ms) {
  if (held_) return Status::OK();
  const uint64_t deadline = env_->NowMicros() + static_cast<uint64_t>(std::max(timeout_ms, 0)) * 1000;
  for (;;) {
    size_t failed = 0;
    Status s = TryAll(&failed);
    if (s.ok()) {
      held_ = true;
      return s;
    }
    if (!s.IsBusy() || env_->NowMicros() >= deadline) {
      std::string why = locks_[failed].what + " is locked by another program";
      return s.IsBusy() ? Status::Busy(why) : Status::IOError(why + ": " + s.ToString());
    }
    env_->SleepMicros(kRetryMicros);
  }
}

void LockSet::ReleaseAll() {
  if (!held_) return;
  for (const Lock& l : locks_) l.file->UnlockRange(l.offset, 1);
  held_ = false;
}

void LockSet::Clear() {
  ReleaseAll();
  locks_.clear();
}

}  // namespace lumbra
