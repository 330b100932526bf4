// The memo file beside a table (FPT or DBT): memo texts in blocks, found by
// the block number a record's memo field holds.
#ifndef LUMBRA_BACKENDS_AURORA_MEMO_FILE_H_
#define LUMBRA_BACKENDS_AURORA_MEMO_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "backends/aurora/dbf_format.h"
#include "platform/env.h"
#include "platform/status.h"
#include "platform/undo_log.h"

namespace lumbra::dbf {

class MemoFile {
 public:
  // Corruption when the header cannot be read or names no usable block size.
  static Status Open(Env* env, const std::string& path, MemoKind kind, bool writable,
                     std::unique_ptr<MemoFile>* out);

  // The memo stored from block on (block 0 is no memo: empty text). is_text
  // is false for FoxPro picture and object memos. A memo that runs past the
  // end of the file gives what is there and Corruption; a block past the
  // end gives nothing and Corruption.
  Status Read(uint32_t block, std::string* data, bool* is_text);

  // Stores data as a new memo. Under the memo file's lock, its blocks are
  // written after every block in use (past the next-free pointer and the
  // end of the file, so no stored memo is ever overwritten), and only then
  // is the next-free pointer raised: a process stopped in between leaves
  // the file as it was, plus unused bytes at its end. Busy when the lock
  // cannot be had within lock_timeout_ms; kLocksHeld when the caller holds
  // it. The raised pointer is written down in undo first, when given.
  Status Append(std::string_view data, int lock_timeout_ms, uint32_t* block,
                const UndoTarget* undo = nullptr);

  Status Sync() { return file_->Sync(); }
  bool writable() const { return writable_; }
  // For a caller that takes the memo file's lock (kLockBase) itself.
  RandomRWFile* file() { return file_.get(); }
  MemoKind kind() const { return kind_; }
  uint32_t block_size() const { return block_size_; }
  const std::string& path() const { return path_; }

 private:
  MemoFile(std::string path, MemoKind kind, bool writable, std::unique_ptr<RandomRWFile> file)
      : path_(std::move(path)), kind_(kind), writable_(writable), file_(std::move(file)) {}

  Status ReadUntilEndMarker(uint64_t offset, uint64_t size, std::string* data);

  std::string path_;
  MemoKind kind_;
  bool writable_;
  std::unique_ptr<RandomRWFile> file_;
  uint32_t block_size_ = 512;
};

}  // namespace lumbra::dbf

#endif  // LUMBRA_BACKENDS_AURORA_MEMO_FILE_H_
