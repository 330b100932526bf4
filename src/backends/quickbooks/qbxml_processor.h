// The QuickBooks request processor: the outside component that every qbXML
// exchange goes through, seen through its five operations. On Windows it is
// the COM class that QuickBooks installs (com_request_processor.h); on other
// platforms QuickBooks runs elsewhere and an administrator's command stands
// in for it.
#ifndef LUMBRA_BACKENDS_QUICKBOOKS_QBXML_PROCESSOR_H_
#define LUMBRA_BACKENDS_QUICKBOOKS_QBXML_PROCESSOR_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "backends/context/settings.h"
#include "platform/call_thread.h"
#include "platform/status.h"

namespace lumbra {

class Env;

// The COM class and its dispatch-based interface, called early-bound.
inline constexpr std::string_view kRequestProcessorClassId =
    "{2D0E74B6-021A-11D5-9054-00508BF70A94}";
inline constexpr std::string_view kRequestProcessorInterfaceId =
    "{AC48EB1D-E953-446B-A63C-77E7862DE4B8}";
// The interface's own slots, in order, after the dispatch slots.
enum class RequestProcessorSlot {
  kProcessRequest,
  kOpenConnection,
  kCloseConnection,
  kBeginSession,
  kEndSession,
};

// The file mode every session is begun with.
inline constexpr int kSessionFileMode = 2;

// A failing call returns a status whose message is the error's description,
// the text the user is shown.
class RequestProcessor {
 public:
  virtual ~RequestProcessor() = default;
  virtual Status OpenConnection(const std::string& app_id, const std::string& app_name) = 0;
  // *ticket names the session to the two calls below; it is opaque.
  virtual Status BeginSession(const std::string& company_file, int file_mode,
                              std::string* ticket) = 0;
  virtual Status ProcessRequest(const std::string& ticket, const std::string& request,
                                std::string* response) = 0;
  virtual Status EndSession(const std::string& ticket) = 0;
  virtual Status CloseConnection() = 0;
  // What the log adds to the description of the last failure (how the
  // processor ended, say); empty when there is nothing to add.
  virtual std::string FailureDetail() const { return std::string(); }
};

// The variable that holds the command standing in for the processor.
inline constexpr const char* kProcessorCommandVariable = "LUMBRA_QBXML_PROCESSOR";
// The description of a failure for which the command said nothing.
inline constexpr std::string_view kProcessorNotAvailable =
    "QuickBooks request processor not available";

struct QbxmlProcessorOptions {
  // Run through /bin/sh once per request; empty: there is no processor.
  std::string command_line;
  // The command is killed, and the request fails, once it has written
  // nothing (on either output) for this long, or once its answer (or its
  // standard error) passes response_limit bytes. A large answer that keeps coming takes as long as
  // it takes.
  uint64_t silence_limit_ms = uint64_t{TimeLimits::kDefaultQbxmlSeconds} * 1000;
  uint64_t response_limit = uint64_t{256} << 20;
};

// The command from LUMBRA_QBXML_PROCESSOR (unset and empty alike mean none),
// with the standard response limit and the given silence limit.
QbxmlProcessorOptions QbxmlProcessorOptionsFromEnvironment(Env* env, int silence_seconds);

// The processor of this platform. ProcessRequest runs the command through
// /bin/sh in working_dir, with QBXML_COMPANY_FILE (the session's company
// file) and QBXML_APP_NAME (the connection's application name) in its
// environment, the request on its standard input exactly as given, and its
// standard output, taken as bytes, as the response. Exit status 0 is
// success. Any other end fails, described by the command's first line of
// standard error, or by kProcessorNotAvailable when it wrote none. Creating
// it fails with kProcessorNotAvailable when there is no command. On Windows
// the processor is always QuickBooks' COM component, made and called on
// com_thread, and each of its calls, creation included, may take at most
// silence_limit_ms (there is no output to watch, only the answer);
// command_line, response_limit and working_dir are not used.
Status CreateRequestProcessor(Env* env, CallThread* com_thread,
                              const QbxmlProcessorOptions& options,
                              const std::string& working_dir,
                              std::unique_ptr<RequestProcessor>* processor);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_QUICKBOOKS_QBXML_PROCESSOR_H_
