#include "backends/aurora/dbf_format.h"

namespace lumbra::dbf {
namespace {

bool KnownVersion(uint8_t v) {
  switch (v) {
    case 0x03:  // dBase III, FoxBASE+, FoxPro without memo
    case 0x30:  // Visual FoxPro
    case 0x31:  // Visual FoxPro with auto-increment fields
    case 0x32:  // Visual FoxPro with varchar or varbinary fields
    case 0x43:  // dBase IV SQL table
    case 0x63:  // dBase IV SQL system table
    case 0x83:  // dBase III with DBT memo
    case 0x8B:  // dBase IV with DBT memo
    case 0xCB:  // dBase IV SQL table with memo
    case 0xF5:  // FoxPro 2.x with FPT memo
    case 0xFB:  // FoxBASE
      return true;
    default:
      return false;
  }
}

uint32_t ReadLE16(const char* p) {
  return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8;
}

// The size a field of a binary or fixed type must have; 0 when any will do.
uint32_t FixedLength(char type, bool visual_foxpro) {
  switch (type) {
    case 'D': return 8;
    case 'L': return 1;
    case 'I': case '+': return 4;
    case 'Y': case 'T': case '@': case 'O': return 8;
    case 'B': return visual_foxpro ? 8 : 0;
    default: return 0;
  }
}

std::string Hex(uint8_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[v >> 4] + kDigits[v & 15];
}

}  // namespace

uint32_t ReadLE32(const char* p) {
  return ReadLE16(p) | ReadLE16(p + 2) << 16;
}

void WriteLE32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool Header::HasMemoFields() const {
  for (const Field& f : fields) {
    if (f.memo) return true;
  }
  return false;
}

uint32_t AnnouncedHeaderLength(std::string_view first_bytes) {
  return first_bytes.size() < kTableHeaderSize ? 0 : ReadLE16(first_bytes.data() + 8);
}

Status ParseHeader(std::string_view bytes, uint64_t file_size, Header* header) {
  *header = Header();
  if (bytes.size() < kTableHeaderSize) return Status::Corruption("table header cut short");
  const char* p = bytes.data();
  Header h;
  h.version = static_cast<uint8_t>(p[kVersionOffset]);
  if (!KnownVersion(h.version)) return Status::Corruption("unknown table version " + Hex(h.version));
  h.record_count = ReadLE32(p + kRecordCountOffset);
  h.header_length = ReadLE16(p + 8);
  h.record_length = ReadLE16(p + 10);
  h.table_flags = static_cast<uint8_t>(p[kTableFlagsOffset]);
  h.code_page = static_cast<uint8_t>(p[kCodePageOffset]);
  if (h.header_length < kTableHeaderSize + kDescriptorSize) {
    return Status::Corruption("header length " + std::to_string(h.header_length) + " too small");
  }
  if (h.header_length > file_size) {
    return Status::Corruption("header length " + std::to_string(h.header_length) +
                              " beyond the end of the file");
  }
  if (bytes.size() < h.header_length) return Status::Corruption("table header cut short");
  if (h.record_length == 0) return Status::Corruption("record length 0");

  const bool vfp = h.IsVisualFoxPro();
  uint32_t offset = 1;
  for (size_t pos = kTableHeaderSize; pos + kDescriptorSize <= h.header_length;
       pos += kDescriptorSize) {
    if (p[pos] == '\r' || p[pos] == '\n') break;
    const char* d = p + pos;
    Field f;
    size_t name_len = 0;
    while (name_len < 11 && d[name_len] != '\0') ++name_len;
    f.name.assign(d, name_len);
    f.type = d[11];
    f.length = static_cast<uint8_t>(d[16]);
    f.decimals = static_cast<uint8_t>(d[17]);
    if (f.type == 'C' || f.type == 'V') {
      // Character fields longer than 255 keep the high byte of their length
      // where other types keep their decimals.
      f.length |= static_cast<uint32_t>(f.decimals) << 8;
      f.decimals = 0;
    }
    f.flags = vfp ? static_cast<uint8_t>(d[18]) : 0;
    f.descriptor_pos = pos;
    f.offset = offset;
    f.hidden = f.type == '0' || (f.flags & kFieldSystem) != 0;
    f.memo = f.type == 'M' || f.type == 'G' || f.type == 'P' || f.type == 'W' ||
             (f.type == 'B' && !vfp);
    uint32_t fixed = FixedLength(f.type, vfp);
    if (fixed != 0 && f.length != fixed) {
      return Status::Corruption("field " + f.name + " of type " + std::string(1, f.type) +
                                " has length " + std::to_string(f.length));
    }
    if (f.memo && f.length != 4 && f.length != 10) {
      return Status::Corruption("memo field " + f.name + " has length " +
                                std::to_string(f.length));
    }
    offset += f.length;
    h.fields.push_back(std::move(f));
  }
  if (h.fields.empty()) return Status::Corruption("table has no fields");
  if (offset > h.record_length) {
    return Status::Corruption("fields need " + std::to_string(offset) +
                              " bytes per record, header says " +
                              std::to_string(h.record_length));
  }
  *header = std::move(h);
  return Status::OK();
}

}  // namespace lumbra::dbf
