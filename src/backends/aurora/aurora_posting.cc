// Posting a device's lines into the Aurora tables: each "InvoiceLines"
// record becomes a line of an unposted invoice (a new one when the customer
// has no open invoice for that order), with the stock allocation raised; each
// "Customers" record updates the customer's notes, contacts and phone.
//
// The accounting package works on the same tables meanwhile, following the
// FoxPro protocol: it changes a record under the record's lock byte and adds
// records under the header's. Each line is posted whole or not at all:
//   1. the records it will change and the tables it adds to are found
//      through indexes built once per pass (each entry checked against the
//      file before it is used);
//   2. every lock the line needs is taken at once (LockSet), waiting at most
//      the lock wait (3 s); a lock not had keeps the line for the next pass;
//   3. under the locks, every value the line changes (counters, totals,
//      allocations, the customer's fields) is read from the file afresh,
//      changed and written back, each change first written down in the
//      posting journal;
//   4. a failed write undoes what the line wrote before the locks go.
// A line the tables cannot take (a value too wide for its field, a change to
// a customer that does not exist) is rejected; one that cannot be written
// now (a lock, a table that cannot be opened or written) is kept.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "backends/aurora/aurora.h"
#include "backends/aurora/aurora_tables.h"
#include "backends/aurora/dbf_table.h"
#include "backends/aurora/dbf_values.h"
#include "backends/context/run_context.h"
#include "intake/device_files.h"
#include "intake/posting.h"
#include "intake/posting_journal.h"
#include "intake/transaction_line.h"
#include "platform/lock_set.h"
#include "text/dates.h"
#include "text/lines.h"
#include "text/numbers.h"
#include "text/paths.h"
#include "text/text_fields.h"

namespace lumbra {
namespace {

using dbf::DbfTable;
using dbf::Field;

constexpr int kDefaultPaymentDays = 7;
// A line whose records another program changes between our look-up and our
// locks is looked up again this many times before it is kept.
constexpr int kLookupTries = 3;

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string WithoutLeadingDollar(std::string s) {
  if (!s.empty() && s[0] == '$') s.erase(0, 1);
  return s;
}

std::string Key(std::string_view a, std::string_view b) {
  std::string k(a);
  k.push_back('\0');
  k.append(b);
  return k;
}

// A whole number as the counters hold it.
std::string WholeText(double v) { return DoubleText(RoundHalfEven(v, 0)); }

struct SaleLine {
  std::string customer, ordnum, description, rate, qty, discount, extend, note;
};

struct CustomerChange {
  std::string name, notes, contact1, contact2, phone;
};

SaleLine SaleLineOf(const TransactionRecord& r) {
  SaleLine line;
  for (const auto& [raw_name, value] : r.pairs) {
    std::string name = Lower(raw_name);
    if (name == "customer") line.customer = value;
    else if (name == "ordnum") line.ordnum = value;
    else if (name == "description") line.description = value;
    else if (name == "rate") line.rate = WithoutLeadingDollar(value);
    else if (name == "qty") line.qty = value;
    else if (name == "discount") line.discount = value;
    else if (name == "extend") line.extend = WithoutLeadingDollar(value);
    else if (name == "note") line.note = value;
  }
  return line;
}

CustomerChange CustomerChangeOf(const TransactionRecord& r) {
  CustomerChange c;
  for (const auto& [raw_name, value] : r.pairs) {
    std::string name = Lower(raw_name);
    if (name == "name") c.name = value;
    else if (name == "notes") c.notes = value;
    else if (name == "contact1") c.contact1 = value;
    else if (name == "contact2") c.contact2 = value;
    else if (name == "phone") c.phone = value;
  }
  return c;
}

// The first 40 characters of a note, line breaks as blanks: the text a
// comment line shows; the whole note goes into its memo.
std::string CommentText(const std::string& note) {
  std::string out;
  for (size_t i = 0; i < note.size() && out.size() < 40; ++i) {
    char c = note[i];
    if (c == '\r' && i + 1 < note.size() && note[i + 1] == '\n') ++i;
    out.push_back(c == '\r' || c == '\n' ? ' ' : c);
  }
  return out;
}

// The field of a record's bytes, trimmed; empty when the table has no such
// field.
std::string FieldOf(const DbfTable& t, std::string_view record, const char* name) {
  int i = t.FieldIndex(name);
  if (i < 0 || record.size() < t.header().record_length) return std::string();
  const Field& f = t.header().fields[static_cast<size_t>(i)];
  return Trim(dbf::FieldText(f, record.substr(f.offset, f.length)));
}

bool IsDeleted(std::string_view record) { return !record.empty() && record[0] == '*'; }

// The name of a table file for messages ("INVIDX.DBF").
std::string TableName(std::string_view literal) { return std::string(literal.substr(1)); }

// A table of the posting, opened for one device's lines: for writing, or
// for reading only (the tables only looked up).
class PostingTable {
 public:
  PostingTable(RunContext& ctx, std::string_view literal, bool writable = true)
      : ctx_(ctx), path_(AuroraTablePath(ctx, literal)), name_(TableName(literal)),
        writable_(writable) {}

