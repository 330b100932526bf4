// MYOB's text export files: the input stands as every one of them at once
// (CUST.TXT, ITEM.TXT, ...); the whole export reads them into device tables,
// and the sale import files read them for item numbers, tax codes, activity
// IDs, the GST rate and the master spelling of names.
#include "backends/myob/myob.h"
#include "backends/myob/myob_sale_files.h"
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
  for (int edition : {kMyobPremier9, kMyobBusinessBasics1}) {
    MyobReference ref = ReadMyobReference(run.ctx(), edition);
    ref.customers.Spelling("Muller GmbH");
    ref.item_names.Spelling("Widget");
  }
  return 0;
}
