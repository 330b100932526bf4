// The QuickBooks IIF list file, read into device tables by the whole
// export.
#include "backends/quickbooks/iif_export.h"
#include "backends/quickbooks/quickbooks.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  fuzz::Run run;
  run.ctx().DataPath = "qb";
  run.scratch().Write("qb\\" + std::string(kIifListFileName), fuzz::Bytes(data, size));
  ExportQuickBooksIif(run.ctx());
  return 0;
}
