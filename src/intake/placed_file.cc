#include "intake/placed_file.h"

#include "backends/context/run_context.h"
#include "intake/posting_journal.h"

namespace lumbra {
namespace {

// One file on its way: what the journal knows of it, and how it fares.
struct Placing {
  PlacedFile placed;
  const std::string* bytes;
  Status status;
};

// The file is not placed: the journal learns that it is not ready (when it
// was) before the file goes, so a resumed pass never takes a ready file that
// is gone for placed; then its lines are kept and the file deleted.
void GiveUp(RunContext& ctx, DeviceLines& lines, Placing& p, Status why, bool was_ready) {
  if (was_ready) lines.FileBegins(p.placed);
  p.status = std::move(why);
  for (size_t i : p.placed.lines) {
    lines.Kept(i, p.placed.path + " not written: " + p.status.ToString(),
               TroubleOf(p.status, Trouble::kFileNotWritten));
  }
  ctx.env->DeleteFile(p.placed.temp_path);
}

}  // namespace

std::vector<Status> PostLinesAsFiles(RunContext& ctx, DeviceLines& lines,
                                     const std::vector<FileToPlace>& files) {
  std::vector<Placing> placing;
  for (const FileToPlace& f : files) {
    placing.push_back({{f.path + std::string(kPlacedFileSuffix), f.path, f.lines}, &f.bytes, {}});
  }
  std::vector<Placing*> written;
  std::vector<std::string> temps;
  for (Placing& p : placing) {
    Status s = lines.FileBegins(p.placed);
    if (s.ok()) s = ctx.env->WriteFile(p.placed.temp_path, *p.bytes);
    if (!s.ok()) {
      GiveUp(ctx, lines, p, s, false);
      continue;
    }
    written.push_back(&p);
    temps.push_back(p.placed.temp_path);
  }
  if (!written.empty()) {
    std::vector<PlacedFile> ready;
    for (Placing* p : written) ready.push_back(p->placed);
    Status s = ctx.env->SyncFiles(temps);
    const bool maybe_ready = s.ok();
    if (s.ok()) s = lines.FilesReady(ready);
    const std::string* in_place = nullptr;
    for (Placing* p : written) {
      if (s.ok()) p->status = ctx.env->RenameFile(p->placed.temp_path, p->placed.path);
      if (!s.ok() || !p->status.ok()) {
        GiveUp(ctx, lines, *p, s.ok() ? p->status : s, maybe_ready);
        continue;
      }
      for (size_t i : p->placed.lines) lines.Posted(i);
      in_place = &p->placed.path;
    }
    // The files' entries in their folder; a failure here loses nothing the
    // journal cannot give back.
    if (in_place) ctx.env->SyncFiles({*in_place});
  }
  std::vector<Status> results;
  for (const Placing& p : placing) results.push_back(p.status);
  return results;
}

Status FinishPlacedFiles(RunContext& ctx, JournalState* state, std::vector<std::string>* notes) {
  for (const JournalState::Placed& placed : state->placed) {
    const PlacedFile& f = placed.file;
    bool kept = false;
    for (size_t i : f.lines) kept = kept || state->fates[i] == LineFate::kKept;
    const bool waiting = ctx.env->FileExists(f.temp_path);
    if (!placed.ready || kept) {
      if (waiting) {
        Status s = ctx.env->DeleteFile(f.temp_path);
        notes->push_back(f.temp_path + (s.ok() ? " deleted: not whole, its lines are posted again"
                                               : " not deleted: " + s.ToString()));
      }
      continue;
    }
    if (waiting) {
      Status s = ctx.env->RenameFile(f.temp_path, f.path);
      if (!s.ok()) return s;
      notes->push_back(f.path + " put in place, as the killed pass was about to");
    }
    for (size_t i : f.lines) {
      if (state->fates[i] == LineFate::kUnreported) state->fates[i] = LineFate::kPosted;
    }
  }
  state->placed.clear();
  return Status::OK();
}

}  // namespace lumbra
