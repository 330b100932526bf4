#include "run/run_driver.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

#include "backends/aurora/aurora.h"
#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "backends/moneyworks/moneyworks.h"
#include "backends/myob/myob.h"
#include "backends/quickbooks/quickbooks.h"
#include "intake/intake.h"
#include "intake/posting.h"
#include "backends/context/backend_names.h"
#include "platform/env.h"
#include "platform/file_case.h"
#include "platform/process_end.h"
#include "report/run_report.h"
#include "text/lines.h"
#include "text/passwords.h"
#include "backends/context/run_context.h"
#include "backends/context/settings.h"
#include "tables/device_tables.h"

namespace lumbra {
namespace {

bool HasProjectFile(Env* env, const std::string& dir) {
  std::vector<DirEntry> entries;
  if (!env->ListDir(dir, &entries).ok()) return false;
  for (const DirEntry& e : entries) {
    if (e.is_dir || e.name.size() < 4) continue;
    std::string ext = e.name.substr(e.name.size() - 4);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (ext == ".vbp") return true;
  }
  return false;
}

// A relative --dir names a folder under the current one.
std::string AbsoluteDir(Env* env, const std::string& dir) {
  std::string cwd;
  if (IsAbsolutePath(dir) || !env->GetWorkingDir(&cwd).ok()) return dir;
  return JoinPath(cwd, dir);
}

std::string Seconds(uint64_t micros) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f s", static_cast<double>(micros) / 1e6);
  return buf;
}

void EnsureMasterFolder(RunContext& ctx) {
  for (const std::string& folder : {ctx.Path("1"), ctx.ProgramPath("1")}) {
    if (ctx.env->DirExists(folder)) continue;
    Status s = ctx.env->CreateDir(folder);
    ctx.Log(s.ok() ? "folder " + folder + " was missing and has been created"
                   : "folder " + folder + " is missing and could not be created: " + s.ToString());
  }
}

void CloseDatabaseConnection(RunContext& ctx) {
  if (ctx.DbConnection && ctx.DbConnection->IsOpen()) ctx.DbConnection->Close();
}

}  // namespace

Status SettleFolders(Env* env, const RunOptions& options, std::string* work_dir,
                     std::string* program_dir) {
  if (!options.dir.empty()) {
    *program_dir = AbsoluteDir(env, options.dir);
    *work_dir = *program_dir;
  } else {
    std::string program;
    Status s = env->GetProgramPath(&program);
    if (!s.ok()) return s;
    *program_dir = ParentDir(program);
    *work_dir = HasProjectFile(env, *program_dir) ? std::string(kDevelopmentWorkDir) : *program_dir;
  }
  if (!env->DirExists(*work_dir)) return Status::NotFound(*work_dir + ": no such folder");
  return Status::OK();
}

namespace {

// Whether the folder lists a file under exactly that name: where names match
// in any case (Windows), "Filestats.dat" would be found by a plain look-up.
bool ListedExactly(Env* env, const std::string& dir, std::string_view name) {
  std::vector<DirEntry> entries;
  if (!env->ListDir(dir, &entries).ok()) return false;
  return std::any_of(entries.begin(), entries.end(),
                     [&](const DirEntry& e) { return !e.is_dir && e.name == name; });
}

}  // namespace

ExportChoice ChooseExport(RunContext& ctx) {
  const std::string& name = ctx.BackendName;
  if (ListedExactly(ctx.env, ctx.work_dir, kMyobOdbcSwitchFile)) return ExportChoice::kMyobOdbc;
  if (name == kAuroraBackend) return ExportChoice::kAurora;
  if (IsDatabaseBackend(name)) return ExportChoice::kDatabase;
  if (name == kQuickBooksDatabaseBackend) return ExportChoice::kQuickBooksQbxml;
  std::string_view view = name;
  if (view.substr(0, 4) == kMyobPrefix) return ExportChoice::kMyobTextFiles;
  if (view.substr(0, 10) == kQuickBooksPrefix) return ExportChoice::kQuickBooksIif;
  if (view.substr(0, 10) == kMoneyWorksPrefix) return ExportChoice::kMoneyWorks;
  return ExportChoice::kNone;
}

namespace {

// A ready-made table that is not there is left out on purpose; one that is
// there and cannot be copied is a failure.
void ReportCopiedTable(RunContext& ctx, const std::string& target, std::string_view from,
                       const Status& s) {
  if (s.ok()) {
    ctx.report.TableWritten(target, -1, "copied from " + std::string(from));
  } else {
    ctx.report.TableLeft(target, std::string(from) + " not copied: " + s.ToString(),
                         s.IsNotFound() ? Status::OK() : s);
  }
}

// MYOB's text files carry no freight methods or payment types: ready-made
// tables of the working folder stand in for them (found in any letter case,
// "MYOB1.DAT" too).
void CopyReadyMadeTable(RunContext& ctx, std::string_view from, std::string_view table) {
  std::string target = MasterTablePath(table);
  std::string source = ctx.Path(from), found;
  if (FindPathIgnoringCase(ctx.env, source, &found)) source = found;
  Status s = ctx.env->CopyFile(source, ctx.Path(target));
  if (!s.ok()) ctx.Log(std::string(from) + " not copied to " + target + ": " + s.ToString());
  ReportCopiedTable(ctx, target, from, s);
}

}  // namespace

