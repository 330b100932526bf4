#include "intake/device_posting.h"

#include <map>
#include <memory>

#include "backends/context/run_context.h"
#include "intake/device_files.h"
#include "intake/posting.h"
#include "intake/placed_file.h"
#include "intake/posting_journal.h"
#include "text/lines.h"

namespace lumbra {
namespace {

std::string Dev(int device) { return "device " + std::to_string(device) + ": "; }

std::string SourceName(int device) {
  return std::to_string(device) + "\\" + std::string(kTransactionFile) +
         std::string(kIntakeSuffix);
}

// The lines the back-end is to post, as the staging file holds them for the
// back-ends that read it.
Status StageLines(RunContext& ctx, const DeviceLines& lines) {
  std::string staged;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines.pending(i)) AppendLine(&staged, lines.line(i));
  }
  return ctx.env->WriteFile(ctx.Path(kStagingFile), staged);
}

// Logs what became of the lines, and returns it for the run report.
PlacedLines LogFates(RunContext& ctx, const DeviceLines& lines, const std::string& rejected_name) {
  const std::string dev = Dev(lines.device());
  PlacedLines placed;
  LineCounts& n = placed.counts;
  std::map<std::string, int> passed_reasons;
  size_t first_kept = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string where = "device " + std::to_string(lines.device()) + " line " +
                              std::to_string(i + 1);
    switch (lines.fate(i)) {
      case LineFate::kPosted:
        ++n.posted;
        break;
      case LineFate::kRejected:
        if (n.rejected++ == 0) placed.rejected_reason = lines.reason(i);
        ctx.Log(where + " rejected (" + rejected_name + "): " + lines.reason(i));
        break;
      case LineFate::kPassedOver:
        ++n.passed_over;
        ++passed_reasons[lines.reason(i)];
        break;
      case LineFate::kKept:
      case LineFate::kUnreported:
        if (n.kept++ == 0) {
          first_kept = i;
          placed.kept_reason = lines.reason(i);
          placed.kept_trouble = lines.trouble(i);
          ctx.Log(where + " kept for the next pass: " + lines.reason(i));
        }
        break;
    }
  }
  if (n.kept > 1) {
    ctx.Log(dev + std::to_string(n.kept - 1) + " later lines kept with line " +
            std::to_string(first_kept + 1) + " (a device's lines are posted in order)");
  }
  for (const auto& [reason, count] : passed_reasons) {
    ctx.Log(dev + std::to_string(count) + " lines passed over: " + reason);
  }
  ctx.Log(dev + std::to_string(n.posted) + " lines posted, " + std::to_string(n.kept) +
          " kept for the next pass, " + std::to_string(n.rejected) + " rejected" +
          (n.rejected > 0 ? " (" + rejected_name + ")" : "") + ", " +
          std::to_string(n.passed_over) + " passed over");
  if (n.rejected > 0) placed.rejected_file = rejected_name;
  return placed;
}

// Writes the rejected lines to their file and leaves only the kept lines in
// the device's intake file. False when the intake file could not be
// rewritten: it still holds every line then, and the journal must stay.
// Rejected lines whose file cannot be written stay as kept ones, and
// *placed says so.
bool PlaceLines(RunContext& ctx, const DeviceLines& lines, const std::string& rejected_name,
                PlacedLines* placed) {
  const std::string dev = Dev(lines.device());
  std::string rejected;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines.fate(i) == LineFate::kRejected) AppendLine(&rejected, lines.line(i));
  }
  bool rejected_written = rejected.empty();
  if (!rejected.empty()) {
    std::string path = ctx.Path(rejected_name);
    Status s = ctx.env->WriteFile(path, rejected);
    if (s.ok()) s = ctx.env->SyncFile(path);
    rejected_written = s.ok();
    if (!s.ok()) {
      ctx.LogFailure(TroubleOf(s, Trouble::kFileNotWritten),
                     dev + "rejected lines not written to " + rejected_name + " (" +
                         s.ToString() + "); they stay in the device's folder and are tried "
                                        "again by the next pass");
      placed->counts.kept += placed->counts.rejected;
      placed->counts.rejected = 0;
      placed->rejected_file.clear();
    }
  }
  std::string kept;
  for (size_t i = 0; i < lines.size(); ++i) {
    LineFate f = lines.fate(i);
    if (f == LineFate::kKept || f == LineFate::kUnreported ||
        (f == LineFate::kRejected && !rejected_written)) {
      AppendLine(&kept, lines.line(i));
    }
  }
  std::string intake = IntakeFilePath(ctx, lines.device());
  Status s;
  if (kept.empty()) {
    s = ctx.env->DeleteFile(intake);
    if (s.IsNotFound()) s = Status::OK();
  } else {
    s = ctx.env->WriteFile(intake, kept);
    if (s.ok()) s = ctx.env->SyncFile(intake);
  }
  if (!s.ok()) {
    ctx.LogFailure(TroubleOf(s, Trouble::kFileNotWritten),
                   dev + "transaction file not rewritten after posting (" + s.ToString() +
                       "); the journal stays, and the next pass finishes the work");
  }
  return s.ok();
}

