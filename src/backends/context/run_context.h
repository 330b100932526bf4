// RunContext: everything one pass shares, from start to end, passed
// explicitly to every step: the platform, the log, the folders, the settings,
// the line and field buffers, the two row lists, the device names, the
// database connection and the report of what the pass did.
#ifndef LUMBRA_BACKENDS_CONTEXT_RUN_CONTEXT_H_
#define LUMBRA_BACKENDS_CONTEXT_RUN_CONTEXT_H_

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "platform/call_thread.h"
#include "platform/env.h"
#include "text/paths.h"
#include "backends/context/pass_report.h"
#include "backends/context/run_log.h"
#include "backends/context/settings.h"
#include "text/sorted_rows.h"

namespace lumbra {

namespace database {
class Connection;
}

inline constexpr int kDefaultDbTimeoutSeconds = 30;

struct RunContext {
  RunContext(Env* env, RunLog* log, std::string work_dir, std::string program_dir);
  ~RunContext();
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  // A path of the system ("1\Customers.dat", "Lumbra.ini"), resolved against
  // the working folder.
  std::string Path(std::string_view system_path) const { return JoinPath(work_dir, system_path); }
  // A path resolved against the folder that holds the program file; the
  // table writer's folder "1\" lies there.
  std::string ProgramPath(std::string_view system_path) const {
    return JoinPath(program_dir, system_path);
  }
  void Log(std::string_view message) { log->Write(message); }
  // Shows an error to the person at the desk the way the system does: in a
  // message box where one can be seen (and dialogs is set), else as a line
  // on standard error. The caller logs it as well.
  void ShowError(std::string_view text);
  // A failure the office should hear of: logged, and kept for the run
  // report with the trouble it shows.
  void LogFailure(Trouble trouble, std::string_view message) {
    Log(message);
    report.Failed(trouble, std::string(message));
  }

  Env* env;
  RunLog* log;
  std::string work_dir;
  std::string program_dir;
  bool dialogs = true;

  std::string BackendName;
  std::string DataPath;
  // "dbtimeout=": what the database back-ends give each statement.
  int DbTimeoutSeconds = kDefaultDbTimeoutSeconds;
  TimeLimits time_limits;  // "httptimeout=", "qbxmltimeout="
  std::string LineBuffer;
  std::string FieldBuffer;
  SortedRows RowBuffer;
  SortedRows SideBuffer;
  std::array<std::string, 100> DeviceNames;
  // How long a posting waits for the locks a line needs before it keeps the
  // line for the next pass (tests shorten it).
  int lock_wait_ms = 3000;
  // Opened by the intake for the database back-ends, closed by the run
  // driver after the database export. Null until then. Shared so that the
  // context needs to know nothing of the database layer.
  std::shared_ptr<database::Connection> DbConnection;
  // The one thread every COM call of the pass is made on (Windows only),
  // so that a component that never answers holds that thread, not the pass.
  CallThread com_calls;

  PassReport report;
};

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_CONTEXT_RUN_CONTEXT_H_