void RunExport(RunContext& ctx, ExportChoice choice) {
  switch (choice) {
    case ExportChoice::kNone:
      ctx.Log("no export for this back-end");
      break;
    case ExportChoice::kMyobOdbc:
      ExportMyobOdbc(ctx);
      break;
    case ExportChoice::kAurora:
      ExportAuroraData(ctx);
      break;
    case ExportChoice::kDatabase:
      ExportDatabaseByMenu(ctx);
      CloseDatabaseConnection(ctx);
      break;
    case ExportChoice::kQuickBooksQbxml:
      ExportQuickBooksQbxml(ctx);
      break;
    case ExportChoice::kMyobTextFiles:
      ExportMyobTextFiles(ctx);
      CopyReadyMadeTable(ctx, "Myob1.dat", "Freight");
      CopyReadyMadeTable(ctx, "Myob2.dat", "PaymentType");
      break;
    case ExportChoice::kQuickBooksIif:
      ExportQuickBooksIif(ctx);
      break;
    case ExportChoice::kMoneyWorks:
      ExportMoneyWorks(ctx);
      break;
  }
}

void ReplicateTables(RunContext& ctx) {
  std::set<std::string_view> missing;
  for (std::string_view table : kStandardTables) {
    if (!ctx.env->FileExists(ctx.Path(MasterTablePath(table)))) {
      missing.insert(table);
      ctx.Log("table " + MasterTablePath(table) +
              " does not exist; device folders keep their copies");
      ctx.report.TableLeft(MasterTablePath(table), "folder 1\\ has no such table");
    }
  }
  for (int device = 2; device <= kLastDevice; ++device) {
    std::string folder = std::to_string(device);
    if (!ctx.env->DirExists(ctx.Path(folder))) continue;
    int copied = 0;
    for (std::string_view table : kStandardTables) {
      if (missing.count(table)) continue;
      std::string file = std::string(table) + ".dat";
      Status s = ctx.env->CopyFile(ctx.Path(MasterTablePath(table)), ctx.Path(folder + "\\" + file));
      if (s.ok()) {
        ++copied;
      } else {
        ctx.LogFailure(TroubleOf(s, Trouble::kTableNotWritten),
                       "device folder " + folder + ": copy of " + file +
                           " failed, older copy kept: " + s.ToString());
      }
    }
    ctx.Log("device folder " + folder + " served: " + std::to_string(copied) + " tables copied");
  }
}

void EnsureCustomerTable(RunContext& ctx) {
  std::string path = ctx.Path(MasterTablePath("Customers"));
  if (ctx.env->FileExists(path)) return;
  std::string bytes;
  AppendLine(&bytes, "c1");
  Status s = ctx.env->WriteFile(path, bytes);
  ctx.Log(s.ok() ? "placeholder 1\\Customers.dat written"
                 : "placeholder 1\\Customers.dat not written: " + s.ToString());
  if (s.ok()) ctx.report.TableWritten(MasterTablePath("Customers"), -1, "the placeholder \"c1\"");
}

std::unique_ptr<Posting> PostingFor(const RunContext& ctx) {
  const std::string& name = ctx.BackendName;
  if (name == kAuroraBackend) return NewAuroraPosting();
  if (int edition = MyobEditionOf(name); edition >= 0) return NewMyobPosting(edition);
  if (IsDatabaseBackend(name)) return NewDatabasePosting();
  return nullptr;
}

void RunPass(RunContext& ctx) {
  ReadSettings(ctx);
  ctx.Log("back-end \"" + ctx.BackendName + "\", DataPath \"" + HidePasswords(ctx.DataPath) + "\"");
  EnsureMasterFolder(ctx);
  std::unique_ptr<Posting> posting = PostingFor(ctx);
  TakeInTransactions(ctx, posting.get());
  RunExport(ctx, ChooseExport(ctx));
  ReplicateTables(ctx);
  EnsureCustomerTable(ctx);
}

int RunMain(Env* env, const RunOptions& options) {
  std::string work_dir, program_dir;
  Status s = SettleFolders(env, options, &work_dir, &program_dir);
  if (!s.ok()) {
    std::fprintf(stderr, "lumbra: cannot run a pass: %s\n", s.ToString().c_str());
    return kExitCannotStart;
  }
  std::unique_ptr<FileLock> lock;
  s = env->LockFile(JoinPath(work_dir, kLockFile), &lock);
  if (s.IsBusy()) {
    std::fprintf(stderr, "lumbra: another pass is already running in %s\n", work_dir.c_str());
    return kExitAlreadyRunning;
  }
  if (!s.ok()) {
    std::fprintf(stderr, "lumbra: cannot run a pass: %s\n", s.ToString().c_str());
    return kExitCannotStart;
  }
  env->SetWorkingDir(work_dir);

  RunLog log(env, JoinPath(work_dir, kLogFile));
  RunContext ctx(env, &log, work_dir, program_dir);
  ctx.dialogs = !options.no_dialogs;
  uint64_t start = env->NowMicros();
  ctx.Log("pass started in " + work_dir + " (lumbra " LUMBRA_VERSION ")");
  RunReport report(ctx);
  RunPass(ctx);
  const bool com_held = ctx.com_calls.held();
  if (com_held) {
    ctx.Log("a call to a COM component has not returned; the program ends without waiting for it");
  }
  ctx.Log("pass ended after " + Seconds(env->NowMicros() - start));
  report.Finish();
  if (com_held) {
    // The held thread, or the component's library as it is unloaded, could
    // keep an ordinary end waiting for ever; the log and the report are
    // written.
    std::fflush(stdout);
    std::fflush(stderr);
    EndProcessAtOnce(kExitPassDone);
  }
  return kExitPassDone;
}

}  // namespace lumbra
