// The MYOB back-ends: MYOB's text export files, its sale import files, and
// its ODBC driver.
#ifndef LUMBRA_BACKENDS_MYOB_MYOB_H_
#define LUMBRA_BACKENDS_MYOB_MYOB_H_

#include <memory>

namespace lumbra {

struct RunContext;
class Posting;

// Writes the device tables from MYOB's text export files under DataPath.
void ExportMyobTextFiles(RunContext& ctx);
// The posting of the text-file back-end of that edition (0 to 3): each
// device's sales and time records become import files (myob_sale_files.h).
std::unique_ptr<Posting> NewMyobPosting(int edition);
// Writes the customer and payment tables through the MYOB ODBC driver named
// by "filestats.dat".
void ExportMyobOdbc(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_MYOB_MYOB_H_
