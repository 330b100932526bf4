// The intake: takes in what the devices handed in (their "transact.xml"
// files) and hands it to the configured back-end's posting.
#ifndef LUMBRA_INTAKE_INTAKE_H_
#define LUMBRA_INTAKE_INTAKE_H_

#include <string_view>

namespace lumbra {

struct RunContext;

inline constexpr std::string_view kDeviceNamesFile = "devicenames.xml";
inline constexpr std::string_view kDefaultDatabaseFile = "TamselDataLink.mdb";

// Reads the device names, routes the devices' mail, then posts each device's
// records: through the staging file "tempdb.dat", device by device, or, for
// the database back-ends, through the database connection.
void TakeInTransactions(RunContext& ctx);

// Fills DeviceNames from "devicenames.xml": field 1 a name, field 2 its
// device number (rounded, a half to the even neighbour; 0 to 99).
void ReadDeviceNames(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_INTAKE_H_
