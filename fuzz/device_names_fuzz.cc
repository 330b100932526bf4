// "devicenames.xml": a device's name, then its number, one device a line.
#include "fuzz_support.h"
#include "intake/intake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  fuzz::Run run;
  run.scratch().Write(kDeviceNamesFile, fuzz::Bytes(data, size));
  ReadDeviceNames(run.ctx());
  return 0;
}
