// The settings file "Lumbra.ini", read by every back-end's rule.
#include <string>
#include <vector>

#include "backends/context/backend_names.h"
#include "backends/context/settings.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  std::string_view text = fuzz::Bytes(data, size);
  std::string name, path;
  ParseSettings(text, &name, &path);
  NormaliseDataPath(name, path);
  for (std::string_view backend :
       {kAuroraBackend, kAccessBackend, kQuickBooksDatabaseBackend, kMyobPremierBackend,
        kMoneyWorksGoldBackend, std::string_view("MoneyWorks Cashbook"), std::string_view()}) {
    NormaliseDataPath(backend, path);
  }
  TimeLimits limits;
  std::vector<std::string> problems;
  ParseTimeLimits(text, &limits, &problems);
  for (int seconds : {limits.http_seconds, limits.qbxml_seconds}) {
    fuzz::Require(seconds >= 1 && seconds <= TimeLimits::kMaxSeconds, "time limit out of range");
  }
  return 0;
}
