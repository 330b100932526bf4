// Reading the QuickBooks IIF list file "<DataPath>\Tamsel.IIF" into device
// tables.
//
// The file is read once, top to bottom, as a sequence of sections: a line
// beginning with "!" opens a section whose kind is its first field less the
// "!"; every other line is a record whose first field is its record kind.
// Records add rows to RowBuffer (service items to SideBuffer, which is never
// cleared here), taking their columns from fixed field positions; the "!"
// line itself never locates a column. Each "!" line ends a section, and the
// end of the file counts as one more "!" line for the current kind. A table
// holds what the last section of its kind that gave rows gathered (Activity:
// every service item up to the end of the last INVITEM section), and is
// written once, after the whole file is read. The two invoice tables are
// written with their header rows only, whether or not the file could be read.
#ifndef LUMBRA_BACKENDS_QUICKBOOKS_IIF_EXPORT_H_
#define LUMBRA_BACKENDS_QUICKBOOKS_IIF_EXPORT_H_

#include <string>
#include <string_view>

namespace lumbra {

struct RunContext;

inline constexpr std::string_view kIifListFileName = "Tamsel.IIF";

// DataPath + "\Tamsel.IIF", resolved against the working folder.
std::string IifListFilePath(const RunContext& ctx);

// The section machine over the text of a list file, without the invoice
// tables. The first two lines are passed over; the line after them is taken
// without asking whether there is one, so a file of two lines or fewer has
// its last line handled once more (an empty text: the empty line).
void ReadIifSections(RunContext& ctx, std::string_view text);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_QUICKBOOKS_IIF_EXPORT_H_
