// Coded device tables (and the coded "filestats.dat"), decoded line by line
// as `lumbra decode` shows them.
#include "fuzz_support.h"
#include "text/cp1252.h"
#include "text/lines.h"
#include "text/text_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  LineReader lines(fuzz::Bytes(data, size));
  std::string_view line;
  while (lines.Next(&line)) {
    std::string decoded = DecodeLine(line);
    fuzz::Require(decoded.size() <= line.size(), "decoding made a line longer");
    Cp1252ToUtf8(decoded);
    EncodeLine(decoded);
  }
  return 0;
}
