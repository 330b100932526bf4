#include "report/run_report.h"

#include "backends/context/run_context.h"
#include "report/report_page.h"
#include "report/run_overview.h"
#include "text/lines.h"

namespace lumbra {
namespace {

// The newest passes are kept.
template <typename T>
void KeepNewest(std::vector<T>* items, size_t limit) {
  if (items->size() > limit) items->erase(items->begin(), items->end() - limit);
}

}  // namespace

PassRecord ReadPassRecord(Env* env, const std::string& work_dir, std::string* problem) {
  problem->clear();
  PassRecord record;
  std::string text;
  Status s = env->ReadFile(JoinPath(work_dir, kPassRecordFile), &text);
  if (s.IsNotFound()) return record;
  size_t dropped = 0;
  if (s.ok()) s = ParsePassRecord(text, &record, &dropped);
  if (!s.ok()) {
    *problem = std::string(kPassRecordFile) + " not read (" + s.ToString() +
               "); the run report starts afresh";
  } else if (dropped > 0) {
    *problem = std::to_string(dropped) + " damaged lines of " + std::string(kPassRecordFile) +
               " left out";
  }
  return record;
}

RunReport::RunReport(RunContext& ctx)
    : ctx_(ctx), start_(ctx.env->Now()), start_micros_(ctx.env->NowMicros()) {
  std::string problem;
  record_ = ReadPassRecord(ctx.env, ctx.work_dir, &problem);
  if (!problem.empty()) ctx.Log(problem);
  if (!record_.passes.empty() && record_.passes.back().end == PassEnd::kRunning) {
    PassEntry& killed = record_.passes.back();
    killed.end = PassEnd::kStopped;
    killed.failures.push_back(
        Failure{Trouble::kPassStopped, "the pass did not reach its end (killed, a power cut, or "
                                       "the computer shut down); the pass of " +
                                           ShownTime(start_) + " took up its work"});
  }
  PassEntry entry;
  entry.start = start_;
  record_.passes.push_back(std::move(entry));
  KeepNewest(&record_.passes, kRecordedPasses);
  Store();
  // The handler runs on the thread that found the process must end, while
  // the pass's own thread waits inside the call that never returned.
  ctx.report.OnAbandon([this] { Finish(/*stopped=*/true); });
}

RunReport::~RunReport() { ctx_.report.OnAbandon(nullptr); }

void RunReport::Finish(bool stopped) {
  if (finished_) return;
  finished_ = true;
  Fold(&record_.passes.back(), stopped);
  Store();
  WritePage();
}

void RunReport::Fold(PassEntry* entry, bool stopped) {
  const PassReport& report = ctx_.report;
  entry->duration_ms = (ctx_.env->NowMicros() - start_micros_) / 1000;
  entry->end = stopped ? PassEnd::kStopped : PassEnd::kEnded;
  entry->backend = ctx_.BackendName;
  for (const auto& [device, facts] : report.devices()) entry->totals += facts.counts;
  for (const Failure& f : report.failures()) {
    if (entry->failures.size() < kFailuresPerPass) {
      entry->failures.push_back(f);
    } else {
      ++entry->failures_left_out;
    }
  }
  DropHandedBack();
  FoldDevices(entry->start);
  KeepNewest(&record_.waiting, kRecordedRejectedFiles);
  record_.tables = report.tables();
}

void RunReport::FoldDevices(const LocalTime& start) {
  for (auto& [device, d] : record_.devices) {
    d.last = LineCounts();
    d.kept_reason.clear();
  }
  for (const auto& [device, facts] : ctx_.report.devices()) {
    DeviceEntry& d = record_.devices[device];
    const LineCounts& n = facts.counts;
    if (facts.handed_in) d.handed_in = start;
    if (n.posted > 0) d.posted = start;
    d.last = n;
    d.kept_reason = facts.kept_reason;
    // Lines placed with none kept leave nothing waiting in the folder.
    if (n.kept > 0 && !d.kept_since) d.kept_since = start;
    if (n.kept == 0 && (n.posted + n.rejected + n.passed_over) > 0) d.kept_since.reset();
    for (const RejectedFile& f : facts.rejected) {
      record_.waiting.push_back(RejectedEntry{device, f.lines, start, f.path});
    }
  }
}

// A rejected file is handed back once all of its lines were handed in again
// (the file copied into a device's folder) or once it is no longer where it
// was written (deleted or moved by the office).
void RunReport::DropHandedBack() {
  std::vector<RejectedEntry> still;
  for (RejectedEntry& e : record_.waiting) {
    std::string bytes;
    Status s = ctx_.env->ReadFile(ctx_.Path(e.path), &bytes);
    if (s.IsNotFound()) continue;
    bool back = s.ok();
    LineReader reader(bytes);
    std::string_view line;
    while (back && reader.Next(&line)) back = ctx_.report.WasHandedIn(line);
    if (!back) still.push_back(std::move(e));
  }
  record_.waiting = std::move(still);
}

void RunReport::Store() {
  Status s = ctx_.env->WriteFile(ctx_.Path(kPassRecordFile), FormatPassRecord(record_));
  if (!s.ok()) ctx_.Log(std::string(kPassRecordFile) + " not written: " + s.ToString());
}

void RunReport::WritePage() {
  RunOverview overview = MakeRunOverview(
      record_, DeviceFolders(ctx_.env, ctx_.work_dir), ctx_.DeviceNames, ctx_.env->Now(),
      [this](const std::string& path) { return ctx_.env->FileExists(ctx_.Path(path)); });
  Status s = ctx_.env->WriteFile(ctx_.Path(kReportPageFile),
                                 RenderReportPage(record_, overview, ctx_.work_dir));
  if (!s.ok()) ctx_.Log(std::string(kReportPageFile) + " not written: " + s.ToString());
}

}  // namespace lumbra
