// lumbra_test_peer: the other programs of the tests, as separate processes.
//
//   hold FILE OFFSET... MS READY     takes the exclusive lock bytes of FILE
//                                    at OFFSET..., writes the file READY,
//                                    holds them MS milliseconds, ends
//   bump TABLE FIELD RECNO TIMES     TIMES over, as the accounting package
//                                    changes a record: lock the record, read
//                                    FIELD afresh, add 1, write, unlock;
//                                    prints each value written
//   pass DIR DIE_AT [LOCK_WAIT_MS]   runs a pass in DIR and is killed before
//                                    its DIE_AT-th write to a file (0: never);
//                                    the log and the device tables of folder
//                                    1 are not counted
//
// Exit status 0 when done, 2 for a wrong command line, 1 for a failure.
#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backends/aurora/dbf_table.h"
#include "backends/aurora/dbf_values.h"
#include "backends/context/run_context.h"
#include "backends/context/run_log.h"
#include "platform/env.h"
#include "run/run_driver.h"
#include "text/numbers.h"
#include "text/paths.h"

namespace lumbra {
namespace {

int Hold(const std::vector<std::string>& a) {
  if (a.size() < 4) return 2;
  Env* env = Env::Default();
  std::unique_ptr<RandomRWFile> file;
  if (!env->OpenRandomRW(a[0], true, &file).ok()) return 1;
  for (size_t i = 1; i + 2 < a.size(); ++i) {
    if (!file->LockRange(std::stoull(a[i]), 1, true, 5000).ok()) return 1;
  }
  if (!env->WriteFile(a[a.size() - 1], "held").ok()) return 1;
  env->SleepMicros(std::stoull(a[a.size() - 2]) * 1000);
  return 0;
}

int Bump(const std::vector<std::string>& a) {
  if (a.size() != 4) return 2;
  Env* env = Env::Default();
  std::unique_ptr<dbf::DbfTable> t;
  if (!dbf::DbfTable::Open(env, a[0], true, &t).ok()) return 1;
  int field = t->FieldIndex(a[1]);
  uint32_t recno = static_cast<uint32_t>(std::stoul(a[2]));
  if (field < 0) return 1;
  const dbf::Field& f = t->header().fields[static_cast<size_t>(field)];
  for (int n = std::stoi(a[3]); n > 0; --n) {
    if (!t->file()->LockRange(dbf::RecordLockOffset(recno), 1, true, 10000).ok()) return 1;
    std::string rec;
    if (!t->FreshRecord(recno, &rec).ok()) return 1;
    std::string value = DoubleText(ValueOf(dbf::FieldText(f, std::string_view(rec).substr(f.offset, f.length))) + 1);
    if (!dbf::EncodeText(f, value, rec.data() + f.offset).ok()) return 1;
    if (!t->UpdateRecord(recno, rec, {field}, {}, dbf::kLocksHeld).ok()) return 1;
    t->file()->UnlockRange(dbf::RecordLockOffset(recno), 1);
    std::printf("%s\n", value.c_str());
    env->SleepMicros(500);
  }
  return 0;
}

// Dies as a killed process does, before its n-th write to any file: what it
// wrote before stays, nothing after it is written. Forcing to the disk is
// skipped: a killed process loses nothing the system took.
class DyingEnv : public EnvWrapper {
 public:
  DyingEnv(Env* target, long die_at, std::string dir)
      : EnvWrapper(target), left_(die_at), dir_(std::move(dir)) {}
  void BeforeWrite(const std::string& path) {
    if (path.ends_with("Lumbra.log") || path.starts_with(JoinPath(dir_, "1") + "/")) return;
    if (left_ > 0 && --left_ == 0) {
      std::fflush(nullptr);
#ifdef _WIN32
      std::_Exit(137);
#else
      ::kill(::getpid(), SIGKILL);
#endif
    }
  }
  Status WriteFile(const std::string& p, std::string_view d) override {
    BeforeWrite(p);
    return EnvWrapper::WriteFile(p, d);
  }
  Status AppendFile(const std::string& p, std::string_view d) override {
    BeforeWrite(p);
    return EnvWrapper::AppendFile(p, d);
  }
  Status CopyFile(const std::string& f, const std::string& t) override {
    BeforeWrite(t);
    return EnvWrapper::CopyFile(f, t);
  }
  Status RenameFile(const std::string& f, const std::string& t) override {
    BeforeWrite(t);
    return EnvWrapper::RenameFile(f, t);
  }
  Status DeleteFile(const std::string& p) override {
    BeforeWrite(p);
    return EnvWrapper::DeleteFile(p);
  }
  Status SyncFile(const std::string&) override { return Status::OK(); }
  Status OpenRandomRW(const std::string& p, bool w, std::unique_ptr<RandomRWFile>* f) override {
    Status s = EnvWrapper::OpenRandomRW(p, w, f);
    if (s.ok()) f->reset(new File(std::move(*f), p, this));
    return s;
  }

 private:
  class File : public RandomRWFileWrapper {
   public:
    File(std::unique_ptr<RandomRWFile> base, std::string path, DyingEnv* env)
        : RandomRWFileWrapper(std::move(base)), path_(std::move(path)), env_(env) {}
    Status Write(uint64_t o, std::string_view d) override {
      env_->BeforeWrite(path_);
      return RandomRWFileWrapper::Write(o, d);
    }
    Status Sync() override { return Status::OK(); }

   private:
    std::string path_;
    DyingEnv* env_;
  };
  long left_;
  std::string dir_;
};

int Pass(const std::vector<std::string>& a) {
  if (a.size() < 2 || a.size() > 3) return 2;
  DyingEnv env(Env::Default(), std::stol(a[1]), a[0]);
  RunLog log(&env, JoinPath(a[0], "Lumbra.log"));
  RunContext ctx(&env, &log, a[0], a[0]);
  if (a.size() == 3) ctx.lock_wait_ms = std::stoi(a[2]);
  RunPass(ctx);
  return 0;
}

}  // namespace
}  // namespace lumbra

int main(int argc, char** argv) {
  const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands = {
      {"hold", lumbra::Hold}, {"bump", lumbra::Bump}, {"pass", lumbra::Pass}};
  if (argc < 2 || commands.count(argv[1]) == 0) {
    std::fprintf(stderr, "usage: lumbra_test_peer hold|bump|pass ...\n");
    return 2;
  }
  return commands.at(argv[1])(std::vector<std::string>(argv + 2, argv + argc));
}
