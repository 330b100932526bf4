// The life of a device's transaction file inside a pass. The file a device
// handed in is first renamed to a private name in its folder, so a file the
// device writes during the pass is never touched; then it is copied into the
// dated archive; only then is it worked on. The private name tells how far an
// interrupted pass got:
//   "transact.xml.taken"   taken over, not yet archived
//   "transact.xml.intake"  archived; mail routing and posting may follow. It
//                          stays while its lines are posted, and afterwards
//                          holds the lines kept for the next pass, if any.
// A pass that finds either takes up the work where it stopped; the device's
// newer "transact.xml" follows once those lines are posted.
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
inline constexpr std::string_view kRejectedFolder = "Rejected";
inline constexpr long kArchiveKeepDays = 90;

// A device whose transaction file this pass took over.
struct HandedIn {
  int device = 0;
  // False once a step failed: the device's file then stays in its folder, as
  // it is, for a later pass.
  bool usable = true;
  // The file was left by an earlier pass (interrupted, or holding lines kept
  // for this one), so a newer "transact.xml" may be waiting behind it.
  bool resumed = false;
};

// "<device>\transact.xml.intake": the archived file a pass works from.
std::string IntakeFilePath(const RunContext& ctx, int device);

// Takes over and archives the transaction file of each device that handed
// one in (or whose file an earlier pass left): every device 1 to 99, or only
// those listed.
std::vector<HandedIn> TakeOverDeviceFiles(RunContext& ctx, const std::vector<int>* only = nullptr);

// "<folder>\yyyymmdd\<device>-<hhmmss>-transact.xml" for the time now,
// numbered when a file of that name exists already; the folders are made.
std::string FreeDatedName(RunContext& ctx, std::string_view folder, int device);

// Deletes the archive's day folders older than kArchiveKeepDays.
void PruneArchive(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_DEVICE_FILES_H_
