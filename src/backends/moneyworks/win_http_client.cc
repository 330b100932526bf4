// The HTTP client of the Windows program, for now: it has no HTTP stack of
// its own yet (libcurl is not linked there), so every request fails and the
// MoneyWorks export logs why. The Datacentre is reached from Windows once a
// WinHTTP client takes this one's place.
#include "backends/moneyworks/http_client.h"

namespace lumbra::moneyworks {
namespace {

class UnavailableHttpClient : public HttpClient {
 public:
  Status Get(const std::string&, const std::vector<std::string>&, HttpResponse*) override {
    return Status::NotSupported("this Windows program has no HTTP client yet");
  }
  void Close() override {}
};

}  // namespace

std::unique_ptr<HttpClient> NewHttpClient(const HttpLimits&) {
  return std::make_unique<UnavailableHttpClient>();
}

}  // namespace lumbra::moneyworks
