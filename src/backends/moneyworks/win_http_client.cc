// The HTTP client of the Windows program: WinHTTP, through the platform.
// Each request has a connection of its own, so there is nothing to close
// between them.
#include "backends/moneyworks/http_client.h"
#include "platform/win_http.h"

namespace lumbra::moneyworks {
namespace {

class WinHttpClient : public HttpClient {
 public:
  explicit WinHttpClient(const HttpLimits& limits) : limits_(limits) {}

  Status Get(const std::string& url, const std::vector<std::string>& headers,
             HttpResponse* response) override {
    *response = HttpResponse();
    WinHttpReply reply;
    const WinHttpLimits limits{limits_.connect_ms, limits_.silence_ms, limits_.max_body_bytes};
    Status s = WinHttpGet(url, headers, limits, &reply);
    if (!s.ok()) return s;
    response->status = reply.status;
    response->headers = std::move(reply.headers);
    response->body = std::move(reply.body);
    return Status::OK();
  }
  void Close() override {}

 private:
  HttpLimits limits_;
};

}  // namespace

std::unique_ptr<HttpClient> NewHttpClient(const HttpLimits& limits) {
  return std::make_unique<WinHttpClient>(limits);
}

}  // namespace lumbra::moneyworks
