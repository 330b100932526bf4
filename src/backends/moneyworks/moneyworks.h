// The MoneyWorks back-end: customers, suppliers, income accounts, stock
// items, activities and jobs, exported through the MoneyWorks automation
// object (see application.h) into the device tables of folder "1\".
#ifndef LUMBRA_BACKENDS_MONEYWORKS_MONEYWORKS_H_
#define LUMBRA_BACKENDS_MONEYWORKS_MONEYWORKS_H_

#include <string_view>

namespace lumbra {

struct RunContext;

namespace moneyworks {
class HttpClient;
}

// The file each table is exported into and read back from, in the program's
// folder. It is left holding the last (jobs) export.
inline constexpr std::string_view kMoneyWorksScratchFile = "tempdb.dat";

void ExportMoneyWorks(RunContext& ctx);
// The same, reaching the server through http.
void ExportMoneyWorks(RunContext& ctx, moneyworks::HttpClient* http);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_MONEYWORKS_MONEYWORKS_H_
