// The posting of a back-end as the intake sees it. The run driver chooses
// the back-end's Posting; the intake hands it each device's file as
// DeviceLines and learns from it, line by line, what became of each line:
//   posted      written into the back-end (and on disk);
//   kept        not posted for a reason that passes by itself (a lock not
//               had in time, a busy database, a full disk): the line stays
//               in the device's folder and is posted again by the next pass,
//               before any newer line of that device;
//   rejected    refused for a reason that will not pass by itself: written
//               to the pass's rejected file for the office to look at;
//   passed over not meant for this back-end (a record type it does not take).
// Once a line is kept, the posting stops: a device's lines are posted in
// order, so every later line is kept with it.
#ifndef LUMBRA_INTAKE_POSTING_H_
#define LUMBRA_INTAKE_POSTING_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "backends/context/pass_report.h"
#include "platform/status.h"
#include "platform/undo_log.h"

namespace lumbra {

struct RunContext;

enum class LineFate { kUnreported, kPosted, kKept, kRejected, kPassedOver };

// A file whose writing posts lines, such as an import file another program
// takes in (see placed_file.h): written under a temporary name, then renamed
// to its path.
struct PlacedFile {
  std::string temp_path;
  std::string path;
  std::vector<size_t> lines;  // the lines it posts, by index
};

// One device's file, handed to a posting.
class DeviceLines {
 public:
  // The journal records each line's beginning and fate; null: nothing is
  // recorded (tests).
  class Recorder {
   public:
    virtual ~Recorder() = default;
    virtual Status LineBegins(size_t index) = 0;
    virtual Status LineEnded(size_t index, LineFate fate, const std::string& reason) = 0;
    // Where the changes of the line that began are written down first.
    virtual UndoLog* undo_log() = 0;
    // Forces what was written down so far to the disk.
    virtual Status Sync() = 0;
    // A placed file about to be written under its temporary name (or, once
    // ready, given up); placed files written whole and forced to the disk,
    // about to be renamed (forced to disk).
    virtual Status FileBegins(const PlacedFile& file) = 0;
    virtual Status FilesReady(const std::vector<PlacedFile>& files) = 0;
  };

  DeviceLines(int device, std::vector<std::string> lines, Recorder* recorder = nullptr);

  int device() const { return device_; }
  size_t size() const { return lines_.size(); }
  const std::string& line(size_t i) const { return lines_[i]; }
  LineFate fate(size_t i) const { return fates_[i]; }
  const std::string& reason(size_t i) const { return reasons_[i]; }
  // What kept line i, in the office's terms (for the run report).
  Trouble trouble(size_t i) const { return troubles_[i]; }
  // Whether line i still waits for its fate: lines reported by an earlier,
  // interrupted pass are not posted again.
  bool pending(size_t i) const { return !stopped_ && fates_[i] == LineFate::kUnreported; }
  // True once a line was kept: nothing more is to be posted for the device.
  bool stopped() const { return stopped_; }
  // True when the posting had to leave a line half-done (its changes could
  // not be undone): the journal must stay exactly as it is, for the next
  // pass to undo the line, and nothing more is posted in this pass.
  bool halted() const { return halted_; }
  const std::string& halt_reason() const { return halt_reason_; }

  // Before the first change a line makes to a shared file: the journal then
  // takes the line's changes (undo_log()). A failure to record it means the
  // line must not be posted now: it is kept.
  Status Begin(size_t i);
  UndoLog* undo_log() { return recorder_ ? recorder_->undo_log() : nullptr; }
  // Forces the journal to the disk: before a change that must never be
  // repeated after a power cut (an invoice number given out).
  Status SyncJournal() { return recorder_ ? recorder_->Sync() : Status::OK(); }
  // Before a placed file is written, and before placed files are renamed
  // into place: a failure to record either means they must not be placed now.
  Status FileBegins(const PlacedFile& file);
  Status FilesReady(const std::vector<PlacedFile>& files);

  void Posted(size_t i) { Report(i, LineFate::kPosted, std::string()); }
  void Kept(size_t i, std::string reason, Trouble trouble = Trouble::kKept) {
    Report(i, LineFate::kKept, std::move(reason), trouble);
  }
  void Rejected(size_t i, std::string reason) {
    Report(i, LineFate::kRejected, std::move(reason));
  }
  void PassedOver(size_t i, std::string reason) {
    Report(i, LineFate::kPassedOver, std::move(reason));
  }
  // Keeps every line still waiting, from the first on.
  void KeepRest(const std::string& reason, Trouble trouble = Trouble::kKept);
  // Line i began and could not be finished or undone (see halted()).
  void Halt(std::string reason) {
    halted_ = stopped_ = true;
    halt_reason_ = std::move(reason);
  }

  // For a pass that resumes a killed one: what the journal says of line i.
  void Restore(size_t i, LineFate fate, std::string reason);

 private:
  void Report(size_t i, LineFate fate, std::string reason, Trouble trouble = Trouble::kKept);

  int device_;
  std::vector<std::string> lines_;
  std::vector<LineFate> fates_;
  std::vector<std::string> reasons_;
  std::vector<Trouble> troubles_;
  Recorder* recorder_;
  bool stopped_ = false;
  bool halted_ = false;
  std::string halt_reason_;
};

class Posting {
 public:
  virtual ~Posting() = default;
  // Whether the device's records are also copied to the staging file
  // "tempdb.dat" before they are posted (the file-based back-ends).
  virtual bool UsesStagingFile() const { return true; }
  // Called once, before the first device of the pass.
  virtual void BeginPass(RunContext&) {}
  // Posts the pending lines in order and reports the fate of each. A line
  // left unreported is kept.
  virtual void PostDevice(RunContext& ctx, DeviceLines& lines) = 0;
};

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_POSTING_H_
