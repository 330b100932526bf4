// The device transaction line: the record format of "transact.xml" and of
// the staging file. Field 1 holds the record's date (yyyymmdd, characters 1
// to 8) and, from character 13, the record type; then come pairs of a field
// name and its value, up to the first empty name.
#ifndef LUMBRA_INTAKE_TRANSACTION_LINE_H_
#define LUMBRA_INTAKE_TRANSACTION_LINE_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/dates.h"

namespace lumbra {

// The posting back-ends keep at most this many pairs of a record.
inline constexpr size_t kMaxRecordPairs = 19;

struct TransactionRecord {
  std::string field1;
  // Year, month and day of characters 1-4, 5-6 and 7-8, each by its leading
  // number, rolled over into a calendar date; nothing when out of range.
  std::optional<Date> date;
  std::string type;  // field 1 from character 13 on
  // Name and value, in line order. In each value the first "&&" has become
  // "&"; pairs beyond the first max_pairs are dropped.
  std::vector<std::pair<std::string, std::string>> pairs;
};

// Splits one line. Fields are cut as SplitField cuts them (double quotes
// dropped).
TransactionRecord ParseTransactionLine(std::string_view line,
                                       size_t max_pairs = kMaxRecordPairs);

// The date of a device record from the texts of its year, month and day.
std::optional<Date> RecordDate(std::string_view field1);

// The first "&&" of a value becomes "&"; later ones stay.
std::string ReduceFirstDoubleAmpersand(std::string value);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_TRANSACTION_LINE_H_
