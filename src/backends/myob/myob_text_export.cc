#include "backends/myob/myob_text_export.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "backends/myob/myob.h"
#include "platform/file_case.h"
#include "text/lines.h"
#include "backends/context/run_context.h"
#include "text/text_fields.h"
#include "tables/device_tables.h"
#include "tables/table_writer.h"

namespace lumbra {

std::string_view TabFieldCursor::Cut() {
  if (used_up_) return {};
  size_t tab = rest_.find('\t');
  std::string_view cut = rest_.substr(0, tab);
  if (tab == std::string_view::npos) {
    used_up_ = true;
    rest_ = {};
  } else {
    rest_.remove_prefix(tab + 1);
  }
  return cut;
}

void TabFieldCursor::Next(std::string* field) {
  std::string_view cut = Cut();
  if (cut.find('"') == std::string_view::npos) {
    field->assign(cut);
    return;
  }
  field->clear();
  for (char c : cut) {
    if (c != '"') field->push_back(c);
  }
}

void TabFieldCursor::Skip(int n, std::string* field) {
  if (n < 1) return;
  for (int i = 1; i < n; ++i) Cut();
  Next(field);
}

std::string MyobDataFolder(const RunContext& ctx) {
  std::string folder = ctx.Path(ctx.DataPath), found;
  return FindPathIgnoringCase(ctx.env, folder, &found) ? found : folder;
}

std::string MyobExportFilePath(const RunContext& ctx, std::string_view kind) {
  std::string path = ctx.Path(ctx.DataPath + "\\" + std::string(kind) + ".TXT"), found;
  return FindPathIgnoringCase(ctx.env, path, &found) ? found : path;
}

Status ReadMyobExportFile(RunContext& ctx, const MyobColumnChoice& choice, bool keep_rows,
                          size_t* rows_added) {
  constexpr int kSlots = MyobColumnChoice::kSlots;
  if (!keep_rows) ctx.RowBuffer.Clear();
  if (rows_added != nullptr) *rows_added = 0;

  std::string text;
  Status s = ctx.env->ReadFile(MyobExportFilePath(ctx, choice.kind), &text);
  if (!s.ok()) return s;
  LineReader lines(text);
  std::string_view line;
  if (!lines.Next(&line)) return Status::OK();

  // Header: column c of the file feeds slot column_slot[c] - 1; 0 when its
  // title is not wanted. The titles end at the first empty one.
  std::array<int, kSlots> column_slot{};
  int header_count = 0;
  std::string field;
  TabFieldCursor header(line);
  for (; header_count < kSlots; ++header_count) {
    header.Next(&field);
    std::string title = Trim(field);
    if (title.empty()) break;
    for (int slot = 0; slot < kSlots; ++slot) {
      if (choice.titles[slot] == title) {
        column_slot[header_count] = slot + 1;
        break;
      }
    }
  }
  // A row holds the values 0 to H; with a full header of 100 titles it ends
  // after the last slot.
  const int last_value = std::min(header_count, kSlots - 1);
  const bool accounts = choice.kind == "ACCOUNTS";

  std::array<std::string, kSlots> values;
  std::string row;
  size_t added = 0;
  while (lines.Next(&line)) {
    for (std::string& value : values) value.clear();
    TabFieldCursor fields(line);
    // Columns past the header's titles are never wanted, so cutting stops
    // there.
    for (int c = 0; c < header_count; ++c) {
      fields.Next(&field);
      int slot = column_slot[c] - 1;
      if (slot < 0) continue;
      std::string& value = values[slot];
      if (value.empty()) value = Trim(field);
      if (value == "*None") value.clear();
      // The spanned columns belong to this value and are not read again as
      // columns of their own.
      for (int i = 0; i < choice.spans[slot]; ++i) {
        fields.Next(&field);
        value.push_back(' ');
        value += Trim(field);
        ++c;
      }
    }
    row.clear();
    for (int i = 0; i <= last_value; ++i) {
      row += values[i];
      row.push_back('\t');
    }
    // Only income accounts (numbers beginning with "4") that are not header
    // accounts reach the devices.
    if (accounts && !(row[0] == '4' && values[2] != "H")) continue;
    ctx.RowBuffer.Add(row);
    ++added;
  }
  if (rows_added != nullptr) *rows_added = added;
  return Status::OK();
}

namespace {

struct WantedColumn {
  const char* title;
  int span = 0;
};

struct ExportTable {
  const char* kind;
  std::initializer_list<WantedColumn> columns;
  const char* table;
  const char* header;
};

// The titles are MYOB's own, letter for letter: the "- " titles are the
// indented continuation titles of an address block, and the phone and fax
// titles have two spaces before "No.".
const ExportTable kExportTables[] = {
    {"CUST",
     {{"Co./Last Name"},
      {"Card ID"},
      {"- Contact Name"},
      {"Addr 1 - Line 1", 2},
      {"- Phone  No. 1"},
      {"- Fax  No."},
      {"- Phone  No. 2"},
      {"- Email"},
      {"Notes"}},
     "Customers",
     "Name\tAccount\tContact1\tAddress Delivery\tPhone\tFax\tMobile\tEmail\tNotes"},
    {"ITEM",
     {{"Item Number"},
      {"Item Name"},
      {"Selling Price"},
      {"Sell Unit Measure"},
      {"Description"},
      {"Primary Supplier"}},
     "StockItems",
     "Code\tDesc\tSell1\tUnit\tNotes\tSupplier"},
    {"SUPPLIERS",
     {{"Co./Last Name"},
      {"Card ID"},
      {"Addr 1 - Line 1", 2},
      {"- Contact Name"},
      {"- Phone  No. 1"},
      {"- Fax  No."},
      {"- Phone  No. 2"},
      {"- Email"},
      {"Notes"}},
     "Suppliers",
     "Name\tAccount\tAddr1\tContact1\tPhone\tFax\tMobile\tEmail\tNotes"},
    {"ACTIVITY",
     {{"Activity ID"}, {"Activity Name"}, {"Activity Rate"}},
     "Activity",
     "Code\tDescription\tHourlyrate"},
    {"JOBS",
     {{"Job Number"}, {"Job Name"}, {"Start Date"}, {"Finish Date"}, {"Linked Customer"}},
     "Jobs",
     "Jobno\tName\tStart\tFinish\tCustomer"},
    {"EMPLOY", {{"Co./Last Name"}}, "Employee", "Employee\t"},
    {"ACCOUNTS",
     {{"Account Number"}, {"Account Name"}, {"Header"}},
     "Accounts",
     "Account Number\tAccount Name"},
};

void ExportTableFromFile(RunContext& ctx, const ExportTable& t) {
  // Every table starts from a clean choice: nothing of the one before
  // carries over, also when that one gave no rows.
  MyobColumnChoice choice;
  choice.kind = t.kind;
  int slot = 0;
  for (const WantedColumn& column : t.columns) {
    choice.titles[slot] = column.title;
    choice.spans[slot] = column.span;
    ++slot;
  }
  size_t rows = 0;
  Status s = ReadMyobExportFile(ctx, choice, false, &rows);
  std::string target = MasterTablePath(t.table);
  if (!s.ok()) {
    ctx.Log("MYOB export file " + MyobExportFilePath(ctx, t.kind) + " not read, table " + target +
            " left as it was: " + s.ToString());
    ctx.report.TableLeft(target, std::string(t.kind) + ".TXT not read: " + s.ToString());
    return;
  }
  if (rows == 0) {
    ctx.Log("MYOB export file " + MyobExportFilePath(ctx, t.kind) + " gave no rows, table " +
            target + " left as it was");
    ctx.report.TableLeft(target, std::string(t.kind) + ".TXT gave no rows");
    return;
  }
  WriteTable(ctx, t.table, t.header);
}

}  // namespace

void ExportMyobTextFiles(RunContext& ctx) {
  std::string folder = MyobDataFolder(ctx);
  if (!ctx.env->DirExists(folder)) {
    ctx.LogFailure(Trouble::kDataMissing, "MYOB data folder " + folder +
                                              " not found; the devices keep their tables");
  }
  for (const ExportTable& t : kExportTables) ExportTableFromFile(ctx, t);
  // The export files carry no invoices: the devices get the two invoice
  // tables with their header rows only.
  WriteHeaderOnlyInvoiceTables(ctx);
}

}  // namespace lumbra
