// The MYOB back-ends: MYOB's text export files, its sale import files, and
// its ODBC driver.
#ifndef LUMBRA_BACKENDS_MYOB_MYOB_H_
#define LUMBRA_BACKENDS_MYOB_MYOB_H_

#include <memory>
#include <vector>

#include "platform/status.h"

namespace lumbra {

struct RunContext;
class Posting;

// Writes the device tables from MYOB's text export files under DataPath.
void ExportMyobTextFiles(RunContext& ctx);
// What became of one staged line: no import file takes it (not a sale or
// time record), its import file was written, or it was not.
enum class SaleLineFile { kNone, kWritten, kNotWritten };

// Writes the staged device file's sales and time records as MYOB import
// files of the given edition (0 to 3), and tells for each staged line, in
// order, what became of it. A failure means that nothing was written (the
// first import file could not be created, or the staging file not read):
// the staged records still wait to be posted.
Status WriteMyobSaleFiles(RunContext& ctx, int device, int edition,
                          std::vector<SaleLineFile>* line_files = nullptr);
// The posting of the text-file back-end of that edition: each device's
// records become import files (WriteMyobSaleFiles).
std::unique_ptr<Posting> NewMyobPosting(int edition);
// Writes the customer and payment tables through the MYOB ODBC driver named
// by "filestats.dat".
void ExportMyobOdbc(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_MYOB_MYOB_H_
