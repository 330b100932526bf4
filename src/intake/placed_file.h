// Files whose writing posts lines: import files another program takes in on
// its own (MYOB imports the sale files the user picks). Such a file must be
// in place whole, with every line it holds reported posted, or not there at
// all, with its lines kept, whatever fails and wherever a pass is killed;
// otherwise its lines would be imported twice, or a half-written file
// imported.
//
// So a placed file is written under a temporary name beside its path (one
// the other program does not offer, "<name>.part"), forced to the disk, and
// noted in the posting journal with its lines as ready; only then is it
// renamed to its path and its lines reported posted. A pass that finds the
// journal of a killed one renames a ready file that is still under its
// temporary name and counts its lines as posted, and deletes a temporary
// file that was not ready (its lines are posted again). The files of one
// device are placed together, so the disk is forced once for all of them at
// each step.
#ifndef LUMBRA_INTAKE_PLACED_FILE_H_
#define LUMBRA_INTAKE_PLACED_FILE_H_

#include <string>
#include <string_view>
#include <vector>

#include "intake/posting.h"
#include "platform/status.h"

namespace lumbra {

struct RunContext;
struct JournalState;

inline constexpr std::string_view kPlacedFileSuffix = ".part";

// A file to place: its path (which must not exist), its bytes, and the
// lines it posts.
struct FileToPlace {
  std::string path;
  std::string bytes;
  std::vector<size_t> lines;
};

// Places the files and reports their lines: posted once their file is in
// place, kept (with the reason) when it could not be placed. Gives, file by
// file, OK or why it was not placed.
std::vector<Status> PostLinesAsFiles(RunContext& ctx, DeviceLines& lines,
                                     const std::vector<FileToPlace>& files);

// For a resumed pass: finishes or discards the placed files the journal
// names and sets the fate of the lines of those placed to posted. Each file
// renamed or deleted is described in *notes. An error when a ready file
// could not be renamed: the journal must stay, and nothing be posted now.
Status FinishPlacedFiles(RunContext& ctx, JournalState* state, std::vector<std::string>* notes);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_PLACED_FILE_H_
