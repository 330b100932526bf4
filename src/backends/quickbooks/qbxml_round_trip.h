// One qbXML exchange with QuickBooks: a whole request document goes to the
// request processor, the whole response document comes back as text. This
// is the only place that talks to the processor.
#ifndef LUMBRA_BACKENDS_QUICKBOOKS_QBXML_ROUND_TRIP_H_
#define LUMBRA_BACKENDS_QUICKBOOKS_QBXML_ROUND_TRIP_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "backends/quickbooks/qbxml_processor.h"
#include "platform/status.h"

namespace lumbra {

struct RunContext;

// The program's title, which the processor is given as application name.
inline constexpr std::string_view kProgramTitle = "Lumbra";

// Makes the processor of one exchange; its status message describes a
// failure as the user is to see it.
using RequestProcessorFactory = std::function<Status(std::unique_ptr<RequestProcessor>*)>;

// A new processor for this one exchange: open connection (no application
// identifier, kProgramTitle as name), begin a session on the company file
// DataPath, process the request, end the session, close the connection. The
// first call that fails ends the exchange there (nothing after it, not even
// ending the session, is tried): its description goes to standard error as
// one line, the run log records it, and the result is the empty text. The
// processor is released either way. The answer's bytes are decoded by the
// document's own account of its encoding (DecodeXmlDocument): the result
// is Windows-1252, a character it cannot hold written as "?" and counted in
// one line of the log; an encoding that is not known fails the exchange.
std::string QbxmlRoundTrip(RunContext& ctx, const std::string& request,
                           const RequestProcessorFactory& create_processor);

// The same with the processor of this platform, run in the working folder.
std::string QbxmlRoundTrip(RunContext& ctx, const std::string& request,
                           const QbxmlProcessorOptions& options);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_QUICKBOOKS_QBXML_ROUND_TRIP_H_
