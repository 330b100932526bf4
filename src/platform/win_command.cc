#include "platform/win_command.h"

#include "platform/win_api.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <tuple>

#include "platform/win_handle.h"
#include "platform/win_text.h"

namespace lumbra {
namespace {

Status CannotStart(const std::string& program, const std::string& where, DWORD code) {
  std::string msg = "cannot start " + program + where + ": " + DescribeWinError(code);
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Status::NotFound(msg);
  return Status::IOError(msg);
}

// One end of a pipe to the program, served with overlapped I/O so that
// input, output and errors flow at the same time in one thread.
struct PipeEnd {
  WinHandle ours;
  WinHandle event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  OVERLAPPED ov = {};
  bool pending = false;
  std::string buffer;

  bool open() const { return ours.valid(); }

  // Starts a read or write of buffer; false when the pipe has closed.
  bool Start(bool write, const char* data, DWORD size) {
    ov = OVERLAPPED{};
    ov.hEvent = event.get();
    BOOL done = write ? ::WriteFile(ours.get(), data, size, nullptr, &ov)
                      : ::ReadFile(ours.get(), buffer.data(), size, nullptr, &ov);
    // Done at once or later, the event is set either way.
    pending = done || ::GetLastError() == ERROR_IO_PENDING;
    return pending;
  }

  // How many bytes the finished operation moved; false when the pipe has
  // closed (the program's end of it, or everyone who inherited it).
  bool Finish(DWORD* moved) {
    pending = false;
    *moved = 0;
    return ::GetOverlappedResult(ours.get(), &ov, moved, FALSE) != FALSE;
  }

