// Posting a device's staged records into the Aurora tables: each
// "InvoiceLines" record becomes a line of an unposted invoice (a new one
// when the customer has no open invoice for that order), with the stock
// allocation raised; each "Customers" record updates the customer's notes,
// contacts and phone.
//
// The lines of one device are posted one after another, each completely
// before the next. The tables that grow or change on every line (INVIDX,
// STKBALS, OLDINV, and DMASTER for customer changes) stay open for the
// whole device, and lookups go through hash indexes built by one scan and
// kept up to date with our own writes, so a device of thousands of lines
// does not rescan the tables per line. Records are always added at the
// table's true end under its lock; the counters of Flags.dbf are read
// afresh, and forced to disk, for every new invoice, so a number is never
// handed out twice. Other changes are written at once and forced to disk
// when the device's records are done.
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "backends/aurora/aurora.h"
#include "backends/aurora/aurora_tables.h"
#include "platform/file_case.h"
#include "backends/aurora/table_engine.h"
#include "intake/device_files.h"
#include "intake/posting.h"
#include "intake/transaction_line.h"
#include "text/dates.h"
#include "text/lines.h"
#include "text/numbers.h"
#include "backends/context/run_context.h"
#include "text/text_fields.h"

namespace lumbra {
namespace {

constexpr int kValue = TableEngine::kValueOrdinary;
constexpr int kMemo = TableEngine::kValueMemo;
constexpr int kDefaultPaymentDays = 7;

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

// The size of a table file as last seen, to notice records another
// program adds while a device's records are posted.
class TableSize {
 public:
  explicit TableSize(const std::string& path) : path_(path) {}
  void Remember(RunContext& ctx) { known_ = Current(ctx, &size_); }
  bool ChangedByOthers(RunContext& ctx) {
    uint64_t now = 0;
    if (!known_ || !Current(ctx, &now) || now == size_) return false;
    ctx.Log(path_ + ": records added by another program during the posting; read afresh");
    known_ = false;
    return true;
  }

 private:
  bool Current(RunContext& ctx, uint64_t* size) {
    if (real_.empty() && !FindPathIgnoringCase(ctx.env, path_, &real_)) return false;
    return ctx.env->GetFileSize(real_, size).ok();
  }
  std::string path_;
  std::string real_;
  bool known_ = false;
  uint64_t size_ = 0;
};

// A table opened on first use and kept open, in an engine of its own, for
// one device's records. Records are reached by number, read afresh from the
// file each time, so a change another program made to a record since it
// was indexed is seen before ours is made. Changes are written at once and
// forced to the disk by Sync, when the device's records are done.
class KeptTable {
 public:
  KeptTable(RunContext& ctx, std::string_view literal, const char* alias, int mode)
      : ctx_(ctx), path_(AuroraTablePath(ctx, literal)), alias_(alias), mode_(mode) {}

  // The engine, for scans and appends. Null when the table cannot be opened
  // (the engine logs why, once per device).
  TableEngine* Get() {
    if (!tried_) {
      tried_ = true;
      engine_ = Open();
    }
    return engine_.get();
  }

  // The engine with record recno current; null when the record is not
  // there (deleted, or beyond the end).
  TableEngine* At(long recno) {
    TableEngine* e = Get();
    if (e == nullptr || !e->Goto(recno) || e->Deleted()) return nullptr;
    return e;
  }

  // Whether another program has added records (the file's size changed)
  // since Remember: the table is then closed, to be opened afresh on its
  // next use, and the caller drops what it indexed.
  bool ChangedByOthers() {
    if (!engine_ || !size_.ChangedByOthers(ctx_)) return false;
    engine_.reset();
    tried_ = false;
    return true;
  }
  void Remember() {
    if (engine_) size_.Remember(ctx_);
  }

  // Writes the changes made to the current record at once (the engine logs
  // a change it could not make).
  void Write() { engine_->Commit(); }
  // Forces every change made since the last Sync to the disk.
  void Sync() {
    if (engine_) engine_->SyncAll();
  }

