// Helpers for tests that run on real files in a temporary folder.
#ifndef LUMBRA_TESTS_SUPPORT_TEST_UTIL_H_
#define LUMBRA_TESTS_SUPPORT_TEST_UTIL_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "backends/context/run_context.h"
#include "backends/context/run_log.h"

namespace lumbra::test {

// A fresh folder in the system's temporary folder, removed with everything
// in it when destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // A path below the folder; "\" separates folders as in the system's paths.
  std::string Path(std::string_view rel) const;
  // Writes a file (creating its folders) with exactly these bytes.
  void Write(std::string_view rel, std::string_view bytes) const;
  void MakeDir(std::string_view rel) const;
  bool Exists(std::string_view rel) const;
  // The file's bytes; empty when it cannot be read.
  std::string Read(std::string_view rel) const;
  // The files below a folder, as paths relative to this folder with "\\"
  // between folders, sorted ("Rejected\\20261205\\2-143015-transact.xml").
  std::vector<std::string> FilesUnder(std::string_view rel) const;

 private:
  std::string path_;
};

// A run context over a temporary folder (working folder and program folder
// alike), logging to "Lumbra.log" there.
class TestRun {
 public:
  explicit TestRun(const TempDir& dir, Env* env = Env::Default());
  RunContext& ctx() { return *ctx_; }

 private:
  RunLog log_;
  std::unique_ptr<RunContext> ctx_;
};

// An Env whose file operations fail on demand: a call fails when the rule
// returns true for its operation name ("CopyFile", "WriteFile", ...) and
// path (the target path for copies and renames). Files changed in place
// fail on "OpenForWriting" (opened for writing), "Write" and "Sync".
class FaultEnv : public EnvWrapper {
 public:
  using Rule = std::function<bool(std::string_view op, const std::string& path)>;
  explicit FaultEnv(Rule rule, Env* target = Env::Default())
      : EnvWrapper(target), rule_(std::move(rule)) {}

  Status ReadFile(const std::string& p, std::string* c) override;
  Status WriteFile(const std::string& p, std::string_view d) override;
  Status AppendFile(const std::string& p, std::string_view d) override;
  Status CopyFile(const std::string& f, const std::string& t) override;
  Status RenameFile(const std::string& f, const std::string& t) override;
  Status DeleteFile(const std::string& p) override;
  Status OpenRandomRW(const std::string& p, bool writable,
                      std::unique_ptr<RandomRWFile>* file) override;
  Status SyncFile(const std::string& p) override;
  Status CreateDir(const std::string& p) override;
  // Forcing to disk guards against power cuts, which tests do not make:
  // tests that run many passes skip it.
  void SkipSyncs() { skip_syncs_ = true; }

 private:
  class File;
  Rule rule_;
  bool skip_syncs_ = false;
};

// Device table bytes: each line coded and ended by CR LF.
std::string Coded(const std::vector<std::string>& lines);

bool FileExists(const std::string& path);

// The most memory this process has held so far, in KiB.
size_t PeakMemoryKiB();

// A file name as this platform matches it: on Windows in any case, so a
// look-up may give back the name in the case it was asked in.
std::string MatchedName(std::string_view name);

// Runs a program (argv[0] its path) to its end through Env::RunCommand, at
// most a minute; returns its exit status (-1 when it could not be started or
// was stopped), its standard output in *out and the first line of its
// standard error in *error.
int RunProgram(CommandSpec command, std::string* out = nullptr, std::string* error = nullptr);

// The program itself, and the peer that plays another program
// (tests/peer/peer_main.cc), with these arguments.
CommandSpec Lumbra(std::vector<std::string> args);
CommandSpec Peer(std::vector<std::string> args);

// The peer running beside the test, for what another program does at the
// same time (holding a lock, say): started in a thread of its own, it is
// waited for, at most 30 s, until it has made the file `ready`; destroyed,
// it waits for the peer's end.
class PeerBeside {
 public:
  PeerBeside(std::vector<std::string> args, const std::string& ready);
  ~PeerBeside();
  PeerBeside(const PeerBeside&) = delete;
  PeerBeside& operator=(const PeerBeside&) = delete;
  bool ready() const { return ready_; }

 private:
  struct Run;
  std::unique_ptr<Run> run_;
  bool ready_ = false;
};

#ifndef _WIN32
// Runs a command through the shell; returns its exit status and, when out is
// given, its standard output. POSIX only: tests that need a shell say so.
int RunShell(const std::string& command, std::string* out = nullptr);
#endif

// An environment variable of this process set (or, with an empty value,
// removed) for the object's lifetime, then put back as it was. Programs
// the test starts, and components it loads, see it.
class ScopedEnvVar {
 public:
  ScopedEnvVar(std::string name, const std::string& value);
  ~ScopedEnvVar();
  ScopedEnvVar(const ScopedEnvVar&) = delete;
  ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;
  void Set(const std::string& value);

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

// What the fake COM components of the Windows tests (tests/fakes) take from
// the environment: the file their calls are logged to, and the step at
// which they fail.
inline constexpr const char* kFakeComLog = "LUMBRA_FAKE_COM_LOG";
inline constexpr const char* kFakeProcessorFail = "LUMBRA_FAKE_QBXML_FAIL";
inline constexpr const char* kFakeMoneyWorksFail = "LUMBRA_FAKE_MONEYWORKS_FAIL";

// `size` pseudo-random bytes 0x00-0xFF from `seed`, one in `tab_every` of
// them a tab, so parsers see fields of every shape.
std::string JunkBytes(uint32_t seed, size_t size, int tab_every);

// The bytes of a file under tests/data/ ("myob/CUST.TXT"); a missing file
// fails the test that asks for it.
std::string TestData(std::string_view relative_path);

// Speed checks skip themselves in sanitizer and debug builds and under Wine,
// where times say nothing about the program:
// `if (!TimingIsMeaningful()) GTEST_SKIP();`
inline bool TimingIsMeaningful() {
#ifdef LUMBRA_TIMING_UNRELIABLE
  return false;
#else
  return true;
#endif
}

}  // namespace lumbra::test

#endif  // LUMBRA_TESTS_SUPPORT_TEST_UTIL_H_
