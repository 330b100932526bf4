#include "backends/myob/myob_sale_files.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "backends/myob/myob.h"
#include "backends/myob/myob_text_export.h"
#include "intake/placed_file.h"
#include "intake/posting.h"
#include "intake/transaction_line.h"
#include "text/dates.h"
#include "text/lines.h"
#include "text/numbers.h"
#include "text/text_fields.h"
#include "backends/context/run_context.h"

namespace lumbra {

std::string FileNameSafe(std::string_view name) {
  std::string out(name);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool in_dot_pair =
        c == '.' && ((i + 1 < name.size() && name[i + 1] == '.') || (i > 0 && name[i - 1] == '.'));
    if (c < 0x20 || c == 0x7F || in_dot_pair ||
        std::string_view("/\\<>:\"|?*").find(static_cast<char>(c)) != std::string_view::npos) {
      out[i] = '_';
    }
  }
  return out;
}

std::string MyobImportFileName(std::string_view kind, const LocalTime& at,
                               std::string_view device_name) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d", at.year, at.month, at.day, at.hour,
                at.minute);
  return "Tamsel" + std::string(kind) + stamp + FileNameSafe(device_name) + ".TXT";
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Up to two digits at *pos; nothing when there is none.
std::optional<int> TwoDigitNumber(std::string_view s, size_t* pos) {
  size_t start = *pos;
  int n = 0;
  while (*pos < s.size() && *pos - start < 2 && IsDigit(s[*pos])) n = n * 10 + (s[(*pos)++] - '0');
  if (*pos == start) return std::nullopt;
  return n;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string DeviceTimeText(std::string_view value) {
  const std::string midnight = "00:00:00";
  size_t colon = value.find(':');
  if (colon == std::string_view::npos) return midnight;
  size_t pos = colon;
  while (pos > 0 && colon - pos < 2 && IsDigit(value[pos - 1])) --pos;
  if (pos > 0 && IsDigit(value[pos - 1])) return midnight;  // three or more digits
  std::optional<int> hour = TwoDigitNumber(value, &pos);
  if (!hour || pos != colon) return midnight;
  ++pos;
  std::optional<int> minute = TwoDigitNumber(value, &pos);
  if (!minute || (pos < value.size() && IsDigit(value[pos]))) return midnight;
  int second = 0;
  if (pos < value.size() && value[pos] == ':') {
    ++pos;
    std::optional<int> s = TwoDigitNumber(value, &pos);
    if (!s || (pos < value.size() && IsDigit(value[pos]))) return midnight;
    second = *s;
    // Fractions of a second are dropped.
    if (pos < value.size() && value[pos] == '.') {
      ++pos;
      while (pos < value.size() && IsDigit(value[pos])) ++pos;
    }
  }
  while (pos < value.size() && value[pos] == ' ') ++pos;
  int h = *hour;
  if (pos + 1 < value.size() && (Lower(value[pos]) == 'a' || Lower(value[pos]) == 'p') &&
      Lower(value[pos + 1]) == 'm') {
    if (h > 12) return midnight;
    bool pm = Lower(value[pos]) == 'p';
    h = h % 12 + (pm ? 12 : 0);
  }
  if (h > 23 || *minute > 59 || second > 59) return midnight;
  return FormatHhMmSs(h, *minute, second);
}

namespace {

// Beyond this many cents a float is a whole number of dollars anyway; such
// sizes take the general route.
constexpr double kExactCentsLimit = 1e15;

}  // namespace

std::string AmountText(float v) {
  const double cents = static_cast<double>(v) * 100.0;
  if (!(std::fabs(cents) < kExactCentsLimit)) return TwoDecimalText(v);
  // Half a cent away from zero, as every money text rounds.
  const long long c = std::llround(cents);
  const unsigned long long whole = static_cast<unsigned long long>(c < 0 ? -c : c);
  char buf[32];
  char* p = buf;
  if (c < 0) *p++ = '-';
  p = std::to_chars(p, buf + sizeof buf, whole / 100).ptr;
  *p++ = '.';
  *p++ = static_cast<char>('0' + whole % 100 / 10);
  *p++ = static_cast<char>('0' + whole % 10);
  return std::string(buf, p);
}

float RoundCentsToEven(float v) {
  const double cents = static_cast<double>(v) * 100.0;
  if (!(std::fabs(cents) < kExactCentsLimit)) {
    return static_cast<float>(Single(RoundHalfEven(v, 2)));
  }
  if (v == 0) return v;
  // The default rounding mode sends a tie to the even neighbour, and the
  // division gives the double nearest the rounded decimal.
  const float rounded = static_cast<float>(Single(std::nearbyint(cents) / 100.0));
  return rounded == 0 ? 0.0f : rounded;  // what rounds to zero has no sign
}

void FoldedNames::Build(const std::vector<std::string>& names) {
  folded_.clear();
  for (const std::string& name : names) {
    if (HasFoldedBytes(name)) folded_.try_emplace(FoldedAsDevicesSee(name), name);
  }
  if (folded_.empty()) return;
  for (const std::string& name : names) {
    if (!HasFoldedBytes(name)) folded_.erase(name);
  }
}

const std::string& FoldedNames::Spelling(const std::string& name) const {
  if (folded_.empty()) return name;
  auto it = folded_.find(name);
  return it == folded_.end() ? name : it->second;
}

namespace {

// ---------------------------------------------------------------------------
// Reference data from MYOB's own export files.

float SingleValue(std::string_view text) { return static_cast<float>(Single(ValueOf(text))); }

// Calls each_row for every line after the header line, until it returns
// false; reserve, when given, first learns about how many rows to expect. A
// file that cannot be read is logged and gives no rows.
template <typename EachRow>
void ForEachReferenceRow(RunContext& ctx, std::string_view kind, EachRow each_row,
                         const std::function<void(size_t)>& reserve = {}) {
  std::string text;
  std::string path = MyobExportFilePath(ctx, kind);
  Status s = ctx.env->ReadFile(path, &text);
  if (!s.ok()) {
    ctx.Log("MYOB reference file " + path + " not read: " + s.ToString());
    return;
  }
  LineReader lines(text);
  std::string_view line;
  if (!lines.Next(&line)) return;
  if (reserve) reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
  while (lines.Next(&line)) {
    TabFieldCursor fields(line);
    if (!each_row(fields)) break;
  }
}

// The names of the column titled "Co./Last Name" of CUST.TXT or EMPLOY.TXT,
// as the export to the devices reads them (trimmed; "*None" is no name).
std::vector<std::string> CardNames(RunContext& ctx, std::string_view kind) {
  std::vector<std::string> names;
  std::string text;
  if (!ctx.env->ReadFile(MyobExportFilePath(ctx, kind), &text).ok()) return names;
  LineReader lines(text);
  std::string_view line;
  if (!lines.Next(&line)) return names;
  TabFieldCursor header(line);
  std::string field;
  int column = 0;
  for (;; ++column) {
    header.Next(&field);
    std::string title = Trim(field);
    if (title.empty()) return names;
    if (title == "Co./Last Name") break;
  }
  while (lines.Next(&line)) {
    TabFieldCursor fields(line);
    fields.Skip(column + 1, &field);
    std::string name = Trim(field);
    if (!name.empty() && name != "*None") names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

MyobReference ReadMyobReference(RunContext& ctx, int edition) {
  MyobReference ref;
  ref.edition = edition;
  std::string field;
  ForEachReferenceRow(ctx, "NONCONTAXCODE", [&](TabFieldCursor& fields) {
    fields.Next(&field);
    if (field != "S") return true;
    fields.Skip(3, &field);
    ref.rate = SingleValue(field);
    return false;
  });
  // The item's tax code of a sale: field 27 of the item file, field 15 in
  // the shorter file of Business Basics.
  const int tax_code_field = edition == kMyobBusinessBasics1 ? 15 : 27;
  std::string number, name;
  std::vector<std::string> names;
  ForEachReferenceRow(ctx, "ITEM", [&](TabFieldCursor& fields) {
    fields.Next(&number);
    fields.Next(&name);
    fields.Skip(tax_code_field - 2, &field);
    ref.items.try_emplace(name, MyobReference::Item{number, field});
    if (HasFoldedBytes(name)) names.push_back(name);
    return true;
  }, [&](size_t rows) { ref.items.reserve(rows); });
  // Every item name is in the table; only those the coding folds can be
  // handed back in another spelling.
  ref.item_names.Build(names);
  names.clear();
  ForEachReferenceRow(ctx, "ACTIVITY", [&](TabFieldCursor& fields) {
    fields.Next(&number);
    fields.Next(&name);
    ref.activity_ids.try_emplace(name, number);
    if (HasFoldedBytes(name)) names.push_back(name);
    return true;
  }, [&](size_t rows) { ref.activity_ids.reserve(rows); });
  ref.activities.Build(names);
  ref.customers.Build(CardNames(ctx, "CUST"));
  ref.employees.Build(CardNames(ctx, "EMPLOY"));
  return ref;
}

namespace {

// ---------------------------------------------------------------------------
// One sale line or time record handed in by a device.

enum class RecordKind { kItemSale, kServiceSale, kTimeSlip };

struct SaleRecord {
  RecordKind kind = RecordKind::kItemSale;
  std::string date;  // dd/mm/yyyy; empty when field 1 holds no usable date
  std::string customer, ordnum, item, qty, discount, extend, note, jobno, freight_method,
      payment_type, amount_paid, promised, account_number, employee, activity;
  std::string price;  // "Sell1" less a leading "$", or "Hourlyrate"
  std::string total;  // "Extend" less a leading "$"
  std::string item_number;
  std::string tax_code = "S";
  std::string activity_id;
  std::string start_time = "00:00:00";
  std::string stop_time = "00:00:00";
};

std::string WithoutDollar(const std::string& value) {
  return !value.empty() && value[0] == '$' ? value.substr(1) : value;
}

// The row of a table by a name a device handed in: its own, or else that of
// the master name it is the folded form of. *spelling becomes the master's.
template <typename Table>
typename Table::const_iterator FindByName(const Table& table, const FoldedNames& names,
                                          const std::string& value, std::string* spelling) {
  auto it = table.find(value);
  if (it == table.end() && !names.empty()) it = table.find(names.Spelling(value));
  *spelling = it == table.end() ? value : it->first;
  return it;
}

SaleRecord ReadSaleRecord(const TransactionRecord& line, const MyobReference& ref) {
  SaleRecord r;
  if (line.date) r.date = FormatDdMmYyyy(*line.date);
  for (const auto& [name, value] : line.pairs) {
    if (name == "Customer") {
      r.customer = ref.customers.Spelling(value);
    } else if (name == "Ordnum") {
      r.ordnum = value;
    } else if (name == "Item") {
      if (auto it = FindByName(ref.items, ref.item_names, value, &r.item); it != ref.items.end()) {
        r.item_number = it->second.number;
        r.tax_code = it->second.tax_code;
      }
    } else if (name == "Sell1") {
      r.price = WithoutDollar(value);
    } else if (name == "Hourlyrate") {
      r.price = value;
    } else if (name == "Qty") {
      r.qty = value;
    } else if (name == "Discount") {
      r.discount = value;
    } else if (name == "Extend") {
      r.extend = value;
      r.total = WithoutDollar(value);
    } else if (name == "Note") {
      r.note = value;
    } else if (name == "Jobno") {
      r.jobno = value;
    } else if (name == "Freight method") {
      r.freight_method = value;
    } else if (name == "Paymenttype") {
      r.payment_type = value;
    } else if (name == "Amountpaid") {
      r.amount_paid = value;
    } else if (name == "Promised") {
      r.promised = value;
    } else if (name == "Account Number") {
      r.account_number = value;
      r.kind = RecordKind::kServiceSale;
    } else if (name == "Employee") {
      r.employee = ref.employees.Spelling(value);
      r.kind = RecordKind::kTimeSlip;
    } else if (name == "Activity") {
      auto it = FindByName(ref.activity_ids, ref.activities, value, &r.activity);
      if (it != ref.activity_ids.end()) r.activity_id = it->second;
    } else if (name == "Start") {
      r.start_time = DeviceTimeText(value);
    } else if (name == "Finish") {
      r.stop_time = DeviceTimeText(value);
    }
  }
  // A line without a total is priced here: quantity times price, less the
  // discount percentage, in single precision.
  if (ValueOf(r.total) == 0) {
    float total = SingleValue(r.qty) * SingleValue(r.price);
    float discount = SingleValue(r.discount);
    if (discount != 0) total = total * (100.0f - discount) / 100.0f;
    r.total = AmountText(total);
  }
  return r;
}

// ---------------------------------------------------------------------------
// The import files.

class GstRate {
 public:
  explicit GstRate(float rate) : rate_(rate) {}
  // x with GST added, rounded to cents (a tie to the even cent).
  float Inclusive(float x) const { return RoundCentsToEven(x * (100.0f + rate_) / 100.0f); }

 private:
  float rate_;
};

// A row of an import file, its fields joined by tabs.
class Row {
 public:
  Row& operator<<(std::string_view field) {
    if (!first_) text_.push_back('\t');
    text_ += field;
    first_ = false;
    return *this;
  }
  Row& Empty(int n) {
    for (int i = 0; i < n; ++i) *this << "";
    return *this;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  bool first_ = true;
};

using Titles = std::span<const std::string_view>;

std::string JoinTitles(std::initializer_list<Titles> parts) {
  Row row;
  for (Titles part : parts) {
    for (std::string_view title : part) row << title;
  }
  return row.text();
}

// Header rows, MYOB's titles letter for letter (note the two spaces in
// "Invoice  No." and "Account  No.").
constexpr std::string_view kSaleStart[] = {
    "Co./Last Name", "First Name", "Addr 1 - Line 1", "- Line 2", "- Line 3", "- Line 4",
    "Invoice  No.",  "Date",       "Customer PO",     "Ship Via"};
constexpr std::string_view kAlreadyPrinted[] = {"Already Printed"};
constexpr std::string_view kDeliveryStatus[] = {"Delivery Status"};
constexpr std::string_view kLongItemColumns[] = {"Item Number", "Quantity",      "Description",
                                                 "Price",       "Inc-GST Price", "Discount",
                                                 "Total",       "Inc-GST Total"};
constexpr std::string_view kLongServiceColumns[] = {"Description", "Account  No.", "Amount",
                                                    "Inc-GST Amount"};
constexpr std::string_view kLongSaleMiddle[] = {"Job",
                                                "Comment",
                                                "Journal Memo",
                                                "Salesperson Last Name",
                                                "Salesperson First Name",
                                                "Shipping Date",
                                                "GST Code",
                                                "GST Amount",
                                                "Freight Amount",
                                                "Freight GST Code",
                                                "Freight GST Amount",
                                                "Sale Status"};
constexpr std::string_view kCurrencyColumns[] = {"Currency Code", "Exchange Rate"};
constexpr std::string_view kLongSaleEnd[] = {
    "Terms - Payment is Due", "- Discount Days", "- Balance Due Days", "- % Discount",
    "- % Monthly Charge",     "Referral Source", "Amount Paid",        "Payment Method",
    "Payment Notes",          "Name on Card",    "Card Number",        "Expiry Date",
    "Authorisation Code",     "Cheque Number",   "Inclusive",          "Category"};
constexpr std::string_view kShortItemColumns[] = {"Item Number", "Quantity", "Description", "Price",
                                                  "Total"};
constexpr std::string_view kShortServiceColumns[] = {"Description", "Account  No.", "Amount"};
constexpr std::string_view kShortSaleMiddle[] = {
    "Job",        "Comment",        "Journal Memo",     "Promised Date",      "GST Code",
    "GST Amount", "Freight Amount", "Freight GST Code", "Freight GST Amount", "Sale Status"};
constexpr std::string_view kShortSaleEnd[] = {
    "Terms - Payment is Due", "- Balance Due Days", "Amount Paid", "Payment Method",
    "Payment Notes",          "Name on Card",       "Card Number", "Expiry Date",
    "Authorisation Code",     "Cheque Number",      "Inclusive"};
constexpr std::string_view kSlipColumns[] = {"Emp. Co./Last Name",
                                             "Emp. First Name",
                                             "Slip ID",
                                             "Date",
                                             "Activity ID",
                                             "Cust. Co./Last Name",
                                             "Cust. First Name",
                                             "Units",
                                             "Rate",
                                             "Job",
                                             "Notes",
                                             "Adjustment Dollars",
                                             "Adjustment Units",
                                             "Already Billed Dollars",
                                             "Already Billed Units",
                                             "Start Time",
                                             "Stop Time"};

// How an edition lays out its sale files.
struct Layout {
  bool is_short;
  bool currency;

  static Layout Of(int edition) {
    return {edition == kMyobBusinessBasics1, edition == kMyobPremier9};
  }
  std::string ItemSaleHeader() const {
    if (is_short) {
      return JoinTitles(
          {kSaleStart, kAlreadyPrinted, kShortItemColumns, kShortSaleMiddle, kShortSaleEnd});
    }
    return JoinTitles({kSaleStart, kDeliveryStatus, kLongItemColumns, kLongSaleMiddle,
                       currency ? Titles(kCurrencyColumns) : Titles(), kLongSaleEnd});
  }
  std::string ServiceSaleHeader() const {
    if (is_short) {
      return JoinTitles(
          {kSaleStart, kAlreadyPrinted, kShortServiceColumns, kShortSaleMiddle, kShortSaleEnd});
    }
    return JoinTitles({kSaleStart, kDeliveryStatus, kLongServiceColumns, kLongSaleMiddle,
                       currency ? Titles(kCurrencyColumns) : Titles(), kLongSaleEnd});
  }
  int TermsColumns() const { return is_short ? 2 : 6; }
  int CurrencyColumns() const { return currency ? 2 : 0; }
};

std::string ItemSaleRow(const SaleRecord& r, const Layout& layout, const GstRate& gst) {
  const float total = SingleValue(r.total);
  const float inclusive_total = gst.Inclusive(total);
  const bool standard = r.tax_code == "S";
  Row row;
  row << r.customer;
  row.Empty(6) << r.date << r.ordnum << r.freight_method << "" << r.item_number << r.qty << r.item
               << r.price;
  if (layout.is_short) {
    row << r.total << r.jobno << "" << r.note << r.promised << r.tax_code
        << AmountText(inclusive_total - total);
  } else {
    const float price = SingleValue(r.price);
    row << AmountText(standard ? gst.Inclusive(price) : price) << r.discount << r.total
        << AmountText(standard ? inclusive_total : total) << r.jobno << "" << r.note << ""
        << "" << r.promised << r.tax_code << AmountText(standard ? inclusive_total - total : 0.0f);
  }
  row.Empty(4).Empty(layout.CurrencyColumns()).Empty(layout.TermsColumns());
  row << r.amount_paid << r.payment_type;
  return row.text();
}

std::string ServiceSaleRow(const SaleRecord& r, const Layout& layout, const GstRate& gst) {
  const float total = SingleValue(r.total);
  const float inclusive_total = gst.Inclusive(total);
  Row row;
  row << r.customer;
  row.Empty(6) << r.date << r.ordnum << ""
               << "" << r.note << r.account_number << r.extend;
  if (layout.is_short) {
    row << r.jobno << ""
        << ""
        << "";
  } else {
    row << AmountText(inclusive_total) << r.jobno << ""
        << ""
        << ""
        << ""
        << "";
  }
  row << "S" << AmountText(inclusive_total - total);
  row.Empty(4).Empty(layout.CurrencyColumns()).Empty(layout.TermsColumns());
  row << r.amount_paid << (r.payment_type.empty() ? "Other" : r.payment_type);
  return row.text();
}

std::string TimeSlipRow(const SaleRecord& r) {
  Row row;
  row << r.employee << ""
      << "" << r.date << r.activity_id << r.customer << "" << r.qty << r.price << r.jobno << r.note;
  row.Empty(4) << r.start_time << r.stop_time;
  return row.text();
}

// One import file, built whole in memory.
class ImportFile {
 public:
  ImportFile(std::string_view kind, const std::string& header, bool separate_sales)
      : kind_(kind), separate_sales_(separate_sales) {
    AppendLine(&bytes_, header);
  }

  // Rows of one sale (same customer and order number) stay together; an
  // empty line goes before each further sale.
  void Add(size_t line, const std::string& sale_key, const std::string& row) {
    if (separate_sales_ && !lines_.empty() && sale_key != previous_key_) AppendLine(&bytes_, "");
    AppendLine(&bytes_, row);
    previous_key_ = sale_key;
    lines_.push_back(line);
  }

  bool empty() const { return lines_.empty(); }

  // The file to place, under a name not in use. A name in use, by an earlier
  // pass or another device of the same name, belongs to a file MYOB may not
  // have imported yet: it gets a number.
  FileToPlace Take(RunContext& ctx, const std::string& folder, const LocalTime& at,
                   std::string_view device_name) {
    const std::string name = MyobImportFileName(kind_, at, device_name);
    std::string path = JoinPath(folder, name);
    const size_t dot = name.size() - 4;  // before ".TXT"
    for (int n = 2; ctx.env->FileExists(path) ||
                    ctx.env->FileExists(path + std::string(kPlacedFileSuffix));
         ++n) {
      path = JoinPath(folder, name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot));
    }
    return FileToPlace{path, std::move(bytes_), std::move(lines_)};
  }

 private:
  std::string_view kind_;
  std::string bytes_;
  bool separate_sales_;
  std::vector<size_t> lines_;
  std::string previous_key_;
};

}  // namespace

void WriteMyobSaleFiles(RunContext& ctx, const MyobReference& ref, DeviceLines& lines) {
  const Layout layout = Layout::Of(ref.edition);
  const GstRate gst(ref.rate);
  ImportFile item_sales("ITEMSALE", layout.ItemSaleHeader(), true);
  ImportFile service_sales("SERVSALE", layout.ServiceSaleHeader(), true);
  ImportFile time_slips("SLIPS", JoinTitles({kSlipColumns}), false);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines.pending(i)) continue;
    TransactionRecord line = ParseTransactionLine(lines.line(i));
    if (line.type != "InvoiceLines" && line.type != "Jobs") {
      lines.PassedOver(i, "MYOB imports no " + line.type + " records");
      continue;
    }
    SaleRecord r = ReadSaleRecord(line, ref);
    switch (r.kind) {
      case RecordKind::kItemSale:
        item_sales.Add(i, r.customer + r.ordnum, ItemSaleRow(r, layout, gst));
        break;
      case RecordKind::kServiceSale:
        service_sales.Add(i, r.customer + r.ordnum, ServiceSaleRow(r, layout, gst));
        break;
      case RecordKind::kTimeSlip:
        time_slips.Add(i, "", TimeSlipRow(r));
        break;
    }
  }
  const int device = lines.device();
  std::string_view device_name = device >= 0 && device < static_cast<int>(ctx.DeviceNames.size())
                                     ? ctx.DeviceNames[device]
                                     : std::string_view();
  const std::string folder = MyobDataFolder(ctx);
  const LocalTime now = ctx.env->Now();
  std::vector<FileToPlace> files;
  for (ImportFile* f : {&item_sales, &service_sales, &time_slips}) {
    if (!f->empty()) files.push_back(f->Take(ctx, folder, now, device_name));
  }
  const std::vector<Status> placed = PostLinesAsFiles(ctx, lines, files);
  for (size_t k = 0; k < files.size(); ++k) {
    const std::string rows = std::to_string(files[k].lines.size());
    ctx.Log("MYOB import file " + files[k].path +
            (placed[k].ok() ? " written: " + rows + " rows"
                            : " not written, its " + rows + " lines kept for the next pass: " +
                                  placed[k].ToString()));
  }
}

}  // namespace lumbra
