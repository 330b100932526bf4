// The device tables: one coded text file per table, "<name>.dat", in folder
// "1\" (the master copies) and in every device folder "2\" to "99\". Line 1
// is the header row, every further line a data row; each line is the tab-
// joined fields coded as the devices read them (see EncodeLine), ended by
// CR LF.
#ifndef LUMBRA_TABLES_DEVICE_TABLES_H_
#define LUMBRA_TABLES_DEVICE_TABLES_H_

#include <array>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace lumbra {

class Env;

// The tables the run copies to every device folder, in copying order.
inline constexpr std::array<std::string_view, 11> kStandardTables = {
    "Accounts", "Activity", "Customers",   "Employee",   "Freight",  "InvoiceHeader",
    "InvoiceLines", "Jobs", "PaymentType", "StockItems", "Suppliers"};

// "1\<name>.dat".
std::string MasterTablePath(std::string_view name);

// Device numbers are 1 to 99; folder "1\" holds the master tables.
inline constexpr int kFirstDevice = 1;
inline constexpr int kLastDevice = 99;

// Builds a device table file in memory, line by line, and saves it whole, so
// a device never finds a half-written table.
class DeviceTableFile {
 public:
  // Codes the tab-joined line and adds it.
  void AddLine(std::string_view line);
  size_t line_count() const { return lines_; }
  const std::string& bytes() const { return bytes_; }
  // Replaces the file at path; on failure an older file stays as it was.
  Status Save(Env* env, const std::string& path) const;

 private:
  std::string bytes_;
  size_t lines_ = 0;
};

}  // namespace lumbra

#endif  // LUMBRA_TABLES_DEVICE_TABLES_H_
