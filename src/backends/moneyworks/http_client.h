// HttpClient: the one HTTP operation the MoneyWorks back-end needs, a GET
// with request headers, behind an interface so the platform side can be
// swapped and tests can make any request fail.
#ifndef LUMBRA_BACKENDS_MONEYWORKS_HTTP_CLIENT_H_
#define LUMBRA_BACKENDS_MONEYWORKS_HTTP_CLIENT_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace lumbra::moneyworks {

struct HttpResponse {
  long status = 0;
  // The response's header lines as name and value, in the order received.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the first header of that name (compared without regard to
  // case); empty when there is none.
  std::string_view Header(std::string_view name) const;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Fetches url, sending each of headers ("Name: value") as given. A failed
  // Status means no complete response arrived: the connection was refused,
  // a time limit passed, the body was cut short or grew past the size
  // limit. Any HTTP status that did arrive is OK here; the caller judges it.
  virtual Status Get(const std::string& url, const std::vector<std::string>& headers,
                     HttpResponse* response) = 0;
  // Lets go of any connection kept open between requests.
  virtual void Close() = 0;
};

// A request fails when the connection is not made within connect_ms, when
// no byte arrives for silence_ms (counted from the start of the request,
// then from the last byte received), or when the body passes
// max_body_bytes. A large answer that keeps coming takes as long as it takes.
struct HttpLimits {
  long connect_ms = 30000;
  long silence_ms = 120000;
  size_t max_body_bytes = size_t{256} << 20;
};

// The client of this platform: libcurl's on POSIX (curl_http_client.cc),
// WinHTTP on Windows (win_http_client.cc).
std::unique_ptr<HttpClient> NewHttpClient(const HttpLimits& limits = HttpLimits());

}  // namespace lumbra::moneyworks

#endif  // LUMBRA_BACKENDS_MONEYWORKS_HTTP_CLIENT_H_
