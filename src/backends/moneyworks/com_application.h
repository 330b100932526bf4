// MoneyWorks' own automation object on Windows: the COM class registered as
// "MoneyWorks.Application", called late-bound by method name. Its "Export"
// writes the file itself.
#ifndef LUMBRA_BACKENDS_MONEYWORKS_COM_APPLICATION_H_
#define LUMBRA_BACKENDS_MONEYWORKS_COM_APPLICATION_H_

#include <memory>
#include <string_view>

#include "backends/moneyworks/application.h"

namespace lumbra::moneyworks {

// A new object of the class registered under class_name; fails where
// MoneyWorks is not installed, or where there is no COM.
Status CreateComApplication(std::string_view class_name, std::unique_ptr<AutomationObject>* object);

}  // namespace lumbra::moneyworks

#endif  // LUMBRA_BACKENDS_MONEYWORKS_COM_APPLICATION_H_