  void Close() {
    if (pending) {
      ::CancelIoEx(ours.get(), &ov);
      DWORD ignored = 0;
      ::GetOverlappedResult(ours.get(), &ov, &ignored, TRUE);
      pending = false;
    }
    ours.Close();
  }
};

std::atomic<unsigned> pipe_serial{0};

// A pipe whose program end is inheritable and blocking, and whose end here
// is overlapped: anonymous pipes cannot be, so it is a named one with a
// name no one else uses.
Status MakePipe(bool program_reads, PipeEnd* ours, WinHandle* theirs) {
  std::wstring name = L"\\\\.\\pipe\\lumbra-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                      std::to_wstring(++pipe_serial);
  DWORD direction = program_reads ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND;
  ours->ours.Reset(::CreateNamedPipeW(
      name.c_str(), direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 1 << 16, 1 << 16, 0, nullptr));
  if (!ours->ours.valid()) return Status::IOError("pipe: " + DescribeWinError(::GetLastError()));
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  theirs->Reset(::CreateFileW(name.c_str(), program_reads ? GENERIC_READ : GENERIC_WRITE, 0,
                              &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!theirs->valid()) return Status::IOError("pipe: " + DescribeWinError(::GetLastError()));
  if (!ours->event.valid()) return Status::IOError("event: " + DescribeWinError(::GetLastError()));
  return Status::OK();
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// This process's environment with the command's variables put in (names
// compared without regard to case, as Windows does), as a block for
// CreateProcessW.
std::wstring EnvironmentBlock(const CommandSpec& command) {
  std::wstring block;
  wchar_t* current = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = current; entry != nullptr && *entry != L'\0';
       entry += wcslen(entry) + 1) {
    std::wstring_view text(entry);
    // Names of the per-drive folders ("=C:=C:\x") begin with "=".
    std::wstring_view name = text.substr(0, text.find(L'=', 1));
    bool replaced = std::any_of(command.environment.begin(), command.environment.end(),
                                [&](const auto& var) { return SameName(WidenCp1252(var.first), name); });
    if (!replaced) block.append(text).push_back(L'\0');
  }
  if (current != nullptr) ::FreeEnvironmentStringsW(current);
  for (const auto& [name, value] : command.environment) {
    block.append(WidenCp1252(name + "=" + value)).push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

// The job the program runs in: closing its handle, or a limit, ends every
// process in it. Null where the job cannot be had (Windows 7 allows no job
// inside another one); the limits then end the program alone.
HANDLE MakeJob() {
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return job;
}

// The first line of standard error is all that is kept of it; this much is
// read before the rest is drained unseen.
constexpr size_t kErrorPrefix = 4096;
constexpr DWORD kPipeChunk = 1 << 16;

}  // namespace

std::wstring JoinCommandLine(const std::vector<std::wstring>& argv) {
  std::wstring line;
  for (const std::wstring& arg : argv) {
    if (!line.empty()) line.push_back(L' ');
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
      line += arg;
      continue;
    }
    line.push_back(L'"');
    size_t backslashes = 0;
    for (wchar_t c : arg) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      // Backslashes count double only where a quote follows them.
      line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      line.push_back(c);
    }
    line.append(backslashes * 2, L'\\');
    line.push_back(L'"');
  }
  return line;
}

Status RunWindowsCommand(const CommandSpec& command, CommandResult* result) {
  *result = CommandResult();
  if (command.argv.empty()) return Status::InvalidArgument("no program to run");
  const std::string& program = command.argv[0];
  std::string where = command.working_dir.empty() ? "" : " in " + command.working_dir;

  PipeEnd in, out, err;
  WinHandle child_in, child_out, child_err;
  for (auto [ours, theirs, reads] : {std::tuple{&in, &child_in, true}, {&out, &child_out, false},
                                     {&err, &child_err, false}}) {
    Status s = MakePipe(reads, ours, theirs);
    if (!s.ok()) return s;
  }

  // Only the three pipe ends are handed down, whatever else is inheritable.
  HANDLE inherited[] = {child_in.get(), child_out.get(), child_err.get()};
  SIZE_T attr_size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attr_size);
  std::string attr_buffer(attr_size, '\0');
  auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attr_buffer.data());
  bool have_attrs = ::InitializeProcThreadAttributeList(attrs, 1, 0, &attr_size) &&
                    ::UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                inherited, sizeof inherited, nullptr, nullptr);
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = have_attrs ? sizeof startup : sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = child_in.get();
  startup.StartupInfo.hStdOutput = child_out.get();
  startup.StartupInfo.hStdError = child_err.get();
  startup.lpAttributeList = have_attrs ? attrs : nullptr;

  std::vector<std::wstring> wide_argv;
  for (const std::string& arg : command.argv) wide_argv.push_back(WidenCp1252(arg));
  std::wstring application = wide_argv[0];
  std::wstring line = JoinCommandLine(wide_argv);
  std::wstring environment = EnvironmentBlock(command);
  std::wstring folder = WidenCp1252(command.working_dir);
  DWORD flags = CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW |
                (have_attrs ? EXTENDED_STARTUPINFO_PRESENT : 0);
  PROCESS_INFORMATION info = {};
  BOOL started = ::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                                  environment.data(), folder.empty() ? nullptr : folder.c_str(),
                                  &startup.StartupInfo, &info);
  DWORD start_error = ::GetLastError();
  if (have_attrs) ::DeleteProcThreadAttributeList(attrs);
  child_in.Close();
  child_out.Close();
  child_err.Close();
  if (!started) return CannotStart(program, where, start_error);
  WinHandle process(info.hProcess), thread(info.hThread);
  WinHandle job(MakeJob());
  if (job.valid() && !::AssignProcessToJobObject(job.get(), process.get())) job.Close();
  ::ResumeThread(thread.get());

  const ULONGLONG start = ::GetTickCount64();
  bool killed = false;
  auto kill_all = [&](CommandResult::End end) {
    if (job.valid()) {
      ::TerminateJobObject(job.get(), 1);
    } else {
      ::TerminateProcess(process.get(), 1);
    }
    result->end = end;
    killed = true;
  };
  // Silence is counted from the start, then from the last byte written.
  ULONGLONG last_output = start;
  auto remaining = [&]() -> DWORD {
    if (command.silence_limit_ms == 0) return INFINITE;
    ULONGLONG silent = ::GetTickCount64() - last_output;
    if (silent >= command.silence_limit_ms) return 0;
    return static_cast<DWORD>(std::min<ULONGLONG>(command.silence_limit_ms - silent, INFINITE - 1));
  };

  out.buffer.resize(kPipeChunk);
  err.buffer.resize(kPipeChunk);
  size_t written = 0;
  size_t error_bytes = 0;
  std::string errors;
  if (command.input.empty()) in.Close();
  auto start_write = [&] {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(command.input.size() - written, kPipeChunk));
    if (!in.Start(true, command.input.data() + written, chunk)) in.Close();
  };
  if (in.open()) start_write();
  for (PipeEnd* p : {&out, &err}) {
    if (!p->Start(false, nullptr, kPipeChunk)) p->Close();
  }

  // Once the program has ended, what it wrote is already in the pipes:
  // that is read, and nothing more waited for. A process it started may
  // hold the pipes open long after (Wine's COM starts its services that
  // way), and the command is over all the same.
  bool ended = false;
  while (!killed && (out.open() || err.open())) {
    HANDLE events[4];
    PipeEnd* ends[4];
    DWORD count = 0;
    for (PipeEnd* p : {&in, &out, &err}) {
      if (p->open() && p->pending) {
        events[count] = p->event.get();
        ends[count++] = p;
      }
    }
    const DWORD pipes = count;
    if (!ended) events[count++] = process.get();
    DWORD wait = ::WaitForMultipleObjects(count, events, FALSE, ended ? 0 : remaining());
    if (wait == WAIT_TIMEOUT) {
      if (!ended) kill_all(CommandResult::End::kTimedOut);
      break;
    }
    if (!ended && wait == WAIT_OBJECT_0 + pipes) {
      ended = true;
      continue;
    }
    if (wait >= WAIT_OBJECT_0 + count) {
      DWORD code = ::GetLastError();
      kill_all(CommandResult::End::kTimedOut);
      return Status::IOError("waiting for " + program + ": " + DescribeWinError(code));
    }
    PipeEnd* p = ends[wait - WAIT_OBJECT_0];
    DWORD moved = 0;
    bool alive = p->Finish(&moved);
    if (p == &in) {
      written += moved;
      // A program that stops reading just gets no more input.
      if (!alive || written == command.input.size()) {
        in.Close();
      } else {
        start_write();
      }
      continue;
    }
    if (!alive) {
      p->Close();
      continue;
    }
    if (moved > 0) last_output = ::GetTickCount64();
    size_t stream_bytes;
    if (p == &out) {
      result->output.append(out.buffer.data(), moved);
      stream_bytes = result->output.size();
    } else {
      if (errors.size() < kErrorPrefix && errors.find('\n') == std::string::npos) {
        errors.append(err.buffer.data(), moved);
      }
      error_bytes += moved;
      stream_bytes = error_bytes;
    }
    if (command.output_limit > 0 && stream_bytes > command.output_limit) {
      kill_all(CommandResult::End::kOutputTooLarge);
      break;
    }
    if (!p->Start(false, nullptr, kPipeChunk)) p->Close();
  }
  in.Close();
  out.Close();
  err.Close();

  // A program may close its output and still run on: it is silent from
  // then on, and the limit holds until it has ended.
  if (!killed && ::WaitForSingleObject(process.get(), remaining()) == WAIT_TIMEOUT) {
    kill_all(CommandResult::End::kTimedOut);
  }
  if (killed) {
    // Ending takes a moment; nothing is left running behind the caller.
    ::WaitForSingleObject(process.get(), 10000);
  } else {
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    result->end = CommandResult::End::kExited;
    result->exit_status = static_cast<int>(code);
  }
  result->first_error_line = errors.substr(0, errors.find('\n'));
  if (!result->first_error_line.empty() && result->first_error_line.back() == '\r') {
    result->first_error_line.pop_back();
  }
  return Status::OK();
}

}  // namespace lumbra
