// qbXML answers: decoded by their encoding, then scanned as each of the
// three answers (items, vendors, invoices with customers).
#include <string>

#include "backends/quickbooks/qbxml_export.h"
#include "fuzz_support.h"
#include "text/xml_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  std::string answer(fuzz::Bytes(data, size));
  XmlDecoding how;
  if (!DecodeXmlDocument(&answer, &how).ok()) {
    fuzz::Require(answer == fuzz::Bytes(data, size), "a refused answer was changed");
    return 0;
  }
  fuzz::Require(answer.size() <= size, "decoding made an answer longer");
  fuzz::Run run;
  ScanItemResponse(run.ctx(), answer);
  ScanVendorResponse(run.ctx(), answer);
  std::string sales_order;
  ScanCustomerResponse(run.ctx(), answer, &sales_order);
  return 0;
}
