// The Env of a POSIX machine.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/env.h"

namespace lumbra {
namespace {

Status PosixError(const std::string& context, int err) {
  std::string msg = context + ": " + std::strerror(err);
  if (err == ENOENT) return Status::NotFound(msg);
  if (err == EAGAIN || err == EWOULDBLOCK) return Status::Busy(msg);
  if (err == ENOSPC || err == EDQUOT) return Status::DiskFull(msg);
  return Status::IOError(msg);
}

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports a failure of the close itself (delayed write errors).
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

Status WriteAll(int fd, std::string_view data, const std::string& path) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return PosixError(path, errno);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return Status::OK();
}

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The scratch name a replacement is written under before it takes the
// target's place; it lives in the target's folder so the rename is atomic.
std::string TempNameFor(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + base + ".lumbra-tmp";
}

Status CopyContent(int in, int out, const std::string& path) {
  for (;;) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    if (n == 0) return Status::OK();
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
      return PosixError(path, errno);
    }
    break;  // not supported here: fall back to plain reads and writes
  }
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) return Status::OK();
    if (n < 0) {
      if (errno == EINTR) continue;
      return PosixError(path, errno);
    }
    Status s = WriteAll(out, std::string_view(buf, static_cast<size_t>(n)), path);
    if (!s.ok()) return s;
  }
}

class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }

 private:
  int fd_;
};

class PosixRandomRWFile : public RandomRWFile {
 public:
  PosixRandomRWFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixRandomRWFile() override { ::close(fd_); }

  Status Read(uint64_t offset, size_t n, std::string* out) override {
    out->resize(n);
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::pread(fd_, out->data() + got, n - got, static_cast<off_t>(offset + got));
      if (r < 0) {
        if (errno == EINTR) continue;
        out->clear();
        return PosixError(path_, errno);
      }
      if (r == 0) break;
      got += static_cast<size_t>(r);
    }
    out->resize(got);
    return Status::OK();
  }

  Status Write(uint64_t offset, std::string_view data) override {
    size_t done = 0;
    while (done < data.size()) {
      ssize_t w = ::pwrite(fd_, data.data() + done, data.size() - done,
                           static_cast<off_t>(offset + done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return PosixError(path_, errno);
      }
      done += static_cast<size_t>(w);
    }
    return Status::OK();
  }

  Status Size(uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return PosixError(path_, errno);
    *size = static_cast<uint64_t>(st.st_size);
    return Status::OK();
  }

  Status Sync() override {
    return ::fdatasync(fd_) == 0 ? Status::OK() : PosixError(path_, errno);
  }

  Status LockRange(uint64_t offset, uint64_t length, bool exclusive, int timeout_ms) override {
    int waited = 0;
    for (;;) {
      if (SetLock(offset, length, exclusive ? F_WRLCK : F_RDLCK)) return Status::OK();
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) return PosixError(path_, errno);
      if (waited >= timeout_ms) return Status::Busy(path_ + ": locked by another program");
      ::usleep(20000);
      waited += 20;
    }
  }

  Status UnlockRange(uint64_t offset, uint64_t length) override {
    return SetLock(offset, length, F_UNLCK) ? Status::OK() : PosixError(path_, errno);
  }

 private:
  bool SetLock(uint64_t offset, uint64_t length, short type) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
#ifdef F_OFD_SETLK
    // Locks of the open file, not of the process, so two opens conflict even
    // within one process, as they do between programs.
    return ::fcntl(fd_, F_OFD_SETLK, &fl) == 0;
#else
    return ::fcntl(fd_, F_SETLK, &fl) == 0;
#endif
  }

  std::string path_;
  int fd_;
};

// Running a program (Env::RunCommand).

// Both ends of a pipe, closed when it goes out of scope.
struct Pipe {
  int fd[2] = {-1, -1};
  ~Pipe() {
    Close(0);
    Close(1);
  }
  bool Open() { return ::pipe2(fd, O_CLOEXEC) == 0; }
  void Close(int end) {
    if (fd[end] >= 0) ::close(fd[end]);
    fd[end] = -1;
  }
};

