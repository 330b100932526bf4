// UndoLog: where a change to a shared file is written down before it is
// made, so that work stopped half-way (a failed write, a killed process) can
// be undone later. The change is described at the level of bytes: which file,
// which bytes, what they held and what they will hold, and under which lock
// byte; whoever undoes it needs to know nothing of the file's format.
#ifndef LUMBRA_PLATFORM_UNDO_LOG_H_
#define LUMBRA_PLATFORM_UNDO_LOG_H_

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace lumbra {

struct FileChange {
  std::string path;
  // The lock byte other programs respect for these bytes; taken (exclusively)
  // while the change is undone.
  uint64_t lock_offset = 0;
  uint64_t offset = 0;
  // What the bytes held before, what is written, and what undoing writes back
  // at offset (the old bytes, or only a deletion mark for a record that was
  // added). A change is undone only while the file still holds `after`.
  std::string before;
  std::string after;
  std::string undo;
  // Changes of one group (non-zero) are undone together or not at all, e.g.
  // a counter raised for an invoice and the invoice that took the number.
  int group = 0;
};

class UndoLog {
 public:
  virtual ~UndoLog() = default;
  // Called before the change is written. A change that cannot be written
  // down must not be made.
  virtual Status WillChange(const FileChange& change) = 0;
};

// Where the changes of one operation are written down, and their group.
struct UndoTarget {
  UndoLog* log = nullptr;
  int group = 0;
  // Writes the change down (nothing to do without a log).
  Status Note(FileChange change) const {
    if (log == nullptr) return Status::OK();
    change.group = group;
    return log->WillChange(change);
  }
};

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_UNDO_LOG_H_
