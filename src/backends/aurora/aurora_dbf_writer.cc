#include "backends/aurora/aurora_dbf_writer.h"

#include <cstring>

#include "backends/aurora/dbf_format.h"
#include "backends/aurora/dbf_values.h"
#include "platform/env.h"
#include "text/paths.h"

namespace lumbra {
namespace {

constexpr uint32_t kMemoBlockSize = 64;
constexpr uint32_t kMemoHeaderSize = 512;

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

void PutLE16(std::string* out, uint32_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>((v >> 8) & 0xFF));
}

void PutBE32(std::string* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

std::vector<dbf::Field> LayOut(const std::vector<DbfColumn>& columns) {
  std::vector<dbf::Field> fields;
  uint32_t offset = 1;
  for (const DbfColumn& c : columns) {
    dbf::Field f;
    f.name = Upper(c.name.substr(0, 10));
    f.type = c.type;
    f.length = c.type == 'D' ? 8 : c.type == 'L' ? 1 : c.type == 'M' ? 10 : static_cast<uint32_t>(c.length);
    f.decimals = static_cast<uint8_t>(c.decimals);
    f.memo = c.type == 'M';
    f.offset = offset;
    offset += f.length;
    fields.push_back(f);
  }
  return fields;
}

std::string TableHeader(const std::vector<dbf::Field>& fields, bool memo, uint32_t count,
                        uint32_t record_length) {
  std::string h(1, static_cast<char>(memo ? 0xF5 : 0x03));
  h += "\x6A\x03\x05";  // last changed 5 March 2006
  char n[4];
  dbf::WriteLE32(n, count);
  h.append(n, 4);
  PutLE16(&h, static_cast<uint32_t>(32 + 32 * fields.size() + 1));
  PutLE16(&h, record_length);
  h.append(16, '\0');
  h.push_back(memo ? 0x02 : 0x00);
  h.push_back(0x03);  // Windows-1252
  h.append(2, '\0');
  for (const dbf::Field& f : fields) {
    std::string d = f.name;
    d.resize(11, '\0');
    d.push_back(f.type);
    char off[4];
    dbf::WriteLE32(off, f.offset);
    d.append(off, 4);
    d.push_back(static_cast<char>(f.length));
    d.push_back(static_cast<char>(f.decimals));
    d.resize(32, '\0');
    h += d;
  }
  h.push_back('\r');
  return h;
}

// Appends a text memo block to the FPT body; returns its block number.
uint32_t AddMemo(std::string* fpt, std::string_view text) {
  uint32_t block = static_cast<uint32_t>(fpt->size() / kMemoBlockSize);
  PutBE32(fpt, 1);
  PutBE32(fpt, static_cast<uint32_t>(text.size()));
  fpt->append(text);
  fpt->resize((fpt->size() + kMemoBlockSize - 1) / kMemoBlockSize * kMemoBlockSize, '\0');
  return block;
}

std::string MemoPath(const std::string& path) {
  size_t dot = path.find_last_of('.');
  size_t slash = LastPathSeparator(path);
  std::string base = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                         ? path
                         : path.substr(0, dot);
  bool lower = dot != std::string::npos && dot + 1 < path.size() && path[dot + 1] >= 'a' &&
               path[dot + 1] <= 'z';
  return base + (lower ? ".fpt" : ".FPT");
}

}  // namespace

Status WriteDbfTable(Env* env, const std::string& path, const std::vector<DbfColumn>& columns,
                     const std::vector<DbfRecord>& records) {
  std::vector<dbf::Field> fields = LayOut(columns);
  bool memo = false;
  uint32_t record_length = 1;
  for (const dbf::Field& f : fields) {
    memo = memo || f.memo;
    record_length += f.length;
  }
  std::string fpt(kMemoHeaderSize, '\0');
  std::string body;
  body.reserve(records.size() * record_length + 1);
  std::string record;
  for (const DbfRecord& r : records) {
    record.assign(record_length, ' ');
    if (r.deleted) record[0] = '*';
    for (const dbf::Field& f : fields) dbf::BlankField(f, record.data() + f.offset);
    for (const auto& [name, value] : r.values) {
      const std::string key = Upper(name);
      const dbf::Field* field = nullptr;
      for (const dbf::Field& f : fields) {
        if (f.name == key) field = &f;
      }
      if (field == nullptr) return Status::InvalidArgument(path + ": no field " + name);
      if (value.empty()) continue;  // stays blank
      if (field->memo) {
        dbf::EncodeMemoBlock(*field, AddMemo(&fpt, value), record.data() + field->offset);
        continue;
      }
      Status s = dbf::EncodeText(*field, value, record.data() + field->offset);
      if (!s.ok()) return Status::InvalidArgument(path + ": " + s.message());
    }
    body += record;
  }
  body.push_back(dbf::kEndMarker);
  std::string table = TableHeader(fields, memo, static_cast<uint32_t>(records.size()), record_length);
  Status s = env->WriteFile(path, table + body);
  if (!s.ok() || !memo) return s;
  std::string head;
  PutBE32(&head, static_cast<uint32_t>(fpt.size() / kMemoBlockSize));
  head.append(2, '\0');
  head.push_back(static_cast<char>(kMemoBlockSize >> 8));
  head.push_back(static_cast<char>(kMemoBlockSize & 0xFF));
  fpt.replace(0, head.size(), head);
  return env->WriteFile(MemoPath(path), fpt);
}

}  // namespace lumbra
