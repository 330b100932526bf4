#include "backends/aurora/cdx_file.h"

#include <algorithm>
#include <cctype>

#include "backends/aurora/dbf_format.h"

namespace lumbra::dbf {
namespace {

// Offsets within a header.
constexpr size_t kKeyLengthOffset = 12;
constexpr size_t kOptionsOffset = 14;
constexpr size_t kSignatureOffset = 15;
constexpr size_t kDescendingOffset = 502;
constexpr size_t kForPosOffset = 504;
constexpr size_t kForLenOffset = 506;
constexpr size_t kKeyPosOffset = 508;
constexpr size_t kKeyLenOffset = 510;
constexpr size_t kPoolOffset = 512;
constexpr size_t kPoolSize = 512;

// Offsets within a node.
constexpr size_t kLeafFreeOffset = 12;
constexpr size_t kLeafEntries = 24;
constexpr size_t kLeafSpace = kCdxLeafSpace;
constexpr size_t kInteriorEntries = 12;
constexpr size_t kInteriorSpace = kCdxPageSize - kInteriorEntries;  // 500

uint16_t LE16(const char* p) {
  return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8);
}
void PutLE16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>(v >> 8);
}
uint32_t BE32(const char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(p[i]);
  return v;
}
void PutBE32(char* p, uint32_t v) {
  for (int i = 3; i >= 0; --i, v >>= 8) p[i] = static_cast<char>(v & 0xFF);
}

int BitLength(uint64_t v) {
  int n = 0;
  for (; v != 0; v >>= 1) ++n;
  return n;
}

// The expression at pos in the pool, up to its NUL.
std::string PoolText(std::string_view pool, size_t pos, size_t len) {
  if (pos >= pool.size()) return std::string();
  std::string_view s = pool.substr(pos, std::min(len, pool.size() - pos));
  size_t nul = s.find('\0');
  return std::string(nul == std::string_view::npos ? s : s.substr(0, nul));
}

// A collation name in the reserved part of a tag header: a run of capital
// letters. Machine order, the only one this engine makes keys for, is
// written as no name at all or as "MACHINE".
std::string CollationName(std::string_view bytes) {
  std::string run;
  for (size_t i = 16; i < kDescendingOffset; ++i) {
    char c = bytes[i];
    if (c >= 'A' && c <= 'Z') {
      run.push_back(c);
      continue;
    }
    if (run.size() >= 4 && run != "MACHINE") return run;
    run.clear();
  }
  return std::string();
}

// Bytes per leaf entry and the bits of its record number, for record
// numbers up to max_recno: the duplicate and trailing counts take the bits
// the key length needs, the record number the rest of whole bytes.
void EntryLayout(uint32_t max_recno, uint16_t key_length, int* bytes, int* recno_bits) {
  int count_bits = BitLength(key_length);
  int need = std::max(BitLength(max_recno), 1) + 2 * count_bits;
  *bytes = (need + 7) / 8;
  *recno_bits = *bytes * 8 - 2 * count_bits;
}

size_t Trailing(std::string_view key, char pad) {
  size_t n = 0;
  while (n < key.size() && key[key.size() - 1 - n] == pad) ++n;
  return n;
}

size_t Common(std::string_view a, std::string_view b) {
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  return n;
}

