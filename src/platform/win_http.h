// One HTTP GET through WinHTTP, Windows' own HTTP client. Windows only; the
// POSIX build uses libcurl instead.
#ifndef LUMBRA_PLATFORM_WIN_HTTP_H_
#define LUMBRA_PLATFORM_WIN_HTTP_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace lumbra {

struct WinHttpReply {
  long status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received
  std::string body;
};

// A request fails when the connection is not made within connect_ms, when
// nothing arrives for silence_ms (the response's headers, then each part of
// its body), or when the body passes max_body bytes. An answer that keeps
// coming takes as long as it takes.
struct WinHttpLimits {
  long connect_ms = 30000;
  long silence_ms = 30000;
  size_t max_body = size_t{256} << 20;
};

// Fetches url (http or https, already percent-encoded) directly, without a
// proxy, sending each of headers ("Name: value") as given. Any HTTP status
// that arrived is OK here.
Status WinHttpGet(const std::string& url, const std::vector<std::string>& headers,
                  const WinHttpLimits& limits, WinHttpReply* reply);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_WIN_HTTP_H_
