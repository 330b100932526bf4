// The MoneyWorks back-end.
#ifndef LUMBRA_BACKENDS_MONEYWORKS_MONEYWORKS_H_
#define LUMBRA_BACKENDS_MONEYWORKS_MONEYWORKS_H_

namespace lumbra {

struct RunContext;

void ExportMoneyWorks(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_MONEYWORKS_MONEYWORKS_H_
