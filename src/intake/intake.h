// The intake: takes in what the devices handed in (their "transact.xml"
// files) and hands it to the back-end's posting.
#ifndef LUMBRA_INTAKE_INTAKE_H_
#define LUMBRA_INTAKE_INTAKE_H_

#include <string_view>

namespace lumbra {

struct RunContext;
class Posting;

inline constexpr std::string_view kDeviceNamesFile = "devicenames.xml";

// Reads the device names, finishes a posting a killed pass left, takes over
// and archives every device's file, routes the devices' mail, then hands
// each device's records to posting (null: the back-end takes no postings,
// and the records are dropped; the archive keeps them). A device whose
// earlier lines were all posted in this pass has its newer file taken in as
// well.
void TakeInTransactions(RunContext& ctx, Posting* posting);

// Fills DeviceNames from "devicenames.xml": field 1 a name, field 2 its
// device number (rounded, a half to the even neighbour; 0 to 99).
void ReadDeviceNames(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_INTAKE_H_
