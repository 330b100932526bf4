// Device messages. A transaction line whose record type begins with "Mail"
// (characters 13 to 16 of field 1) refers to a message of the device's
// message list "messages.txt": it is taken out of the transaction file,
// appended to the device's mail log "mailX.txt", and sets column 9 of the
// first message whose columns 2 and 3 match its fields 2 and 3. Each mail
// line reaches the log and the list exactly once per hand-in, whatever fails
// and wherever a pass stops: the lines go from the intake file into the
// hand-over file "transact.xml.mail" first, which a later pass finishes.
#ifndef LUMBRA_INTAKE_DEVICE_MAIL_H_
#define LUMBRA_INTAKE_DEVICE_MAIL_H_

#include <string>
#include <string_view>
#include <vector>

#include "intake/device_files.h"

namespace lumbra {

struct RunContext;

inline constexpr std::string_view kMailLogFile = "mailX.txt";
inline constexpr std::string_view kMessagesFile = "messages.txt";

// Works on the intake files of the devices handed in, and finishes the
// hand-overs earlier passes left. Afterwards no usable intake file holds a
// mail line or a line with an empty field 1. A device whose mail could not be
// handed over (its folder is full, say) is marked unusable and keeps its file
// as it was; mail handed over but not yet logged or applied waits in the
// hand-over file while the device's other records are posted.
void RouteDeviceMail(RunContext& ctx, std::vector<HandedIn>& handed_in);

// The message list text after applying a device's mail lines, or nothing
// when the list holds no line. Rows keep ten columns; rows whose column 1 is
// empty are dropped.
bool ApplyMailToMessages(std::string_view messages, const std::vector<std::string>& mail_lines,
                         std::string* rewritten);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_DEVICE_MAIL_H_
