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

// Fetches url (http or https, already percent-encoded) directly, without a
// proxy, sending each of headers ("Name: value") as given. time_limit_ms
// bounds the whole request, connecting included; a body past max_body
// bytes fails. Any HTTP status that arrived is OK here.
Status WinHttpGet(const std::string& url, const std::vector<std::string>& headers,
                  long time_limit_ms, size_t max_body, WinHttpReply* reply);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_WIN_HTTP_H_
