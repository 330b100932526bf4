#include "backends/aurora/table_engine.h"

#include <algorithm>

#include "backends/aurora/dbf_table.h"
#include "backends/aurora/dbf_values.h"
#include "backends/aurora/flatten_memo.h"
#include "platform/env.h"
#include "text/paths.h"
#include "backends/context/run_log.h"

namespace lumbra {

using dbf::DbfTable;
using dbf::Field;

struct TableEngine::WorkArea {
  std::string alias;
  std::unique_ptr<DbfTable> table;
  bool skip_deleted = false;
  unsigned long recno = 0;
  bool bof = true;
  bool eof = true;
  std::string buffer;              // the current record with its pending changes
  std::vector<int> changed;        // fields changed in buffer, not yet written
  std::vector<dbf::MemoText> memos;  // memo texts not yet written

  unsigned long count() const { return table->record_count(); }
  bool AtNewRecord() const { return recno > count(); }
  bool Pending() const { return !changed.empty() || !memos.empty(); }
};

namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

TableEngine::TableEngine(Env* env, RunLog* log) : env_(env), log_(log) {}

TableEngine::~TableEngine() { CloseAll(); }

TableEngine::WorkArea* TableEngine::Current() {
  auto it = areas_.find(current_);
  return it == areas_.end() ? nullptr : it->second.get();
}

void TableEngine::Fail(Status s, bool log) {
  if (log) Log(s.ToString());
  last_error_ = std::move(s);
}

void TableEngine::Log(const std::string& message) {
  if (log_ != nullptr) log_->Write(message);
}

void TableEngine::WarnOnce(const std::string& key, const std::string& message) {
  if (warned_.insert(key).second) Log(message);
}

// Said once per table, before its first change: what our changes do not
// keep up to date.
void TableEngine::NoteWrite(WorkArea& a) {
  DbfTable& t = *a.table;
  // A .CDX is kept in step (or the table is refused); only an index of
  // another kind, or one the header announces and that is not there, goes
  // stale.
  if (t.has_structural_index() && t.structural_index() == nullptr && t.index_status().ok()) {
    std::string which = t.index_path().empty() ? "the structural index its header announces"
                                               : "its structural index " + t.index_path();
    WarnOnce(t.path() + "|index", t.path() + ": " + which +
                                      " is not updated by this pass and is stale after it; "
                                      "reindex the table in the accounting package");
  }
  // Marks that mean no code page or Windows-1252.
  uint8_t cp = t.header().code_page;
  if (cp != 0x00 && cp != 0x03 && cp != 0x57 && cp != 0x58 && cp != 0x59) {
    static const char kHex[] = "0123456789ABCDEF";
    WarnOnce(t.path() + "|codepage", t.path() + ": marked for code page 0x" +
                                         std::string(1, kHex[cp >> 4]) + kHex[cp & 15] +
                                         ", but texts are stored as Windows-1252 bytes");
  }
}

void TableEngine::Load(WorkArea& a, unsigned long recno) {
  a.recno = recno;
  a.changed.clear();
  a.memos.clear();
  std::string_view bytes;
  if (recno >= 1 && recno <= a.count()) {
    Status s = a.table->Record(static_cast<uint32_t>(recno), &bytes);
    if (s.ok()) {
      a.buffer.assign(bytes);
      return;
    }
    Fail(s, false);
  }
  a.buffer = a.table->BlankRecord();
}

bool TableEngine::Visible(WorkArea& a, unsigned long recno) {
  if (!a.skip_deleted) return true;
  std::string_view bytes;
  return a.table->Record(static_cast<uint32_t>(recno), &bytes).ok() && bytes[0] != '*';
}

int TableEngine::LockTimeout(const DbfTable& t) const {
  return lock_lost_.count(t.path()) != 0 ? 0 : lock_timeout_ms_;
}

void TableEngine::NoteLockFailure(const DbfTable& t, const Status& s) {
  if (s.IsBusy() && lock_lost_.insert(t.path()).second && lock_timeout_ms_ > 0) {
    Log(t.path() + ": locked by another program for " + std::to_string(lock_timeout_ms_) +
        " ms; further changes to it are tried without waiting");
  }
}

void TableEngine::Flush(WorkArea& a) {
  if (!a.Pending() || a.AtNewRecord()) return;
  NoteWrite(a);
  Status s = a.table->UpdateRecord(static_cast<uint32_t>(a.recno), a.buffer, a.changed, a.memos,
                                   LockTimeout(*a.table));
  if (!s.ok()) {
    Fail(Status(s), false);
    Log("change to record " + std::to_string(a.recno) + " of " + a.table->path() +
        " not made: " + s.ToString());
    NoteLockFailure(*a.table, s);
  }
  Load(a, a.recno);
}

int TableEngine::FieldOf(WorkArea& a, const std::string& name) {
  int i = a.table->FieldIndex(name);
  if (i < 0) Fail(Status::InvalidArgument(a.table->path() + ": no field " + name), false);
  return i;
}

int TableEngine::Use(const std::string& path, const std::string& alias, int open_mode, int) {
  if (open_mode != kReadWrite && open_mode != kReadOnly) {
    Fail(Status::InvalidArgument("open mode " + std::to_string(open_mode)), false);
    return 0;
  }
  std::string native = NativePath(path);
  bool writable = open_mode == kReadWrite;
  std::unique_ptr<DbfTable> table;
  Status s = DbfTable::Open(env_, native, writable, &table);
  if (s.IsIOError() && writable && DbfTable::Open(env_, native, false, &table).ok()) {
    Log(table->path() + ": opened for reading only (" + s.ToString() + "); no change is made");
    s = Status::OK();
  }
  if (!s.ok()) {
    current_ = 0;  // the calls that follow act on no table, not on an earlier one
    Fail(s, false);
    Log("table " + native + " cannot be opened: " + s.ToString());
    return 0;
  }
  for (const std::string& note : table->notes()) {
    WarnOnce(table->path() + "|" + note, table->path() + ": " + note);
  }
  int number = 1;
  while (areas_.count(number) != 0) ++number;
  auto area = std::make_unique<WorkArea>();
  area->alias = alias;
  area->table = std::move(table);
  WorkArea& a = *area;
  areas_[number] = std::move(area);
  current_ = number;
  Load(a, 1);
  a.bof = a.eof = a.AtNewRecord();
  return number;
}

void TableEngine::SetDeleted(bool skip_deleted) {
  if (WorkArea* a = Current()) a->skip_deleted = skip_deleted;
}

void TableEngine::GoTop() {
  WorkArea* a = Current();
  if (a == nullptr) return;
  Flush(*a);
  unsigned long r = 1;
  while (r <= a->count() && !Visible(*a, r)) ++r;
  Load(*a, r);
  a->bof = a->eof = a->AtNewRecord();
}

void TableEngine::GoBottom() {
  WorkArea* a = Current();
  if (a == nullptr) return;
  Flush(*a);
  unsigned long r = a->count();
  while (r >= 1 && !Visible(*a, r)) --r;
  Load(*a, r >= 1 ? r : a->count() + 1);
  a->bof = a->eof = a->AtNewRecord();
}

void TableEngine::Skip(int n) {
  WorkArea* a = Current();
  if (a == nullptr) return;
  Flush(*a);
  if (n == 0 && !a->AtNewRecord()) Load(*a, a->recno);
  for (; n > 0; --n) {
    if (a->AtNewRecord()) {
      // Already past the end: stays there, and an empty table stays at its
      // beginning as well.
      a->eof = true;
      break;
    }
    unsigned long r = std::min(a->recno, a->count()) + 1;
    while (r <= a->count() && !Visible(*a, r)) ++r;
    if (r != a->recno) Load(*a, r);
    a->bof = false;
    a->eof = a->AtNewRecord();
    if (a->eof) break;
  }
  for (; n < 0; ++n) {
    unsigned long r = std::min(a->recno, a->count() + 1) - 1;
    while (r >= 1 && !Visible(*a, r)) --r;
    if (r < 1) {
      a->bof = true;  // stays where it is: the first record, or the new-record buffer
      break;
    }
    Load(*a, r);
    a->bof = a->eof = false;
  }
}

bool TableEngine::Goto(long recno) {
  WorkArea* a = Current();
  if (a == nullptr) return false;
  Flush(*a);
  Status s = a->table->Refresh();
  if (!s.ok()) Fail(s, true);
  bool inside = recno >= 1 && static_cast<unsigned long>(recno) <= a->count();
  Load(*a, inside ? static_cast<unsigned long>(recno) : a->count() + 1);
  a->eof = !inside;
  a->bof = a->count() == 0;
  return inside;
}

bool TableEngine::Eof() {
  WorkArea* a = Current();
  return a == nullptr || a->eof;
}

bool TableEngine::Bof() {
  WorkArea* a = Current();
  return a == nullptr || a->bof;
}

bool TableEngine::Deleted() {
  WorkArea* a = Current();
  return a != nullptr && !a->AtNewRecord() && a->buffer[0] == '*';
}

long TableEngine::RecNo() {
  WorkArea* a = Current();
  return a == nullptr ? 0 : static_cast<long>(a->recno);
}

long TableEngine::RecCount() {
  WorkArea* a = Current();
  return a == nullptr ? 0 : static_cast<long>(a->count());
}

std::string TableEngine::GetString(const std::string& field) {
  WorkArea* a = Current();
  if (a == nullptr) return std::string();
  int i = FieldOf(*a, field);
  if (i < 0) return std::string();
  const Field& f = a->table->header().fields[static_cast<size_t>(i)];
  if (f.memo) return GetMemo(field, 0);
  return dbf::FieldText(f, std::string_view(a->buffer).substr(f.offset, f.length));
}

std::string TableEngine::GetMemo(const std::string& field, int) {
  WorkArea* a = Current();
  if (a == nullptr) return std::string();
  int i = FieldOf(*a, field);
  if (i < 0) return std::string();
  for (const dbf::MemoText& m : a->memos) {
    if (m.field == i) return m.text;
  }
  const Field& f = a->table->header().fields[static_cast<size_t>(i)];
  std::string_view raw = std::string_view(a->buffer).substr(f.offset, f.length);
  if (!f.memo) return dbf::FieldText(f, raw);
  std::string data;
  bool is_text = true;
  Status s = a->table->ReadMemo(f, raw, &data, &is_text);
  if (!s.ok()) {
    WarnOnce(a->table->path() + "|memo", a->table->path() + ": " + s.ToString() +
                                             " (record " + std::to_string(a->recno) +
                                             "; further memo problems not logged)");
    Fail(s, false);
  }
  return is_text ? MemoWithCrLf(data) : data;
}

void TableEngine::Replace(const std::string& field, int, const std::string& value) {
  WorkArea* a = Current();
  if (a == nullptr) {
    Fail(Status::InvalidArgument("no table open to store " + field + " in"), false);
    return;
  }
  DbfTable& t = *a->table;
  int i = FieldOf(*a, field);
  if (i < 0) {
    WarnOnce(t.path() + "|field|" + UpperAscii(field),
             t.path() + ": has no field " + field + "; its values are not stored");
    return;
  }
  if (!t.writable()) {
    Fail(Status::NotSupported(t.path() + ": opened for reading only"), false);
    WarnOnce(t.path() + "|readonly", t.path() + ": opened for reading only; changes ignored");
    return;
  }
  const Field& f = t.header().fields[static_cast<size_t>(i)];
  if (f.memo) {
    auto it = std::find_if(a->memos.begin(), a->memos.end(),
                           [i](const dbf::MemoText& m) { return m.field == i; });
    if (it == a->memos.end()) {
      a->memos.push_back(dbf::MemoText{i, value});
    } else {
      it->text = value;
    }
    return;
  }
  Status s = dbf::EncodeText(f, value, a->buffer.data() + f.offset);
  if (!s.ok()) {
    Fail(s, false);
    Log(t.path() + ": " + f.name + " of record " + std::to_string(a->recno) +
        " not changed: " + s.message());
    return;
  }
  if (std::find(a->changed.begin(), a->changed.end(), i) == a->changed.end()) {
    a->changed.push_back(i);
  }
}

void TableEngine::Append() {
  WorkArea* a = Current();
  if (a == nullptr) {
    Fail(Status::InvalidArgument("no table open to add a record to"), false);
    return;
  }
  DbfTable& t = *a->table;
  if (!t.writable()) {
    Fail(Status::NotSupported(t.path() + ": opened for reading only"), false);
    WarnOnce(t.path() + "|readonly", t.path() + ": opened for reading only; changes ignored");
    return;
  }
  std::string record = a->buffer;
  std::vector<dbf::MemoText> memos = a->memos;
  if (!a->AtNewRecord()) {
    // A copy of a stored record: it gets memo blocks of its own, never
    // shares those of the original.
    record[0] = ' ';
    const std::vector<Field>& fields = t.header().fields;
    for (size_t i = 0; i < fields.size(); ++i) {
      int fi = static_cast<int>(i);
      if (!fields[i].memo || std::any_of(memos.begin(), memos.end(),
                                         [fi](const dbf::MemoText& m) { return m.field == fi; })) {
        continue;
      }
      dbf::MemoText m{fi, std::string()};
      bool is_text;
      std::string_view raw = std::string_view(record).substr(fields[i].offset, fields[i].length);
      t.ReadMemo(fields[i], raw, &m.text, &is_text);
      memos.push_back(std::move(m));
    }
  }
  NoteWrite(*a);
  Status s = t.AppendRecord(std::move(record), memos, LockTimeout(t));
  if (!s.ok()) {
    Fail(Status(s), false);
    Log("record not added to " + t.path() + ": " + s.ToString());
    NoteLockFailure(t, s);
    return;
  }
  Load(*a, a->count());
  a->bof = a->eof = false;
}

void TableEngine::Commit() {
  WorkArea* a = Current();
  if (a == nullptr) return;
  Flush(*a);
  SyncArea(*a, !deferred_sync_);
}

// Forces the table's writes to the disk now, or notes its files for SyncAll.
void TableEngine::SyncArea(WorkArea& a, bool now) {
  DbfTable& t = *a.table;
  if (!t.unsynced()) return;
  if (!now) {
    unsynced_.insert(t.path());
    if (t.memo() != nullptr) unsynced_.insert(t.memo()->path());
    if (t.structural_index() != nullptr) unsynced_.insert(t.index_path());
    return;
  }
  Status s = t.Sync();
  if (!s.ok()) {
    Fail(Status(s), false);
    Log(t.path() + ": changes not forced to disk: " + s.ToString());
  }
}

void TableEngine::CloseArea(WorkArea& a) {
  Flush(a);
  SyncArea(a, !deferred_sync_);
}

void TableEngine::SyncAll() {
  for (auto& entry : areas_) SyncArea(*entry.second, true);
  for (const std::string& path : unsynced_) {
    Status s = env_->SyncFile(path);
    if (!s.ok()) {
      Fail(Status(s), false);
      Log(path + ": changes not forced to disk: " + s.ToString());
    }
  }
  unsynced_.clear();
}

void TableEngine::Close() {
  WorkArea* a = Current();
  if (a == nullptr) return;
  CloseArea(*a);
  areas_.erase(current_);
  current_ = 0;
}

void TableEngine::CloseAll() {
  for (auto& entry : areas_) CloseArea(*entry.second);
  SyncAll();
  areas_.clear();
  current_ = 0;
}

}  // namespace lumbra
