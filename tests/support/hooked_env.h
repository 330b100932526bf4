// An Env whose table and memo files call a hook before each write and count
// their syncs: the DBF tests watch or break writes with it, and
// lumbra_test_peer ends itself with it as a kill would.
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
  class File : public RandomRWFileWrapper {
   public:
    File(std::unique_ptr<RandomRWFile> base, HookedEnv* env)
        : RandomRWFileWrapper(std::move(base)), env_(env) {}
    Status Write(uint64_t o, std::string_view data) override {
      env_->before_write();
      return RandomRWFileWrapper::Write(o, data);
    }
    Status Sync() override {
      ++env_->file_syncs;
      return RandomRWFileWrapper::Sync();
    }

   private:
    HookedEnv* env_;
  };
};

}  // namespace lumbra::dbftest

#endif  // LUMBRA_TESTS_SUPPORT_HOOKED_ENV_H_
