// A table's structural index (the .CDX beside it) as the table engine keeps
// it: its tags, their key and FOR expressions compiled against the table's
// fields, and the changes a record's append or change makes to each tag.
//
// A tag whose keys the engine cannot compute (an expression it does not
// understand, a key of another length than its expression gives, keys
// made for a collation other than byte order) makes the whole table
// unchangeable: writable() says why, naming the tag and its expression.
// A table whose index silently went stale would be worse than one that
// waits.
//
// Keys are what FoxPro-style programs store: texts padded with blanks to
// the key length, numbers and dates as 8-byte doubles in an order-keeping
// form, integer fields as 4 bytes, logicals as "T" or "F". Every record
// has its key in every tag, deleted ones too, unless the tag's FOR
// expression leaves it out; a unique tag keeps only the first record of
// each key, and a candidate tag refuses a second one.
#ifndef LUMBRA_BACKENDS_AURORA_CDX_INDEX_H_
#define LUMBRA_BACKENDS_AURORA_CDX_INDEX_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backends/aurora/cdx_file.h"
#include "backends/aurora/dbf_format.h"
#include "backends/aurora/xbase_expr.h"
#include "platform/env.h"
#include "platform/status.h"
#include "platform/undo_log.h"

namespace lumbra::dbf {

struct IndexTag {
  std::string name;
  uint32_t header_offset = 0;
  CdxHeader header;
  std::unique_ptr<XbaseExpr> key;
  std::unique_ptr<XbaseExpr> filter;  // null without a FOR expression
  // Why the engine cannot compute the tag's keys; OK when it can.
  Status usable;
  XType type = XType::kChar;

  bool unique() const { return (header.options & (kCdxUnique | kCdxCandidate)) != 0; }
  bool candidate() const { return (header.options & kCdxCandidate) != 0; }
  // The byte that trailing compression leaves out of this tag's keys.
  char pad() const { return type == XType::kChar ? ' ' : '\0'; }
  // "NAME (key UPPER(NAME), for POSTED = 0)"
  std::string Describe() const;
};

class StructuralIndex {
 public:
  // Reads the tag directory of the index at path and compiles every tag
  // against the table's fields (table_name: the table's file name without
  // its extension, the alias its expressions may use). Fails only when the
  // file cannot be read as a compound index at all.
  static Status Open(Env* env, const std::string& path, const Header& table,
                     std::string_view table_name, bool writable,
                     std::unique_ptr<StructuralIndex>* out);

  const std::string& path() const { return file_->path(); }
  const std::vector<IndexTag>& tags() const { return tags_; }
  // OK when every tag can be kept; else NotSupported naming the first tag
  // that cannot, with its expression and the reason.
  const Status& writable() const { return writable_; }

  // Whether changing a record from before to after can change its keys.
  bool KeysMayChange(std::string_view before, std::string_view after) const;

  // The index file's lock byte, held while pages change (other programs
  // take the same byte before changing the index). Busy when it cannot be
  // had within timeout_ms; kLocksHeld when the caller holds it. Released by
  // Unlock or when the index goes.
  Status Lock(int timeout_ms);
  void Unlock();
  // The file whose kLockBase byte that lock is, for a caller that takes
  // all the locks of a piece of work together.
  RandomRWFile* lock_file() { return file_->file(); }

  // Under the lock: the keys of record recno, just being added, go into
  // every tag; or the keys of a record changing from before to after move.
  // Every change to a page is first written down in undo, when given (lock
  // byte kLockBase of the index file). Nothing is written when a candidate
  // tag would get a second record of a key (InvalidArgument) or the index
  // cannot be read (Corruption).
  Status RecordAdded(uint32_t recno, std::string_view record, const UndoTarget* undo = nullptr);
  Status RecordChanged(uint32_t recno, std::string_view before, std::string_view after,
                       const UndoTarget* undo = nullptr);

  // Every entry of a tag in index order; tree problems go to *problems.
  Status ScanTag(const IndexTag& tag,
                 const std::function<void(const std::string& key, uint32_t recno)>& visit,
                 std::vector<std::string>* problems);

  Status Sync() { return file_->Sync(); }

 private:
  StructuralIndex(Env* env, std::unique_ptr<CdxFile> file) : env_(env), file_(std::move(file)) {}
  Status LoadTags(const Header& table, std::string_view table_name);
  Status ReadDirectory(std::string* bytes);
  Status ReloadIfChanged();

  struct Change {
    const IndexTag* tag;
    bool remove;
    std::string key;
    uint32_t recno;
  };
  Status Apply(const std::vector<Change>& changes);

  Env* env_;
  std::unique_ptr<CdxFile> file_;
  std::vector<IndexTag> tags_;
  Status writable_;
  std::string directory_;  // the directory's root pointer and root page as read
  Header table_;
  std::string table_name_;
  std::unique_ptr<RangeLock> lock_;
};

// Fills in the tag's expressions, compiled against the table's fields
// (table_name: the table's file name without its extension, the alias its
// expressions may use), and whether its keys can be computed.
void CompileTag(const Header& table, std::string_view table_name, IndexTag* tag);
// The key of a record (record_length bytes, deletion flag first) in a
// usable tag; false when the tag's FOR expression leaves the record out.
bool TagKey(const IndexTag& tag, std::string_view record, std::string* key);

// Keys in the stored form (see above).
std::string NumberKey(double v);
std::string IntegerKey(double v);
// A key as people read it: texts without their trailing blanks, numbers
// and dates (yyyymmdd) as text, "T" or "F"; for a tag whose keys cannot be
// computed, the stored bytes.
std::string KeyText(const IndexTag& tag, std::string_view key);

}  // namespace lumbra::dbf

#endif  // LUMBRA_BACKENDS_AURORA_CDX_INDEX_H_
