#include "backends/quickbooks/iif_export.h"

#include <map>
#include <unordered_map>
#include <vector>

#include "backends/quickbooks/quickbooks.h"
#include "text/lines.h"
#include "backends/context/run_context.h"
#include "backends/context/run_buffers.h"
#include "text/text_fields.h"
#include "tables/device_tables.h"
#include "tables/table_writer.h"

namespace lumbra {
namespace {

// The fields of one line by position, 1 being the first (a record's kind),
// as SplitField cuts them one after another: at every tab, every double
// quote dropped, empty past the end of the line. The line is cut once, so a
// wide record costs no more than its length whichever fields are taken.
class IifFields {
 public:
  void Cut(std::string_view line) {
    raw_.clear();
    for (;;) {
      size_t tab = line.find('\t');
      raw_.push_back(line.substr(0, tab));
      if (tab == std::string_view::npos) break;
      line.remove_prefix(tab + 1);
    }
  }

  std::string operator[](size_t position) const {
    if (position < 1 || position > raw_.size()) return std::string();
    std::string_view raw = raw_[position - 1];
    std::string field;
    field.reserve(raw.size());
    for (char c : raw) {
      if (c != '"') field.push_back(c);
    }
    return field;
  }

 private:
  std::vector<std::string_view> raw_;
};

// Where a section's rows go when the section ends, by section kind.
struct SectionTable {
  std::string_view kind;
  const char* table;
  const char* header;
};

const SectionTable kSectionTables[] = {
    {"ACCNT", "Accounts", "Account Number\tAccount Name"},
    {"CUST", "Customers",
     "Name\tAccount\tContact1\tAddress1\tDelivery1\tPhone\tFax\tMobile\tEmail\tNotes\tTerms\t"
     "Current"},
    {"EMP", "Employee", "Employee\t"},
    {"INVITEM", "StockItems",
     "Code\tDesc\tInstock\tSell1\tLatest\tUnit\tBin\tSupplier\tNotes\tBarcode"},
    {"SHIPMETH", "Freight", "Freighttype\t"},
    {"PAYMETH", "PaymentType", "Paymenttype\t"},
    {"VEND", "Suppliers", "Name\tAccount\tAddr1\tContact1\tPhone\tFax\tMobile\tEmail\tNotes"},
};

// An "INVITEM" section writes a second table, from SideBuffer.
constexpr const char* kActivityTable = "Activity";
constexpr const char* kActivityHeader = "Code\tDescription\tHourlyrate";

class IifSectionReader {
 public:
  explicit IifSectionReader(RunContext& ctx) : ctx_(ctx) {}

  const std::string& kind() const { return kind_; }

  void Handle(std::string_view line) {
    fields_.Cut(line);
    if (!line.empty() && line[0] == '!') {
      StartSection();
    } else {
      AddRecord();
    }
  }

  // Writes each table as the last section that wrote it left it. A file may
  // repeat a section's "!" line before every record, so tables are written
  // once, here, and not at every section's end.
  void WriteTables() {
    for (const SectionTable& t : kSectionTables) {
      WriteFinalTable(t.table, t.header, t.kind);
      if (t.kind == "INVITEM") WriteFinalTable(kActivityTable, kActivityHeader, t.kind);
    }
  }

 private:
  // Ends the current section and makes the line's kind current. Rows
  // gathered before the first "!" line are dropped here unwritten.
  void StartSection() {
    std::string next = fields_[1].substr(1);
    if (!kind_.empty()) EndSection();
    ctx_.RowBuffer.Clear();
    kind_ = std::move(next);
  }

  // A section of ours that gave rows is what its table is to hold, until a
  // later section of its kind gives rows; one without rows leaves the table
  // as it was.
  void EndSection() {
    for (const SectionTable& t : kSectionTables) {
      if (t.kind != kind_) continue;
      if (ctx_.RowBuffer.Count() > 0) {
        final_rows_[t.table] = std::move(ctx_.RowBuffer);
        ctx_.RowBuffer = SortedRows();
      }
      // The service items of the whole file so far, those before the first
      // "!" line and of earlier INVITEM sections included.
      if (kind_ == "INVITEM" && ctx_.SideBuffer.Count() > 0) {
        activity_written_ = true;
        services_after_.clear();
      }
      return;
    }
  }

  void WriteFinalTable(const char* table, const char* header, std::string_view kind) {
    if (table == std::string_view(kActivityTable)) {
      if (!activity_written_) return LogNoRows(table, kind);
      FillActivityRows();
    } else {
      auto it = final_rows_.find(table);
      if (it == final_rows_.end()) return LogNoRows(table, kind);
      ctx_.RowBuffer = std::move(it->second);
    }
    WriteTable(ctx_, table, header);
  }

