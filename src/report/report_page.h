// The run report page "Lumbra.html" an office opens in any browser: the
// summary of the last pass, one row per device folder, the tables of the
// last pass, the failures of the recorded passes with what to do about
// them, and a chart of the lines posted per pass. One self-contained file:
// no scripts, and no styles, fonts or pictures from elsewhere. The
// installation's Windows-1252 texts are converted to UTF-8, which the page
// declares.
#ifndef LUMBRA_REPORT_REPORT_PAGE_H_
#define LUMBRA_REPORT_REPORT_PAGE_H_

#include <string>
#include <string_view>

#include "report/pass_record.h"
#include "report/run_overview.h"

namespace lumbra {

inline constexpr std::string_view kReportPageFile = "Lumbra.html";
// The failures listed, newest first; the record and the log hold the rest.
inline constexpr size_t kFailuresShown = 60;

std::string RenderReportPage(const PassRecord& record, const RunOverview& overview,
                             std::string_view work_dir);

}  // namespace lumbra

#endif  // LUMBRA_REPORT_REPORT_PAGE_H_