Status DecodeLeaf(std::string_view page, uint16_t key_length, char pad, size_t count,
                  CdxNode* node) {
  const char* p = page.data();
  uint32_t recno_mask = ReadLE32(p + 14);
  uint8_t dup_mask = static_cast<uint8_t>(p[18]);
  uint8_t trail_mask = static_cast<uint8_t>(p[19]);
  int recno_bits = static_cast<uint8_t>(p[20]);
  int dup_bits = static_cast<uint8_t>(p[21]);
  int bytes = static_cast<uint8_t>(p[23]);
  if (bytes < 1 || bytes > 8 || recno_bits + dup_bits + static_cast<uint8_t>(p[22]) > bytes * 8 ||
      count * static_cast<size_t>(bytes) > kLeafSpace) {
    return Status::Corruption("leaf node with a bad entry layout");
  }
  size_t key_end = kCdxPageSize;
  const size_t entries_end = kLeafEntries + count * static_cast<size_t>(bytes);
  node->keys.reserve(count * key_length);
  node->recnos.reserve(count);
  std::string_view previous;
  for (size_t i = 0; i < count; ++i) {
    uint64_t v = 0;
    for (int b = bytes - 1; b >= 0; --b) {
      v = v << 8 | static_cast<uint8_t>(p[kLeafEntries + i * static_cast<size_t>(bytes) + static_cast<size_t>(b)]);
    }
    uint32_t recno = static_cast<uint32_t>(v & recno_mask);
    size_t dup = (v >> recno_bits) & dup_mask;
    size_t trail = (v >> (recno_bits + dup_bits)) & trail_mask;
    if (dup + trail > key_length || dup > previous.size()) {
      return Status::Corruption("leaf key with impossible counts");
    }
    size_t stored = key_length - dup - trail;
    if (key_end < entries_end + stored) return Status::Corruption("leaf keys overlap their entries");
    key_end -= stored;
    node->keys.append(previous.substr(0, dup));
    node->keys.append(page.substr(key_end, stored));
    node->keys.append(trail, pad);
    node->recnos.push_back(recno);
    previous = node->key(i);
  }
  return Status::OK();
}

bool EncodeLeaf(const CdxNode& node, uint16_t key_length, char pad, char* p) {
  uint32_t max_recno = 0;
  for (uint32_t r : node.recnos) max_recno = std::max(max_recno, r);
  int bytes, recno_bits;
  EntryLayout(max_recno, key_length, &bytes, &recno_bits);
  int count_bits = BitLength(key_length);
  size_t used = node.size() * static_cast<size_t>(bytes);
  size_t key_end = kCdxPageSize;
  for (size_t i = 0; i < node.size(); ++i) {
    std::string_view key = node.key(i);
    size_t trail = Trailing(key, pad);
    size_t dup = i == 0 ? 0 : std::min(Common(key, node.key(i - 1)), key.size() - trail);
    size_t stored = key.size() - dup - trail;
    used += stored;
    if (used > kLeafSpace) return false;
    key_end -= stored;
    key.substr(dup, stored).copy(p + key_end, stored);
    uint64_t v = node.recnos[i] | static_cast<uint64_t>(dup) << recno_bits |
                 static_cast<uint64_t>(trail) << (recno_bits + count_bits);
    for (int b = 0; b < bytes; ++b, v >>= 8) {
      p[kLeafEntries + i * static_cast<size_t>(bytes) + static_cast<size_t>(b)] = static_cast<char>(v & 0xFF);
    }
  }
  PutLE16(p + kLeafFreeOffset, static_cast<uint16_t>(kLeafSpace - used));
  uint32_t recno_mask = recno_bits >= 32 ? 0xFFFFFFFFu : (1u << recno_bits) - 1;
  WriteLE32(p + 14, recno_mask);
  p[18] = p[19] = static_cast<char>((1 << count_bits) - 1);
  p[20] = static_cast<char>(recno_bits);
  p[21] = p[22] = static_cast<char>(count_bits);
  p[23] = static_cast<char>(bytes);
  return true;
}

}  // namespace

size_t NodeBytes(const CdxNode& node, uint16_t key_length, char pad) {
  if (!node.leaf()) return node.size() * (key_length + 8u);
  uint32_t max_recno = 0;
  size_t keys = 0;
  for (size_t i = 0; i < node.size(); ++i) {
    max_recno = std::max(max_recno, node.recnos[i]);
    keys += LeafKeyBytes(i == 0 ? std::string_view() : node.key(i - 1), node.key(i), pad);
  }
  return node.size() * LeafEntryBytes(max_recno, key_length) + keys;
}

bool NodeFits(const CdxNode& node, uint16_t key_length, char pad) {
  return NodeBytes(node, key_length, pad) <= (node.leaf() ? kLeafSpace : kInteriorSpace);
}

size_t LeafEntryBytes(uint32_t max_recno, uint16_t key_length) {
  int bytes, recno_bits;
  EntryLayout(max_recno, key_length, &bytes, &recno_bits);
  return static_cast<size_t>(bytes);
}

