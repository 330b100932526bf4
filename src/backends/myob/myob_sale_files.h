// MYOB sale import files: the sales and time records a device handed in,
// written into the data folder as MYOB's own tab-delimited import files for
// the user to import. Item sales go to "Tamsel" "ITEMSALE" <stamp> ".TXT",
// sales charged to a ledger account to "SERVSALE", time records to "SLIPS";
// the stamp is the local date and time to the minute followed by the
// device's name. A file that would receive no record is not written. Each
// file is placed whole (intake/placed_file.h), so MYOB never finds a file
// half-written or a sale in two files.
#ifndef LUMBRA_BACKENDS_MYOB_MYOB_SALE_FILES_H_
#define LUMBRA_BACKENDS_MYOB_MYOB_SALE_FILES_H_

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/env.h"

namespace lumbra {

struct RunContext;
class DeviceLines;

// The edition codes of the MYOB text-file back-ends. Premier writes the long
// layout with its two currency columns, the v15 editions the long layout
// without them, Business Basics the short layout.
inline constexpr int kMyobPremier9 = 0;
inline constexpr int kMyobAccountingPlus15 = 1;
inline constexpr int kMyobAccounting15 = 2;
inline constexpr int kMyobBusinessBasics1 = 3;

// The names of a master file as the devices got them back: the device
// tables fold bytes 252 to 255 (see EncodeLine), so "M\xFCller GmbH" comes
// back as "Muller GmbH". Gives the master's own spelling for such a name.
class FoldedNames {
 public:
  // Every name of the file, in file order: a name with folded bytes is
  // remembered (the first of a folded spelling wins); one without them is
  // its own spelling, which a device's name is never taken from.
  void Build(const std::vector<std::string>& names);
  // The master's spelling of a name a device handed in: the name itself
  // unless it is the folded form of a master name.
  const std::string& Spelling(const std::string& name) const;
  bool empty() const { return folded_.empty(); }

 private:
  std::unordered_map<std::string, std::string> folded_;
};

// What the sale files take from MYOB's export files in the data folder,
// read once per pass: the standard GST rate (NONCONTAXCODE.TXT, 12.5 % when
// it gives none), item numbers and tax codes by item name (ITEM.TXT; the tax
// code from field 27, field 15 for Business Basics), activity IDs by name
// (ACTIVITY.TXT), and the master spelling of customer, item, activity and
// employee names (CUST.TXT, ITEM.TXT, ACTIVITY.TXT, EMPLOY.TXT).
struct MyobReference {
  struct Item {
    std::string number;
    std::string tax_code;
  };
  int edition = 0;
  float rate = 12.5f;
  // The first row of a name is the one used.
  std::unordered_map<std::string, Item> items;
  std::unordered_map<std::string, std::string> activity_ids;
  FoldedNames customers, item_names, activities, employees;
};

MyobReference ReadMyobReference(RunContext& ctx, int edition);

// Writes the pending sale and time records of a device's lines as import
// files and reports each line: posted once its file is in place, kept when
// its file could not be written (the device's other files are still
// written: MYOB imports each on its own), passed over when MYOB imports no
// record of its type. A file never replaces another: a name in use gets a
// number ("...North van-2.TXT").
void WriteMyobSaleFiles(RunContext& ctx, const MyobReference& ref, DeviceLines& lines);

// A device's name as it may stand in a file name: each path separator
// ("/", "\"), each dot of a "..", each control character (0x00 to 0x1F,
// 0x7F) and each of <>:"|?* becomes "_".
std::string FileNameSafe(std::string_view name);

// "Tamsel" + kind + yyyymmddhhmm + the device's file-name-safe name + ".TXT".
std::string MyobImportFileName(std::string_view kind, const LocalTime& at,
                               std::string_view device_name);

// A time of day read from a device's "Start" or "Finish" value as "hh:mm:ss":
// the first h:mm or h:mm:ss in the value, with an optional AM or PM after
// it, so a date may stand before it ("05/03/2006 9:30 PM"). Anything else,
// an empty value included, is midnight, "00:00:00".
std::string DeviceTimeText(std::string_view value);

// The amounts of the import files are single precision. A float times 100
// is exact in double precision (its 24-bit mantissa times 25 fits in 53
// bits), so these count cents directly instead of going through the exact
// decimal digits of the value; they give what TwoDecimalText and
// RoundHalfEven(v, 2) give.
// v as "0.00", half a cent rounding away from zero.
std::string AmountText(float v);
// v rounded to cents, a tie to the even cent, held as a float.
float RoundCentsToEven(float v);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_MYOB_MYOB_SALE_FILES_H_
