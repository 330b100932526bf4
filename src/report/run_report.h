// The run report of one pass. When the pass starts, the pass record notes
// it as running, so that a pass killed on the way is known as such (the
// next pass marks it stopped). When it ends, what the pass reported is
// folded into the record, the record is stored again, and "Lumbra.html" is
// written from it. Neither can break or hold up the pass: a record or page
// that cannot be read or written is logged, and the pass goes on.
#ifndef LUMBRA_REPORT_RUN_REPORT_H_
#define LUMBRA_REPORT_RUN_REPORT_H_

#include <cstdint>

#include "platform/env.h"
#include "report/pass_record.h"

namespace lumbra {

struct RunContext;

class RunReport {
 public:
  // Reads the record and notes the pass as running. The pass holds the
  // working folder's lock: a pass the record shows as running has stopped.
  explicit RunReport(RunContext& ctx);
  ~RunReport();
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // Folds what the pass reported into the record, stores it and writes the
  // page; only the first call counts. A pass that must end the process at
  // once (PassReport::Abandon) finishes as stopped.
  void Finish(bool stopped = false);

 private:
  void Fold(PassEntry* entry, bool stopped);
  void FoldDevices(const LocalTime& start);
  void DropHandedBack();
  void Store();
  void WritePage();

  RunContext& ctx_;
  PassRecord record_;
  LocalTime start_;
  uint64_t start_micros_;
  bool finished_ = false;
};

// Reads the working folder's pass record. A missing record is an empty
// one; a record that cannot be read is an empty one too, and *problem then
// says why (for the log), as it does for lines left out.
PassRecord ReadPassRecord(Env* env, const std::string& work_dir, std::string* problem);

}  // namespace lumbra

#endif  // LUMBRA_REPORT_RUN_REPORT_H_
