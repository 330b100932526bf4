// RunLog: "Lumbra.log" in the working folder, one line per event, appended to
// by every pass. It keeps itself small: past 1 MiB the file becomes
// "Lumbra.log.1" (replacing an older one) and a new log is started.
#ifndef LUMBRA_BACKENDS_CONTEXT_RUN_LOG_H_
#define LUMBRA_BACKENDS_CONTEXT_RUN_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace lumbra {

class Env;

class RunLog {
 public:
  static constexpr uint64_t kRotateSize = 1 << 20;

  // An empty path makes a log that records nothing.
  RunLog(Env* env, std::string path) : env_(env), path_(std::move(path)) {}

  // Appends "yyyy-mm-dd hh:mm:ss message". A log that cannot be written is
  // not an error of the pass: the line is dropped.
  void Write(std::string_view message);

  const std::string& path() const { return path_; }

 private:
  void RotateIfFull(size_t incoming);

  Env* env_;
  std::string path_;
  bool size_known_ = false;
  uint64_t size_ = 0;
};

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_CONTEXT_RUN_LOG_H_
