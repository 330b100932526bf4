// lumbra_test_peer: the other programs of the tests, as separate processes,
// started through Env::RunCommand on every platform (no fork, no shell).
// The first argument names what it does:
//
//   hold FILE OFFSET... MS READY     takes the exclusive lock bytes of FILE
//                                    at OFFSET... (LockFileEx on Windows, as
//                                    the accounting package takes them),
//                                    writes the file READY, holds them MS
//                                    milliseconds, ends
//   bump TABLE FIELD RECNO TIMES     TIMES over, as the accounting package
//                                    changes a record: lock the record, read
//                                    FIELD afresh, add 1, write, unlock;
//                                    prints each value written
//   pass DIR DIE_AT [LOCK_WAIT_MS]   runs a pass in DIR and is killed before
//                                    its DIE_AT-th write to a file (0: never);
//                                    the log and the device tables of folder
//                                    1 are not counted
//   dbf-change CHANGE TABLE N        makes CHANGE ("append": a record with a
//                                    memo; "memo": a longer memo for record
//                                    1) to TABLE (fields NAME, QTY, NOTES)
//                                    and dies before the N-th write to the
//                                    table or its memo file (status 77)
//   dbf-journaled-change CHANGE DIR N
//                                    the same for DIR/T.DBF with its memo
//                                    file and structural index, the change
//                                    ("append": N500x with a memo; "rename":
//                                    record 5 to N2a) written down first in
//                                    a posting journal of DIR, as the
//                                    posting does; 3 when it failed
//   cat                              standard input to standard output
//   echo ARG...                      each argument, then a line feed
//   exit STATUS [LINE...]            each LINE on standard error, then ends
//   print-env NAME...                the values of NAME..., then the working
//                                    folder, joined by "|"
//   sleep MS [TEXT]                  TEXT on standard output, then sleeps
//   write COUNT                      COUNT bytes "y" (no end when negative)
//   run ARG...                       this program again with ARG..., its
//                                    output passed on: a command that
//                                    started another process
//
// Exit status 0 when done, 2 for a wrong command line, 1 for a failure. A new
// subcommand is one function and one row of the table in main.
#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
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
#include "intake/posting_journal.h"
#include "backends/aurora/table_engine.h"
#include "platform/env.h"
#include "platform/program_start.h"
#include "run/run_driver.h"
#include "support/hooked_env.h"
#include "text/numbers.h"
#include "text/paths.h"

