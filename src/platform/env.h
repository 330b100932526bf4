// Env: every operating-system call the system makes goes through this
// interface (files, folders, locks, clock, program location), so the same
// code can be built for another platform and tests can inject failures by
// wrapping the real environment (see EnvWrapper).
#ifndef LUMBRA_PLATFORM_ENV_H_
#define LUMBRA_PLATFORM_ENV_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace lumbra {

struct DirEntry {
  std::string name;
  bool is_dir = false;
};

// A broken-down local time.
struct LocalTime {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;
};

// A program to run to its end (Env::RunCommand).
struct CommandSpec {
  // argv[0] is the program's path (on Windows with its ".exe"); it is
  // started directly, with no shell in between, and no search of PATH.
  std::vector<std::string> argv;
  // Added to the program's environment, replacing variables of those names.
  std::vector<std::pair<std::string, std::string>> environment;
  // The folder it runs in; empty: the current one.
  std::string working_dir;
  // Written to its standard input, which is then closed.
  std::string input;
  // The program and everything it started (its process group on POSIX,
  // its job object on Windows) are killed once it has written
  // nothing, to standard output or standard error, for silence_limit_ms
  // (counted from its start, then from the last byte it wrote; a program
  // that has closed both and runs on is silent), or once its standard
  // output, or its standard error, passes output_limit bytes. A slow
  // program that keeps writing is never cut off. 0: no limit.
  uint64_t silence_limit_ms = 0;
  uint64_t output_limit = 0;
};

struct CommandResult {
  // kTimedOut: the silence limit passed.
  // kSignaled happens only on POSIX; on Windows a program that crashed
  // exited with its exception code.
  enum class End { kExited, kSignaled, kTimedOut, kOutputTooLarge };
  End end = End::kExited;
  int exit_status = 0;  // for kExited
  int signal = 0;       // for kSignaled
  // Standard output as bytes; what came before the kill for the two limits.
  std::string output;
  // The first line of standard error, without its line end.
  std::string first_error_line;
};

// Held until destroyed; releases the lock then.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

// A file opened for reading and, optionally, writing at any offset. Used for
// the table engine's files, which are changed in place.
class RandomRWFile {
 public:
  virtual ~RandomRWFile() = default;
  // Reads up to n bytes at offset into *out; fewer at the end of the file.
  virtual Status Read(uint64_t offset, size_t n, std::string* out) = 0;
  virtual Status Write(uint64_t offset, std::string_view data) = 0;
  virtual Status Size(uint64_t* size) = 0;
  // Forces written data to the disk.
  virtual Status Sync() = 0;
  // Advisory lock of a byte range, shared or exclusive; waits at most
  // timeout_ms (0: try once). Busy when it cannot be had in time.
  virtual Status LockRange(uint64_t offset, uint64_t length, bool exclusive, int timeout_ms) = 0;
  virtual Status UnlockRange(uint64_t offset, uint64_t length) = 0;
};

// Forwards every call to another file. Tests subclass it and override the
// calls they watch or break.
class RandomRWFileWrapper : public RandomRWFile {
 public:
  explicit RandomRWFileWrapper(std::unique_ptr<RandomRWFile> target) : target_(std::move(target)) {}
  Status Read(uint64_t o, size_t n, std::string* out) override { return target_->Read(o, n, out); }
  Status Write(uint64_t o, std::string_view data) override { return target_->Write(o, data); }
  Status Size(uint64_t* size) override { return target_->Size(size); }
  Status Sync() override { return target_->Sync(); }
  Status LockRange(uint64_t o, uint64_t n, bool exclusive, int timeout_ms) override {
    return target_->LockRange(o, n, exclusive, timeout_ms);
  }
  Status UnlockRange(uint64_t o, uint64_t n) override { return target_->UnlockRange(o, n); }

 private:
  std::unique_ptr<RandomRWFile> target_;
};

class Env {
 public:
  virtual ~Env() = default;

  // The environment of the machine the program runs on. Never deleted.
  static Env* Default();