size_t LeafKeyBytes(std::string_view previous, std::string_view key, char pad) {
  size_t trail = Trailing(key, pad);
  size_t dup = previous.empty() ? 0 : std::min(Common(key, previous), key.size() - trail);
  return key.size() - dup - trail;
}

void CdxNode::Insert(size_t i, std::string_view key, uint32_t recno, uint32_t child) {
  keys.insert(i * key_length, key.substr(0, key_length));
  recnos.insert(recnos.begin() + static_cast<long>(i), recno);
  if (!leaf()) children.insert(children.begin() + static_cast<long>(i), child);
}

void CdxNode::Erase(size_t i) {
  keys.erase(i * key_length, key_length);
  recnos.erase(recnos.begin() + static_cast<long>(i));
  if (!children.empty()) children.erase(children.begin() + static_cast<long>(i));
}

void CdxNode::Append(const CdxNode& other, size_t from, size_t end) {
  keys.append(std::string_view(other.keys).substr(from * key_length, (end - from) * key_length));
  recnos.insert(recnos.end(), other.recnos.begin() + static_cast<long>(from),
                other.recnos.begin() + static_cast<long>(end));
  if (!other.children.empty()) {
    children.insert(children.end(), other.children.begin() + static_cast<long>(from),
                    other.children.begin() + static_cast<long>(end));
  }
}

Status ParseCdxHeader(std::string_view bytes, uint32_t file_size, CdxHeader* header) {
  *header = CdxHeader();
  if (bytes.size() < kCdxHeaderSize) return Status::Corruption("index header cut short");
  const char* p = bytes.data();
  CdxHeader h;
  h.root = ReadLE32(p);
  h.free_list = ReadLE32(p + 4);
  h.version = ReadLE32(p + 8);
  h.key_length = LE16(p + kKeyLengthOffset);
  h.options = static_cast<uint8_t>(p[kOptionsOffset]);
  h.descending = LE16(p + kDescendingOffset) != 0;
  if ((h.options & kCdxCompact) == 0) return Status::Corruption("not a compact index");
  if (h.key_length == 0 || h.key_length > kCdxMaxKey) {
    return Status::Corruption("key length " + std::to_string(h.key_length));
  }
  if (h.root % kCdxPageSize != 0 || h.root < kCdxHeaderSize || h.root >= file_size) {
    return Status::Corruption("root page " + std::to_string(h.root) + " outside the file");
  }
  std::string_view pool = bytes.substr(kPoolOffset, kPoolSize);
  h.key_expr = PoolText(pool, LE16(p + kKeyPosOffset), LE16(p + kKeyLenOffset));
  h.for_expr = PoolText(pool, LE16(p + kForPosOffset), LE16(p + kForLenOffset));
  h.collation = CollationName(bytes);
  *header = std::move(h);
  return Status::OK();
}

std::string FormatCdxHeader(const CdxHeader& h) {
  std::string out(kCdxHeaderSize, '\0');
  char* p = out.data();
  std::string tree = FormatHeaderTreeBytes(h);
  std::copy(tree.begin(), tree.end(), p);
  PutLE16(p + kKeyLengthOffset, h.key_length);
  p[kOptionsOffset] = static_cast<char>(h.options);
  p[kSignatureOffset] = 1;
  PutLE16(p + kDescendingOffset, h.descending ? 1 : 0);
  size_t key_len = std::min(h.key_expr.size(), kPoolSize / 2 - 1) + 1;
  size_t for_len = std::min(h.for_expr.size(), kPoolSize / 2 - 1) + 1;
  PutLE16(p + kKeyPosOffset, 0);
  PutLE16(p + kKeyLenOffset, static_cast<uint16_t>(key_len));
  PutLE16(p + kForPosOffset, static_cast<uint16_t>(key_len));
  PutLE16(p + kForLenOffset, static_cast<uint16_t>(for_len));
  std::copy_n(h.key_expr.begin(), key_len - 1, p + kPoolOffset);
  std::copy_n(h.for_expr.begin(), for_len - 1, p + kPoolOffset + key_len);
  return out;
}

