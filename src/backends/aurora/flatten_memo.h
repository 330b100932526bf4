// A memo as one column value of a device table (customer, supplier and
// invoice-line notes) and of the table dump.
#ifndef LUMBRA_BACKENDS_AURORA_FLATTEN_MEMO_H_
#define LUMBRA_BACKENDS_AURORA_FLATTEN_MEMO_H_

#include <string>
#include <string_view>

namespace lumbra {

// Each piece before a carriage return is kept as it stands and followed by
// one blank; the carriage return and the one character after it (the line
// feed of the pair) are dropped; the last piece is trimmed of blanks.
// "Ring before\r\ndelivery " gives "Ring before delivery"; "" gives "".
std::string FlattenMemo(std::string_view memo);

// A memo's line breaks as carriage return and line feed: a lone carriage
// return or line feed becomes the pair, so flattening never drops a
// character that follows a lone carriage return.
std::string MemoWithCrLf(std::string_view memo);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_FLATTEN_MEMO_H_
