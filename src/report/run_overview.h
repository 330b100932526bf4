// What the run report says, worked out once for the page and for
// `lumbra status` alike: the last pass, one row per device folder, and what
// needs the office's attention.
#ifndef LUMBRA_REPORT_RUN_OVERVIEW_H_
#define LUMBRA_REPORT_RUN_OVERVIEW_H_

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/pass_record.h"

namespace lumbra {

class Env;

// A device counts as silent, and kept lines as stuck, after a day.
inline constexpr int64_t kSilentSeconds = 24 * 3600;

// The exit status of `lumbra status` is the sum of what needs attention.
inline constexpr int kAttentionFailedPass = 8;
inline constexpr int kAttentionRejectedLines = 16;
inline constexpr int kAttentionSilentDevice = 32;
inline constexpr int kAttentionStuckLines = 64;

struct DeviceStanding {
  int device = 0;
  std::string name;
  std::optional<LocalTime> handed_in;
  std::optional<LocalTime> posted;
  std::optional<LocalTime> kept_since;
  LineCounts last;  // of the last pass
  std::string kept_reason;
  std::vector<std::string> rejected_files;  // written by the last pass, still there
  // Nothing handed in for more than a day while other devices handed in.
  bool silent = false;
  // Lines kept in its folder for more than a day.
  bool stuck = false;
};

struct RunOverview {
  LocalTime now;
  const PassEntry* last = nullptr;     // the newest pass that is not running
  const PassEntry* running = nullptr;  // a pass noted as running, newer than last
  std::vector<DeviceStanding> devices;
  std::vector<RejectedEntry> waiting;  // rejected files still in Rejected\, oldest first
  size_t waiting_lines = 0;

  // The sum of the kAttention values that hold; 0 when nothing needs
  // attention.
  int AttentionBits() const;
  // One sentence for each thing that needs attention.
  std::vector<std::string> Attention() const;
  // When the last pass ran, how long it took, its back-end, and whether
  // anything needs attention.
  std::string Summary() const;
};

// device_folders: the device folders that exist; names: the devices' names
// by number; still_there: whether a rejected file (its path in the record)
// is still where it was written.
RunOverview MakeRunOverview(const PassRecord& record, const std::vector<int>& device_folders,
                            const std::array<std::string, 100>& names, const LocalTime& now,
                            const std::function<bool(const std::string&)>& still_there);

// The device folders 1 to 99 that exist in the working folder.
std::vector<int> DeviceFolders(Env* env, const std::string& work_dir);

// A trouble's heading, and the one sentence that tells the office what to
// do about it.
std::string_view TroubleTitle(Trouble trouble);
std::string_view TroubleHint(Trouble trouble);

}  // namespace lumbra

#endif  // LUMBRA_REPORT_RUN_OVERVIEW_H_
