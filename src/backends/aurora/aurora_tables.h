// What the Aurora export and posting share: where the back-end's tables
// lie, reading their fields as the device tables want them, and writing a
// device table the way this back-end does.
#ifndef LUMBRA_BACKENDS_AURORA_AURORA_TABLES_H_
#define LUMBRA_BACKENDS_AURORA_AURORA_TABLES_H_

#include <functional>
#include <string>
#include <string_view>

namespace lumbra {

struct RunContext;
class TableEngine;

// The table files under DataPath, as the accounting package names them.
inline constexpr std::string_view kCustomerTable = "\\DMASTER.DBF";
inline constexpr std::string_view kBalanceTable = "\\STKBALS.DBF";
inline constexpr std::string_view kStockTable = "\\STOCK.DBF";
inline constexpr std::string_view kInvoiceTable = "\\INVIDX.DBF";
inline constexpr std::string_view kInvoiceLineTable = "\\OLDINV.DBF";
inline constexpr std::string_view kSupplierTable = "\\CMASTER.DBF";
inline constexpr std::string_view kCodeTable = "\\TABLES.DBF";
inline constexpr std::string_view kCounterTable = "\\Flags.dbf";

// DataPath followed by the file literal, resolved against the working
// folder.
std::string AuroraTablePath(const RunContext& ctx, std::string_view file_literal);

// The field of the current record, trimmed of blanks.
std::string TrimmedField(TableEngine& engine, const char* field);

// Three address lines, each trimmed, joined by single blanks; both blanks
// are always there, so empty lines leave doubled or trailing blanks.
std::string JoinedAddress(TableEngine& engine, const char* line1, const char* line2,
                          const char* line3);

// A device table row built field by field, the fields joined by tabs.
class DeviceRow {
 public:
  void Clear() {
    text_.clear();
    fields_ = 0;
  }
  DeviceRow& Add(std::string_view value) {
    if (fields_++ > 0) text_.push_back('\t');
    text_.append(value);
    return *this;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  int fields_ = 0;
};

// Opens the table read-only with deleted records passed over and calls
// each_record once per record, top to bottom; then closes it. A table that
// cannot be opened has no records (the engine logs why). Returns whether
// the table was opened.
bool ScanTable(TableEngine& engine, const std::string& path, const std::string& alias,
               const std::function<void()>& each_record);

// Writes "1\<name>.dat" under the working folder: the coded header, then
// every row of RowBuffer in its order, repeated rows included. The header
// is written even when RowBuffer is empty.
void WriteAuroraDeviceTable(RunContext& ctx, std::string_view name, std::string_view header);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_AURORA_TABLES_H_
