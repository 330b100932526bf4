// MYOB sale import files: the sales and time records a device handed in,
// written into DataPath as MYOB's own tab-delimited import files for the user
// to import (WriteMyobSaleFiles, declared in myob.h). Item sales go to
// "Tamsel" "ITEMSALE" <stamp> ".TXT", sales charged to a ledger account to
// "SERVSALE", time records to "SLIPS"; a file that receives no record is not
// left behind. The stamp is the local date and time to the minute followed
// by the device's name.
#ifndef LUMBRA_BACKENDS_MYOB_MYOB_SALE_FILES_H_
#define LUMBRA_BACKENDS_MYOB_MYOB_SALE_FILES_H_

#include <string>
#include <string_view>

#include "platform/env.h"

namespace lumbra {

// The edition codes of the MYOB text-file back-ends. Premier writes the long
// layout with its two currency columns, the v15 editions the long layout
// without them, Business Basics the short layout.
inline constexpr int kMyobPremier9 = 0;
inline constexpr int kMyobAccountingPlus15 = 1;
inline constexpr int kMyobAccounting15 = 2;
inline constexpr int kMyobBusinessBasics1 = 3;

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
