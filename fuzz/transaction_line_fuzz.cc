// Device transaction lines ("transact.xml" and the staging file), as the
// intake and every posting split them.
#include "fuzz_support.h"
#include "intake/transaction_line.h"
#include "text/lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  LineReader lines(fuzz::Bytes(data, size));
  std::string_view line;
  while (lines.Next(&line)) {
    TransactionRecord record = ParseTransactionLine(line);
    fuzz::Require(record.pairs.size() <= kMaxRecordPairs, "more pairs kept than a record has");
    ParseTransactionLine(line, 1000);
    for (auto& [name, value] : record.pairs) ReduceFirstDoubleAmpersand(value);
  }
  return 0;
}
