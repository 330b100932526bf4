// LockSet: the byte-range locks one piece of work needs, taken all together
// or not at all. Other programs take such locks one by one and in their own
// order, so waiting for one lock while holding others could keep both sides
// waiting: the set is tried without waiting, and when one lock is taken, all
// are let go and tried again a little later, until the time limit.
#ifndef LUMBRA_PLATFORM_LOCK_SET_H_
#define LUMBRA_PLATFORM_LOCK_SET_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/status.h"

namespace lumbra {

class LockSet {
 public:
  explicit LockSet(Env* env) : env_(env) {}
  ~LockSet() { ReleaseAll(); }
  LockSet(const LockSet&) = delete;
  LockSet& operator=(const LockSet&) = delete;

  // One exclusive lock byte of an open file; `what` names it in a refusal
  // ("INVIDX.DBF record 12"). Adding the same byte twice adds it once.
  void Add(RandomRWFile* file, uint64_t offset, std::string what);
  // Takes every lock added, waiting at most timeout_ms in all (0: one try).
  // Busy, naming a lock that was not had, when they could not all be had;
  // none is held then.
  Status AcquireAll(int timeout_ms);
  void ReleaseAll();
  bool held() const { return held_; }
  // Forgets the locks added (releasing them first).
  void Clear();

 private:
  struct Lock {
    RandomRWFile* file;
    uint64_t offset;
    std::string what;
  };
  Status TryAll(size_t* failed);

  Env* env_;
  std::vector<Lock> locks_;
  bool held_ = false;
};

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_LOCK_SET_H_
