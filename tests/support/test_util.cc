#include "support/test_util.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include "platform/win_api.h"
#include <psapi.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "text/lines.h"
#include "text/paths.h"
#include "text/text_fields.h"

namespace lumbra::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::mt19937_64 random{std::random_device{}()};
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    fs::path candidate = base / ("lumbra-test-" + std::to_string(random() % 1000000000));
    if (fs::create_directory(candidate, ec)) path_ = candidate.string();
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

std::string TempDir::Path(std::string_view rel) const { return JoinPath(path_, rel); }

void TempDir::Write(std::string_view rel, std::string_view bytes) const {
  std::string p = Path(rel);
  fs::create_directories(fs::path(p).parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void TempDir::MakeDir(std::string_view rel) const { fs::create_directories(Path(rel)); }

bool TempDir::Exists(std::string_view rel) const { return fs::exists(Path(rel)); }

std::string TempDir::Read(std::string_view rel) const {
  std::ifstream f(Path(rel), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<std::string> TempDir::FilesUnder(std::string_view rel) const {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(Path(rel), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    std::string name = fs::relative(it->path(), path_).string();
    std::replace(name.begin(), name.end(), '/', '\\');
    out.push_back(name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TestRun::TestRun(const TempDir& dir, Env* env)
    : log_(env, dir.Path("Lumbra.log")),
      ctx_(std::make_unique<RunContext>(env, &log_, dir.path(), dir.path())) {}

#define LUMBRA_FAULT(op, path) \
  if (rule_(op, path)) return Status::IOError(std::string("injected fault: ") + op + " " + path)

Status FaultEnv::ReadFile(const std::string& p, std::string* c) {
  LUMBRA_FAULT("ReadFile", p);
  return EnvWrapper::ReadFile(p, c);
}
Status FaultEnv::WriteFile(const std::string& p, std::string_view d) {
  LUMBRA_FAULT("WriteFile", p);
  return EnvWrapper::WriteFile(p, d);
}
Status FaultEnv::AppendFile(const std::string& p, std::string_view d) {
  LUMBRA_FAULT("AppendFile", p);
  return EnvWrapper::AppendFile(p, d);
}
Status FaultEnv::CopyFile(const std::string& f, const std::string& t) {
  LUMBRA_FAULT("CopyFile", t);
  return EnvWrapper::CopyFile(f, t);
}
Status FaultEnv::RenameFile(const std::string& f, const std::string& t) {
  LUMBRA_FAULT("RenameFile", t);
  return EnvWrapper::RenameFile(f, t);
}
Status FaultEnv::DeleteFile(const std::string& p) {
  LUMBRA_FAULT("DeleteFile", p);
  return EnvWrapper::DeleteFile(p);
}

class FaultEnv::File : public RandomRWFileWrapper {
 public:
  File(std::unique_ptr<RandomRWFile> base, std::string path, FaultEnv* env)
      : RandomRWFileWrapper(std::move(base)), path_(std::move(path)), env_(env) {}
  Status Write(uint64_t o, std::string_view data) override {
    if (env_->rule_("Write", path_)) return Status::IOError("injected fault: Write " + path_);
    return RandomRWFileWrapper::Write(o, data);
  }
  Status Sync() override {
    if (env_->rule_("Sync", path_)) return Status::IOError("injected fault: Sync " + path_);
    return env_->skip_syncs_ ? Status::OK() : RandomRWFileWrapper::Sync();
  }

 private:
  std::string path_;
  FaultEnv* env_;
};

Status FaultEnv::SyncFile(const std::string& p) {
  LUMBRA_FAULT("Sync", p);
  return skip_syncs_ ? Status::OK() : EnvWrapper::SyncFile(p);
}

Status FaultEnv::CreateDir(const std::string& p) {
  LUMBRA_FAULT("CreateDir", p);
  return EnvWrapper::CreateDir(p);
}

Status FaultEnv::OpenRandomRW(const std::string& p, bool writable,
                              std::unique_ptr<RandomRWFile>* file) {
  if (writable && rule_("OpenForWriting", p)) {
    return Status::IOError("injected fault: " + p + ": Permission denied");
  }
  Status s = EnvWrapper::OpenRandomRW(p, writable, file);
  if (s.ok()) file->reset(new File(std::move(*file), p, this));
  return s;
}

#undef LUMBRA_FAULT

std::string Coded(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) AppendLine(&out, EncodeLine(line));
  return out;
}

bool FileExists(const std::string& path) { return Env::Default()->FileExists(path); }

size_t PeakMemoryKiB() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize / 1024;
#else
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss);
#endif
}

std::string MatchedName(std::string_view name) {
  std::string matched(name);
#ifdef _WIN32
  for (char& c : matched) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
#endif
  return matched;
}

ScopedEnvVar::ScopedEnvVar(std::string name, const std::string& value) : name_(std::move(name)) {
  const char* old = std::getenv(name_.c_str());
  had_ = old != nullptr;
  if (had_) old_ = old;
  Set(value);
}

ScopedEnvVar::~ScopedEnvVar() { Set(had_ ? old_ : std::string()); }

void ScopedEnvVar::Set(const std::string& value) {
#ifdef _WIN32
  // The C library's copy and the process's (which components read) alike;
  // "NAME=" removes it.
  _putenv((name_ + "=" + value).c_str());
#else
  if (value.empty()) {
    ::unsetenv(name_.c_str());
  } else {
    ::setenv(name_.c_str(), value.c_str(), 1);
  }
#endif
}

int RunProgram(CommandSpec command, std::string* out, std::string* error) {
  if (command.silence_limit_ms == 0) command.silence_limit_ms = 60000;
  CommandResult result;
  Status s = Env::Default()->RunCommand(command, &result);
  EXPECT_TRUE(s.ok()) << s.ToString();
  if (out) *out = result.output;
  if (error) *error = result.first_error_line;
  if (!s.ok() || result.end != CommandResult::End::kExited) return -1;
  return result.exit_status;
}

CommandSpec Lumbra(std::vector<std::string> args) {
  CommandSpec command;
  command.argv = {LUMBRA_BINARY};
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  return command;
}

CommandSpec Peer(std::vector<std::string> args) {
  CommandSpec command = Lumbra(std::move(args));
  command.argv[0] = LUMBRA_TEST_PEER;
  return command;
}

struct PeerBeside::Run {
  std::thread thread;
};

PeerBeside::PeerBeside(std::vector<std::string> args, const std::string& ready)
    : run_(std::make_unique<Run>()) {
  CommandSpec command = Peer(std::move(args));
  command.silence_limit_ms = 60000;
  run_->thread = std::thread([command] {
    CommandResult result;
    Env::Default()->RunCommand(command, &result);
  });
  for (int waited = 0; waited < 30000 && !ready_; waited += 10) {
    ready_ = FileExists(ready);
    if (!ready_) Env::Default()->SleepMicros(10000);
  }
}

PeerBeside::~PeerBeside() { run_->thread.join(); }

#ifndef _WIN32
int RunShell(const std::string& command, std::string* out) {
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = ::pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

std::string JunkBytes(uint32_t seed, size_t size, int tab_every) {
  std::string junk;
  junk.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245 + 12345;
    unsigned char c = static_cast<unsigned char>(seed >> 16);
    junk.push_back(c % tab_every == 0 ? '\t' : static_cast<char>(c));
  }
  return junk;
}

std::string TestData(std::string_view relative_path) {
  std::string path = std::string(LUMBRA_SOURCE_DIR) + "/tests/data/" + std::string(relative_path);
  std::string bytes;
  Status s = Env::Default()->ReadFile(path, &bytes);
  EXPECT_TRUE(s.ok()) << path << ": " << s.ToString();
  return bytes;
}

}  // namespace lumbra::test
