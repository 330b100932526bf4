// The layout of a DBF table file: the 32-byte table header, the 32-byte
// field descriptors that follow it (ended by a carriage return), then the
// records, each a deletion flag ("*" deleted, blank live) and the fields in
// descriptor order, then an end marker 0x1A. Visual FoxPro tables keep a
// 263-byte back-link to their database after the descriptors; the header
// length in the table header always says where the records start.
#ifndef LUMBRA_BACKENDS_AURORA_DBF_FORMAT_H_
#define LUMBRA_BACKENDS_AURORA_DBF_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "platform/status.h"

namespace lumbra::dbf {

inline constexpr char kEndMarker = 0x1A;
inline constexpr size_t kTableHeaderSize = 32;
inline constexpr size_t kDescriptorSize = 32;

// Offsets within the table header.
inline constexpr size_t kVersionOffset = 0;
inline constexpr size_t kDateOffset = 1;          // year - 1900, month, day
inline constexpr size_t kRecordCountOffset = 4;   // uint32, little-endian
inline constexpr size_t kTableFlagsOffset = 28;   // 0x01 structural index, 0x02 memo
inline constexpr size_t kCodePageOffset = 29;

// Field flags of Visual FoxPro descriptors (byte 18).
inline constexpr uint8_t kFieldSystem = 0x01;     // hidden, e.g. _NullFlags
inline constexpr uint8_t kFieldAutoIncrement = 0x0C;
// Byte 19..22 of an auto-increment descriptor: the next value; byte 23: step.
inline constexpr size_t kAutoNextOffset = 19;
inline constexpr size_t kAutoStepOffset = 23;

// The byte-range lock area FoxPro-style programs share: one byte per record
// counting down from kLockBase, the header being record 0. A program that
// holds a table exclusively (or has locked the whole file) holds all of them.
inline constexpr uint64_t kLockBase = 0x7FFFFFFE;
inline uint64_t RecordLockOffset(uint32_t recno) { return kLockBase - recno; }

// A lock time-out that says the caller holds the locks a change needs
// already (a posting takes all of a line's locks at once, see LockSet).
inline constexpr int kLocksHeld = -1;

// One lock byte of a table or memo file, held exclusively from Acquire until
// it goes out of scope.
class RangeLock {
 public:
  RangeLock(RandomRWFile* file, uint64_t offset) : file_(file), offset_(offset) {}
  ~RangeLock() {
    if (held_) file_->UnlockRange(offset_, 1);
  }
  RangeLock(const RangeLock&) = delete;
  RangeLock& operator=(const RangeLock&) = delete;
  Status Acquire(int timeout_ms) {
    if (timeout_ms == kLocksHeld) return Status::OK();
    Status s = file_->LockRange(offset_, 1, true, timeout_ms);
    held_ = s.ok();
    return s;
  }

 private:
  RandomRWFile* file_;
  uint64_t offset_;
  bool held_ = false;
};

enum class MemoKind {
  kNone,
  kFpt,   // FoxPro: block size in the header, big-endian block headers
  kDbt3,  // dBase III: 512-byte blocks, text ended by 0x1A
  kDbt4,  // dBase IV: blocks start FF FF 08 00 and a length that counts those 8 bytes
};

struct Field {
  std::string name;          // as stored, up to the first NUL
  char type = 'C';
  uint32_t offset = 0;       // from the start of the record (the flag is byte 0)
  uint32_t length = 0;
  uint8_t decimals = 0;
  uint8_t flags = 0;
  size_t descriptor_pos = 0; // where its descriptor lies in the file
  bool hidden = false;       // a system field, never shown or written by name
  bool memo = false;         // holds a memo block number
};

struct Header {
  uint8_t version = 0;
  uint32_t record_count = 0;
  uint32_t header_length = 0;
  uint32_t record_length = 0;
  uint8_t table_flags = 0;
  uint8_t code_page = 0;
  std::vector<Field> fields;
  bool HasMemoFields() const;
  // Visual FoxPro layouts, in which B is a double and 4-byte memo fields hold
  // binary block numbers.
  bool IsVisualFoxPro() const { return version == 0x30 || version == 0x31 || version == 0x32; }
};

// Reads the header from the first bytes of the file (at least the table
// header; ideally header_length bytes). file_size is the whole file's size.
// Corruption when the bytes cannot be a table this engine reads: an unknown
// version, a header longer than the file, a record length smaller than its
// fields, no fields, a field of a fixed-size type with the wrong size.
Status ParseHeader(std::string_view bytes, uint64_t file_size, Header* header);

// The header length the first 32 bytes announce (0 when fewer are given).
uint32_t AnnouncedHeaderLength(std::string_view first_bytes);

uint32_t ReadLE32(const char* p);
void WriteLE32(char* p, uint32_t v);

}  // namespace lumbra::dbf

#endif  // LUMBRA_BACKENDS_AURORA_DBF_FORMAT_H_
