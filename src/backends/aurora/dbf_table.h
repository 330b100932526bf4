// One DBF table file and its memo file, read in large chunks and changed in
// place the way FoxPro-style programs sharing the table expect: under their
// byte-range locks, in an order that leaves the table readable whenever the
// process stops.
#ifndef LUMBRA_BACKENDS_AURORA_DBF_TABLE_H_
#define LUMBRA_BACKENDS_AURORA_DBF_TABLE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "backends/aurora/dbf_format.h"
#include "backends/aurora/memo_file.h"
#include "platform/env.h"
#include "platform/status.h"
#include "platform/undo_log.h"

namespace lumbra::dbf {

class StructuralIndex;

// A memo text to be stored for a field of a record being written.
struct MemoText {
  int field = 0;
  std::string text;
};

class DbfTable {
 public:
  ~DbfTable();
  // Opens the table (the name looked up case-insensitively in its folder
  // when missing as given) and, when it has memo fields, the FPT or DBT file
  // beside it. NotFound or Corruption when the table cannot be read at all;
  // lesser problems (no memo file, a record count larger than the file) are
  // listed in notes() and the table is read as far as it goes.
  static Status Open(Env* env, const std::string& path, bool writable,
                     std::unique_ptr<DbfTable>* out);

  const Header& header() const { return header_; }
  const std::string& path() const { return path_; }
  uint32_t record_count() const { return record_count_; }
  bool writable() const { return writable_; }
  // Set when the table does not look as a table should; no change is made
  // to a damaged table.
  bool damaged() const { return damaged_; }
  const std::vector<std::string>& notes() const { return notes_; }
  // The structural index beside the table ("" when none), or the header's
  // flag saying it has one.
  bool has_structural_index() const { return has_index_; }
  const std::string& index_path() const { return index_path_; }
  // The FoxPro compound index (.CDX) beside the table, read on first use
  // and kept in step with every append and change; null when there is
  // none, or when it cannot be read (index_status() says why: the table is
  // then not changed).
  StructuralIndex* structural_index();
  const Status& index_status() const { return index_status_; }
  const MemoFile* memo() const { return memo_.get(); }
  // Whether memo texts can be stored: a memo file opened for writing.
  bool memo_writable() const { return memo_ && memo_->writable(); }
  // The files, for a caller that takes their lock bytes itself (LockSet);
  // the memo file's is null when the table has none.
  RandomRWFile* file() { return file_.get(); }
  RandomRWFile* memo_file() { return memo_ ? memo_->file() : nullptr; }

  // The visible field of that name (ASCII letters in any case); -1 if none.
  int FieldIndex(std::string_view name) const;

  // The stored bytes of record recno (1 to record_count()), valid until the
  // next call on this table.
  Status Record(uint32_t recno, std::string_view* bytes);

  // Forgets the records read so far and reads the record count again, so
  // that changes and records other programs have written since are seen. A
  // count beyond the end of the file (another program between writing the
  // count and the record) counts the records the file holds.
  Status Refresh();

  // Record recno as the file holds it now, past any records read before;
  // the record count is read afresh first when recno lies beyond it.
  Status FreshRecord(uint32_t recno, std::string* bytes);

  // The memo a memo field's stored bytes point to (see MemoFile::Read).
  Status ReadMemo(const Field& field, std::string_view raw, std::string* data, bool* is_text);

  // A record with every field blank and the deletion flag clear.
  std::string BlankRecord() const;

  // Adds record (record_length bytes) as the new last record, with the memo
  // texts given stored in new memo blocks and auto-increment fields given
  // their next values. Under the header lock, in this order: memo blocks,
  // counters of auto-increment fields, the record, the record count and date
  // of the header, the end marker. Busy when a lock cannot be had in time
  // (nothing is written then); kLocksHeld when the caller holds the header
  // lock (and the memo file's). With undo, the memo file's raised pointer
  // and the new record are written down before they are written (an added
  // record is undone by marking it deleted). *recno, when given, receives
  // the new record's number.
  Status AppendRecord(std::string record, const std::vector<MemoText>& memos, int lock_timeout_ms,
                      const UndoTarget* undo = nullptr, uint32_t* recno = nullptr);

  // Writes the given fields of buffer (record_length bytes) and the memo
  // texts into record recno, re-reading the record under its lock so other
  // fields keep what other programs stored in them. kLocksHeld when the
  // caller holds the record's lock (and the memo file's). With undo, each
  // changed field's old and new bytes are written down first.
  Status UpdateRecord(uint32_t recno, std::string_view buffer, const std::vector<int>& fields,
                      const std::vector<MemoText>& memos, int lock_timeout_ms,
                      const UndoTarget* undo = nullptr);
  // Marks record recno deleted, or live again, as UpdateRecord changes it.
  Status MarkDeleted(uint32_t recno, bool deleted, int lock_timeout_ms,
                     const UndoTarget* undo = nullptr);

  // With a structural index, an append and a change that moves keys also
  // need the table's header lock and the index's lock (its kLockBase byte;
  // with kLocksHeld the caller holds them), and the index's pages are
  // written, each first written down in undo, before the record or the
  // record count that makes the change visible (see cdx_tree.h). A tag the
  // engine cannot keep, or an index it cannot read, leaves the table
  // unchanged: NotSupported or Corruption, naming the tag and its
  // expression.
  //
  // OK when the table has no such index or every tag can be kept; else why
  // the table is not changed.
  Status IndexUsable();
  // The index's file, for a caller that takes its lock byte itself; null
  // without an index the engine keeps.
  RandomRWFile* index_lock_file();
  // Whether the index reads any of the fields (negative ones left aside):
  // a change to them may move keys.
  bool IndexReads(const std::vector<int>& fields);

  // Forces what was written to the disk.
  Status Sync();
  // Whether something was written since the last Sync.
  bool unsynced() const { return written_; }

 private:
  DbfTable(Env* env, std::string path, bool writable, std::unique_ptr<RandomRWFile> file);

  void FindCompanions();
  Status ReadCount(uint32_t* count, uint64_t* size);
  void OpenMemoFile(const std::string& fpt, const std::string& dbt);
  Status StoreMemos(const std::vector<MemoText>& memos, int lock_timeout_ms, const UndoTarget* undo,
                    std::string* record);
  Status RewriteRecord(uint32_t recno, const std::function<void(std::string*)>& change,
                       const std::vector<MemoText>& memos, int lock_timeout_ms,
                       const UndoTarget* undo);

  Env* env_;
  std::string path_;
  bool writable_;
  std::unique_ptr<RandomRWFile> file_;
  std::unique_ptr<MemoFile> memo_;
  Header header_;
  uint32_t record_count_ = 0;
  bool damaged_ = false;
  bool has_index_ = false;
  bool written_ = false;
  std::string index_path_;
  std::unique_ptr<StructuralIndex> index_;
  bool index_read_ = false;
  Status index_status_;
  std::vector<std::string> notes_;
  std::unordered_map<std::string, int> field_index_;  // upper-case name to field

  std::string chunk_;  // records chunk_first_ .. chunk_first_ + chunk_records_ - 1
  uint32_t chunk_first_ = 0;
  uint32_t chunk_records_ = 0;
  size_t chunk_bytes_ = 0;  // the size of the last read
};

}  // namespace lumbra::dbf

#endif  // LUMBRA_BACKENDS_AURORA_DBF_TABLE_H_