  // The service items as the last INVITEM section's end saw them: all but
  // those that came after it.
  void FillActivityRows() {
    if (services_after_.empty()) return CopySideBuffer(ctx_);
    std::unordered_map<std::string, size_t> later;
    for (const std::string& row : services_after_) ++later[row];
    ctx_.RowBuffer.Clear();
    for (size_t i = 0; i < ctx_.SideBuffer.Count(); ++i) {
      std::string row(ctx_.SideBuffer.At(i));
      auto it = later.find(row);
      if (it != later.end() && it->second > 0) {
        --it->second;
        continue;
      }
      ctx_.RowBuffer.Add(row);
    }
  }

  void LogNoRows(const char* table, std::string_view kind) {
    ctx_.Log("IIF section " + std::string(kind) + " gave no rows, table " +
             MasterTablePath(table) + " left as it was");
  }

  // The record's kind alone decides; the section it stands in does not.
  void AddRecord() {
    const IifFields& f = fields_;
    std::string kind = f[1];
    if (kind == "ACCNT") {
      // Income accounts only, account number first.
      if (f[5] == "INC") ctx_.RowBuffer.Add(f[8] + "\t" + f[2]);
    } else if (kind == "CUST") {
      std::string address = Trim(f[6] + " " + f[7] + " " + f[8]);
      std::string delivery = Trim(f[10] + " " + f[11] + " " + f[12]);
      if (delivery.empty()) delivery = address;
      ctx_.RowBuffer.Add(f[2] + "\t" + f[3] + "\t" + f[20] + "\t" + address + "\t" + delivery +
                         "\t" + f[15] + "\t" + f[17] + "\t" + f[16] + "\t" + f[18] + "\t" + f[19] +
                         "\t" + f[23] + "\t" + f[60]);
    } else if (kind == "EMP" || kind == "SHIPMETH" || kind == "PAYMETH") {
      ctx_.RowBuffer.Add(f[2]);
    } else if (kind == "INVITEM") {
      if (f[5] == "SERV") {
        std::string row = f[2] + "\t" + f[6] + "\t" + f[13] + "\t";
        ctx_.SideBuffer.Add(row);
        services_after_.push_back(std::move(row));
      } else {
        ctx_.RowBuffer.Add(f[2] + "\t" + f[6] + "\t" + f[11] + "\t" + f[13] + "\t" + f[15] + "\t" +
                           f[39] + "\t" + f[52] + "\t" + f[53] + "\t" + f[57] + "\t" + f[35]);
      }
    } else if (kind == "VEND") {
      if (f[11] != "Supplies") return;
      // Name, account and address are trimmed as one text: blanks before
      // the name and after the address go, blanks around the tabs stay.
      std::string row = Trim(f[2] + "\t" + f[3] + "\t" + f[6] + " " + f[7] + " " + f[8]);
      ctx_.RowBuffer.Add(row + "\t" + f[12] + "\t" + f[14] + "\t" + f[16] + "\t" + f[15] + "\t" +
                         f[17] + "\t" + f[18]);
    }
  }

  RunContext& ctx_;
  std::string kind_;
  IifFields fields_;
  // By table: the rows of the last section that gave it rows.
  std::map<std::string_view, SortedRows> final_rows_;
  // Whether an INVITEM section's end found service items, and those added
  // to SideBuffer since the last such end.
  bool activity_written_ = false;
  std::vector<std::string> services_after_;
};

}  // namespace

std::string IifListFilePath(const RunContext& ctx) {
  return ctx.Path(ctx.DataPath + "\\" + std::string(kIifListFileName));
}

void ReadIifSections(RunContext& ctx, std::string_view text) {
  LineReader lines(text);
  std::string_view line;
  std::string_view last;  // stays in the line buffer when a read fails
  for (int i = 0; i < 2 && lines.Next(&line); ++i) last = line;
  if (lines.Next(&line)) last = line;
  IifSectionReader reader(ctx);
  reader.Handle(last);
  while (lines.Next(&line)) reader.Handle(line);
  // The end of the file ends the last section like a "!" line of its kind.
  reader.Handle("!" + reader.kind());
  reader.WriteTables();
}

void ExportQuickBooksIif(RunContext& ctx) {
  std::string path = IifListFilePath(ctx);
  std::string text;
  Status s = ctx.env->ReadFile(path, &text);
  if (s.ok()) {
    ReadIifSections(ctx, text);
  } else {
    ctx.LogFailure(s.IsNotFound() ? Trouble::kDataMissing : Trouble::kOther,
                   "IIF list file not read, list tables left as they were: " + s.ToString());
  }
  WriteHeaderOnlyInvoiceTables(ctx);
}

}  // namespace lumbra
