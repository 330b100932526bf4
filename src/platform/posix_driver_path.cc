#include "platform/driver_path.h"

namespace lumbra {

std::string PathForDrivers(const std::string& path) { return path; }

}  // namespace lumbra