  // The open table; null, with the reason in *why, when it cannot be read,
  // or written (missing, read-only, damaged).
  DbfTable* Get(std::string* why) {
    if (!tried_) {
      tried_ = true;
      status_ = DbfTable::Open(ctx_.env, NativePath(path_), writable_, &table_);
      if (status_.ok() && writable_ && table_->damaged()) {
        status_ = Status::Corruption(table_->notes().empty() ? "it looks damaged"
                                                             : table_->notes().front());
      }
      // A table whose structural index the engine cannot keep is not
      // written at all (the log names the tag and its expression).
      if (status_.ok() && writable_) status_ = table_->IndexUsable();
      if (status_.ok() && writable_) NoteOnce();
    }
    if (!status_.ok()) {
      *why = name_ + " cannot be " + (writable_ ? "written: " : "read: ") + status_.ToString();
      return nullptr;
    }
    return table_.get();
  }
  const std::string& name() const { return name_; }
  Status Sync() { return table_ && table_->unsynced() ? table_->Sync() : Status::OK(); }

 private:
  // What our changes do not keep up to date, said once per table.
  void NoteOnce() {
    for (const std::string& note : table_->notes()) ctx_.Log(table_->path() + ": " + note);
    if (table_->has_structural_index() && table_->structural_index() == nullptr) {
      ctx_.Log(table_->path() + ": " +
               (table_->index_path().empty() ? "the structural index its header announces"
                                             : "its structural index " + table_->index_path()) +
               " is not updated by this pass and is stale after it; reindex the table in the "
               "accounting package");
    }
  }

  RunContext& ctx_;
  std::string path_;
  std::string name_;
  bool writable_;
  bool tried_ = false;
  Status status_;
  std::unique_ptr<DbfTable> table_;
};

// The locks a table's structural index needs besides the line's own: the
// index's lock byte when a record is added, and with the table's header
// lock when a field a key reads changes.
void AddIndexLocks(DbfTable* t, const std::string& name, const std::vector<const char*>& changed,
                   LockSet* locks) {
  RandomRWFile* index = t->index_lock_file();
  if (index == nullptr) return;
  if (!changed.empty()) {
    std::vector<int> fields;
    for (const char* f : changed) fields.push_back(t->FieldIndex(f));
    if (!t->IndexReads(fields)) return;
    locks->Add(t->file(), dbf::kLockBase, name + " (a key changes)");
  }
  locks->Add(index, dbf::kLockBase, name + "'s index");
}

// The new bytes of a record, each value checked against its field before
// anything is written. A field the table lacks is left out (said once).
class NewValues {
 public:
  NewValues(RunContext& ctx, DbfTable& t, std::string base, std::unordered_set<std::string>* warned)
      : ctx_(ctx), t_(t), bytes_(std::move(base)), warned_(*warned) {}

  void Set(const char* name, std::string_view value) {
    int i = Field(name);
    if (i < 0) return;
    const dbf::Field& f = t_.header().fields[static_cast<size_t>(i)];
    if (f.memo) {
      memos_.push_back(dbf::MemoText{i, std::string(value)});
    } else {
      Status s = dbf::EncodeText(f, value, bytes_.data() + f.offset);
      if (!s.ok() && error_.empty()) error_ = LeafName() + ": " + s.message();
    }
    fields_.push_back(i);
  }
  // Empty when every value fits its field.
  const std::string& error() const { return error_; }
  const std::string& bytes() const { return bytes_; }
  const std::vector<int>& fields() const { return fields_; }
  const std::vector<dbf::MemoText>& memos() const { return memos_; }

 private:
  int Field(const char* name) {
    int i = t_.FieldIndex(name);
    if (i < 0 && warned_.insert(t_.path() + "|" + name).second) {
      ctx_.Log(t_.path() + ": has no field " + name + "; its values are not stored");
    }
    return i;
  }
  std::string LeafName() const {
    size_t slash = t_.path().find_last_of("/\\");
    return slash == std::string::npos ? t_.path() : t_.path().substr(slash + 1);
  }

  RunContext& ctx_;
  DbfTable& t_;
  std::string bytes_;
  std::unordered_set<std::string>& warned_;
  std::vector<int> fields_;
  std::vector<dbf::MemoText> memos_;
  std::string error_;
};

// Key to record number, built by one scan of a table and used while the
// table's record count stays what it was; every entry is checked against the
// record before it is used. The folded map finds names the devices hand back
// with bytes 252 to 255 folded (see FoldedAsDevicesSee).
struct RecordIndex {
  bool built = false;
  uint32_t count = 0;
  std::unordered_map<std::string, uint32_t> exact;
  std::unordered_map<std::string, uint32_t> folded;
  void Clear() {
    built = false;
    exact.clear();
    folded.clear();
  }
};

// Changes of the line under way: written down in the journal first, and
// kept here for undoing them at once when a later write of the line fails.
class LineChanges : public UndoLog {
 public:
  explicit LineChanges(DeviceLines& lines) : lines_(lines) {}
  Status WillChange(const FileChange& change) override {
    UndoLog* journal = lines_.undo_log();
    Status s = journal ? journal->WillChange(change) : Status::OK();
    if (s.ok()) changes_.push_back(change);
    if (s.ok() && sync_next_) {
      sync_next_ = false;
      s = lines_.SyncJournal();
    }
    return s;
  }
  // The next change is forced to the disk with everything before it.
  void SyncNext() { sync_next_ = true; }
  UndoTarget Target() { return UndoTarget{this, ++group_}; }
  UndoTarget SameGroup() { return UndoTarget{this, group_}; }
  const std::vector<FileChange>& changes() const { return changes_; }