// Puts the lines in place. The rejected lines' file is named once, when the
// journal ends, so that finishing again after a kill rewrites the same file.
void FinishLines(RunContext& ctx, DeviceLines& lines, PostingJournal& journal,
                 const std::string* named = nullptr) {
  bool any_rejected = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    any_rejected = any_rejected || lines.fate(i) == LineFate::kRejected;
  }
  std::string rejected_name = named && !named->empty() ? *named
                              : any_rejected ? FreeDatedName(ctx, kRejectedFolder, lines.device())
                                             : std::string();
  Status s = journal.End(rejected_name);
  if (!s.ok()) ctx.Log(Dev(lines.device()) + "journal not completed: " + s.ToString());
  PlacedLines placed = LogFates(ctx, lines, rejected_name);
  bool in_place = PlaceLines(ctx, lines, rejected_name, &placed);
  ctx.report.LinesPlaced(lines.device(), placed);
  if (!in_place) return;
  s = journal.Remove();
  if (!s.ok()) ctx.Log(Dev(lines.device()) + "journal not removed: " + s.ToString());
}

JournalState FreshState(int device, std::string_view bytes, size_t line_count) {
  JournalState st;
  st.device = device;
  st.source = SourceName(device);
  st.source_hash = SourceHash(bytes);
  st.line_count = line_count;
  st.fates.assign(line_count, LineFate::kUnreported);
  st.reasons.assign(line_count, std::string());
  return st;
}

DeviceLines LinesWithFates(const JournalState& st, std::vector<std::string> text,
                           DeviceLines::Recorder* recorder) {
  DeviceLines lines(st.device, std::move(text), recorder);
  for (size_t i = 0; i < lines.size() && i < st.fates.size(); ++i) {
    if (st.fates[i] != LineFate::kUnreported) lines.Restore(i, st.fates[i], st.reasons[i]);
  }
  return lines;
}

// False when the posting halted (see DeviceLines::halted).
bool PostLines(RunContext& ctx, Posting& posting, const JournalState& state,
               std::vector<std::string> text) {
  const std::string dev = Dev(state.device);
  std::unique_ptr<PostingJournal> journal;
  Status s = PostingJournal::Start(ctx, state, &journal);
  if (!s.ok()) {
    ctx.LogFailure(TroubleOf(s, Trouble::kFileNotWritten),
                   dev + "the posting journal cannot be written (" + s.ToString() +
                       "); the device's lines are kept for the next pass");
    return true;
  }
  DeviceLines lines = LinesWithFates(state, std::move(text), journal.get());
  s = posting.UsesStagingFile() ? StageLines(ctx, lines) : Status::OK();
  if (!s.ok()) {
    lines.KeepRest("the staging file tempdb.dat cannot be written: " + s.ToString(),
                   TroubleOf(s, Trouble::kFileNotWritten));
  } else if (!lines.stopped()) {
    posting.PostDevice(ctx, lines);
  }
  if (lines.halted()) {
    ctx.Log(dev + lines.halt_reason() + "; the next pass undoes it from the journal, and " +
            "nothing more is posted in this pass");
    return false;
  }
  lines.KeepRest("kept with an earlier line of the device");
  FinishLines(ctx, lines, *journal);
  return true;
}

// A back-end that takes no postings: the lines are staged, as every
// device's are, and dropped; the archive keeps them.
void DropLines(RunContext& ctx, int device) {
  std::string intake = IntakeFilePath(ctx, device);
  Status s = ctx.env->CopyFile(intake, ctx.Path(kStagingFile));
  if (s.ok()) s = ctx.env->DeleteFile(intake);
  ctx.Log(s.ok() ? Dev(device) + "records taken in and not posted (this back-end takes no postings)"
                 : Dev(device) + "records not dropped, kept for a later pass: " + s.ToString());
}

// The journal's file is not the one it speaks of (edited by hand since):
// whether its lines were posted is not known, so they go to the office as
// rejected lines instead of being posted a second time.
void RejectUnknownFile(RunContext& ctx, const JournalState& st, const std::string& bytes) {
  const std::string dev = Dev(st.device);
  std::string name = FreeDatedName(ctx, kRejectedFolder, st.device);
  Status s = ctx.env->WriteFile(ctx.Path(name), bytes);
  if (s.ok()) s = ctx.env->SyncFile(ctx.Path(name));
  if (s.ok()) s = ctx.env->DeleteFile(ctx.Path(st.source));
  if (s.ok()) s = ctx.env->DeleteFile(ctx.Path(kJournalFile));
  ctx.Log(dev + st.source + " changed while a killed pass was posting it; " +
          (s.ok() ? "moved to " + name + ": check the device's last postings and hand in what is missing"
                  : "left as it is: " + s.ToString()));
  if (s.ok()) {
    ctx.report.FileRejected(st.device, name, SplitLines(bytes).size(),
                            "changed while a killed pass was posting it");
  }
}

