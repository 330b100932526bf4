#include "backends/quickbooks/qbxml_round_trip.h"

#include "backends/context/run_context.h"
#include "text/xml_encoding.h"

namespace lumbra {
namespace {

// The request's query element ("ItemQueryRq"), to name it in the log.
std::string RequestName(const std::string& request) {
  constexpr std::string_view kQuery = "QueryRq";
  size_t query = request.find(kQuery);
  size_t open = query == std::string::npos ? query : request.rfind('<', query);
  if (open == std::string::npos) return "request";
  return request.substr(open + 1, query + kQuery.size() - open - 1);
}

// The description as one line: a line end the processor left in it must not
// start a second one.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

void ShowFailure(RunContext& ctx, const std::string& request, const char* step,
                 const std::string& description, const std::string& detail) {
  ctx.ShowError(description);
  ctx.Log("qbXML " + RequestName(request) + " failed at " + step + ", no answer taken: " +
          description + (detail.empty() ? "" : " (" + detail + ")"));
  ctx.report.Failed(Trouble::kDatabaseSilent, "QuickBooks gave no answer to the qbXML " +
                                                  RequestName(request) + " (" + step +
                                                  "): " + description);
}

}  // namespace

std::string QbxmlRoundTrip(RunContext& ctx, const std::string& request,
                           const RequestProcessorFactory& create_processor) {
  std::unique_ptr<RequestProcessor> processor;
  Status s = create_processor(&processor);
  if (!s.ok() || processor == nullptr) {
    ShowFailure(ctx, request, "creating the request processor", OneLine(s.message()), "");
    return std::string();
  }
  std::string ticket;
  std::string response;
  const char* step = "open connection";
  s = processor->OpenConnection("", std::string(kProgramTitle));
  if (s.ok()) {
    step = "begin session";
    s = processor->BeginSession(ctx.DataPath, kSessionFileMode, &ticket);
  }
  if (s.ok()) {
    step = "process request";
    s = processor->ProcessRequest(ticket, request, &response);
  }
  if (s.ok()) {
    step = "end session";
    s = processor->EndSession(ticket);
  }
  if (s.ok()) {
    step = "close connection";
    s = processor->CloseConnection();
  }
  if (!s.ok()) {
    ShowFailure(ctx, request, step, OneLine(s.message()), processor->FailureDetail());
    return std::string();
  }
  const size_t bytes = response.size();
  XmlDecoding how;
  s = DecodeXmlDocument(&response, &how);
  if (!s.ok()) {
    ShowFailure(ctx, request, "reading the answer", OneLine(s.message()), "");
    return std::string();
  }
  ctx.Log("qbXML " + RequestName(request) + " answered: " + std::to_string(bytes) + " bytes (" +
          how.encoding + ")");
  if (how.unmapped > 0) {
    ctx.Log("qbXML " + RequestName(request) + " answer: " + std::to_string(how.unmapped) +
            " characters that Windows-1252 cannot hold written as \"?\"");
  }
  return response;
}

std::string QbxmlRoundTrip(RunContext& ctx, const std::string& request,
                           const QbxmlProcessorOptions& options) {
  return QbxmlRoundTrip(ctx, request, [&](std::unique_ptr<RequestProcessor>* processor) {
    return CreateRequestProcessor(ctx.env, &ctx.com_calls, options, ctx.work_dir, processor);
  });
}

}  // namespace lumbra