 private:
  std::unique_ptr<TableEngine> Open() {
    auto e = std::make_unique<TableEngine>(ctx_.env, ctx_.log);
    if (e->Use(path_, alias_, mode_, TableEngine::kDriverDbf) == 0) return nullptr;
    e->SetDeleted(true);
    e->SetDeferredSync(true);
    size_.Remember(ctx_);
    return e;
  }

  RunContext& ctx_;
  std::string path_;
  std::string alias_;
  int mode_;
  TableSize size_{path_};
  bool tried_ = false;
  std::unique_ptr<TableEngine> engine_;
};

// What a new invoice takes from the customer master.
struct CustomerData {
  std::string address[3];
  int payment_days = kDefaultPaymentDays;
  std::string account;
};

struct StockData {
  std::string code;
  double latest = 0;
};

class AuroraPosting {
 public:
  explicit AuroraPosting(RunContext& ctx)
      : ctx_(ctx),
        invoices_(ctx, kInvoiceTable, "Invidx", TableEngine::kReadWrite),
        balances_(ctx, kBalanceTable, "Stkbals", TableEngine::kReadWrite),
        lines_(ctx, kInvoiceLineTable, "Oldinv", TableEngine::kReadWrite),
        customers_rw_(ctx, kCustomerTable, "Dmaster", TableEngine::kReadWrite),
        customers_size_(AuroraTablePath(ctx, kCustomerTable)),
        stock_size_(AuroraTablePath(ctx, kStockTable)),
        counters_(ctx.env, ctx.log) {}

  void PostInvoiceLine(const TransactionRecord& record, const SaleLine& line);
  void UpdateCustomer(const CustomerChange& change);
  // Before a record: drops what was read of a table to which another
  // program has added records meanwhile. After it: notes the tables' sizes.
  void Refresh();
  void Remember();
  // Forces every change made to the kept tables to the disk.
  void Sync();

  int lines_posted() const { return lines_posted_; }
  int lines_skipped() const { return lines_skipped_; }
  int customers_changed() const { return customers_changed_; }

 private:
  void IndexOpenInvoices(TableEngine& inv);
  void IndexCustomers();
  void IndexStock();
  void IndexBalances(TableEngine& bal);
  TableEngine* FindOpenInvoice(TableEngine& inv, const SaleLine& line, std::string* link);
  bool NextCounters(std::string* link, std::string* invnum);
  std::string CreateInvoice(TableEngine& inv, const TransactionRecord& record,
                            const SaleLine& line, double extend);
  void RaiseAllocation(const std::string& code, const std::string& qty);
  void AddLine(TableEngine& lines, const std::string& link, const StockData& item,
               const SaleLine& line, const std::string& extend_text, double extend);
  void AddComment(TableEngine& lines, const std::string& link, const std::string& note);
  void Skip(const SaleLine& line, const std::string& why);

  RunContext& ctx_;
  KeptTable invoices_, balances_, lines_, customers_rw_;
  // The tables only indexed, never kept open.
  TableSize customers_size_, stock_size_;
  // Flags.dbf, opened afresh for every new invoice; one engine for the
  // device, so its notes on the table are logged once.
  TableEngine counters_;

  bool invoices_indexed_ = false;
  // Customer and order number to the newest unposted invoice's record.
  std::unordered_map<std::string, long> open_invoices_;
  bool customers_indexed_ = false;
  std::unordered_map<std::string, CustomerData> customer_data_;  // first record of a name
  // First record of a name before the first record with an empty name,
  // where the update's scan stops.
  std::unordered_map<std::string, long> customer_records_;
  bool stock_indexed_ = false;
  std::unordered_map<std::string, StockData> stock_by_desc_;
  bool balances_indexed_ = false;
  std::unordered_map<std::string, long> balance_records_;