std::string FormatHeaderTreeBytes(const CdxHeader& h) {
  std::string out(kCdxHeaderTreeBytes, '\0');
  WriteLE32(out.data(), h.root);
  WriteLE32(out.data() + 4, h.free_list);
  WriteLE32(out.data() + 8, h.version);
  return out;
}

Status DecodeNode(std::string_view page, uint16_t key_length, char pad, CdxNode* node) {
  *node = CdxNode();
  if (page.size() != kCdxPageSize) return Status::Corruption("node cut short");
  const char* p = page.data();
  node->key_length = key_length;
  node->attributes = LE16(p);
  size_t count = LE16(p + 2);
  node->left = ReadLE32(p + 4);
  node->right = ReadLE32(p + 8);
  if (node->attributes > 0xFF) return Status::Corruption("not an index node");
  if (node->leaf()) return DecodeLeaf(page, key_length, pad, count, node);
  const size_t entry = key_length + 8u;
  if (count * entry > kInteriorSpace) return Status::Corruption("interior node overfull");
  for (size_t i = 0; i < count; ++i) {
    const char* e = p + kInteriorEntries + i * entry;
    node->keys.append(e, key_length);
    node->recnos.push_back(BE32(e + key_length));
    node->children.push_back(BE32(e + key_length + 4));
  }
  return Status::OK();
}

bool EncodeNode(const CdxNode& node, uint16_t key_length, char pad, std::string* page) {
  page->assign(kCdxPageSize, '\0');
  char* p = page->data();
  PutLE16(p, node.attributes);
  PutLE16(p + 2, static_cast<uint16_t>(node.size()));
  WriteLE32(p + 4, node.left);
  WriteLE32(p + 8, node.right);
  if (node.leaf()) return EncodeLeaf(node, key_length, pad, p);
  const size_t entry = key_length + 8u;
  if (node.size() * entry > kInteriorSpace) return false;
  for (size_t i = 0; i < node.size(); ++i) {
    char* e = p + kInteriorEntries + i * entry;
    node.key(i).copy(e, key_length);
    PutBE32(e + key_length, node.recnos[i]);
    PutBE32(e + key_length + 4, node.children[i]);
  }
  return true;
}

Status CdxFile::Open(Env* env, const std::string& path, bool writable,
                     std::unique_ptr<CdxFile>* out) {
  out->reset();
  std::unique_ptr<RandomRWFile> file;
  Status s = env->OpenRandomRW(path, writable, &file);
  if (!s.ok()) return s;
  out->reset(new CdxFile(path, writable, std::move(file)));
  return Status::OK();
}

Status CdxFile::Read(uint64_t offset, size_t n, std::string* out) {
  Status s = file_->Read(offset, n, out);
  if (s.ok() && out->size() != n) {
    return Status::Corruption(path_ + ": ends before byte " + std::to_string(offset + n));
  }
  return s;
}

Status CdxFile::ReadHeader(uint32_t offset, uint64_t file_size, CdxHeader* header,
                           std::string* bytes) {
  std::string local;
  std::string* read = bytes != nullptr ? bytes : &local;
  Status s = Read(offset, kCdxHeaderSize, read);
  if (s.ok()) {
    s = ParseCdxHeader(*read, static_cast<uint32_t>(std::min<uint64_t>(file_size, 0xFFFFFFFFu)),
                       header);
  }
  if (!s.ok() && s.IsCorruption()) {
    return Status::Corruption(path_ + ": header at " + std::to_string(offset) + ": " + s.message());
  }
  return s;
}

Status CdxFile::Write(uint64_t offset, std::string_view before, std::string_view after) {
  if (!writable_) return Status::NotSupported(path_ + ": opened for reading only");
  size_t first = 0, end = after.size();
  if (before.size() == after.size()) {
    while (first < end && before[first] == after[first]) ++first;
    while (end > first && before[end - 1] == after[end - 1]) --end;
    if (first == end) return Status::OK();
    before = before.substr(first, end - first);
  }
  after = after.substr(first, end - first);
  if (undo_ != nullptr) {
    Status s = undo_->Note(FileChange{path_, undo_lock_, offset + first, std::string(before),
                                      std::string(after), std::string(before)});
    if (!s.ok()) return s;
  }
  return file_->Write(offset + first, after);
}

}  // namespace lumbra::dbf
