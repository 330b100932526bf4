// The life of a device's transaction file inside a pass. The file a device
// handed in is first renamed to a private name in its folder, so a file the
// device writes during the pass is never touched; then it is copied into the
// dated archive; only then is it worked on. The private name tells how far an
// interrupted pass got:
//   "transact.xml.taken"   taken over, not yet archived
//   "transact.xml.intake"  archived; mail routing and staging may follow
// A pass that finds either takes up the work where it stopped, and the
// device's newer "transact.xml" waits for the next pass.
#ifndef LUMBRA_INTAKE_DEVICE_FILES_H_
#define LUMBRA_INTAKE_DEVICE_FILES_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace lumbra {

struct RunContext;

inline constexpr std::string_view kTransactionFile = "transact.xml";
inline constexpr std::string_view kTakenSuffix = ".taken";
inline constexpr std::string_view kIntakeSuffix = ".intake";
inline constexpr std::string_view kStagingFile = "tempdb.dat";
inline constexpr std::string_view kArchiveFolder = "Archive";
inline constexpr long kArchiveKeepDays = 90;

// A device whose transaction file this pass took over.
struct HandedIn {
  int device = 0;
  // False once a step failed: the device's file then stays in its folder, as
  // it is, for a later pass.
  bool usable = true;
};

// "<device>\transact.xml.intake": the archived file a pass works from.
std::string IntakeFilePath(const RunContext& ctx, int device);

// Takes over and archives the transaction file of every device 1 to 99 that
// handed one in (or whose file an interrupted pass left).
std::vector<HandedIn> TakeOverDeviceFiles(RunContext& ctx);

// Copies the device's intake file to the staging file "tempdb.dat", forces
// it to disk and only then deletes the intake file.
Status StageDeviceFile(RunContext& ctx, int device);

// Copies the staging file back to the device's intake file, for a posting
// that wrote nothing: the next pass posts the records again.
Status UnstageDeviceFile(RunContext& ctx, int device);

// Deletes the archive's day folders older than kArchiveKeepDays.
void PruneArchive(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_DEVICE_FILES_H_
