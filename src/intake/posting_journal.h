// The posting journal, "Lumbra.journal" in the working folder: while a
// device's file is posted, it says which file that is, which line is being
// posted, what that line is about to change in the back-end's shared files
// (written down before each change is made), which files that post lines
// are being placed (placed_file.h), and the fate of every line already done.
// It is removed once the device's kept and rejected lines are where they
// belong.
//
// A pass that finds a journal left by a killed one undoes the line that was
// under way (see UndoChanges) and then resumes that device's file with the
// next line still to do, so every line is posted exactly once.
//
// Records are appended and read back in order; each carries a checksum, so a
// record cut short by a power cut ends the journal there. The journal is
// forced to the disk when a device's lines are done, and when a posting asks
// for it (Sync) before a change that must never be repeated after a power
// cut.
#ifndef LUMBRA_INTAKE_POSTING_JOURNAL_H_
#define LUMBRA_INTAKE_POSTING_JOURNAL_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "intake/posting.h"
#include "platform/env.h"
#include "platform/undo_log.h"

namespace lumbra {

struct RunContext;

inline constexpr std::string_view kJournalFile = "Lumbra.journal";

// What a journal says.
struct JournalState {
  int device = 0;
  std::string source;       // the device's file, a system path ("3\transact.xml.intake")
  uint64_t source_hash = 0;  // of the file's bytes when its posting began
  size_t line_count = 0;
  std::vector<LineFate> fates;  // per line; kUnreported for lines not done
  std::vector<std::string> reasons;
  // The line under way when the journal ends, and its changes so far.
  bool line_open = false;
  size_t open_line = 0;
  std::vector<FileChange> open_changes;
  // All lines done; where the rejected lines go.
  bool ended = false;
  std::string rejected_name;
  // Placed files begun, and whether each was whole on the disk, about to be
  // renamed into place.
  struct Placed {
    PlacedFile file;
    bool ready = false;
  };
  std::vector<Placed> placed;
};

// A hash of a device file's bytes, to tell the file a journal speaks of.
uint64_t SourceHash(std::string_view bytes);

class PostingJournal : public DeviceLines::Recorder, public UndoLog {
 public:
  // Starts a journal (replacing any) for the state given: a new file's
  // posting, or the state a resumed posting goes on from.
  static Status Start(RunContext& ctx, const JournalState& state,
                      std::unique_ptr<PostingJournal>* out);

  Status LineBegins(size_t index) override;
  Status LineEnded(size_t index, LineFate fate, const std::string& reason) override;
  UndoLog* undo_log() override { return this; }
  Status WillChange(const FileChange& change) override;
  Status FileBegins(const PlacedFile& file) override;
  Status FilesReady(const std::vector<PlacedFile>& files) override;

  // Forces what is written so far to the disk.
  Status Sync() override;
  // Every line is done: notes where the rejected lines go; forced to disk.
  Status End(const std::string& rejected_name);
  // The journal has served: deleted.
  Status Remove();

 private:
  PostingJournal(RunContext& ctx, std::unique_ptr<RandomRWFile> file, uint64_t end)
      : ctx_(ctx), file_(std::move(file)), end_(end) {}
  Status Append(char type, std::string_view payload);

  RunContext& ctx_;
  std::unique_ptr<RandomRWFile> file_;
  uint64_t end_;
};

// Reads the journal a pass left; false when there is none (or nothing in it
// can be read).
bool ReadJournal(RunContext& ctx, JournalState* state);

// Undoes changes, the newest first, each only while its bytes still hold what
// was written, under its lock (waiting at most timeout_ms); changes of one
// group only together. A change another program has overwritten since is
// left as it is. Each change undone or left is described in *notes. Busy when
// a lock could not be had, IOError when a file could not be opened or
// written: the caller keeps the journal and tries again later (undoing twice
// does no harm).
Status UndoChanges(Env* env, const std::vector<FileChange>& changes, int timeout_ms,
                   std::vector<std::string>* notes);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_POSTING_JOURNAL_H_
