// An Env whose table and memo files call a hook before each write and count
// their syncs: the DBF tests watch or break writes with it, and
// lumbra_test_child ends itself with it as a kill would.
#ifndef LUMBRA_TESTS_SUPPORT_HOOKED_ENV_H_
#define LUMBRA_TESTS_SUPPORT_HOOKED_ENV_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace lumbra::dbftest {

class HookedEnv : public EnvWrapper {
 public:
  HookedEnv() : EnvWrapper(Env::Default()) {}
  Status OpenRandomRW(const std::string& path, bool writable,
                      std::unique_ptr<RandomRWFile>* file) override {
    Status s = target()->OpenRandomRW(path, writable, file);
    if (s.ok()) file->reset(new File(std::move(*file), this));
    return s;
  }
  std::function<void()> before_write = [] {};
  int file_syncs = 0;

 private:
  class File : public RandomRWFile {
   public:
    File(std::unique_ptr<RandomRWFile> base, HookedEnv* env) : base_(std::move(base)), env_(env) {}
    Status Read(uint64_t o, size_t n, std::string* out) override { return base_->Read(o, n, out); }
    Status Write(uint64_t o, std::string_view data) override {
      env_->before_write();
      return base_->Write(o, data);
    }
    Status Size(uint64_t* size) override { return base_->Size(size); }
    Status Sync() override {
      ++env_->file_syncs;
      return base_->Sync();
    }
    Status LockRange(uint64_t o, uint64_t n, bool x, int t) override {
      return base_->LockRange(o, n, x, t);
    }
    Status UnlockRange(uint64_t o, uint64_t n) override { return base_->UnlockRange(o, n); }

   private:
    std::unique_ptr<RandomRWFile> base_;
    HookedEnv* env_;
  };
};

}  // namespace lumbra::dbftest

#endif  // LUMBRA_TESTS_SUPPORT_HOOKED_ENV_H_
