// PassReport: what one pass did, as facts reported where each arises: the
// intake reports each device's hand-in and what became of its lines, the
// table writers each table written or left as it was, the back-ends and the
// run driver their failures. The run report (the stored pass record and the
// page "Lumbra.html") is built from these facts, never from the log.
#ifndef LUMBRA_BACKENDS_CONTEXT_PASS_REPORT_H_
#define LUMBRA_BACKENDS_CONTEXT_PASS_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/status.h"

namespace lumbra {

// What went wrong, in the terms an office acts on; each has its own hint.
enum class Trouble {
  kKept,            // lines kept for the next pass, for a reason that passes by itself
  kLockHeld,        // another program held a lock the pass needed
  kRejected,        // lines refused and written to Rejected\ for the office
  kDataMissing,     // the back-end's data folder or files are not there
  kDatabaseSilent,  // the database could not be opened or did not answer
  kDiskFull,        // a disk (or the user's quota) is full
  kTableNotWritten, // a device table, or a device's copy of one, not written
  kFileNotWritten,  // another file of the pass (archive, import file) not written
  kPassStopped,     // the pass ended before it finished
  kOther,
};

// False for the troubles that need no action of the office's: lines that
// wait for a lock or for the next pass go in by themselves, and rejected
// lines are followed up on their own.
bool NeedsAction(Trouble trouble);

// The trouble a failed step's status shows whatever the step (a full disk,
// a lock held), else `otherwise`.
Trouble TroubleOf(const Status& s, Trouble otherwise);

struct LineCounts {
  size_t posted = 0;
  size_t kept = 0;
  size_t rejected = 0;
  size_t passed_over = 0;
  LineCounts& operator+=(const LineCounts& o) {
    posted += o.posted;
    kept += o.kept;
    rejected += o.rejected;
    passed_over += o.passed_over;
    return *this;
  }
};

// Where one posting of a device's file left its lines.
struct PlacedLines {
  LineCounts counts;
  std::string kept_reason;  // of the first kept line
  Trouble kept_trouble = Trouble::kKept;
  std::string rejected_file;    // "Rejected\yyyymmdd\...", when lines were rejected
  std::string rejected_reason;  // of the first rejected line
};

struct RejectedFile {
  std::string path;  // relative to the working folder
  size_t lines = 0;
};

// One device in this pass.
struct DeviceFacts {
  bool handed_in = false;
  LineCounts counts;
  std::string kept_reason;
  std::vector<RejectedFile> rejected;
};

struct TableFact {
  std::string table;  // "1\Customers.dat"
  bool written = false;
  int64_t rows = -1;  // of a table written; -1: not counted (a file copied)
  std::string note;   // why it was left as it was, or how it was written
};

struct Failure {
  Trouble trouble = Trouble::kOther;
  std::string text;
};

class PassReport {
 public:
  // A device's transaction file was taken in and archived.
  void HandedIn(int device, std::string_view bytes);
  // A posting of the device's file placed its lines (a device posted twice
  // in one pass adds up).
  void LinesPlaced(int device, const PlacedLines& placed);
  // Lines of the device went straight to Rejected\ as one file.
  void FileRejected(int device, const std::string& path, size_t lines, const std::string& reason);
  void TableWritten(std::string_view table, int64_t rows, std::string_view note = {});
  // A table left as it was: nothing to write, or (failure not ok) a write
  // that failed, which is a failure of the pass as well.
  void TableLeft(std::string_view table, std::string_view reason, const Status& failure = Status());
  void Failed(Trouble trouble, std::string text);

  // Whether a line of exactly these bytes was handed in during this pass.
  bool WasHandedIn(std::string_view line) const;

  // A step that must end the process at once (a database that stopped
  // answering) calls Abandon first, so the pass is recorded as far as it
  // got; the run driver says what that takes.
  void OnAbandon(std::function<void()> handler) { on_abandon_ = std::move(handler); }
  void Abandon();

  const std::map<int, DeviceFacts>& devices() const { return devices_; }
  const std::vector<TableFact>& tables() const { return tables_; }
  const std::vector<Failure>& failures() const { return failures_; }

 private:
  TableFact& Table(std::string_view table);

  std::map<int, DeviceFacts> devices_;
  std::vector<TableFact> tables_;
  std::vector<Failure> failures_;
  std::unordered_set<size_t> handed_in_lines_;
  std::function<void()> on_abandon_;
};

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_CONTEXT_PASS_REPORT_H_