  // Whole-file reads and writes. WriteFile and CopyFile replace the target
  // only once the new content is complete, so a failure leaves any older
  // file in place, unchanged.
  virtual Status ReadFile(const std::string& path, std::string* contents) = 0;
  virtual Status WriteFile(const std::string& path, std::string_view data) = 0;
  virtual Status AppendFile(const std::string& path, std::string_view data) = 0;
  virtual Status CopyFile(const std::string& from, const std::string& to) = 0;
  virtual Status RenameFile(const std::string& from, const std::string& to) = 0;
  virtual Status DeleteFile(const std::string& path) = 0;
  // Forces a file's content, and its entry in its folder, to the disk.
  virtual Status SyncFile(const std::string& path) = 0;
  // The same for several files, each folder forced once. This default, which
  // EnvWrapper keeps so that wrappers see each SyncFile, calls SyncFile for
  // each; the first failure ends it.
  virtual Status SyncFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
      Status s = SyncFile(path);
      if (!s.ok()) return s;
    }
    return Status::OK();
  }
  virtual Status GetFileSize(const std::string& path, uint64_t* size) = 0;

  // True for an existing file that is not a folder.
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool DirExists(const std::string& path) = 0;
  // The entries of a folder, without "." and "..", in no particular order.
  virtual Status ListDir(const std::string& path, std::vector<DirEntry>* entries) = 0;
  virtual Status CreateDir(const std::string& path) = 0;
  // Removes an empty folder.
  virtual Status RemoveDir(const std::string& path) = 0;

  virtual Status OpenRandomRW(const std::string& path, bool writable,
                              std::unique_ptr<RandomRWFile>* file) = 0;

  // Takes an exclusive lock on the named file (created if missing) without
  // waiting; Busy when someone else holds it. On Windows a named mutex made
  // from the file's full path is held as well, the machine's own test for a
  // running instance, which also holds where the folder lies on a share
  // that ignores byte locks; made from the path, it lets installations in
  // other folders run side by side.
  virtual Status LockFile(const std::string& path, std::unique_ptr<FileLock>* lock) = 0;

  // Absolute path of the running program file.
  virtual Status GetProgramPath(std::string* path) = 0;

  virtual LocalTime Now() = 0;
  virtual uint64_t NowMicros() = 0;
  virtual void SleepMicros(uint64_t micros) = 0;

  // Makes path the process's current folder, for the outside components
  // (drivers, commands) that resolve relative names themselves.
  virtual Status SetWorkingDir(const std::string& path) = 0;
  virtual Status GetWorkingDir(std::string* path) = 0;

  // The value of an environment variable of this process; false when unset.
  virtual bool GetEnvVar(const std::string& name, std::string* value) = 0;

  // Runs a program to its end, feeding its standard input and collecting
  // its standard output. Fails only when the program cannot be started; how
  // it ended is in *result.
  virtual Status RunCommand(const CommandSpec& command, CommandResult* result) = 0;

  // Shows text in a message box with an OK button under title and waits
  // until a person dismisses it, at most timeout_ms. False, at once, where
  // nobody could see it (no desktop of a person: a scheduled pass, a
  // service, a machine without a display, and always on POSIX), and false
  // when the time ran out: the caller then reports the text another way.
  virtual bool ShowMessageBox(const std::string& title, const std::string& text,
                              int timeout_ms) = 0;
};

// Forwards every call to another Env. Tests subclass it and override the
// calls whose failure they want to provoke.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  Status ReadFile(const std::string& p, std::string* c) override { return target_->ReadFile(p, c); }
  Status WriteFile(const std::string& p, std::string_view d) override {
    return target_->WriteFile(p, d);
  }
  Status AppendFile(const std::string& p, std::string_view d) override {
    return target_->AppendFile(p, d);
  }
  Status CopyFile(const std::string& f, const std::string& t) override {
    return target_->CopyFile(f, t);
  }
  Status RenameFile(const std::string& f, const std::string& t) override {
    return target_->RenameFile(f, t);
  }
  Status DeleteFile(const std::string& p) override { return target_->DeleteFile(p); }
  Status SyncFile(const std::string& p) override { return target_->SyncFile(p); }
  Status GetFileSize(const std::string& p, uint64_t* s) override {
    return target_->GetFileSize(p, s);
  }
  bool FileExists(const std::string& p) override { return target_->FileExists(p); }
  bool DirExists(const std::string& p) override { return target_->DirExists(p); }
  Status ListDir(const std::string& p, std::vector<DirEntry>* e) override {
    return target_->ListDir(p, e);
  }
  Status CreateDir(const std::string& p) override { return target_->CreateDir(p); }
  Status RemoveDir(const std::string& p) override { return target_->RemoveDir(p); }
  Status OpenRandomRW(const std::string& p, bool w, std::unique_ptr<RandomRWFile>* f) override {
    return target_->OpenRandomRW(p, w, f);
  }
  Status LockFile(const std::string& p, std::unique_ptr<FileLock>* l) override {
    return target_->LockFile(p, l);
  }
  Status GetProgramPath(std::string* p) override { return target_->GetProgramPath(p); }
  LocalTime Now() override { return target_->Now(); }
  uint64_t NowMicros() override { return target_->NowMicros(); }
  void SleepMicros(uint64_t m) override { target_->SleepMicros(m); }
  Status SetWorkingDir(const std::string& p) override { return target_->SetWorkingDir(p); }
  Status GetWorkingDir(std::string* p) override { return target_->GetWorkingDir(p); }
  bool GetEnvVar(const std::string& n, std::string* v) override { return target_->GetEnvVar(n, v); }
  Status RunCommand(const CommandSpec& c, CommandResult* r) override {
    return target_->RunCommand(c, r);
  }
  bool ShowMessageBox(const std::string& title, const std::string& text, int timeout_ms) override {
    return target_->ShowMessageBox(title, text, timeout_ms);
  }

 private:
  Env* target_;
};

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_ENV_H_
