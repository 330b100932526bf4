#include "backends/aurora/cdx_index.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "backends/aurora/cdx_tree.h"
#include "backends/aurora/dbf_values.h"
#include "text/numbers.h"

namespace lumbra::dbf {
namespace {

uint64_t ReadBE64(std::string_view key) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8 && i < key.size(); ++i) v = v << 8 | static_cast<uint8_t>(key[i]);
  return v;
}

double NumberOfKey(std::string_view key) {
  uint64_t bits = ReadBE64(key);
  bits = (bits >> 63) != 0 ? bits & ~(uint64_t{1} << 63) : ~bits;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Control bytes as \xNN; with all_binary, every byte beyond ASCII too.
std::string Printable(std::string_view bytes, bool all_binary = false) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x20 || c == 0x7F || (all_binary && c > 0x7F)) {
      out += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string DateText(double julian) {
  if (julian < 1) return std::string();
  int y, m, d;
  CivilFromJulian(static_cast<long>(julian), &y, &m, &d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

// Why a tag's keys cannot be computed, or OK.
Status Usable(const IndexTag& tag) {
  if (!tag.header.collation.empty()) {
    return Status::NotSupported("its keys follow the collation " + tag.header.collation +
                                ", not byte order");
  }
  const int length = tag.header.key_length;
  bool fits = true;
  switch (tag.type) {
    case XType::kChar:
      fits = tag.key->width() < 0 || tag.key->width() == length;
      if (!fits) {
        return Status::NotSupported("its expression gives keys of " +
                                    std::to_string(tag.key->width()) + " bytes, the tag holds " +
                                    std::to_string(length));
      }
      break;
    case XType::kInteger:
      fits = length == 4 || length == 8;
      break;
    case XType::kLogical:
      fits = length == 1;
      break;
    default:
      fits = length == 8;
      break;
  }
  if (!fits) {
    return Status::NotSupported("its keys are " + std::to_string(length) +
                                " bytes long, not what its expression gives");
  }
  if (tag.filter && tag.filter->type() != XType::kLogical) {
    return Status::NotSupported("its FOR expression is not a condition");
  }
  return Status::OK();
}

}  // namespace

void CompileTag(const Header& table, std::string_view table_name, IndexTag* tag) {
  tag->usable = XbaseExpr::Compile(tag->header.key_expr, table, table_name, &tag->key);
  if (tag->usable.ok() && !tag->header.for_expr.empty()) {
    tag->usable = XbaseExpr::Compile(tag->header.for_expr, table, table_name, &tag->filter);
  }
  if (tag->usable.ok()) {
    tag->type = tag->key->type();
    tag->usable = Usable(*tag);
  }
}

std::string IndexTag::Describe() const {
  return name + " (key " + header.key_expr +
         (header.for_expr.empty() ? "" : ", for " + header.for_expr) + ")";
}

std::string NumberKey(double v) {
  if (v == 0) v = 0;  // no negative zero
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits = (bits >> 63) == 0 ? bits | uint64_t{1} << 63 : ~bits;
  std::string out(8, '\0');
  for (int i = 7; i >= 0; --i, bits >>= 8) out[static_cast<size_t>(i)] = static_cast<char>(bits & 0xFF);
  return out;
}

std::string IntegerKey(double v) {
  int64_t n = static_cast<int64_t>(std::min(std::max(v, -2147483648.0), 2147483647.0));
  uint32_t u = static_cast<uint32_t>(n) ^ 0x80000000u;
  return std::string{static_cast<char>(u >> 24), static_cast<char>(u >> 16),
                     static_cast<char>(u >> 8), static_cast<char>(u)};
}

std::string KeyText(const IndexTag& tag, std::string_view key) {
  if (!tag.usable.ok()) return Printable(key, true);
  switch (tag.type) {
    case XType::kChar: {
      size_t end = key.size();
      while (end > 0 && key[end - 1] == ' ') --end;
      return Printable(key.substr(0, end));
    }
    case XType::kLogical:
      return Printable(key);
    case XType::kInteger:
      if (key.size() == 4) {
        uint32_t u = static_cast<uint32_t>(ReadBE64(std::string(key) + std::string(4, '\0')) >> 32);
        return std::to_string(static_cast<int32_t>(u ^ 0x80000000u));
      }
      return DoubleText(NumberOfKey(key));
    case XType::kDate:
      return DateText(NumberOfKey(key));
    case XType::kDateTime: {
      double v = NumberOfKey(key);
      if (v < 1) return std::string();
      long seconds = std::lround((v - std::floor(v)) * 86400);
      char buf[16];
      std::snprintf(buf, sizeof buf, " %02ld:%02ld:%02ld", seconds / 3600 % 24, seconds / 60 % 60,
                    seconds % 60);
      return DateText(v) + buf;
    }
    case XType::kNumber:
      return DoubleText(NumberOfKey(key));
  }
  return Printable(key);
}

Status StructuralIndex::Open(Env* env, const std::string& path, const Header& table,
                             std::string_view table_name, bool writable,
                             std::unique_ptr<StructuralIndex>* out) {
  out->reset();
  std::unique_ptr<CdxFile> file;
  Status s = CdxFile::Open(env, path, writable, &file);
  if (!s.ok()) return s;
  std::unique_ptr<StructuralIndex> index(new StructuralIndex(env, std::move(file)));
  index->table_ = table;
  index->table_name_ = std::string(table_name);
  s = index->LoadTags(table, table_name);
  if (!s.ok()) return s;
  *out = std::move(index);
  return Status::OK();
}

Status StructuralIndex::LoadTags(const Header& table, std::string_view table_name) {
  tags_.clear();
  writable_ = Status::OK();
  CdxTree directory(file_.get(), 0, ' ');
  uint64_t size = 0;
  Status s = file_->Size(&size);
  if (s.ok()) s = directory.Load(size);
  if (s.ok()) s = ReadDirectory(&directory_);
  if (!s.ok()) return s;
  if ((directory.header().options & kCdxCompound) == 0) {
    return Status::Corruption(file_->path() + ": not a compound index");
  }
  std::vector<std::pair<std::string, uint32_t>> entries;
  std::vector<std::string> problems;
  s = directory.Scan(
      [&entries](const std::string& key, uint32_t offset) {
        size_t end = key.size();
        while (end > 0 && (key[end - 1] == ' ' || key[end - 1] == '\0')) --end;
        entries.emplace_back(key.substr(0, end), offset);
      },
      &problems);
  if (!s.ok()) return s;
  for (const auto& [name, offset] : entries) {
    IndexTag tag;
    tag.name = name;
    tag.header_offset = offset;
    s = file_->ReadHeader(offset, size, &tag.header);
    if (!s.ok()) return s;
    CompileTag(table, table_name, &tag);
    if (!tag.usable.ok() && writable_.ok()) {
      writable_ = Status::NotSupported(
          file_->path() + ": index tag " + tag.Describe() + " cannot be kept up to date: " +
          tag.usable.message() +
          "; the table is not changed: reindex it in the accounting package, or report the "
          "expression");
    }
    tags_.push_back(std::move(tag));
  }
  return Status::OK();
}

// The directory's root pointer and root page, which name the tags and
// where they are; read in one go where the root follows the header.
Status StructuralIndex::ReadDirectory(std::string* bytes) {
  Status s = file_->Read(0, kCdxHeaderSize + kCdxPageSize, bytes);
  if (!s.ok()) return s;
  uint32_t root = ReadLE32(bytes->data());
  bytes->erase(4, kCdxHeaderSize - 4);
  if (root == kCdxHeaderSize) return Status::OK();
  std::string page;
  s = file_->Read(root, kCdxPageSize, &page);
  bytes->replace(4, kCdxPageSize, page);
  return s;
}

// Another program may have added or dropped tags since the index was read.
Status StructuralIndex::ReloadIfChanged() {
  std::string directory;
  Status s = ReadDirectory(&directory);
  if (!s.ok()) return s;
  if (directory == directory_) return Status::OK();
  s = LoadTags(table_, table_name_);
  return s.ok() ? writable_ : s;
}

bool TagKey(const IndexTag& tag, std::string_view record, std::string* key) {
  if (tag.filter && !tag.filter->Evaluate(record).logical) return false;
  XValue v = tag.key->Evaluate(record);
  const size_t length = tag.header.key_length;
  switch (tag.type) {
    case XType::kChar:
      *key = std::move(v.text);
      key->resize(length, ' ');
      break;
    case XType::kLogical:
      key->assign(length, v.logical ? 'T' : 'F');
      break;
    case XType::kInteger:
      *key = length == 4 ? IntegerKey(v.number) : NumberKey(v.number);
      break;
    default:
      *key = NumberKey(v.number);
      break;
  }
  return true;
}

bool StructuralIndex::KeysMayChange(std::string_view before, std::string_view after) const {
  for (const IndexTag& tag : tags_) {
    if (!tag.usable.ok() || tag.key->ReadsChange(before, after) ||
        (tag.filter && tag.filter->ReadsChange(before, after))) {
      return true;
    }
  }
  return false;
}

Status StructuralIndex::Lock(int timeout_ms) {
  if (timeout_ms == kLocksHeld) return Status::OK();
  lock_ = std::make_unique<RangeLock>(file_->file(), kLockBase);
  Status s = lock_->Acquire(timeout_ms);
  if (!s.ok()) {
    lock_.reset();
    return Status::Busy(file_->path() + ": index locked by another program");
  }
  return s;
}

void StructuralIndex::Unlock() { lock_.reset(); }

// Points the index file's writes at an undo target for one change.
class UndoScope {
 public:
  UndoScope(CdxFile* file, const UndoTarget* undo) : file_(file) { file_->SetUndo(undo, kLockBase); }
  ~UndoScope() { file_->SetUndo(nullptr, 0); }

 private:
  CdxFile* file_;
};

Status StructuralIndex::RecordAdded(uint32_t recno, std::string_view record,
                                    const UndoTarget* undo) {
  UndoScope scope(file_.get(), undo);
  Status s = ReloadIfChanged();
  if (!s.ok()) return s;
  std::vector<Change> changes;
  std::string key;
  for (const IndexTag& tag : tags_) {
    if (TagKey(tag, record, &key)) changes.push_back(Change{&tag, false, key, recno});
  }
  return Apply(changes);
}

Status StructuralIndex::RecordChanged(uint32_t recno, std::string_view before,
                                      std::string_view after, const UndoTarget* undo) {
  UndoScope scope(file_.get(), undo);
  Status s = ReloadIfChanged();
  if (!s.ok()) return s;
  std::vector<Change> changes;
  std::string old_key, new_key;
  for (const IndexTag& tag : tags_) {
    bool was = TagKey(tag, before, &old_key);
    bool is = TagKey(tag, after, &new_key);
    if (was == is && (!was || old_key == new_key)) continue;
    if (was) changes.push_back(Change{&tag, true, old_key, recno});
    if (is) changes.push_back(Change{&tag, false, new_key, recno});
  }
  return Apply(changes);
}

// Candidate tags are asked first, so a refused record changes no tag;
// then each tag's removals and insertions are made and written in turn.
Status StructuralIndex::Apply(const std::vector<Change>& changes) {
  if (!file_->writable()) return Status::NotSupported(file_->path() + ": opened for reading only");
  uint64_t size = 0;
  Status size_read = file_->Size(&size);
  if (!size_read.ok()) return size_read;
  for (const Change& c : changes) {
    if (c.remove || !c.tag->candidate()) continue;
    CdxTree tree(file_.get(), c.tag->header_offset, c.tag->pad());
    bool found = false;
    uint32_t holder = 0;
    Status s = tree.Load(size);
    if (s.ok()) s = tree.Find(c.key, &found, &holder);
    if (!s.ok()) return s;
    if (found && holder != c.recno) {
      return Status::InvalidArgument(file_->path() + ": index tag " + c.tag->Describe() +
                                     " already holds the key \"" + KeyText(*c.tag, c.key) +
                                     "\" (record " + std::to_string(holder) + ")");
    }
  }
  for (size_t i = 0; i < changes.size();) {
    const IndexTag* tag = changes[i].tag;
    CdxTree tree(file_.get(), tag->header_offset, tag->pad());
    Status s = tree.Load(size);
    for (; s.ok() && i < changes.size() && changes[i].tag == tag; ++i) {
      const Change& c = changes[i];
      bool found = false;
      uint32_t holder = 0;
      if (c.remove) {
        s = tree.Remove(c.key, c.recno, &found);
        continue;
      }
      // A unique tag keeps the first record of a key.
      if (tag->unique()) s = tree.Find(c.key, &found, &holder);
      if (s.ok() && !found) s = tree.Insert(c.key, c.recno);
    }
    if (s.ok()) s = tree.Commit();
    if (!s.ok()) return s;
    size = std::max(size, tree.end());
  }
  return Status::OK();
}

Status StructuralIndex::ScanTag(const IndexTag& tag,
                                const std::function<void(const std::string&, uint32_t)>& visit,
                                std::vector<std::string>* problems) {
  CdxTree tree(file_.get(), tag.header_offset, tag.pad());
  uint64_t size = 0;
  Status s = file_->Size(&size);
  if (s.ok()) s = tree.Load(size);
  return s.ok() ? tree.Scan(visit, problems) : s;
}

}  // namespace lumbra::dbf
