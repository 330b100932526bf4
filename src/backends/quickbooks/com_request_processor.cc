#include "backends/quickbooks/com_request_processor.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com_object.h"

namespace lumbra {
namespace {

ComText Text(const std::string& bytes) { return ComText{bytes, false, {}}; }

// A call QuickBooks did not answer in time names it to the user.
Status Described(Status s) {
  return s.IsTimedOut() ? Status::TimedOut("QuickBooks " + s.message()) : s;
}

// The answer as the object gave it, UTF-16 behind its byte-order mark, so
// that it is read the way every qbXML answer is, whatever its declaration
// says.
std::string Utf16Document(const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + 2 * text.size());
  for (wchar_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return bytes;
}

class ComRequestProcessor : public RequestProcessor {
 public:
  explicit ComRequestProcessor(std::unique_ptr<ComObject> object) : object_(std::move(object)) {}

  Status OpenConnection(const std::string& app_id, const std::string& app_name) override {
    return Call(RequestProcessorSlot::kOpenConnection, {Text(app_id), Text(app_name)});
  }

  Status BeginSession(const std::string& company_file, int file_mode,
                      std::string* ticket) override {
    const int32_t mode = file_mode;
    Status s = Call(RequestProcessorSlot::kBeginSession, {Text(company_file)}, &mode, &ticket_);
    *ticket = ticket_.bytes;
    return s;
  }

  Status ProcessRequest(const std::string& ticket, const std::string& request,
                        std::string* response) override {
    ComText answer;
    Status s = Call(RequestProcessorSlot::kProcessRequest, {TicketText(ticket), Text(request)},
                    nullptr, &answer);
    *response = Utf16Document(answer.exact);
    return s;
  }

  Status EndSession(const std::string& ticket) override {
    return Call(RequestProcessorSlot::kEndSession, {TicketText(ticket)});
  }

  Status CloseConnection() override { return Call(RequestProcessorSlot::kCloseConnection, {}); }

  std::string FailureDetail() const override { return object_->LastError(); }

 private:
  Status Call(RequestProcessorSlot slot, const std::vector<ComText>& texts,
              const int32_t* number = nullptr, ComText* result = nullptr) {
    return Described(object_->CallSlot(static_cast<int>(slot), texts, number, result));
  }

  // The ticket as the object gave it, when that is the one asked for.
  ComText TicketText(const std::string& ticket) const {
    return ticket == ticket_.bytes ? ticket_ : Text(ticket);
  }

  std::unique_ptr<ComObject> object_;
  ComText ticket_;
};

}  // namespace

Status CreateComRequestProcessor(CallThread* thread, uint64_t limit_ms,
                                 std::unique_ptr<RequestProcessor>* processor) {
  processor->reset();
  std::unique_ptr<ComObject> object;
  Status s = CreateComObject(thread, limit_ms, kRequestProcessorClassId,
                             kRequestProcessorInterfaceId, &object);
  if (!s.ok()) return Described(s);
  processor->reset(new ComRequestProcessor(std::move(object)));
  return Status::OK();
}

}  // namespace lumbra