namespace lumbra {
namespace {

using Args = std::vector<std::string>;

void Put(FILE* f, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

long Number(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

int Cat(const Args&) {
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) std::fwrite(buf, 1, n, stdout);
  std::fflush(stdout);
  return 0;
}

int Echo(const Args& args) {
  std::string out;
  for (const std::string& arg : args) out += arg + "\n";
  Put(stdout, out);
  return 0;
}

int Exit(const Args& args) {
  if (args.empty()) return 2;
  for (size_t i = 1; i < args.size(); ++i) Put(stderr, args[i] + "\n");
  return static_cast<int>(Number(args[0]));
}

int PrintEnv(const Args& args) {
  std::string out;
  for (const std::string& name : args) {
    std::string value;
    Env::Default()->GetEnvVar(name, &value);
    out += value + "|";
  }
  std::string folder;
  Env::Default()->GetWorkingDir(&folder);
  Put(stdout, out + folder);
  return 0;
}

int Sleep(const Args& args) {
  if (args.empty()) return 2;
  if (args.size() > 1) Put(stdout, args[1]);
  Env::Default()->SleepMicros(static_cast<uint64_t>(Number(args[0])) * 1000);
  return 0;
}

int Write(const Args& args) {
  if (args.size() != 1) return 2;
  long count = Number(args[0]);
  std::string chunk(1 << 16, 'y');
  for (long left = count; count < 0 || left > 0;) {
    size_t n = count < 0 ? chunk.size() : std::min<size_t>(chunk.size(), static_cast<size_t>(left));
    if (std::fwrite(chunk.data(), 1, n, stdout) != n) return 1;
    left -= static_cast<long>(n);
  }
  std::fflush(stdout);
  return 0;
}

int Run(const Args& args) {
  if (args.empty()) return 2;
  std::string self;
  if (!Env::Default()->GetProgramPath(&self).ok()) return 1;
  CommandSpec command;
  command.argv = {self};
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  CommandResult result;
  if (!Env::Default()->RunCommand(command, &result).ok()) return 1;
  Put(stdout, result.output);
  return result.exit_status;
}

// The status of a process that dbf-change ended as a kill would.
constexpr int kKilledStatus = 77;

int DbfChange(const Args& args) {
  if (args.size() != 3) return 2;
  dbftest::HookedEnv env;
  long left = Number(args[2]);
  env.before_write = [&left] {
    if (--left == 0) std::_Exit(kKilledStatus);
  };
  TableEngine engine(&env, nullptr);
  if (engine.Use(args[1], "t", TableEngine::kReadWrite, TableEngine::kDriverDbf) == 0) return 1;
  if (args[0] == "append") {
    engine.GoBottom();
    engine.Skip(1);
    engine.Replace("NAME", TableEngine::kValueOrdinary, "Dee");
    engine.Replace("NOTES", TableEngine::kValueMemo, "new note");
    engine.Append();
  } else if (args[0] == "memo") {
    engine.Replace("NOTES", TableEngine::kValueMemo, std::string(200, 'z'));
    engine.Commit();
  } else {
    return 2;
  }
  engine.Close();
  return 0;
}

// dbf-journaled-change: as DbfChange, a change of DIR/T.DBF (a table with a
// memo file and a structural index) written down first in a posting
// journal of DIR for one line, as the posting does.
int DbfJournaledChange(const Args& args) {
  if (args.size() != 3) return 2;
  const std::string& dir = args[1];
  RunLog log(Env::Default(), JoinPath(dir, "Lumbra.log"));
  RunContext ctx(Env::Default(), &log, dir, dir);
  JournalState state;
  state.source = "3\\transact.xml.intake";
  state.line_count = 1;
  state.fates = {LineFate::kUnreported};
  state.reasons = {""};
  std::unique_ptr<PostingJournal> journal;
  if (!PostingJournal::Start(ctx, state, &journal).ok() || !journal->LineBegins(0).ok()) return 2;
  dbftest::HookedEnv env;
  long left = Number(args[2]);
  env.before_write = [&left] {
    if (--left == 0) std::_Exit(kKilledStatus);
  };
  std::unique_ptr<dbf::DbfTable> t;
  if (!dbf::DbfTable::Open(&env, JoinPath(dir, "T.DBF"), true, &t).ok()) return 2;
  UndoTarget undo{journal.get(), 1};
  std::string r = t->BlankRecord();
  Status s;
  if (args[0] == "append") {  // a name in the middle of the NAME tag, with a memo
    dbf::EncodeText(t->header().fields[0], "N500x", r.data() + 1);
    s = t->AppendRecord(r, {{2, "new note"}}, 0, &undo);
  } else if (args[0] == "rename") {  // record 5 takes another name
    dbf::EncodeText(t->header().fields[0], "N2a", r.data() + 1);
    s = t->UpdateRecord(5, r, {0}, {}, 0, &undo);
  } else {
    return 2;
  }
  return s.ok() ? 0 : 3;
}

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
    if (path.ends_with("Lumbra.log") || path.starts_with(JoinPath(dir_, "1") + kPathSeparator)) {
      return;
    }
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

int LUMBRA_MAIN(int argc, lumbra::ArgChar** argv) {
  const std::map<std::string, std::function<int(const lumbra::Args&)>> commands = {
      {"hold", lumbra::Hold},   {"bump", lumbra::Bump},         {"pass", lumbra::Pass},
      {"dbf-change", lumbra::DbfChange}, {"dbf-journaled-change", lumbra::DbfJournaledChange},
      {"cat", lumbra::Cat},     {"echo", lumbra::Echo},
      {"exit", lumbra::Exit},   {"print-env", lumbra::PrintEnv}, {"sleep", lumbra::Sleep},
      {"write", lumbra::Write}, {"run", lumbra::Run}};
  lumbra::ProgramStart start;
  if (!lumbra::ReadProgramStart(argc, argv, &start).ok() || start.args.empty() ||
      commands.count(start.args[0]) == 0) {
    std::fprintf(stderr, "usage: lumbra_test_peer SUBCOMMAND ARG... (see tests/peer/peer_main.cc)\n");
    return 2;
  }
  return commands.at(start.args[0])(lumbra::Args(start.args.begin() + 1, start.args.end()));
}
