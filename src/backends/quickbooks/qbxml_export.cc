#include "backends/quickbooks/qbxml_export.h"

#include <array>

#include "backends/quickbooks/qbxml_round_trip.h"
#include "backends/quickbooks/quickbooks.h"
#include "text/lines.h"
#include "backends/context/run_context.h"
#include "tables/device_tables.h"
#include "tables/table_writer.h"

namespace lumbra {
namespace {

// A response's lines, taken from the front through a cursor: a line ends at
// a line feed (a carriage return stays in it), and what follows the last
// line feed is no line.
class ResponseLines {
 public:
  explicit ResponseLines(std::string_view text) : text_(text) {}
  bool Next(std::string_view* line) {
    size_t lf = text_.find('\n', pos_);
    if (lf == std::string_view::npos) return false;
    *line = text_.substr(pos_, lf - pos_);
    pos_ = lf + 1;
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

bool StartsWith(std::string_view line, std::string_view tag) {
  return line.substr(0, tag.size()) == tag;
}

// The line less its first `front` and its last `back` characters. A line too
// short for both gives no value, and what it was to set keeps its value.
bool Inner(std::string_view line, size_t front, size_t back, std::string* value) {
  if (line.size() < front + back) return false;
  value->assign(line.substr(front, line.size() - front - back));
  return true;
}

// The value of a line that begins with tag: the line without the tag and
// without as many characters plus one at its end, the closing tag that is
// assumed to end the line.
bool TagValue(std::string_view line, std::string_view tag, std::string* value) {
  return Inner(line, tag.size(), tag.size() + 1, value);
}

// The record a scan is in: its row text, which starts as the record's name,
// and the value slots.
class RecordScan {
 public:
  explicit RecordScan(RunContext& ctx) : ctx_(ctx) {}

  void Start() {
    row_.clear();
    for (std::string& slot : slots_) slot.clear();
  }

  // A record without a name is not written.
  void Finish(int first, int last) {
    if (row_.empty()) return;
    for (int k = first; k <= last; ++k) {
      row_.push_back('\t');
      row_ += slots_[k];
    }
    ctx_.RowBuffer.Add(row_);
    row_.clear();
  }

  void Drop() { row_.clear(); }

  // The tests below take a line that begins with their tag (and answer
  // true), or leave it to the next test.
  bool Name(std::string_view line) {
    if (!StartsWith(line, "<Name>")) return false;
    TagValue(line, "<Name>", &row_);
    return true;
  }
  bool Set(std::string_view line, std::string_view tag, int k) {
    if (!StartsWith(line, tag)) return false;
    TagValue(line, tag, &slots_[k]);
    return true;
  }
  // Slot k is only set while it is empty.
  bool Fallback(std::string_view line, std::string_view tag, int k) {
    if (!StartsWith(line, tag)) return false;
    if (slots_[k].empty()) TagValue(line, tag, &slots_[k]);
    return true;
  }
  // Slot k becomes slot k, a blank and the value.
  bool Append(std::string_view line, std::string_view tag, int k) {
    std::string value;
    if (!StartsWith(line, tag)) return false;
    if (TagValue(line, tag, &value)) slots_[k] += " " + value;
    return true;
  }
  void SetSlot(int k, std::string value) { slots_[k] = std::move(value); }

 private:
  RunContext& ctx_;
  std::string row_;
  std::array<std::string, 11> slots_;
};

// The address and contact tests of the vendor and customer scans, in order.
bool TakeContactLine(RecordScan& record, std::string_view line) {
  return record.Set(line, "<Contact>", 1) || record.Set(line, "<Addr1>", 2) ||
         record.Set(line, "<Addr2>", 3) || record.Set(line, "<Addr3>", 4) ||
         record.Set(line, "<City>", 5) || record.Append(line, "<County>", 5) ||
         record.Set(line, "<Phone>", 6) || record.Set(line, "<Fax>", 7) ||
         record.Set(line, "<Email>", 8);
}

// The value tests of the item scan, in order. False when a vendor reference
// finds the response at its end.
bool TakeItemValue(RecordScan& record, ResponseLines& lines, std::string_view line) {
  if (record.Name(line) || record.Set(line, "<SalesDesc>", 0) ||
      record.Fallback(line, "<Desc>", 0) || record.Set(line, "<SalesPrice>", 1) ||
      record.Fallback(line, "<Price>", 1) || record.Set(line, "<PurchaseCost>", 2) ||
      record.Fallback(line, "<AverageCost>", 2)) {
    return true;
  }
  if (StartsWith(line, "<PrefVendorRef>")) {
    // The reference's ListID line, then its FullName line, whose tags
    // ("<FullName>", "</FullName>") come off.
    std::string_view list_id, full_name;
    if (!lines.Next(&list_id) || !lines.Next(&full_name)) return false;
    std::string vendor;
    if (Inner(full_name, 10, 11, &vendor)) record.SetSlot(3, std::move(vendor));
    return true;
  }
  record.Set(line, "<QuantityOnHand>", 4);
  return true;
}

// WriteTable leaves the table alone when RowBuffer is empty; the log says so.
void WriteScannedTable(RunContext& ctx, const char* table, const char* header) {
  if (ctx.RowBuffer.Count() == 0) {
    ctx.Log("qbXML export gave no rows, table " + MasterTablePath(table) + " left as it was");
    ctx.report.TableLeft(MasterTablePath(table), "the qbXML export gave no rows");
    return;
  }
  WriteTable(ctx, table, header);
}

}  // namespace

void ScanItemResponse(RunContext& ctx, std::string_view response) {
  ResponseLines lines(response);
  RecordScan record(ctx);
  std::string_view line;
  while (lines.Next(&line)) {
    if (line.empty() || line[0] != '<') continue;
    if (StartsWith(line, "<Item")) {  // every opening item tag
      record.Start();
    } else if (StartsWith(line, "</ItemNonInventoryRet>") ||
               StartsWith(line, "</ItemInventoryRet>")) {
      record.Finish(0, 4);
    } else if (StartsWith(line, "</Item")) {
      record.Drop();  // any other kind of item gives no row
    } else if (!TakeItemValue(record, lines, line)) {
      break;
    }
  }
}

void ScanVendorResponse(RunContext& ctx, std::string_view response) {
  ResponseLines lines(response);
  RecordScan record(ctx);
  std::string_view line;
  while (lines.Next(&line)) {
    if (StartsWith(line, "<VendorRet>")) {
      record.Start();
    } else if (StartsWith(line, "</VendorRet>")) {
      record.Finish(1, 8);
    } else {
      record.Name(line) || TakeContactLine(record, line);
    }
  }
}

void ScanCustomerResponse(RunContext& ctx, std::string_view response, std::string* sales_order) {
  ResponseLines lines(response);
  RecordScan record(ctx);
  std::string_view line;
  while (lines.Next(&line)) {
    AppendLine(sales_order, line);
    if (StartsWith(line, "<CustomerRet>")) {
      record.Start();
    } else if (StartsWith(line, "</CustomerRet>")) {
      record.Finish(0, 10);
    } else {
      record.Name(line) || record.Set(line, "<AccountNumber>", 0) ||
          TakeContactLine(record, line) || record.Set(line, "<TotalBalance>", 9) ||
          record.Set(line, "<CreditLimit>", 10);
    }
  }
}

void ExportQbxml(RunContext& ctx, const QbxmlProcessorOptions& options) {
  ctx.RowBuffer.Clear();
  std::string response = QbxmlRoundTrip(ctx, std::string(kItemQueryRequest), options);
  ScanItemResponse(ctx, response);
  WriteScannedTable(ctx, "StockItems", "Code\tDesc\tSell1\tLatest\tSupplier\tInstock");

  ctx.RowBuffer.Clear();
  response = QbxmlRoundTrip(ctx, std::string(kVendorQueryRequest), options);
  ScanVendorResponse(ctx, response);
  WriteScannedTable(ctx, "Suppliers", "Name\tContact\tAddr1\tAddr2\tAddr3\tCity\tPhone\tFax\tEmail");

  // "1\salesorder.txt" is replaced whatever the answer: a failed request
  // leaves it empty.
  ctx.RowBuffer.Clear();
  response = QbxmlRoundTrip(ctx, std::string(kInvoiceQueryRequest), options);
  std::string sales_order;
  sales_order.reserve(response.size() + response.size() / 16);
  ScanCustomerResponse(ctx, response, &sales_order);
  Status s = ctx.env->WriteFile(ctx.Path(kSalesOrderFile), sales_order);
  if (!s.ok()) ctx.Log(std::string(kSalesOrderFile) + " not written: " + s.ToString());
  WriteScannedTable(ctx, "Customers",
                    "Name\tAccount\tContact\tAddr1\tAddr2\tAddr3\tCity\tPhone\tFax\tEmail\tBalance\t"
                    "CreditLimit");
}

void ExportQuickBooksQbxml(RunContext& ctx) {
  ExportQbxml(ctx, QbxmlProcessorOptionsFromEnvironment(ctx.env));
}

}  // namespace lumbra