// Writing to a program that has stopped reading must not end this process:
// SIGPIPE is held back while the program runs, and one raised meanwhile is
// taken off again before the old mask returns.
class SigpipeHold {
 public:
  SigpipeHold() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeHold() {
    sigset_t pending;
    sigpending(&pending);
    if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
      struct timespec now = {0, 0};
      sigtimedwait(&pipe_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  const sigset_t& old_mask() const { return old_; }

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool was_pending_ = false;
};

uint64_t MonotonicMillis() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// In the child: makes fd the descriptor target, kept across exec.
bool MoveTo(int fd, int target) {
  if (fd == target) return ::fcntl(fd, F_SETFD, 0) == 0;
  return ::dup2(fd, target) >= 0;
}

// The first line of standard error is all that is kept of it; this much is
// read before the rest is drained unseen.
constexpr size_t kErrorPrefix = 4096;

Status RunChild(const CommandSpec& command, CommandResult* result) {
  *result = CommandResult();
  if (command.argv.empty()) return Status::InvalidArgument("no program to run");
  const std::string& program = command.argv[0];

  // Everything the child needs is built before the fork; after it the child
  // makes only calls that are safe there.
  std::vector<char*> argv;
  for (const std::string& arg : command.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_entries;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = std::any_of(command.environment.begin(), command.environment.end(),
                                [&](const auto& var) { return var.first == name; });
    if (!replaced) env_entries.emplace_back(entry);
  }
  for (const auto& [name, value] : command.environment) env_entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : env_entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  Pipe in, out, err, report;
  if (!in.Open() || !out.Open() || !err.Open() || !report.Open()) return PosixError("pipe", errno);

  SigpipeHold hold;
  pid_t pid = ::fork();
  if (pid < 0) return PosixError("cannot start " + program, errno);
  if (pid == 0) {
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, nullptr);
    ::sigprocmask(SIG_SETMASK, &hold.old_mask(), nullptr);
    // A group of its own, so the limits can end everything it started.
    ::setpgid(0, 0);
    if (MoveTo(in.fd[0], 0) && MoveTo(out.fd[1], 1) && MoveTo(err.fd[1], 2) &&
        (command.working_dir.empty() || ::chdir(command.working_dir.c_str()) == 0)) {
      ::execve(argv[0], argv.data(), envp.data());
    }
    int e = errno;
    ssize_t ignored = ::write(report.fd[1], &e, sizeof e);
    (void)ignored;
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // the child does it too; whichever runs first
  in.Close(0);
  out.Close(1);
  err.Close(1);
  report.Close(1);

  // The report pipe closes on a successful exec and carries errno otherwise.
  int child_errno = 0;
  ssize_t got;
  do {
    got = ::read(report.fd[0], &child_errno, sizeof child_errno);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof child_errno)) {
    int ignored;
    while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
    std::string where = command.working_dir.empty() ? "" : " in " + command.working_dir;
    return PosixError("cannot start " + program + where, child_errno);
  }

  for (int fd : {in.fd[1], out.fd[0], err.fd[0]}) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  if (command.input.empty()) in.Close(1);

  // The silence limit counts from the start, then from the last byte read.
  uint64_t last_output = MonotonicMillis();
  bool killed = false;
  auto kill_all = [&](CommandResult::End end) {
    ::kill(-pid, SIGKILL);
    result->end = end;
    killed = true;
  };
  auto silence_is_up = [&] {
    return command.silence_limit_ms > 0 &&
           MonotonicMillis() - last_output >= command.silence_limit_ms;
  };

  size_t written = 0;
  std::string errors;
  uint64_t error_bytes = 0;
  char buf[1 << 16];
  while (!killed && (out.fd[0] >= 0 || err.fd[0] >= 0)) {
    int timeout = -1;
    if (command.silence_limit_ms > 0) {
      uint64_t silent = MonotonicMillis() - last_output;
      if (silent >= command.silence_limit_ms) {
        kill_all(CommandResult::End::kTimedOut);
        break;
      }
      timeout = static_cast<int>(std::min<uint64_t>(command.silence_limit_ms - silent, INT_MAX));
    }
    struct pollfd fds[3];
    int count = 0;
    for (int fd : {in.fd[1], out.fd[0], err.fd[0]}) {
      if (fd < 0) continue;
      fds[count].fd = fd;
      fds[count].events = fd == in.fd[1] ? POLLOUT : POLLIN;
      fds[count].revents = 0;
      ++count;
    }
    int ready = ::poll(fds, static_cast<nfds_t>(count), timeout);
    if (ready < 0 && errno != EINTR) {
      int e = errno;
      ::kill(-pid, SIGKILL);
      int ignored;
      while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
      }
      return PosixError("waiting for " + program, e);
    }
    for (int i = 0; i < count && ready > 0; ++i) {
      if (fds[i].revents == 0) continue;
      int fd = fds[i].fd;
      if (fd == in.fd[1]) {
        size_t chunk = std::min<size_t>(command.input.size() - written, sizeof buf);
        ssize_t n = ::write(fd, command.input.data() + written, chunk);
        if (n > 0) written += static_cast<size_t>(n);
        // A program that stops reading (EPIPE) just gets no more input.
        if (written == command.input.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) {
          in.Close(1);
        }
        continue;
      }
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) {
        (fd == out.fd[0] ? out : err).Close(0);
        continue;
      }
      last_output = MonotonicMillis();
      if (fd == out.fd[0]) {
        result->output.append(buf, static_cast<size_t>(n));
        if (command.output_limit > 0 && result->output.size() > command.output_limit) {
          kill_all(CommandResult::End::kOutputTooLarge);
          break;
        }
      } else {
        if (errors.size() < kErrorPrefix && errors.find('\n') == std::string::npos) {
          errors.append(buf, static_cast<size_t>(n));
        }
        // Standard error keeps the program from counting as silent, so its
        // flood must end too.
        error_bytes += static_cast<uint64_t>(n);
        if (command.output_limit > 0 && error_bytes > command.output_limit) {
          kill_all(CommandResult::End::kOutputTooLarge);
          break;
        }
      }
    }
  }
  in.Close(1);
  out.Close(0);
  err.Close(0);

  // A program may close its output and still run on, silent: the limit
  // holds until it has ended.
  int status = 0;
  for (;;) {
    pid_t w = ::waitpid(pid, &status, killed || command.silence_limit_ms == 0 ? 0 : WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) break;
    if (w == 0) {
      if (silence_is_up()) {
        kill_all(CommandResult::End::kTimedOut);
      } else {
        ::usleep(2000);
      }
    }
  }
  if (!killed) {
    if (WIFEXITED(status)) {
      result->end = CommandResult::End::kExited;
      result->exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      result->end = CommandResult::End::kSignaled;
      result->signal = WTERMSIG(status);
    }
  }
  result->first_error_line = errors.substr(0, errors.find('\n'));
  if (!result->first_error_line.empty() && result->first_error_line.back() == '\r') {
    result->first_error_line.pop_back();
  }
  return Status::OK();
}

