// MoneyWorks' own automation object on Windows: the COM class registered as
// "MoneyWorks.Application", called late-bound by method name. Its "Export"
// writes the file itself.
#ifndef LUMBRA_BACKENDS_MONEYWORKS_COM_APPLICATION_H_
#define LUMBRA_BACKENDS_MONEYWORKS_COM_APPLICATION_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "backends/moneyworks/application.h"
#include "platform/call_thread.h"

namespace lumbra::moneyworks {

// A new object of the class registered under class_name; fails where
// MoneyWorks is not installed, or where there is no COM. It is made and
// called on thread, which must outlive it; a call (its creation among
// them) that MoneyWorks does not answer within limit_ms fails with
// "MoneyWorks did not answer within 120 s", and every later one at once.
Status CreateComApplication(CallThread* thread, uint64_t limit_ms, std::string_view class_name,
                            std::unique_ptr<AutomationObject>* object);

}  // namespace lumbra::moneyworks

#endif  // LUMBRA_BACKENDS_MONEYWORKS_COM_APPLICATION_H_