 private:
  DeviceLines& lines_;
  std::vector<FileChange> changes_;
  int group_ = 0;
  bool sync_next_ = false;
};

// What a new invoice takes from the customer master.
struct CustomerData {
  std::string name;  // the master's own spelling
  std::string address[3];
  int payment_days = kDefaultPaymentDays;
  std::string account;
};

struct StockData {
  std::string desc;  // the master's own spelling
  std::string code;
  double latest = 0;
};

// What a sale changes: the tables, the records found for it, and those
// records as the files hold them under the line's locks.
struct SalePlan {
  DbfTable *inv = nullptr, *ol = nullptr, *bal = nullptr, *fl = nullptr;
  std::optional<CustomerData> customer;
  std::optional<StockData> item;
  std::string name, desc, code;  // the master's spellings
  uint32_t invoice = 0;          // the open invoice; 0: a new one
  uint32_t balance = 0;          // the item's balance; 0: none
  std::string inv_rec, bal_rec, flags_rec;
};

// A sale's new values, built and checked before anything is written.
struct SaleValues {
  std::string link;
  std::optional<NewValues> counters, new_invoice, totals, alloc, sold, comment;
};

// The outcome of one line.
struct LineResult {
  LineFate fate = LineFate::kPosted;
  std::string reason;
  Trouble trouble = Trouble::kKept;  // of a kept line
  static LineResult Kept(std::string why) { return {LineFate::kKept, std::move(why)}; }
  static LineResult Rejected(std::string why) { return {LineFate::kRejected, std::move(why)}; }
};

class AuroraPosting : public Posting {
 public:
  void PostDevice(RunContext& ctx, DeviceLines& lines) override;

 private:
  class Device;
  // Tables that held a lock past the whole wait in this pass: later lines
  // that need them try once, so a table held for hours does not hold up
  // every device for the wait.
  std::unordered_set<std::string> busy_;
  RecordIndex open_invoices_, customers_, customer_updates_, stock_, balances_;
  // Names already logged as found only when folded; fields found missing.
  std::unordered_set<std::string> folded_said_;
  std::unordered_set<std::string> missing_fields_;
};

// One device's lines: the tables opened for them and the line being posted.
class AuroraPosting::Device {
 public:
  Device(RunContext& ctx, AuroraPosting& pass, DeviceLines& lines)
      : ctx_(ctx),
        pass_(pass),
        lines_(lines),
        invidx_(ctx, kInvoiceTable),
        oldinv_(ctx, kInvoiceLineTable),
        stkbals_(ctx, kBalanceTable),
        flags_(ctx, kCounterTable),
        dmaster_(ctx, kCustomerTable),
        customers_(ctx, kCustomerTable, false),
        stock_(ctx, kStockTable, false) {}

  void PostLine(size_t i);
  void SyncTables();

 private:
  LineResult PostSale(size_t i, const TransactionRecord& record, const SaleLine& line);
  LineResult ChangeCustomer(size_t i, const CustomerChange& change);

  // The steps of a sale; each returns a result when the line cannot go on.
  void SettleExtend(const SaleLine& line, double* extend, std::string* text);
  std::optional<LineResult> PlanSale(const SaleLine& line, SalePlan* plan);
  void AddSaleLocks(const SalePlan& plan, const SaleLine& line, LockSet* locks,
                    std::vector<PostingTable*>* tables);
  std::optional<LineResult> ReadUnderLocks(const SaleLine& line, SalePlan* plan, bool* again);
  std::optional<LineResult> SaleValuesOf(const TransactionRecord& record, const SaleLine& line,
                                         const SalePlan& plan, SaleValues* values);
  void NewInvoiceValues(const TransactionRecord& record, const SaleLine& line,
                        const SalePlan& plan, double extend, SaleValues* values);
  void LineValues(const SaleLine& line, const SalePlan& plan, const std::string& extend_text,
                  double extend, SaleValues* values);
  LineResult WriteSale(size_t i, const SalePlan& plan, const SaleValues& values, LockSet& locks);

  // Look-ups through the pass's indexes (0 or nothing: not found). Each is
  // false, with the reason in *why, when its table cannot be read.
  bool Index(PostingTable& table, RecordIndex* index, std::string* why,
             const std::function<void(DbfTable&, uint32_t, std::string_view)>& add);
  bool FindOpenInvoice(const std::string& customer, const std::string& ordnum, uint32_t* recno,
                       std::string* why);
  // The record of a name in the field given (exact, else as the devices fold
  // it) as the file holds it now; *rec empty when there is none.
  bool FindNamed(PostingTable& table, RecordIndex* idx, const char* field, const std::string& name,
                 const char* what, DbfTable** t, std::string* rec, std::string* why);
  bool FindCustomer(const std::string& name, std::optional<CustomerData>* found, std::string* why);
  bool FindStock(const std::string& desc, std::optional<StockData>* found, std::string* why);
  bool FindBalance(const std::string& code, uint32_t* recno, std::string* why);
  bool FindCustomerToChange(const std::string& name, uint32_t* recno, std::string* why);
  void SayFolded(const std::string& given, const std::string& master, const char* what);

  // Takes the locks; a kept result when they cannot all be had.
  std::optional<LineResult> Lock(LockSet& locks, const std::vector<PostingTable*>& tables);
  // Undoes the line's changes after a failed write (locks let go first).
  LineResult Undo(LockSet& locks, LineChanges& changes, const std::string& what,
                  const Status& failure);