// The files that post lines a killed pass was placing: put in place or
// discarded before its lines are looked at. False when that cannot be done
// now.
bool FinishPlacedFilesOf(RunContext& ctx, JournalState* st) {
  std::vector<std::string> notes;
  Status s = FinishPlacedFiles(ctx, st, &notes);
  for (const std::string& note : notes) ctx.Log(Dev(st->device) + note);
  if (!s.ok()) {
    ctx.Log(Dev(st->device) + "a file the killed pass wrote cannot be put in place now (" +
            s.ToString() + "); nothing is posted in this pass");
  }
  return s.ok();
}

}  // namespace

bool PostDeviceFile(RunContext& ctx, Posting* posting, int device) {
  if (posting == nullptr) {
    DropLines(ctx, device);
    return true;
  }
  std::string bytes;
  Status s = ctx.env->ReadFile(IntakeFilePath(ctx, device), &bytes);
  if (!s.ok()) {
    ctx.Log(Dev(device) + "transaction file not read, kept for a later pass: " + s.ToString());
    return true;
  }
  std::vector<std::string> text = SplitLines(bytes);
  JournalState state = FreshState(device, bytes, text.size());
  return PostLines(ctx, *posting, state, std::move(text));
}

bool ResumePosting(RunContext& ctx, Posting* posting, int* posted) {
  *posted = 0;
  const std::string journal_path = ctx.Path(kJournalFile);
  if (!ctx.env->FileExists(journal_path)) return true;
  JournalState st;
  if (!ReadJournal(ctx, &st)) {
    // Cut short before its header: nothing had been changed yet.
    ctx.Log("posting journal without a beginning removed");
    ctx.env->DeleteFile(journal_path);
    return true;
  }
  const std::string dev = Dev(st.device);
  ctx.Log(dev + "a killed pass left the posting of " + st.source + " unfinished; finishing it");
  if (st.line_open) {
    std::vector<std::string> notes;
    Status s = UndoChanges(ctx.env, st.open_changes, ctx.lock_wait_ms, &notes);
    for (const std::string& note : notes) {
      ctx.Log(dev + "line " + std::to_string(st.open_line + 1) + ": " + note);
    }
    if (!s.ok()) {
      ctx.Log(dev + "the half-posted line " + std::to_string(st.open_line + 1) +
              " cannot be undone now (" + s.ToString() + "); nothing is posted in this pass");
      return false;
    }
    st.line_open = false;
    st.open_changes.clear();
  }
  if (!FinishPlacedFilesOf(ctx, &st)) return false;
  std::string bytes;
  Status s = ctx.env->ReadFile(ctx.Path(st.source), &bytes);
  bool same_file = s.ok() && SourceHash(bytes) == st.source_hash;
  if (st.ended && !same_file) {
    // The lines were put in place; only the journal was left.
    ctx.env->DeleteFile(journal_path);
    return true;
  }
  if (s.IsNotFound()) {
    ctx.Log(dev + st.source + " is gone; its journal is removed");
    ctx.env->DeleteFile(journal_path);
    return true;
  }
  if (!s.ok()) {
    ctx.Log(dev + st.source + " cannot be read (" + s.ToString() +
            "); nothing is posted in this pass");
    return false;
  }
  if (!same_file) {
    RejectUnknownFile(ctx, st, bytes);
    return true;
  }
  std::vector<std::string> text = SplitLines(bytes);
  if (text.size() != st.line_count) {
    RejectUnknownFile(ctx, st, bytes);
    return true;
  }
  if (st.ended || posting == nullptr) {
    std::unique_ptr<PostingJournal> journal;
    s = PostingJournal::Start(ctx, st, &journal);
    if (!s.ok()) {
      ctx.Log(dev + "the posting journal cannot be written: " + s.ToString());
      return false;
    }
    DeviceLines lines = LinesWithFates(st, std::move(text), journal.get());
    lines.KeepRest(st.ended ? "kept by an earlier pass" : "the back-end takes no postings now");
    FinishLines(ctx, lines, *journal, st.ended ? &st.rejected_name : nullptr);
    return true;
  }
  *posted = st.device;
  return PostLines(ctx, *posting, st, std::move(text));
}

}  // namespace lumbra
