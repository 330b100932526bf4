// Reading MYOB's tab-delimited text export files ("CUST.TXT", "ITEM.TXT",
// ...) under DataPath. The export turns seven of them into device tables,
// choosing columns by the titles of each file's header line rather than by
// position; the sale import files (myob_sale_files.h) read three of them for
// item numbers, activity IDs and the GST rate.
#ifndef LUMBRA_BACKENDS_MYOB_MYOB_TEXT_EXPORT_H_
#define LUMBRA_BACKENDS_MYOB_MYOB_TEXT_EXPORT_H_

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace lumbra {

struct RunContext;

// Cuts the tab-separated fields of one line from left to right the way
// SplitField does (every double quote dropped; once the line is used up,
// every further field is empty), without rewriting the rest of the line, so
// a wide line costs no more than its length.
class TabFieldCursor {
 public:
  explicit TabFieldCursor(std::string_view line) : rest_(line) {}
  // The next field.
  void Next(std::string* field);
  // Cuts n fields (none when n < 1); *field then holds the n-th.
  void Skip(int n, std::string* field);

 private:
  // The next field as it stands in the line, quotes and all.
  std::string_view Cut();

  std::string_view rest_;
  bool used_up_ = false;
};

// The folder DataPath names, resolved against the working folder, as the
// disk spells it: a folder copied from Windows may have its name, and MYOB's
// files their names, in other letters ("myob/CUST.txt" for "MYOB\CUST.TXT").
std::string MyobDataFolder(const RunContext& ctx);
// DataPath + "\" + kind + ".TXT", resolved against the working folder and
// found in any letter case; as written when no such file exists.
std::string MyobExportFilePath(const RunContext& ctx, std::string_view kind);

// The columns one export file is read for. Slot i of titles names the column
// whose value becomes the i-th value of a row; spans[i] further columns,
// directly right of it, are appended to that value, each after one space.
struct MyobColumnChoice {
  static constexpr int kSlots = 100;
  std::string kind;  // "CUST", "ITEM", ...: also the file's base name
  std::array<std::string, kSlots> titles;
  std::array<int, kSlots> spans{};
};

// Reads the export file of choice.kind and adds one row per record to
// RowBuffer, which is cleared first unless keep_rows. A row holds the values
// of the slots 0 to H (H: the number of titles before the header line's
// first empty one, at most 99 counted), each followed by a tab. Titles are
// matched exactly; among columns with the same title the first non-empty
// value wins, and "*None" counts as empty. Of "ACCOUNTS" only the rows whose
// account number begins with "4" and whose value 2 is not "H" are kept.
// *rows_added (when given) counts the rows added. A file that cannot be read
// adds nothing and gives its failure.
Status ReadMyobExportFile(RunContext& ctx, const MyobColumnChoice& choice, bool keep_rows,
                          size_t* rows_added = nullptr);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_MYOB_MYOB_TEXT_EXPORT_H_