class PosixEnv : public Env {
 public:
  Status ReadFile(const std::string& path, std::string* contents) override {
    contents->clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return PosixError(path, errno);
    struct stat st;
    if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
      return Status::IOError(path + ": is a folder");
    }
    char buf[1 << 16];
    for (;;) {
      ssize_t n = ::read(fd.get(), buf, sizeof buf);
      if (n == 0) return Status::OK();
      if (n < 0) {
        if (errno == EINTR) continue;
        contents->clear();
        return PosixError(path, errno);
      }
      contents->append(buf, static_cast<size_t>(n));
    }
  }

  Status WriteFile(const std::string& path, std::string_view data) override {
    std::string tmp = TempNameFor(path);
    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) return PosixError(path, errno);
    Status s = WriteAll(fd.get(), data, path);
    return FinishReplacement(std::move(s), fd, tmp, path);
  }

  Status AppendFile(const std::string& path, std::string_view data) override {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (fd.get() < 0) return PosixError(path, errno);
    Status s = WriteAll(fd.get(), data, path);
    if (!fd.Close() && s.ok()) s = PosixError(path, errno);
    return s;
  }

  Status CopyFile(const std::string& from, const std::string& to) override {
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return PosixError(from, errno);
    struct stat st;
    if (::fstat(in.get(), &st) != 0) return PosixError(from, errno);
    if (S_ISDIR(st.st_mode)) return Status::IOError(from + ": is a folder");
    std::string tmp = TempNameFor(to);
    Fd out(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.get() < 0) return PosixError(to, errno);
    Status s = CopyContent(in.get(), out.get(), to);
    return FinishReplacement(std::move(s), out, tmp, to);
  }

  Status RenameFile(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 ? Status::OK() : PosixError(from, errno);
  }

  Status DeleteFile(const std::string& path) override {
    return ::unlink(path.c_str()) == 0 ? Status::OK() : PosixError(path, errno);
  }

  Status SyncFile(const std::string& path) override {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return PosixError(path, errno);
    if (::fsync(fd.get()) != 0) return PosixError(path, errno);
    Fd dir(::open(DirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());  // not every file system allows it
    return Status::OK();
  }

  Status SyncFiles(const std::vector<std::string>& paths) override {
    std::set<std::string> folders;
    for (const std::string& path : paths) {
      Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
      if (fd.get() < 0) return PosixError(path, errno);
      if (::fdatasync(fd.get()) != 0) return PosixError(path, errno);
      folders.insert(DirName(path));
    }
    for (const std::string& folder : folders) {
      Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (dir.get() >= 0) ::fsync(dir.get());  // not every file system allows it
    }
    return Status::OK();
  }

  Status GetFileSize(const std::string& path, uint64_t* size) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return PosixError(path, errno);
    *size = static_cast<uint64_t>(st.st_size);
    return Status::OK();
  }

  bool FileExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  bool DirExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  Status ListDir(const std::string& path, std::vector<DirEntry>* entries) override {
    entries->clear();
    DIR* d = ::opendir(path.c_str());
    if (d == nullptr) return PosixError(path, errno);
    while (struct dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      DirEntry entry;
      entry.name = name;
      if (e->d_type == DT_DIR) {
        entry.is_dir = true;
      } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
        entry.is_dir = DirExists(path + "/" + name);
      }
      entries->push_back(std::move(entry));
    }
    ::closedir(d);
    return Status::OK();
  }

  Status CreateDir(const std::string& path) override {
    return ::mkdir(path.c_str(), 0755) == 0 ? Status::OK() : PosixError(path, errno);
  }

  Status RemoveDir(const std::string& path) override {
    return ::rmdir(path.c_str()) == 0 ? Status::OK() : PosixError(path, errno);
  }

  Status OpenRandomRW(const std::string& path, bool writable,
                      std::unique_ptr<RandomRWFile>* file) override {
    int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return PosixError(path, errno);
    file->reset(new PosixRandomRWFile(path, fd));
    return Status::OK();
  }

  Status LockFile(const std::string& path, std::unique_ptr<FileLock>* lock) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return PosixError(path, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      ::close(fd);
      if (err == EWOULDBLOCK) return Status::Busy(path + ": held by another pass");
      return PosixError(path, err);
    }
    lock->reset(new PosixFileLock(fd));
    return Status::OK();
  }

  Status GetProgramPath(std::string* path) override {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return PosixError("/proc/self/exe", errno);
    path->assign(buf, static_cast<size_t>(n));
    return Status::OK();
  }

  LocalTime Now() override {
    time_t t = ::time(nullptr);
    struct tm tm;
    ::localtime_r(&t, &tm);
    LocalTime lt;
    lt.year = tm.tm_year + 1900;
    lt.month = tm.tm_mon + 1;
    lt.day = tm.tm_mday;
    lt.hour = tm.tm_hour;
    lt.minute = tm.tm_min;
    lt.second = tm.tm_sec;
    return lt;
  }

  uint64_t NowMicros() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
  }

  void SleepMicros(uint64_t micros) override { ::usleep(static_cast<useconds_t>(micros)); }

  Status SetWorkingDir(const std::string& path) override {
    return ::chdir(path.c_str()) == 0 ? Status::OK() : PosixError(path, errno);
  }

  Status GetWorkingDir(std::string* path) override {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) return PosixError("current folder", errno);
    *path = cwd;
    ::free(cwd);
    return Status::OK();
  }

  bool GetEnvVar(const std::string& name, std::string* value) override {
    const char* v = ::getenv(name.c_str());
    if (v == nullptr) return false;
    *value = v;
    return true;
  }

  Status RunCommand(const CommandSpec& command, CommandResult* result) override {
    return RunChild(command, result);
  }

  // A POSIX pass has no desktop of its own to show a box on.
  bool ShowMessageBox(const std::string&, const std::string&, int) override { return false; }

 private:
  // Closes the scratch copy and moves it over the target, or throws it away
  // when anything failed, leaving the target as it was.
  Status FinishReplacement(Status s, Fd& fd, const std::string& tmp, const std::string& target) {
    if (!fd.Close() && s.ok()) s = PosixError(target, errno);
    if (s.ok() && ::rename(tmp.c_str(), target.c_str()) != 0) s = PosixError(target, errno);
    if (!s.ok()) ::unlink(tmp.c_str());
    return s;
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;
  return env;
}

}  // namespace lumbra
