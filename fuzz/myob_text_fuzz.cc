// MYOB's text export files: the input stands as every one of them at once
// (CUST.TXT, ITEM.TXT, ...), and the whole export reads them into device
// tables.
#include "backends/myob/myob.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  fuzz::Run run;
  for (const char* file : {"CUST", "ITEM", "SUPPLIERS", "ACTIVITY", "JOBS", "EMPLOY", "ACCOUNTS",
                           "NONCONTAXCODE"}) {
    run.scratch().Write("myob\\" + std::string(file) + ".TXT", fuzz::Bytes(data, size));
  }
  run.ctx().DataPath = "myob";
  ExportMyobTextFiles(run.ctx());
  return 0;
}
