// A FoxPro compound index file (.CDX) at the level of its pages.
//
// The file is a sequence of 512-byte pages. It starts with a 1024-byte
// header whose tree is the tag directory: its keys are the tag names, and
// the number stored with each name is where that tag's own 1024-byte header
// lies. Every tag is a B-tree of its own: interior nodes hold, for each
// child, the child's last key with its record number and the child's
// offset; leaf nodes hold the keys in order, compressed: a key shares its
// first bytes with the key before it (the duplicate count) and loses its
// trailing blanks (the trailing count, blanks being NUL bytes for keys
// that are not text), and the record number, duplicate count and trailing
// count of each key are packed into a few bytes whose bit widths the node
// states. Numbers in node headers and headers are little-endian; those of
// interior node entries big-endian.
#ifndef LUMBRA_BACKENDS_AURORA_CDX_FILE_H_
#define LUMBRA_BACKENDS_AURORA_CDX_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "platform/status.h"
#include "platform/undo_log.h"

namespace lumbra::dbf {

inline constexpr uint32_t kCdxPageSize = 512;
inline constexpr uint32_t kCdxHeaderSize = 1024;
inline constexpr uint32_t kCdxNoPage = 0xFFFFFFFF;
inline constexpr uint16_t kCdxMaxKey = 240;

// Options of a header.
inline constexpr uint8_t kCdxUnique = 0x01;
inline constexpr uint8_t kCdxCandidate = 0x04;  // unique, and duplicates refused
inline constexpr uint8_t kCdxHasFor = 0x08;
inline constexpr uint8_t kCdxCompact = 0x20;
inline constexpr uint8_t kCdxCompound = 0x40;
inline constexpr uint8_t kCdxStructural = 0x80;

// Attribute bits of a node; other bits are kept as found.
inline constexpr uint16_t kNodeRoot = 0x01;
inline constexpr uint16_t kNodeLeaf = 0x02;

struct CdxHeader {
  uint32_t root = 0;
  uint32_t free_list = 0;  // of the file header; 0 or kCdxNoPage when empty
  uint32_t version = 0;    // raised by every change, for readers' caches
  uint16_t key_length = 0;
  uint8_t options = 0;
  bool descending = false;
  std::string key_expr;
  std::string for_expr;
  // The collation a tag's keys are made for, when the header names one
  // other than the machine's byte order; empty otherwise.
  std::string collation;
};

// Corruption when the bytes cannot be a compact index header.
Status ParseCdxHeader(std::string_view bytes, uint32_t file_size, CdxHeader* header);
// The 1024 bytes of a new header.
std::string FormatCdxHeader(const CdxHeader& header);
// The first bytes of a header that change with the tree: root, free list,
// version.
inline constexpr size_t kCdxHeaderTreeBytes = 12;
std::string FormatHeaderTreeBytes(const CdxHeader& header);

// A node's entries, its keys whole and one after another in one buffer.
struct CdxNode {
  uint16_t attributes = 0;
  uint32_t left = kCdxNoPage;
  uint32_t right = kCdxNoPage;
  uint16_t key_length = 0;
  std::string keys;                // size() keys of key_length bytes
  std::vector<uint32_t> recnos;
  std::vector<uint32_t> children;  // interior nodes only

  bool leaf() const { return (attributes & kNodeLeaf) != 0; }
  bool root() const { return (attributes & kNodeRoot) != 0; }
  size_t size() const { return recnos.size(); }
  std::string_view key(size_t i) const {
    return std::string_view(keys).substr(i * key_length, key_length);
  }
  std::string_view last_key() const { return key(size() - 1); }
  void SetKey(size_t i, std::string_view key) { keys.replace(i * key_length, key_length, key); }
  // A new entry at i; child only for interior nodes.
  void Insert(size_t i, std::string_view key, uint32_t recno, uint32_t child = 0);
  void Erase(size_t i);
  // Entries from to end of another node added at the end.
  void Append(const CdxNode& other, size_t from, size_t end);
};

// pad is the byte that trailing compression leaves out: a blank for text
// keys, NUL for the others.
Status DecodeNode(std::string_view page, uint16_t key_length, char pad, CdxNode* node);
// The page of a node; false when its keys do not fit one page.
bool EncodeNode(const CdxNode& node, uint16_t key_length, char pad, std::string* page);

// The bytes a node's keys take of its page: at most kCdxLeafSpace for a
// leaf, 500 for an interior node.
size_t NodeBytes(const CdxNode& node, uint16_t key_length, char pad);
bool NodeFits(const CdxNode& node, uint16_t key_length, char pad);

// For filling leaves: the room a leaf has for entries and keys, the bytes
// of each entry when its record numbers go up to max_recno, and the bytes a
// key takes after the key before it (empty for the first).
inline constexpr size_t kCdxLeafSpace = kCdxPageSize - 24;
size_t LeafEntryBytes(uint32_t max_recno, uint16_t key_length);
size_t LeafKeyBytes(std::string_view previous, std::string_view key, char pad);
// Entries an interior node holds.
inline size_t InteriorCapacity(uint16_t key_length) { return (kCdxPageSize - 12) / (key_length + 8u); }

// The file, read and written a page at a time. Every change goes through
// Write, which first writes it down in the undo log when one is set.
class CdxFile {
 public:
  static Status Open(Env* env, const std::string& path, bool writable,
                     std::unique_ptr<CdxFile>* out);

  const std::string& path() const { return path_; }
  bool writable() const { return writable_; }
  RandomRWFile* file() { return file_.get(); }

  // n bytes at offset; Corruption when the file ends before them.
  Status Read(uint64_t offset, size_t n, std::string* out);
  // The header at offset (file_size: the file's size, for checking its
  // root), and its first bytes as read.
  Status ReadHeader(uint32_t offset, uint64_t file_size, CdxHeader* header,
                    std::string* bytes = nullptr);
  Status Size(uint64_t* size) { return file_->Size(size); }

  // Where changes are written down first, and the lock byte that guards
  // them; null: nothing is written down.
  void SetUndo(const UndoTarget* undo, uint64_t lock_offset) {
    undo_ = undo;
    undo_lock_ = lock_offset;
  }
  // Changes bytes at offset from before (what the file holds there now;
  // empty for bytes appended) to after. Only the bytes from the first that
  // differs to the last are written (and written down).
  Status Write(uint64_t offset, std::string_view before, std::string_view after);
  Status Sync() { return file_->Sync(); }

 private:
  CdxFile(std::string path, bool writable, std::unique_ptr<RandomRWFile> file)
      : path_(std::move(path)), writable_(writable), file_(std::move(file)) {}

  std::string path_;
  bool writable_;
  std::unique_ptr<RandomRWFile> file_;
  const UndoTarget* undo_ = nullptr;
  uint64_t undo_lock_ = 0;
};

}  // namespace lumbra::dbf

#endif  // LUMBRA_BACKENDS_AURORA_CDX_FILE_H_
