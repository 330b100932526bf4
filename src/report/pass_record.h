// The pass record "Lumbra.history": what the last passes of an installation
// did, kept in its working folder for the run report and `lumbra status`.
// It holds the last kRecordedPasses passes (when each ran, how long, its
// back-end, its line counts and failures), what is known of each device
// (last hand-in, last posting, lines waiting since), the rejected files not
// yet handed back, and the tables of the last pass.
//
// The file is text, one record a line, fields separated by tabs, texts in
// the installation's Windows-1252 bytes with "\" escaping a backslash, tab,
// CR and LF ("\\", "\t", "\r", "\n"). Its first line names the format; a
// line that cannot be read is dropped, and a file that is not a pass record
// at all is started afresh.
#ifndef LUMBRA_REPORT_PASS_RECORD_H_
#define LUMBRA_REPORT_PASS_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/context/pass_report.h"
#include "platform/env.h"
#include "platform/status.h"

namespace lumbra {

inline constexpr std::string_view kPassRecordFile = "Lumbra.history";
inline constexpr size_t kRecordedPasses = 500;
// A pass that fails in many places keeps its first failures; the log has
// them all.
inline constexpr size_t kFailuresPerPass = 20;
// Rejected files the office leaves where they are for ever are followed no
// further than this.
inline constexpr size_t kRecordedRejectedFiles = 500;

enum class PassEnd { kRunning, kEnded, kStopped };

struct PassEntry {
  LocalTime start;
  uint64_t duration_ms = 0;
  PassEnd end = PassEnd::kRunning;
  std::string backend;
  LineCounts totals;
  std::vector<Failure> failures;
  size_t failures_left_out = 0;

  // Stopped, or a failure the office must act on.
  bool Failed() const;
};

struct DeviceEntry {
  std::optional<LocalTime> handed_in;   // the last hand-in
  std::optional<LocalTime> posted;      // the last pass that posted a line of it
  std::optional<LocalTime> kept_since;  // lines kept in its folder since
  LineCounts last;                      // of the last pass
  std::string kept_reason;              // of the last pass
};

struct RejectedEntry {
  int device = 0;
  size_t lines = 0;
  LocalTime written;  // the start of the pass that wrote it
  std::string path;   // "Rejected\yyyymmdd\<device>-<hhmmss>-transact.xml"
};

struct PassRecord {
  std::vector<PassEntry> passes;       // oldest first
  std::map<int, DeviceEntry> devices;  // by device number
  std::vector<RejectedEntry> waiting;  // not yet handed back, oldest first
  std::vector<TableFact> tables;       // of the last pass that ended

  // The newest pass that is not running, or null.
  const PassEntry* LastDone() const;
};

std::string FormatPassRecord(const PassRecord& record);

// Corruption when text is no pass record (record then empty). Lines that
// cannot be read are left out and counted in *dropped.
Status ParsePassRecord(std::string_view text, PassRecord* record, size_t* dropped);

// Seconds since the start of the day serial epoch, for differences of local
// times (a change of clock for summer time counts as an hour).
int64_t SecondsOf(const LocalTime& t);
// "2026-12-05 14:30", as people read it; "never" for a time not known.
std::string ShownTime(const LocalTime& t);
std::string ShownTime(const std::optional<LocalTime>& t);
// "0.4 s", "2 min 5 s".
std::string ShownDuration(uint64_t ms);

}  // namespace lumbra

#endif  // LUMBRA_REPORT_PASS_RECORD_H_