  RunContext& ctx_;
  AuroraPosting& pass_;
  DeviceLines& lines_;
  PostingTable invidx_, oldinv_, stkbals_, flags_, dmaster_;
  // Only looked up, so opened for reading: the package may keep them so.
  PostingTable customers_, stock_;
};

bool AuroraPosting::Device::Index(
    PostingTable& table, RecordIndex* index, std::string* why,
    const std::function<void(DbfTable&, uint32_t, std::string_view)>& add) {
  DbfTable* t = table.Get(why);
  if (t == nullptr) return false;
  Status s = t->Refresh();
  if (s.ok() && index->built && index->count == t->record_count()) return true;
  index->Clear();
  for (uint32_t r = 1; s.ok() && r <= t->record_count(); ++r) {
    std::string_view rec;
    s = t->Record(r, &rec);
    if (s.ok() && !IsDeleted(rec)) add(*t, r, rec);
  }
  if (!s.ok()) {
    *why = table.name() + " cannot be read: " + s.ToString();
    index->Clear();
    return false;
  }
  index->built = true;
  index->count = t->record_count();
  return true;
}

// The record a name leads to: by the name as given, else by the name as the
// devices fold it. 0 when neither.
uint32_t LookUp(const RecordIndex& idx, const std::string& name) {
  auto it = idx.exact.find(name);
  if (it != idx.exact.end()) return it->second;
  it = idx.folded.find(FoldedAsDevicesSee(name));
  return it == idx.folded.end() ? 0 : it->second;
}

void AddName(RecordIndex* idx, const std::string& name, uint32_t recno) {
  idx->exact.emplace(name, recno);
  idx->folded.emplace(FoldedAsDevicesSee(name), recno);
}

bool SameFolded(const std::string& a, const std::string& b) {
  return a == b || FoldedAsDevicesSee(a) == FoldedAsDevicesSee(b);
}

void AuroraPosting::Device::SayFolded(const std::string& given, const std::string& master,
                                      const char* what) {
  if (given == master) return;
  if (pass_.folded_said_.insert(std::string(what) + '\0' + given).second) {
    ctx_.Log(std::string(what) + " \"" + given + "\" of device " +
             std::to_string(lines_.device()) + " taken as \"" + master +
             "\" (the devices get bytes 252 to 255 as u, y, t, y)");
  }
}

bool AuroraPosting::Device::FindOpenInvoice(const std::string& customer,
                                            const std::string& ordnum, uint32_t* recno,
                                            std::string* why) {
  RecordIndex& idx = pass_.open_invoices_;
  *recno = 0;
  if (!Index(invidx_, &idx, why, [&](DbfTable& t, uint32_t r, std::string_view rec) {
        if (ValueOf(FieldOf(t, rec, "POSTED")) != 0) return;
        idx.exact[Key(FieldOf(t, rec, "NAME"), FieldOf(t, rec, "ORDNUM"))] = r;  // the newest wins
      })) {
    return false;
  }
  auto it = idx.exact.find(Key(customer, ordnum));
  if (it != idx.exact.end()) *recno = it->second;
  return true;
}

bool AuroraPosting::Device::FindNamed(PostingTable& table, RecordIndex* idx, const char* field,
                                      const std::string& name, const char* what, DbfTable** t,
                                      std::string* rec, std::string* why) {
  rec->clear();
  if (!Index(table, idx, why, [&](DbfTable& tt, uint32_t r, std::string_view bytes) {
        AddName(idx, FieldOf(tt, bytes, field), r);
      })) {
    return false;
  }
  uint32_t r = LookUp(*idx, name);
  *t = table.Get(why);
  if (r == 0 || !(*t)->FreshRecord(r, rec).ok() || IsDeleted(*rec)) {
    rec->clear();
    return true;
  }
  std::string master = FieldOf(**t, *rec, field);
  if (!SameFolded(master, name)) {
    idx->Clear();  // changed by another program since: looked up afresh next time
    rec->clear();
    return true;
  }
  SayFolded(name, master, what);
  return true;
}

bool AuroraPosting::Device::FindCustomer(const std::string& name,
                                         std::optional<CustomerData>* found, std::string* why) {
  found->reset();
  DbfTable* t = nullptr;
  std::string rec;
  if (!FindNamed(customers_, &pass_.customers_, "NAME", name, "customer", &t, &rec, why)) {
    return false;
  }
  if (rec.empty()) return true;
  CustomerData& c = found->emplace();
  c.name = FieldOf(*t, rec, "NAME");
  if (std::optional<int> days = ToInt16(ValueOf(FieldOf(*t, rec, "DAYS")))) c.payment_days = *days;
  c.account = FieldOf(*t, rec, "ACCOUNT");
  c.address[0] = FieldOf(*t, rec, "ADDR1");
  c.address[1] = FieldOf(*t, rec, "ADDR2");
  c.address[2] = FieldOf(*t, rec, "ADDR3");
  return true;
}

bool AuroraPosting::Device::FindStock(const std::string& desc, std::optional<StockData>* found,
                                      std::string* why) {
  found->reset();
  DbfTable* t = nullptr;
  std::string rec;
  if (!FindNamed(stock_, &pass_.stock_, "DESC", desc, "stock item", &t, &rec, why)) return false;
  if (rec.empty()) return true;
  StockData& item = found->emplace();
  item.desc = FieldOf(*t, rec, "DESC");
  item.code = FieldOf(*t, rec, "CODE");
  item.latest = Single(ValueOf(FieldOf(*t, rec, "LATEST")));
  return true;
}

bool AuroraPosting::Device::FindBalance(const std::string& code, uint32_t* recno,
                                        std::string* why) {
  RecordIndex& idx = pass_.balances_;
  *recno = 0;
  if (!Index(stkbals_, &idx, why, [&](DbfTable& t, uint32_t r, std::string_view rec) {
        idx.exact.emplace(FieldOf(t, rec, "CODE"), r);
      })) {
    return false;
  }
  auto it = idx.exact.find(code);
  if (it != idx.exact.end()) *recno = it->second;
  return true;
}

bool AuroraPosting::Device::FindCustomerToChange(const std::string& name, uint32_t* recno,
                                                 std::string* why) {
  RecordIndex& idx = pass_.customer_updates_;
  bool before_gap = true;
  if (!Index(dmaster_, &idx, why, [&](DbfTable& t, uint32_t r, std::string_view rec) {
        std::string n = FieldOf(t, rec, "NAME");
        // The scan a change makes ends at the first record without a name.
        if (n.empty()) before_gap = false;
        if (before_gap) AddName(&idx, n, r);
      })) {
    return false;
  }
  *recno = LookUp(idx, name);
  return true;
}

std::optional<LineResult> AuroraPosting::Device::Lock(LockSet& locks,
                                                      const std::vector<PostingTable*>& tables) {
  bool busy_before = false;
  for (PostingTable* t : tables) busy_before = busy_before || pass_.busy_.count(t->name()) != 0;
  Status s = locks.AcquireAll(busy_before ? 0 : ctx_.lock_wait_ms);
  if (s.ok()) return std::nullopt;
  if (s.IsBusy()) {
    for (PostingTable* t : tables) {
      if (s.message().compare(0, t->name().size(), t->name()) == 0) pass_.busy_.insert(t->name());
    }
  }
  char waited[32];
  std::snprintf(waited, sizeof waited, " (waited %g s)", ctx_.lock_wait_ms / 1000.0);
  LineResult kept = LineResult::Kept(s.message() + (busy_before ? std::string() : waited));
  kept.trouble = TroubleOf(s, Trouble::kKept);
  return kept;
}

LineResult AuroraPosting::Device::Undo(LockSet& locks, LineChanges& changes,
                                       const std::string& what, const Status& failure) {
  locks.ReleaseAll();
  std::vector<std::string> notes;
  Status s = UndoChanges(ctx_.env, changes.changes(), ctx_.lock_wait_ms, &notes);
  for (const std::string& note : notes) ctx_.Log("undoing a failed line: " + note);
  std::string reason = what + " could not be written: " + failure.ToString();
  if (!s.ok()) {
    lines_.Halt("a line is half-posted: " + reason + ", and undoing it failed: " + s.ToString());
  }
  // A write the table refuses for what it holds (a key its index takes only
  // once, a memo too large) will be refused again: the line goes to the
  // office instead of waiting for ever.
  if (failure.IsInvalidArgument()) return LineResult::Rejected(reason);
  LineResult kept = LineResult::Kept(reason);
  kept.trouble = TroubleOf(failure, Trouble::kKept);
  return kept;
}

// An order taken without an extend is invoiced at its worked-out value; an
// extend given as 0 is a free line.
void AuroraPosting::Device::SettleExtend(const SaleLine& line, double* extend,
                                         std::string* text) {
  *extend = Single(ValueOf(line.extend));
  *text = line.extend;
  if (!Trim(line.extend).empty()) return;
  *extend = Single(ValueOf(line.qty) * ValueOf(line.rate));
  double discount = ValueOf(line.discount);
  if (discount != 0) *extend = Single(*extend * (100 - discount) / 100);
  *text = SingleText(*extend);
  ctx_.Log("invoice line \"" + line.description + "\" for \"" + line.customer +
           "\" came without an extend; worked out as " + *text);
}

std::optional<LineResult> AuroraPosting::Device::PlanSale(const SaleLine& line, SalePlan* p) {
  std::string why;
  p->inv = invidx_.Get(&why);
  p->ol = p->inv ? oldinv_.Get(&why) : nullptr;
  if (p->inv == nullptr || p->ol == nullptr) return LineResult::Kept(why);
  if (!line.note.empty() && !p->ol->memo_writable()) {
    return LineResult::Kept(oldinv_.name() + "'s memo file cannot be written");
  }
  // The customer as the master spells it: the open invoice is found, and a
  // new one named, by that spelling.
  if (!FindCustomer(line.customer, &p->customer, &why) ||
      !FindStock(line.description, &p->item, &why)) {
    return LineResult::Kept(why);
  }
  p->name = p->customer ? p->customer->name : line.customer;
  p->desc = p->item ? p->item->desc : line.description;
  p->code = p->item ? p->item->code : std::string();
  if (!FindOpenInvoice(p->name, line.ordnum, &p->invoice, &why) ||
      !FindBalance(p->code, &p->balance, &why)) {
    return LineResult::Kept(why);
  }
  p->bal = stkbals_.Get(&why);
  p->fl = p->invoice == 0 ? flags_.Get(&why) : nullptr;
  if (p->bal == nullptr || (p->invoice == 0 && p->fl == nullptr)) return LineResult::Kept(why);
  return std::nullopt;
}

void AuroraPosting::Device::AddSaleLocks(const SalePlan& p, const SaleLine& line, LockSet* locks,
                                         std::vector<PostingTable*>* tables) {
  tables->push_back(&oldinv_);
  if (p.invoice != 0) {
    locks->Add(p.inv->file(), dbf::RecordLockOffset(p.invoice),
               invidx_.name() + " record " + std::to_string(p.invoice));
    AddIndexLocks(p.inv, invidx_.name(), {"TOTAL", "GST"}, locks);
    tables->push_back(&invidx_);
  } else {
    locks->Add(p.fl->file(), dbf::RecordLockOffset(1), flags_.name() + " record 1 (the counters)");
    AddIndexLocks(p.fl, flags_.name(), {"LINK", "NEXTINV"}, locks);
    locks->Add(p.inv->file(), dbf::kLockBase, invidx_.name() + " (adding an invoice)");
    AddIndexLocks(p.inv, invidx_.name(), {}, locks);
    tables->push_back(&flags_);
    tables->push_back(&invidx_);
  }
  if (p.balance != 0) {
    locks->Add(p.bal->file(), dbf::RecordLockOffset(p.balance),
               stkbals_.name() + " record " + std::to_string(p.balance));
    AddIndexLocks(p.bal, stkbals_.name(), {"ALLOC"}, locks);
    tables->push_back(&stkbals_);
  }
  locks->Add(p.ol->file(), dbf::kLockBase, oldinv_.name() + " (adding a line)");
  AddIndexLocks(p.ol, oldinv_.name(), {}, locks);
  if (!line.note.empty()) {
    locks->Add(p.ol->memo_file(), dbf::kLockBase, oldinv_.name() + "'s memo file");
  }
}

// Under the locks: the records the line changes, as the files hold them now.
// Sets *again when another program changed one since it was looked up.
std::optional<LineResult> AuroraPosting::Device::ReadUnderLocks(const SaleLine& line, SalePlan* p,
                                                                bool* again) {
  *again = false;
  Status s;
  if (p->invoice != 0) {
    s = p->inv->FreshRecord(p->invoice, &p->inv_rec);
    if (!s.ok()) return LineResult::Kept(invidx_.name() + " cannot be read: " + s.ToString());
    if (IsDeleted(p->inv_rec) || FieldOf(*p->inv, p->inv_rec, "NAME") != p->name ||
        FieldOf(*p->inv, p->inv_rec, "ORDNUM") != line.ordnum ||
        ValueOf(FieldOf(*p->inv, p->inv_rec, "POSTED")) != 0) {
      pass_.open_invoices_.Clear();
      *again = true;
    }
  } else {
    // No other program adds an invoice while we hold the adding lock; one
    // added since the index was built may be the line's.
    s = p->inv->Refresh();
    if (!s.ok()) return LineResult::Kept(invidx_.name() + " cannot be read: " + s.ToString());
    *again = p->inv->record_count() != pass_.open_invoices_.count;
    s = p->fl->FreshRecord(1, &p->flags_rec);
    if (!s.ok() || IsDeleted(p->flags_rec)) {
      return LineResult::Kept(flags_.name() + " holds no counter record" +
                              (s.ok() ? "" : ": " + s.ToString()));
    }
  }
  if (p->balance != 0) {
    s = p->bal->FreshRecord(p->balance, &p->bal_rec);
    if (!s.ok()) return LineResult::Kept(stkbals_.name() + " cannot be read: " + s.ToString());
    if (IsDeleted(p->bal_rec) || FieldOf(*p->bal, p->bal_rec, "CODE") != p->code) {
      pass_.balances_.Clear();
      *again = true;
    }
  }
  return std::nullopt;
}

void AuroraPosting::Device::NewInvoiceValues(const TransactionRecord& record, const SaleLine& line,
                                             const SalePlan& p, double extend, SaleValues* v) {
  v->link = WholeText(ValueOf(FieldOf(*p.fl, p.flags_rec, "LINK")) + 1);
  std::string invnum = WholeText(ValueOf(FieldOf(*p.fl, p.flags_rec, "NEXTINV")) + 1);
  v->counters.emplace(ctx_, *p.fl, p.flags_rec, &pass_.missing_fields_);
  v->counters->Set("LINK", v->link);
  v->counters->Set("NEXTINV", invnum);
  CustomerData c = p.customer.value_or(CustomerData{});
  std::string date, due;
  if (record.date) {
    date = FormatYyyymmdd(*record.date);
    due = FormatYyyymmdd(AddDays(*record.date, c.payment_days));
  } else {
    ctx_.Log("record date \"" + record.field1.substr(0, 8) + "\" is no date; invoice " + invnum +
             " has no date");
  }
  NewValues& n = v->new_invoice.emplace(ctx_, *p.inv, p.inv->BlankRecord(), &pass_.missing_fields_);
  n.Set("NAME", p.name);
  n.Set("DELNAME", p.name);
  n.Set("LINK", v->link);
  n.Set("POSTED", "0");
  n.Set("INVNUM", invnum);
  n.Set("DATE", date);
  n.Set("DUE", due);
  n.Set("TERMS", due);
  n.Set("ORDNUM", line.ordnum);
  n.Set("TOTAL", DoubleText(extend * 1.125));
  n.Set("GST", SingleText(extend / 8));
  const char* kAddress[] = {"ADD1", "ADD2", "ADD3"};
  const char* kDelivery[] = {"DELADD1", "DELADD2", "DELADD3"};
  for (int k = 0; k < 3; ++k) {
    n.Set(kAddress[k], c.address[k]);
    n.Set(kDelivery[k], c.address[k]);
  }
  n.Set("DEBTOR", c.account);
  n.Set("METHOD", "Courier");
  n.Set("LOCATION", "Central");
  n.Set("SRCE", "I");
  n.Set("AGING", "C");
  n.Set("BANKACC", "9172");
  n.Set("PAYMETHOD", "2");
  n.Set("TILLID", "527093164");
}

void AuroraPosting::Device::LineValues(const SaleLine& line, const SalePlan& p,
                                       const std::string& extend_text, double extend,
                                       SaleValues* v) {
  std::unordered_set<std::string>* missing = &pass_.missing_fields_;
  if (p.balance != 0) {
    double alloc = Single(Single(ValueOf(FieldOf(*p.bal, p.bal_rec, "ALLOC"))) + ValueOf(line.qty));
    v->alloc.emplace(ctx_, *p.bal, p.bal_rec, missing).Set("ALLOC", SingleText(alloc));
  }
  NewValues& sold = v->sold.emplace(ctx_, *p.ol, p.ol->BlankRecord(), missing);
  sold.Set("CODE", p.code);
  sold.Set("LINK", v->link);
  sold.Set("DESC", p.desc);
  sold.Set("QTY", line.qty);
  sold.Set("RATE", line.rate);
  sold.Set("EXTEND", extend_text);
  sold.Set("COST", SingleText(Single(ValueOf(line.qty) * (p.item ? p.item->latest : 0))));
  sold.Set("GSTEXT", SingleText(extend / 8));
  sold.Set("DISC", line.discount);
  sold.Set("GSTCODE", "E");
  sold.Set("SERIAL", "F");
  sold.Set("DERIVE", "F");
  if (line.note.empty()) return;
  NewValues& comment = v->comment.emplace(ctx_, *p.ol, p.ol->BlankRecord(), missing);
  comment.Set("CODE", "/C");
  comment.Set("LINK", v->link);
  comment.Set("DESC", CommentText(line.note));
  for (const char* zero : {"QTY", "RATE", "EXTEND", "GSTEXT"}) comment.Set(zero, "0");
  comment.Set("GSTCODE", "E");
  comment.Set("SERIAL", "F");
  comment.Set("DERIVE", "F");
  comment.Set("NOTE", line.note);
}

// Every new value of the line, checked against its field before anything is
// written: a rejected result when one does not fit.
std::optional<LineResult> AuroraPosting::Device::SaleValuesOf(const TransactionRecord& record,
                                                              const SaleLine& line,
                                                              const SalePlan& p,
                                                              SaleValues* v) {
  double extend;
  std::string extend_text;
  SettleExtend(line, &extend, &extend_text);
  if (p.invoice != 0) {
    v->link = FieldOf(*p.inv, p.inv_rec, "LINK");
    if (ValueOf(v->link) == 0) {
      return LineResult::Rejected(invidx_.name() + " record " + std::to_string(p.invoice) +
                                  " (the open invoice) has no link number");
    }
    NewValues& totals = v->totals.emplace(ctx_, *p.inv, p.inv_rec, &pass_.missing_fields_);
    totals.Set("TOTAL", DoubleText(extend * 1.125 +
                                   Single(ValueOf(FieldOf(*p.inv, p.inv_rec, "TOTAL")))));
    totals.Set("GST", SingleText(Single(extend / 8 +
                                        Single(ValueOf(FieldOf(*p.inv, p.inv_rec, "GST"))))));
  } else {
    NewInvoiceValues(record, line, p, extend, v);
  }
  LineValues(line, p, extend_text, extend, v);
  for (const std::optional<NewValues>* n :
       {&v->counters, &v->new_invoice, &v->totals, &v->alloc, &v->sold, &v->comment}) {
    if (*n && !(*n)->error().empty()) return LineResult::Rejected((*n)->error());
  }
  return std::nullopt;
}

// The line's writes, each written down first; a failed one undoes the rest.
LineResult AuroraPosting::Device::WriteSale(size_t i, const SalePlan& p, const SaleValues& v,
                                            LockSet& locks) {
  Status s = lines_.Begin(i);
  if (!s.ok()) return LineResult::Kept("the posting journal cannot be written: " + s.ToString());
  LineChanges changes(lines_);
  uint32_t new_recno = 0;
  if (p.invoice != 0) {
    UndoTarget u = changes.Target();
    s = p.inv->UpdateRecord(p.invoice, v.totals->bytes(), v.totals->fields(), {}, dbf::kLocksHeld,
                            &u);
    if (!s.ok()) return Undo(locks, changes, invidx_.name(), s);
  } else {
    // The invoice before the counters, and its journal entry forced to the
    // disk first: after a power cut the number is then either still free or
    // taken by an invoice the next pass finds.
    UndoTarget u = changes.Target();
    changes.SyncNext();
    s = p.inv->AppendRecord(v.new_invoice->bytes(), {}, dbf::kLocksHeld, &u, &new_recno);
    if (!s.ok()) return Undo(locks, changes, invidx_.name(), s);
    UndoTarget same = changes.SameGroup();
    s = p.fl->UpdateRecord(1, v.counters->bytes(), v.counters->fields(), {}, dbf::kLocksHeld, &same);
    if (!s.ok()) return Undo(locks, changes, flags_.name(), s);
  }
  if (p.balance != 0) {
    UndoTarget u = changes.Target();
    s = p.bal->UpdateRecord(p.balance, v.alloc->bytes(), v.alloc->fields(), {}, dbf::kLocksHeld, &u);
    if (!s.ok()) return Undo(locks, changes, stkbals_.name(), s);
  }
  UndoTarget u = changes.Target();
  s = p.ol->AppendRecord(v.sold->bytes(), {}, dbf::kLocksHeld, &u);
  if (!s.ok()) return Undo(locks, changes, oldinv_.name(), s);
  if (v.comment) {
    // The memo is stored with its record, so no other program's record can
    // ever receive it.
    UndoTarget c = changes.Target();
    s = p.ol->AppendRecord(v.comment->bytes(), v.comment->memos(), dbf::kLocksHeld, &c);
    if (!s.ok()) return Undo(locks, changes, oldinv_.name(), s);
  }
  if (p.invoice == 0) {
    // Indexed as stored, so a name cut to its field's width is found as the
    // next line's search would find it.
    const std::string& stored = v.new_invoice->bytes();
    pass_.open_invoices_.exact[Key(FieldOf(*p.inv, stored, "NAME"),
                                   FieldOf(*p.inv, stored, "ORDNUM"))] = new_recno;
    pass_.open_invoices_.count = p.inv->record_count();
  }
  return LineResult();
}

LineResult AuroraPosting::Device::PostSale(size_t i, const TransactionRecord& record,
                                           const SaleLine& line) {
  for (int attempt = 0; attempt < kLookupTries; ++attempt) {
    SalePlan plan;
    if (std::optional<LineResult> kept = PlanSale(line, &plan)) return *kept;
    LockSet locks(ctx_.env);
    std::vector<PostingTable*> locked;
    AddSaleLocks(plan, line, &locks, &locked);
    if (std::optional<LineResult> kept = Lock(locks, locked)) return *kept;
    bool again = false;
    if (std::optional<LineResult> kept = ReadUnderLocks(line, &plan, &again)) return *kept;
    if (again) continue;
    SaleValues values;
    if (std::optional<LineResult> refused = SaleValuesOf(record, line, plan, &values)) {
      return *refused;
    }
    return WriteSale(i, plan, values, locks);
  }
  return LineResult::Kept("its records kept changing under another program");
}

LineResult AuroraPosting::Device::ChangeCustomer(size_t i, const CustomerChange& change) {
  std::string why;
  for (int attempt = 0; attempt < kLookupTries; ++attempt) {
    uint32_t r = 0;
    if (!FindCustomerToChange(change.name, &r, &why)) return LineResult::Kept(why);
    if (r == 0) return LineResult::Rejected("no customer named \"" + change.name + "\"");
    DbfTable* dm = dmaster_.Get(&why);
    if (dm == nullptr) return LineResult::Kept(why);
    if (!change.notes.empty() && !dm->memo_writable()) {
      return LineResult::Kept(dmaster_.name() + "'s memo file cannot be written");
    }
    LockSet locks(ctx_.env);
    locks.Add(dm->file(), dbf::RecordLockOffset(r), dmaster_.name() + " record " + std::to_string(r));
    if (!change.notes.empty()) {
      locks.Add(dm->memo_file(), dbf::kLockBase, dmaster_.name() + "'s memo file");
    }
    AddIndexLocks(dm, dmaster_.name(), {"NOTES", "CONTACT", "CONTACT2", "PHONE"}, &locks);
    if (std::optional<LineResult> kept = Lock(locks, {&dmaster_})) return *kept;
    std::string rec;
    Status s = dm->FreshRecord(r, &rec);
    if (!s.ok()) return LineResult::Kept(dmaster_.name() + " cannot be read: " + s.ToString());
    std::string name = FieldOf(*dm, rec, "NAME");
    if (IsDeleted(rec) || !SameFolded(name, change.name)) {
      pass_.customer_updates_.Clear();
      continue;
    }
    SayFolded(change.name, name, "customer");
    NewValues v(ctx_, *dm, rec, &pass_.missing_fields_);
    if (!change.notes.empty()) v.Set("NOTES", change.notes);
    if (!change.contact1.empty()) v.Set("CONTACT", change.contact1);
    if (!change.contact2.empty()) v.Set("CONTACT2", change.contact2);
    if (!change.phone.empty()) v.Set("PHONE", change.phone);
    if (!v.error().empty()) return LineResult::Rejected(v.error());
    if (v.fields().empty()) return LineResult();  // nothing to change
    s = lines_.Begin(i);
    if (!s.ok()) return LineResult::Kept("the posting journal cannot be written: " + s.ToString());
    LineChanges changes(lines_);
    UndoTarget u = changes.Target();
    s = dm->UpdateRecord(r, v.bytes(), v.fields(), v.memos(), dbf::kLocksHeld, &u);
    if (!s.ok()) return Undo(locks, changes, dmaster_.name(), s);
    return LineResult();
  }
  return LineResult::Kept("the customer's record kept changing under another program");
}

void AuroraPosting::Device::PostLine(size_t i) {
  TransactionRecord record = ParseTransactionLine(lines_.line(i));
  LineResult r;
  if (record.type == "InvoiceLines") {
    r = PostSale(i, record, SaleLineOf(record));
  } else if (record.type == "Customers") {
    r = ChangeCustomer(i, CustomerChangeOf(record));
  } else {
    return lines_.PassedOver(i, "record type " + record.type + " is not posted to this back-end");
  }
  if (lines_.halted()) return;
  switch (r.fate) {
    case LineFate::kPosted:
      lines_.Posted(i);
      break;
    case LineFate::kKept:
      lines_.Kept(i, r.reason, r.trouble);
      break;
    default:
      lines_.Rejected(i, r.reason);
      break;
  }
}

void AuroraPosting::Device::SyncTables() {
  for (PostingTable* t : {&invidx_, &oldinv_, &stkbals_, &flags_, &dmaster_}) {
    Status s = t->Sync();
    if (!s.ok()) ctx_.Log(t->name() + ": changes not forced to disk: " + s.ToString());
  }
}

void AuroraPosting::PostDevice(RunContext& ctx, DeviceLines& lines) {
  Device device(ctx, *this, lines);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines.pending(i)) device.PostLine(i);
  }
  device.SyncTables();
}

}  // namespace

std::unique_ptr<Posting> NewAuroraPosting() { return std::make_unique<AuroraPosting>(); }

void PostAuroraLines(RunContext& ctx, DeviceLines& lines) { AuroraPosting().PostDevice(ctx, lines); }

void PostAuroraTransactions(RunContext& ctx) {
  std::string text;
  Status s = ctx.env->ReadFile(ctx.Path(kStagingFile), &text);
  if (!s.ok()) {
    ctx.Log("staging file tempdb.dat cannot be read, nothing posted for this device: " +
            s.ToString());
    return;
  }
  DeviceLines lines(0, SplitLines(text));
  PostAuroraLines(ctx, lines);
}

}  // namespace lumbra
