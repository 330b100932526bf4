#include "backends/aurora/dbf_table.h"

#include <algorithm>

#include "backends/aurora/cdx_index.h"
#include "backends/aurora/dbf_values.h"
#include "platform/file_case.h"

namespace lumbra::dbf {
namespace {

// Records are read in chunks: small at first, since a table is often opened
// for a record or two, doubling while the reads go on in one direction.
constexpr size_t kFirstChunkBytes = 16 << 10;
constexpr size_t kMaxChunkBytes = 1 << 20;

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsCdx(const std::string& path) {
  return path.size() > 4 && Upper(path.substr(path.size() - 4)) == ".CDX";
}

// The table's name as its index expressions may use it for an alias.
std::string TableStem(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  return name.substr(0, name.rfind('.'));
}

// Releases the index's lock when a change is done, however it ends.
class IndexLock {
 public:
  explicit IndexLock(StructuralIndex* index) : index_(index) {}
  ~IndexLock() {
    if (held_) index_->Unlock();
  }
  Status Acquire(int timeout_ms) {
    Status s = index_->Lock(timeout_ms);
    held_ = s.ok();
    return s;
  }

 private:
  StructuralIndex* index_;
  bool held_ = false;
};

}  // namespace

DbfTable::DbfTable(Env* env, std::string path, bool writable, std::unique_ptr<RandomRWFile> file)
    : env_(env), path_(std::move(path)), writable_(writable), file_(std::move(file)) {}

DbfTable::~DbfTable() = default;

StructuralIndex* DbfTable::structural_index() {
  if (index_read_) return index_.get();
  index_read_ = true;
  if (!IsCdx(index_path_)) return nullptr;
  Status s = StructuralIndex::Open(env_, index_path_, header_, TableStem(path_), writable_, &index_);
  if (!s.ok()) {
    std::string why = path_ + ": its structural index " + index_path_ + " cannot be read (" +
                      s.ToString() + "); the table is not changed";
    index_status_ = s.IsIOError() ? Status::IOError(why) : Status::Corruption(why);
  }
  return index_.get();
}

RandomRWFile* DbfTable::index_lock_file() {
  StructuralIndex* index = structural_index();
  return index != nullptr ? index->lock_file() : nullptr;
}

bool DbfTable::IndexReads(const std::vector<int>& fields) {
  StructuralIndex* index = structural_index();
  if (index == nullptr) return false;
  std::string a = BlankRecord(), b = a;
  for (int i : fields) {
    if (i < 0) continue;
    const Field& f = header_.fields[static_cast<size_t>(i)];
    b[f.offset] = 'x';
  }
  return index->KeysMayChange(a, b);
}

Status DbfTable::IndexUsable() {
  StructuralIndex* index = structural_index();
  if (!index_status_.ok()) return index_status_;
  return index != nullptr ? index->writable() : Status::OK();
}

Status DbfTable::Open(Env* env, const std::string& path, bool writable,
                      std::unique_ptr<DbfTable>* out) {
  out->reset();
  std::string real;
  if (!FindPathIgnoringCase(env, path, &real) || !env->FileExists(real)) {
    return Status::NotFound(path + ": no such table");
  }
  std::unique_ptr<RandomRWFile> file;
  Status s = env->OpenRandomRW(real, writable, &file);
  if (!s.ok()) return s;
  std::unique_ptr<DbfTable> t(new DbfTable(env, real, writable, std::move(file)));

  // The header before the size: another program adds a record before it
  // counts it, so a count read first never exceeds the size read after.
  std::string head;
  s = t->file_->Read(0, kTableHeaderSize, &head);
  if (!s.ok()) return s;
  uint64_t size = 0;
  s = t->file_->Size(&size);
  if (!s.ok()) return s;
  const uint32_t first_count = head.size() >= kTableHeaderSize
                                  ? ReadLE32(head.data() + kRecordCountOffset)
                                  : 0;
  uint32_t header_length = AnnouncedHeaderLength(head);
  if (header_length > kTableHeaderSize && header_length <= size) {
    s = t->file_->Read(0, header_length, &head);
    if (!s.ok()) return s;
  }
  s = ParseHeader(head, size, &t->header_);
  if (!s.ok()) return Status::Corruption(real + ": " + s.message());
  t->header_.record_count = first_count;  // the count read before the size

  const Header& h = t->header_;
  uint64_t available = (size - h.header_length) / h.record_length;
  t->record_count_ = h.record_count;
  if (h.record_count > available) {
    t->record_count_ = static_cast<uint32_t>(available);
    t->damaged_ = true;
    t->notes_.push_back("the header counts " + std::to_string(h.record_count) +
                        " records but the file holds " + std::to_string(available) +
                        "; reading those, changing nothing");
  }
  for (size_t i = 0; i < h.fields.size(); ++i) {
    const Field& f = h.fields[i];
    if (f.hidden) continue;
    t->field_index_.emplace(Upper(f.name), static_cast<int>(i));  // the first of a name wins
  }
  t->FindCompanions();
  *out = std::move(t);
  return Status::OK();
}

void DbfTable::FindCompanions() {
  // Names spelled in upper or lower case are found at once; the folder is
  // searched for other spellings only for a file that must be there: the
  // memo file of a table with memo fields, the index its header announces.
  const std::vector<std::string> kExtensions = {".fpt", ".dbt", ".cdx", ".mdx"};
  std::vector<std::string> found = FindSiblings(env_, path_, kExtensions, false);
  bool memo_missing = header_.HasMemoFields() && found[0].empty() && found[1].empty();
  bool index_missing = (header_.table_flags & 0x01) != 0 && found[2].empty() && found[3].empty();
  if (memo_missing || index_missing) found = FindSiblings(env_, path_, kExtensions, true);
  if (header_.HasMemoFields()) OpenMemoFile(found[0], found[1]);
  index_path_ = !found[2].empty() ? found[2] : found[3];
  has_index_ = !index_path_.empty() || (header_.table_flags & 0x01) != 0;
}

void DbfTable::OpenMemoFile(const std::string& fpt, const std::string& dbt) {
  MemoKind kind = MemoKind::kFpt;
  if (fpt.empty()) {
    uint8_t v = header_.version;
    kind = v == 0x8B || v == 0xCB ? MemoKind::kDbt4 : MemoKind::kDbt3;
  }
  const std::string& found = fpt.empty() ? dbt : fpt;
  if (found.empty()) {
    notes_.push_back("its memo file (FPT or DBT) is missing; memos read as empty");
    return;
  }
  Status s = MemoFile::Open(env_, found, kind, writable_, &memo_);
  if (s.IsIOError() && writable_ && MemoFile::Open(env_, found, kind, false, &memo_).ok()) {
    notes_.push_back("its memo file can only be read (" + s.ToString() + "); memos not changed");
    return;
  }
  if (!s.ok()) {
    notes_.push_back("its memo file cannot be read (" + s.ToString() + "); memos read as empty");
  }
}

int DbfTable::FieldIndex(std::string_view name) const {
  auto it = field_index_.find(Upper(name));
  return it == field_index_.end() ? -1 : it->second;
}

Status DbfTable::Record(uint32_t recno, std::string_view* bytes) {
  *bytes = std::string_view();
  if (recno < 1 || recno > record_count_) {
    return Status::InvalidArgument(path_ + ": no record " + std::to_string(recno));
  }
  const uint32_t len = header_.record_length;
  if (recno < chunk_first_ || recno >= chunk_first_ + chunk_records_) {
    bool next_to = chunk_records_ > 0 &&
                   (recno == chunk_first_ + chunk_records_ || recno + 1 == chunk_first_);
    chunk_bytes_ = next_to ? std::min(chunk_bytes_ * 2, kMaxChunkBytes) : kFirstChunkBytes;
    uint32_t per = static_cast<uint32_t>(std::max<size_t>(1, chunk_bytes_ / len));
    // Backwards scans read the chunk that ends at the record.
    bool backwards = chunk_records_ > 0 && recno < chunk_first_;
    uint32_t first = backwards ? (recno > per ? recno - per + 1 : 1) : recno;
    uint32_t n = std::min(per, record_count_ - first + 1);
    chunk_records_ = 0;
    Status s = file_->Read(header_.header_length + static_cast<uint64_t>(first - 1) * len,
                           static_cast<size_t>(n) * len, &chunk_);
    if (!s.ok()) return s;
    chunk_first_ = first;
    chunk_records_ = static_cast<uint32_t>(chunk_.size() / len);
    if (recno >= chunk_first_ + chunk_records_) {
      return Status::Corruption(path_ + ": record " + std::to_string(recno) + " cut short");
    }
  }
  *bytes = std::string_view(chunk_).substr(static_cast<size_t>(recno - chunk_first_) * len, len);
  return Status::OK();
}

// The record count the header holds now, and the file's size; Corruption
// (and no more changes) when the layout is no longer the one read at open.
Status DbfTable::ReadCount(uint32_t* count, uint64_t* size) {
  std::string head;
  Status s = file_->Read(0, kTableHeaderSize, &head);
  if (!s.ok()) return s;
  s = file_->Size(size);
  if (!s.ok()) return s;
  if (head.size() < kTableHeaderSize ||
      ReadLE32(head.data() + 8) != (header_.header_length | header_.record_length << 16)) {
    damaged_ = true;
    return Status::Corruption(path_ + ": header changed while open; not changed");
  }
  *count = ReadLE32(head.data() + kRecordCountOffset);
  return Status::OK();
}

Status DbfTable::Refresh() {
  chunk_records_ = 0;
  uint32_t count = 0;
  uint64_t size = 0;
  Status s = ReadCount(&count, &size);
  if (!s.ok()) return s;
  uint64_t available = size > header_.header_length
                           ? (size - header_.header_length) / header_.record_length
                           : 0;
  record_count_ = static_cast<uint32_t>(std::min<uint64_t>(count, available));
  return Status::OK();
}

Status DbfTable::ReadMemo(const Field& field, std::string_view raw, std::string* data,
                          bool* is_text) {
  data->clear();
  *is_text = true;
  uint32_t block = MemoBlockOf(field, raw);
  if (block == 0) return Status::OK();
  if (!memo_) return Status::NotFound(path_ + ": no memo file");
  return memo_->Read(block, data, is_text);
}

std::string DbfTable::BlankRecord() const {
  std::string r(header_.record_length, ' ');
  for (const Field& f : header_.fields) BlankField(f, r.data() + f.offset);
  return r;
}

Status DbfTable::FreshRecord(uint32_t recno, std::string* bytes) {
  bytes->clear();
  if (recno > record_count_) {
    Status s = Refresh();
    if (!s.ok()) return s;
  }
  if (recno < 1 || recno > record_count_) {
    return Status::InvalidArgument(path_ + ": no record " + std::to_string(recno));
  }
  const uint32_t len = header_.record_length;
  Status s = file_->Read(header_.header_length + static_cast<uint64_t>(recno - 1) * len, len, bytes);
  if (!s.ok()) return s;
  if (bytes->size() != len) {
    return Status::Corruption(path_ + ": record " + std::to_string(recno) + " cut short");
  }
  return Status::OK();
}

Status DbfTable::StoreMemos(const std::vector<MemoText>& memos, int lock_timeout_ms,
                            const UndoTarget* undo, std::string* record) {
  for (const MemoText& m : memos) {
    const Field& f = header_.fields[static_cast<size_t>(m.field)];
    uint32_t block = 0;
    if (!m.text.empty()) {
      if (!memo_) return Status::NotFound(path_ + ": no memo file to store " + f.name + " in");
      Status s = memo_->Append(m.text, lock_timeout_ms, &block, undo);
      if (!s.ok()) return s;
    }
    EncodeMemoBlock(f, block, record->data() + f.offset);
  }
  return Status::OK();
}

Status DbfTable::AppendRecord(std::string record, const std::vector<MemoText>& memos,
                              int lock_timeout_ms, const UndoTarget* undo, uint32_t* recno) {
  if (!writable_) return Status::NotSupported(path_ + ": opened for reading only");
  if (damaged_) return Status::Corruption(path_ + ": table looks damaged; not changed");
  const uint32_t len = header_.record_length;
  if (record.size() != len) return Status::InvalidArgument(path_ + ": record of wrong length");
  if (memos.size() > 0 && !memo_) return Status::NotFound(path_ + ": no memo file");
  Status s = IndexUsable();
  if (!s.ok()) return s;
  StructuralIndex* index = structural_index();

  RangeLock lock(file_.get(), kLockBase);
  if (!lock.Acquire(lock_timeout_ms).ok()) {
    return Status::Busy(path_ + ": table locked by another program");
  }
  // Another program may have added records since the table was opened.
  uint32_t count = 0;
  uint64_t size = 0;
  s = ReadCount(&count, &size);
  if (!s.ok()) return s;
  uint64_t pos = header_.header_length + static_cast<uint64_t>(count) * len;
  if (pos > size || count == 0xFFFFFFFFu) {
    damaged_ = true;
    return Status::Corruption(path_ + ": the header counts more records than the file holds");
  }
  IndexLock index_lock(index);
  if (index != nullptr) {
    s = index_lock.Acquire(lock_timeout_ms);
    if (!s.ok()) return s;
  }

  written_ = true;
  s = StoreMemos(memos, lock_timeout_ms, undo, &record);
  if (!s.ok()) return s;
  for (const Field& f : header_.fields) {
    if (f.type != 'I' || (f.flags & kFieldAutoIncrement) != kFieldAutoIncrement) continue;
    std::string counter;
    s = file_->Read(f.descriptor_pos + kAutoNextOffset, 5, &counter);
    if (!s.ok()) return s;
    if (counter.size() < 5) return Status::Corruption(path_ + ": field descriptor cut short");
    uint32_t next = ReadLE32(counter.data());
    uint32_t step = static_cast<uint8_t>(counter[4]);
    WriteLE32(record.data() + f.offset, next);
    // The counter goes up before the record is written: a value may be
    // skipped if the process stops, but never handed out twice.
    WriteLE32(counter.data(), next + (step == 0 ? 1 : step));
    s = file_->Write(f.descriptor_pos + kAutoNextOffset, std::string_view(counter.data(), 4));
    if (!s.ok()) return s;
  }
  // The keys go in before the record that they point to is there.
  if (index != nullptr) {
    s = index->RecordAdded(count + 1, record, undo);
    if (!s.ok()) return s;
  }
  if (undo != nullptr) {
    std::string before;
    s = file_->Read(pos, len, &before);
    if (!s.ok()) return s;
    s = undo->Note(FileChange{path_, RecordLockOffset(count + 1), pos, before, record, "*"});
    if (!s.ok()) return s;
  }
  s = file_->Write(pos, record);
  if (!s.ok()) return s;
  LocalTime now = env_->Now();
  char stamp[7];
  stamp[0] = static_cast<char>(std::clamp(now.year - 1900, 0, 255));
  stamp[1] = static_cast<char>(now.month);
  stamp[2] = static_cast<char>(now.day);
  WriteLE32(stamp + 3, count + 1);
  s = file_->Write(kDateOffset, std::string_view(stamp, sizeof stamp));
  if (!s.ok()) return s;
  s = file_->Write(pos + len, std::string_view(&kEndMarker, 1));
  if (!s.ok()) return s;
  record_count_ = count + 1;
  chunk_records_ = 0;
  if (recno != nullptr) *recno = count + 1;
  return Status::OK();
}

Status DbfTable::UpdateRecord(uint32_t recno, std::string_view buffer,
                              const std::vector<int>& fields, const std::vector<MemoText>& memos,
                              int lock_timeout_ms, const UndoTarget* undo) {
  if (buffer.size() != header_.record_length) {
    return Status::InvalidArgument(path_ + ": record of wrong length");
  }
  auto change = [&](std::string* record) {
    for (int i : fields) {
      const Field& f = header_.fields[static_cast<size_t>(i)];
      record->replace(f.offset, f.length, buffer.substr(f.offset, f.length));
    }
  };
  return RewriteRecord(recno, change, memos, lock_timeout_ms, undo);
}

Status DbfTable::MarkDeleted(uint32_t recno, bool deleted, int lock_timeout_ms,
                             const UndoTarget* undo) {
  return RewriteRecord(recno, [deleted](std::string* record) { (*record)[0] = deleted ? '*' : ' '; },
                       {}, lock_timeout_ms, undo);
}

Status DbfTable::RewriteRecord(uint32_t recno, const std::function<void(std::string*)>& change,
                               const std::vector<MemoText>& memos, int lock_timeout_ms,
                               const UndoTarget* undo) {
  if (!writable_) return Status::NotSupported(path_ + ": opened for reading only");
  if (damaged_) return Status::Corruption(path_ + ": table looks damaged; not changed");
  const uint32_t len = header_.record_length;
  if (recno < 1 || recno > record_count_) {
    return Status::InvalidArgument(path_ + ": no record " + std::to_string(recno));
  }
  if (memos.size() > 0 && !memo_) return Status::NotFound(path_ + ": no memo file");
  Status s = IndexUsable();
  if (!s.ok()) return s;
  StructuralIndex* index = structural_index();

  RangeLock lock(file_.get(), RecordLockOffset(recno));
  if (!lock.Acquire(lock_timeout_ms).ok()) {
    return Status::Busy(path_ + ": record " + std::to_string(recno) +
                        " locked by another program");
  }
  const uint64_t pos = header_.header_length + static_cast<uint64_t>(recno - 1) * len;
  std::string before;
  s = file_->Read(pos, len, &before);
  if (!s.ok()) return s;
  if (before.size() != len) {
    return Status::Corruption(path_ + ": record " + std::to_string(recno) + " cut short");
  }
  std::string record = before;
  change(&record);
  // A change to a key moves index entries: under the table's header lock,
  // as an append would, and the index's own lock.
  bool keyed = index != nullptr && index->KeysMayChange(before, record);
  RangeLock header_lock(file_.get(), kLockBase);
  IndexLock index_lock(index);
  if (keyed) {
    if (!header_lock.Acquire(lock_timeout_ms).ok()) {
      return Status::Busy(path_ + ": table locked by another program");
    }
    s = index_lock.Acquire(lock_timeout_ms);
    if (!s.ok()) return s;
  }
  written_ = true;
  s = StoreMemos(memos, lock_timeout_ms, undo, &record);
  if (!s.ok()) return s;
  if (keyed) {
    s = index->RecordChanged(recno, before, record, undo);
    if (!s.ok()) return s;
  }
  if (undo != nullptr) {
    // The deletion flag, then each field that changes.
    std::vector<std::pair<size_t, size_t>> spans = {{0, 1}};
    for (const Field& f : header_.fields) spans.emplace_back(f.offset, f.length);
    for (auto [offset, length] : spans) {
      std::string_view was = std::string_view(before).substr(offset, length);
      std::string_view now = std::string_view(record).substr(offset, length);
      if (was == now) continue;
      s = undo->Note(FileChange{path_, RecordLockOffset(recno), pos + offset, std::string(was),
                                std::string(now), std::string(was)});
      if (!s.ok()) return s;
    }
  }
  s = file_->Write(pos, record);
  if (!s.ok()) return s;
  if (recno >= chunk_first_ && recno < chunk_first_ + chunk_records_) {
    chunk_.replace(static_cast<size_t>(recno - chunk_first_) * len, len, record);
  }
  return Status::OK();
}

Status DbfTable::Sync() {
  if (!written_) return Status::OK();
  Status s = memo_ ? memo_->Sync() : Status::OK();
  Status i = index_ ? index_->Sync() : Status::OK();
  Status t = file_->Sync();
  if (s.ok() && i.ok() && t.ok()) written_ = false;
  return !s.ok() ? s : !i.ok() ? i : t;
}

}  // namespace lumbra::dbf
