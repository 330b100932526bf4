#include "intake/placed_file.h"

#include "backends/context/run_context.h"
#include "intake/posting_journal.h"

namespace lumbra {
namespace {

void KeepAll(DeviceLines& lines, const std::vector<size_t>& which, const std::string& reason) {
  for (size_t i : which) lines.Kept(i, reason);
}

}  // namespace

Status PostLinesAsFile(RunContext& ctx, DeviceLines& lines, const std::vector<size_t>& which,
                       const std::string& path, std::string_view bytes) {
  const PlacedFile file{path + std::string(kPlacedFileSuffix), path, which};
  Status s = lines.FileBegins(file);
  if (!s.ok()) {
    KeepAll(lines, which, "the posting journal cannot be written: " + s.ToString());
    return s;
  }
  s = ctx.env->WriteFile(file.temp_path, bytes);
  if (s.ok()) s = ctx.env->SyncFile(file.temp_path);
  if (s.ok()) s = lines.FileReady(file);
  if (s.ok()) s = ctx.env->RenameFile(file.temp_path, path);
  if (!s.ok()) {
    // The journal learns that the file is not ready any more before it goes,
    // so a resumed pass never takes a ready file that is gone for placed.
    lines.FileBegins(file);
    KeepAll(lines, which, path + " not written: " + s.ToString());
    ctx.env->DeleteFile(file.temp_path);
    return s;
  }
  for (size_t i : which) lines.Posted(i);
  // The file's entry in its folder; a failure here loses nothing the
  // journal cannot give back.
  ctx.env->SyncFile(path);
  return Status::OK();
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
