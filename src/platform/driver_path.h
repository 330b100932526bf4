// A file's path as the ODBC drivers take it inside a connection string.
// Under Wine the driver manager hands the string to the host's own drivers
// unchanged, and those know nothing of drive letters: "Z:\data\shop.db" is
// "/data/shop.db" to them. Everywhere else the path stays as it is.
#ifndef LUMBRA_PLATFORM_DRIVER_PATH_H_
#define LUMBRA_PLATFORM_DRIVER_PATH_H_

#include <string>

namespace lumbra {

// path: absolute, in the program's Windows-1252 bytes; so is the answer.
std::string PathForDrivers(const std::string& path);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_DRIVER_PATH_H_
