// What `lumbra status` prints: the run report's summary, what needs
// attention and the device rows, as plain text in columns.
#ifndef LUMBRA_REPORT_STATUS_TEXT_H_
#define LUMBRA_REPORT_STATUS_TEXT_H_

#include <string>
#include <string_view>

#include "report/run_overview.h"

namespace lumbra {

// Windows-1252 text, lines ended by LF.
std::string RenderStatusText(const RunOverview& overview, std::string_view work_dir);

}  // namespace lumbra

#endif  // LUMBRA_REPORT_STATUS_TEXT_H_
