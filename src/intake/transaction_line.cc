#include "intake/transaction_line.h"

#include "text/numbers.h"
#include "text/text_fields.h"

namespace lumbra {
namespace {

int WholeValue(std::string_view text) { return ToInt16(ValueOf(text)).value_or(0); }

std::string_view Slice(std::string_view s, size_t from, size_t count) {
  return from >= s.size() ? std::string_view() : s.substr(from, count);
}

}  // namespace

std::optional<Date> RecordDate(std::string_view field1) {
  return MakeDate(WholeValue(Slice(field1, 0, 4)), WholeValue(Slice(field1, 4, 2)),
                  WholeValue(Slice(field1, 6, 2)));
}

std::string ReduceFirstDoubleAmpersand(std::string value) {
  size_t at = value.find("&&");
  if (at != std::string::npos) value.erase(at, 1);
  return value;
}

TransactionRecord ParseTransactionLine(std::string_view line, size_t max_pairs) {
  TransactionRecord record;
  std::string rest(line), name, value;
  SplitField(rest, record.field1);
  record.date = RecordDate(record.field1);
  record.type = std::string(Slice(record.field1, 12, std::string_view::npos));
  // Pairs past the last kept one would only be read and dropped.
  while (record.pairs.size() < max_pairs) {
    SplitField(rest, name);
    if (name.empty()) break;
    SplitField(rest, value);
    record.pairs.emplace_back(std::move(name), ReduceFirstDoubleAmpersand(std::move(value)));
  }
  return record;
}

}  // namespace lumbra
