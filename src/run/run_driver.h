// The run driver: one start of the program is one synchronisation pass.
// It settles the folders, refuses a second pass on the same working folder,
// reads the settings, takes in the devices' transactions, runs the one export
// the settings choose, copies the standard tables into every device folder
// and makes sure a customer table exists.
#ifndef LUMBRA_RUN_RUN_DRIVER_H_
#define LUMBRA_RUN_RUN_DRIVER_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace lumbra {

class Env;
class Posting;
struct RunContext;

inline constexpr int kExitPassDone = 0;
inline constexpr int kExitCannotStart = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitAlreadyRunning = 3;

inline constexpr std::string_view kLogFile = "Lumbra.log";
inline constexpr std::string_view kLockFile = "Lumbra.lock";
inline constexpr std::string_view kMyobOdbcSwitchFile = "filestats.dat";
// When the program's folder holds a project file of its own sources, the
// pass runs on the installed folder instead.
#ifdef _WIN32
inline constexpr std::string_view kDevelopmentWorkDir = "C:\\Program Files\\Tamsel\\";
#else
inline constexpr std::string_view kDevelopmentWorkDir = "/opt/tamsel/";
#endif

struct RunOptions {
  // The folder given by --dir: both the working folder and the program's
  // folder. Empty: the folder that holds the program file.
  std::string dir;
  // --no-dialogs: errors never wait in a message box, even where a person
  // could see one.
  bool no_dialogs = false;
};

// Runs one pass and returns the process's exit status; when a COM call of
// the pass never returned, ends the process with it instead, once the log
// and the report are written.
int RunMain(Env* env, const RunOptions& options);

// The folders of a pass: the program's folder and the working folder.
Status SettleFolders(Env* env, const RunOptions& options, std::string* work_dir,
                     std::string* program_dir);

// The posting of the back-end BackendName names; null for the back-ends
// that take no postings.
std::unique_ptr<Posting> PostingFor(const RunContext& ctx);

// The steps of a pass after start-up, on a settled context.
void RunPass(RunContext& ctx);

enum class ExportChoice {
  kNone,
  kMyobOdbc,
  kAurora,
  kDatabase,
  kQuickBooksQbxml,
  kMyobTextFiles,
  kQuickBooksIif,
  kMoneyWorks,
};

// The first rule that holds: "filestats.dat" present, then the back-end name.
ExportChoice ChooseExport(RunContext& ctx);
void RunExport(RunContext& ctx, ExportChoice choice);

// Copies the standard tables of "1\" into each device folder 2 to 99 that
// exists; a copy that fails leaves the device's older table in place.
void ReplicateTables(RunContext& ctx);

// Writes the placeholder "1\Customers.dat" ("c1") when there is none.
void EnsureCustomerTable(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_RUN_RUN_DRIVER_H_
