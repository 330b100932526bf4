// What the fuzz targets share: a scratch folder of the process's own for the
// readers that take their bytes from files, a platform that does not force
// writes to the disk, and a run context over that folder.
#ifndef LUMBRA_FUZZ_FUZZ_SUPPORT_H_
#define LUMBRA_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "backends/context/run_context.h"
#include "backends/context/run_log.h"
#include "platform/env.h"

namespace lumbra::fuzz {

inline std::string_view Bytes(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// The input before its first NUL byte, and what follows that byte (empty
// when there is none).
std::pair<std::string_view, std::string_view> SplitAtNul(std::string_view input);

// The real platform, except that forcing data to the disk does nothing: the
// scratch files are thrown away, and thousands of inputs a second must not
// wait for the disk.
Env* FuzzEnv();

// A folder of this process's own under the temporary folder, emptied by
// every Scratch and removed when the process ends. Paths inside it take "\"
// or "/" between folders, as the system's paths do.
class Scratch {
 public:
  Scratch();
  const std::string& dir() const;
  std::string Path(std::string_view rel) const;
  // Writes a file with exactly these bytes, making its folders.
  void Write(std::string_view rel, std::string_view bytes) const;
  void MakeDir(std::string_view rel) const;
};

// A run context over a fresh scratch folder (working folder and program
// folder alike) that logs nothing.
class Run {
 public:
  Run();
  RunContext& ctx() { return *ctx_; }
  const Scratch& scratch() const { return scratch_; }

 private:
  Scratch scratch_;
  RunLog log_;
  std::unique_ptr<RunContext> ctx_;
};

// Stops the process the way a sanitizer does, so that the fuzzer keeps the
// input, when a property every input must keep does not hold.
void Require(bool property, const char* what);

}  // namespace lumbra::fuzz

#endif  // LUMBRA_FUZZ_FUZZ_SUPPORT_H_