  int lines_posted_ = 0;
  int lines_skipped_ = 0;
  int customers_changed_ = 0;
};

void AuroraPosting::Refresh() {
  if (invoices_.ChangedByOthers()) {
    invoices_indexed_ = false;
    open_invoices_.clear();
  }
  if (balances_.ChangedByOthers()) {
    balances_indexed_ = false;
    balance_records_.clear();
  }
  bool customers_changed = customers_size_.ChangedByOthers(ctx_);
  customers_changed = customers_rw_.ChangedByOthers() || customers_changed;
  if (customers_changed) {
    customers_indexed_ = false;
    customer_data_.clear();
    customer_records_.clear();
  }
  if (stock_size_.ChangedByOthers(ctx_)) {
    stock_indexed_ = false;
    stock_by_desc_.clear();
  }
}

void AuroraPosting::Remember() {
  invoices_.Remember();
  balances_.Remember();
  customers_rw_.Remember();
  if (customers_indexed_) customers_size_.Remember(ctx_);
  if (stock_indexed_) stock_size_.Remember(ctx_);
}

void AuroraPosting::Sync() {
  for (KeptTable* t : {&invoices_, &balances_, &lines_, &customers_rw_}) t->Sync();
}

void AuroraPosting::Skip(const SaleLine& line, const std::string& why) {
  ++lines_skipped_;
  ctx_.Log("invoice line \"" + line.description + "\" for \"" + line.customer + "\", order \"" +
           line.ordnum + "\" not posted: " + why + "; it stays in the archive");
}

void AuroraPosting::IndexOpenInvoices(TableEngine& inv) {
  invoices_indexed_ = true;
  for (inv.GoTop(); !inv.Eof(); inv.Skip(1)) {
    if (ValueOf(TrimmedField(inv, "POSTED")) != 0) continue;
    open_invoices_[Key(TrimmedField(inv, "NAME"), TrimmedField(inv, "ORDNUM"))] = inv.RecNo();
  }
}

void AuroraPosting::IndexCustomers() {
  customers_indexed_ = true;
  TableEngine engine(ctx_.env, ctx_.log);
  bool before_gap = true;
  ScanTable(engine, AuroraTablePath(ctx_, kCustomerTable), "Dmaster", [&] {
    std::string name = TrimmedField(engine, "NAME");
    if (name.empty()) before_gap = false;
    if (before_gap) customer_records_.emplace(name, engine.RecNo());
    if (customer_data_.count(name) != 0) return;
    CustomerData& c = customer_data_[name];
    std::optional<int> days = ToInt16(ValueOf(TrimmedField(engine, "DAYS")));
    if (days) c.payment_days = *days;
    c.account = TrimmedField(engine, "ACCOUNT");
    c.address[0] = TrimmedField(engine, "ADDR1");
    c.address[1] = TrimmedField(engine, "ADDR2");
    c.address[2] = TrimmedField(engine, "ADDR3");
  });
}

void AuroraPosting::IndexStock() {
  stock_indexed_ = true;
  TableEngine engine(ctx_.env, ctx_.log);
  ScanTable(engine, AuroraTablePath(ctx_, kStockTable), "Stock", [&] {
    std::string desc = TrimmedField(engine, "DESC");
    if (stock_by_desc_.count(desc) != 0) return;
    stock_by_desc_[desc] =
        StockData{TrimmedField(engine, "CODE"), Single(ValueOf(TrimmedField(engine, "LATEST")))};
  });
}

void AuroraPosting::IndexBalances(TableEngine& bal) {
  balances_indexed_ = true;
  for (bal.GoTop(); !bal.Eof(); bal.Skip(1)) {
    balance_records_.emplace(TrimmedField(bal, "CODE"), bal.RecNo());
  }
}

// The newest unposted invoice of the line's customer and order, current in
// the engine returned, and its link; null when there is none (or its link
// is no number).
TableEngine* AuroraPosting::FindOpenInvoice(TableEngine& inv, const SaleLine& line,
                                            std::string* link) {
  if (!invoices_indexed_) IndexOpenInvoices(inv);
  auto it = open_invoices_.find(Key(line.customer, line.ordnum));
  if (it == open_invoices_.end()) return nullptr;
  TableEngine* found = invoices_.At(it->second);
  if (found == nullptr || TrimmedField(*found, "NAME") != line.customer ||
      TrimmedField(*found, "ORDNUM") != line.ordnum ||
      ValueOf(TrimmedField(*found, "POSTED")) != 0) {
    return nullptr;  // changed by another program since it was indexed
  }
  *link = TrimmedField(*found, "LINK");
  return ValueOf(*link) == 0 ? nullptr : found;
}

// Hands out the next invoice link and number from Flags.dbf, read afresh
// so numbers the accounting package gave out meanwhile are never reused.
// The raised counters are forced to the disk (the engine's Commit, syncing
// at once) before the invoice taking the number is written, so that after
// a power cut the number is never handed out again.
bool AuroraPosting::NextCounters(std::string* link, std::string* invnum) {
  TableEngine& flags = counters_;
  if (flags.Use(AuroraTablePath(ctx_, kCounterTable), "Flags", TableEngine::kReadWrite,
                TableEngine::kDriverDbf) == 0) {
    return false;
  }
  flags.SetDeleted(true);
  if (flags.Eof()) {
    flags.Close();
    ctx_.Log("Flags.dbf holds no counter record");
    return false;
  }
  *link = WholeText(ValueOf(TrimmedField(flags, "LINK")) + 1);
  *invnum = WholeText(ValueOf(TrimmedField(flags, "NEXTINV")) + 1);
  flags.ClearError();
  flags.Replace("LINK", kValue, *link);
  flags.Replace("NEXTINV", kValue, *invnum);
  flags.Commit();
  bool stored = flags.last_error().ok();
  flags.Close();
  return stored;
}

std::string AuroraPosting::CreateInvoice(TableEngine& inv, const TransactionRecord& record,
                                         const SaleLine& line, double extend) {
  std::string link, invnum;
  if (!NextCounters(&link, &invnum)) return std::string();
  if (!customers_indexed_) IndexCustomers();
  CustomerData customer;
  if (auto it = customer_data_.find(line.customer); it != customer_data_.end()) {
    customer = it->second;
  }
  std::string date, due;
  if (record.date) {
    date = FormatYyyymmdd(*record.date);
    due = FormatYyyymmdd(AddDays(*record.date, customer.payment_days));
  } else {
    ctx_.Log("record date \"" + record.field1.substr(0, 8) + "\" is no date; invoice " + invnum +
             " has no date");
  }
  long before = inv.RecCount();
  inv.GoBottom();
  inv.Skip(1);
  inv.Replace("NAME", kValue, line.customer);
  inv.Replace("DELNAME", kValue, line.customer);
  inv.Replace("LINK", kValue, link);
  inv.Replace("POSTED", kValue, "0");
  inv.Replace("INVNUM", kValue, invnum);
  inv.Replace("DATE", kValue, date);
  inv.Replace("DUE", kValue, due);
  inv.Replace("TERMS", kValue, due);
  inv.Replace("ORDNUM", kValue, line.ordnum);
  inv.Replace("TOTAL", kValue, DoubleText(extend * 1.125));
  inv.Replace("GST", kValue, SingleText(extend / 8));
  const char* kAddress[] = {"ADD1", "ADD2", "ADD3"};
  const char* kDelivery[] = {"DELADD1", "DELADD2", "DELADD3"};
  for (int i = 0; i < 3; ++i) {
    inv.Replace(kAddress[i], kValue, customer.address[i]);
    inv.Replace(kDelivery[i], kValue, customer.address[i]);
  }
  inv.Replace("DEBTOR", kValue, customer.account);
  inv.Replace("METHOD", kValue, "Courier");
  inv.Replace("LOCATION", kValue, "Central");
  inv.Replace("SRCE", kValue, "I");
  inv.Replace("AGING", kValue, "C");
  inv.Replace("BANKACC", kValue, "9172");
  inv.Replace("PAYMETHOD", kValue, "2");
  inv.Replace("TILLID", kValue, "527093164");
  inv.Append();
  if (inv.RecCount() == before) return std::string();
  // Indexed as stored, so a name cut to its field's width is found as the
  // next line's search would find it.
  if (ValueOf(TrimmedField(inv, "POSTED")) == 0) {
    open_invoices_[Key(TrimmedField(inv, "NAME"), TrimmedField(inv, "ORDNUM"))] = inv.RecNo();
  }
  return link;
}

void AuroraPosting::RaiseAllocation(const std::string& code, const std::string& qty) {
  TableEngine* main = balances_.Get();
  if (main == nullptr) return;
  if (!balances_indexed_) IndexBalances(*main);
  auto it = balance_records_.find(code);
  TableEngine* bal = it == balance_records_.end() ? nullptr : balances_.At(it->second);
  if (bal == nullptr || TrimmedField(*bal, "CODE") != code) return;
  double alloc = Single(Single(ValueOf(TrimmedField(*bal, "ALLOC"))) + ValueOf(qty));
  bal->Replace("ALLOC", kValue, SingleText(alloc));
  balances_.Write();
}

void AuroraPosting::AddLine(TableEngine& lines, const std::string& link, const StockData& item,
                            const SaleLine& line, const std::string& extend_text, double extend) {
  lines.GoBottom();
  lines.Skip(1);
  lines.Replace("CODE", kValue, item.code);
  lines.Replace("LINK", kValue, link);
  lines.Replace("DESC", kValue, line.description);
  lines.Replace("QTY", kValue, line.qty);
  lines.Replace("RATE", kValue, line.rate);
  lines.Replace("EXTEND", kValue, extend_text);
  lines.Replace("COST", kValue, SingleText(Single(ValueOf(line.qty) * item.latest)));
  lines.Replace("GSTEXT", kValue, SingleText(extend / 8));
  lines.Replace("DISC", kValue, line.discount);
  lines.Replace("GSTCODE", kValue, "E");
  lines.Replace("SERIAL", kValue, "F");
  lines.Replace("DERIVE", kValue, "F");
  lines.Append();
}

// The note as a comment line of the invoice. The memo is stored with the
// record itself, so no other program's record can ever receive it.
void AuroraPosting::AddComment(TableEngine& lines, const std::string& link,
                               const std::string& note) {
  lines.GoBottom();
  lines.Skip(1);
  lines.Replace("CODE", kValue, "/C");
  lines.Replace("LINK", kValue, link);
  lines.Replace("DESC", kValue, CommentText(note));
  for (const char* zero : {"QTY", "RATE", "EXTEND", "GSTEXT"}) lines.Replace(zero, kValue, "0");
  lines.Replace("GSTCODE", kValue, "E");
  lines.Replace("SERIAL", kValue, "F");
  lines.Replace("DERIVE", kValue, "F");
  lines.Replace("NOTE", kMemo, note);
  lines.Append();
}

void AuroraPosting::PostInvoiceLine(const TransactionRecord& record, const SaleLine& line) {
  TableEngine* inv = invoices_.Get();
  TableEngine* lines = lines_.Get();
  if (inv == nullptr || lines == nullptr) {
    return Skip(line, inv == nullptr ? "the invoice table cannot be opened"
                                     : "the invoice line table cannot be opened");
  }
  // An order taken without an extend is invoiced at its worked-out value.
  double extend = Single(ValueOf(line.extend));
  std::string extend_text = line.extend;
  if (extend == 0) {
    double worked = Single(ValueOf(line.qty) * ValueOf(line.rate));
    double discount = ValueOf(line.discount);
    if (discount != 0) worked = Single(worked * (100 - discount) / 100);
    if (worked != 0) {
      extend = worked;
      extend_text = SingleText(worked);
      ctx_.Log("invoice line \"" + line.description + "\" for \"" + line.customer +
               "\" came without an extend; worked out as " + extend_text);
    }
  }

  std::string link;
  if (TableEngine* open = FindOpenInvoice(*inv, line, &link)) {
    open->Replace("TOTAL", kValue,
                  DoubleText(extend * 1.125 + Single(ValueOf(TrimmedField(*open, "TOTAL")))));
    open->Replace("GST", kValue,
                  SingleText(Single(extend / 8 + Single(ValueOf(TrimmedField(*open, "GST"))))));
    invoices_.Write();
  } else {
    link = CreateInvoice(*inv, record, line, extend);
    if (link.empty()) return Skip(line, "no invoice could be created for it");
  }

  if (!stock_indexed_) IndexStock();
  StockData item;
  if (auto it = stock_by_desc_.find(line.description); it != stock_by_desc_.end()) {
    item = it->second;
  }
  RaiseAllocation(item.code, line.qty);
  AddLine(*lines, link, item, line, extend_text, extend);
  if (!line.note.empty()) AddComment(*lines, link, line.note);
  ++lines_posted_;
}

void AuroraPosting::UpdateCustomer(const CustomerChange& change) {
  if (!customers_indexed_) IndexCustomers();
  auto it = customer_records_.find(change.name);
  if (it == customer_records_.end()) {
    ctx_.Log("customer change for \"" + change.name + "\" not made: no such customer");
    return;
  }
  if (customers_rw_.Get() == nullptr) return;
  TableEngine* dm = customers_rw_.At(it->second);
  if (dm == nullptr || TrimmedField(*dm, "NAME") != change.name) {
    ctx_.Log("customer change for \"" + change.name +
             "\" not made: the customer table changed during the pass");
    return;
  }
  if (!change.notes.empty()) dm->Replace("NOTES", kMemo, change.notes);
  if (!change.contact1.empty()) dm->Replace("CONTACT", kValue, change.contact1);
  if (!change.contact2.empty()) dm->Replace("CONTACT2", kValue, change.contact2);
  if (!change.phone.empty()) dm->Replace("PHONE", kValue, change.phone);
  customers_rw_.Write();
  ++customers_changed_;
}

}  // namespace

void PostAuroraLines(RunContext& ctx, DeviceLines& lines) {
  AuroraPosting posting(ctx);
  for (size_t i = 0; i < lines.size() && !lines.stopped(); ++i) {
    if (!lines.pending(i)) continue;
    TransactionRecord record = ParseTransactionLine(lines.line(i));
    if (record.type != "InvoiceLines" && record.type != "Customers") {
      lines.PassedOver(i, "record type " + record.type + " is not posted to this back-end");
      continue;
    }
    posting.Refresh();
    int skipped = posting.lines_skipped();
    int changed = posting.customers_changed();
    if (record.type == "InvoiceLines") {
      posting.PostInvoiceLine(record, SaleLineOf(record));
      if (posting.lines_skipped() != skipped) {
        lines.Kept(i, "the invoice could not be written");
      } else {
        lines.Posted(i);
      }
    } else {
      posting.UpdateCustomer(CustomerChangeOf(record));
      if (posting.customers_changed() != changed) {
        lines.Posted(i);
      } else {
        lines.Rejected(i, "no such customer");
      }
    }
    posting.Remember();
  }
  posting.Sync();
}

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

namespace {

class AuroraDevicePosting : public Posting {
 public:
  void PostDevice(RunContext& ctx, DeviceLines& lines) override { PostAuroraLines(ctx, lines); }
};

}  // namespace

std::unique_ptr<Posting> NewAuroraPosting() { return std::make_unique<AuroraDevicePosting>(); }

}  // namespace lumbra
