#include "platform/win_http.h"

#include <cstdlib>
#include <cstring>

#include "platform/win_api.h"
#include "platform/win_text.h"

#include <winhttp.h>

namespace lumbra {
namespace {

// Closed when it goes out of scope.
class Internet {
 public:
  explicit Internet(HINTERNET h = nullptr) : h_(h) {}
  ~Internet() {
    if (h_ != nullptr) ::WinHttpCloseHandle(h_);
  }
  Internet(const Internet&) = delete;
  Internet& operator=(const Internet&) = delete;
  HINTERNET get() const { return h_; }

 private:
  HINTERNET h_;
};

// Wine reports a passed time limit as the socket's WSAETIMEDOUT.
constexpr DWORD kSocketTimedOut = 10060;

std::string DurationText(long ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

// A passed limit is told as the POSIX client tells it: how long nothing
// came (the silence limit), or how long the connection was waited for.
Status Failed(const char* what, long time_limit_ms, bool connecting = false) {
  DWORD error = ::GetLastError();
  if (error == ERROR_WINHTTP_TIMEOUT || error == kSocketTimedOut) {
    return Status::IOError(std::string(what) + (connecting ? ": timed out: no connection within "
                                                           : ": timed out: nothing received for ") +
                           DurationText(time_limit_ms));
  }
  std::string text = SystemMessage(error);
  if (error == ERROR_WINHTTP_CANNOT_CONNECT) text = "could not connect to the server";
  if (text.empty()) text = "WinHTTP error";
  return Status::IOError(std::string(what) + ": " + text + " (" + std::to_string(error) + ")");
}

void ReadHeaders(HINTERNET request, WinHttpReply* reply) {
  DWORD size = 0;
  ::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  if (size == 0) return;
  std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                             raw.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
    return;
  }
  raw.resize(size / sizeof(wchar_t));
  std::string text = NarrowCp1252Lossy(raw);
  size_t pos = text.find("\r\n");  // after the status line
  while (pos != std::string::npos && pos + 2 < text.size()) {
    size_t start = pos + 2;
    pos = text.find("\r\n", start);
    std::string line = text.substr(start, pos == std::string::npos ? pos : pos - start);
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    size_t value = line.find_first_not_of(' ', colon + 1);
    reply->headers.emplace_back(line.substr(0, colon),
                                value == std::string::npos ? "" : line.substr(value));
  }
}

}  // namespace

Status WinHttpGet(const std::string& url, const std::vector<std::string>& headers,
                  const WinHttpLimits& limits, WinHttpReply* reply) {
  *reply = WinHttpReply();
  const long time_limit_ms = limits.silence_ms;
  const size_t max_body = limits.max_body;
  std::wstring wide_url = WidenCp1252(url);
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
  if (!::WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts)) return Failed("bad URL", 0);
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  Internet session(::WinHttpOpen(L"Lumbra", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
  if (session.get() == nullptr) return Failed("HTTP client not started", time_limit_ms);
  const int connect = static_cast<int>(limits.connect_ms);
  const int silence = static_cast<int>(limits.silence_ms);
  ::WinHttpSetTimeouts(session.get(), connect, connect, silence, silence);
  Internet connection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (connection.get() == nullptr) return Failed("no connection", time_limit_ms);
  DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  Internet request(::WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (request.get() == nullptr) return Failed("no request", time_limit_ms);
  // Wine applies the timeouts above to everything but the wait for the
  // response's headers, which this one bounds.
  DWORD receive = static_cast<DWORD>(limits.silence_ms);
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive,
                     sizeof receive);
  // Redirects are not followed, as a server answer is judged as it stands.
  DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects,
                     sizeof no_redirects);
  for (const std::string& header : headers) {
    std::wstring line = WidenCp1252(header);
    if (!::WinHttpAddRequestHeaders(request.get(), line.c_str(), DWORD(line.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD)) {
      return Failed("bad request header", time_limit_ms);
    }
  }
  if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    return Failed("request not sent", limits.connect_ms, /*connecting=*/true);
  }
  if (!::WinHttpReceiveResponse(request.get(), nullptr)) {
    return Failed("no response", time_limit_ms);
  }
  DWORD status = 0, size = sizeof status;
  ::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  reply->status = static_cast<long>(status);
  ReadHeaders(request.get(), reply);
  for (;;) {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request.get(), &available)) {
      return Failed("response body cut short", time_limit_ms);
    }
    if (available == 0) break;
    if (reply->body.size() + available > max_body) {
      return Status::IOError("response larger than " + std::to_string(max_body) + " bytes");
    }
    size_t at = reply->body.size();
    reply->body.resize(at + available);
    DWORD read = 0;
    if (!::WinHttpReadData(request.get(), reply->body.data() + at, available, &read)) {
      return Failed("response body cut short", time_limit_ms);
    }
    reply->body.resize(at + read);
  }
  // A connection closed early can look like the end of the body.
  for (const auto& [name, value] : reply->headers) {
    if (_stricmp(name.c_str(), "Content-Length") == 0 &&
        std::strtoull(value.c_str(), nullptr, 10) > reply->body.size()) {
      return Status::IOError("response body cut short: " + std::to_string(reply->body.size()) +
                             " of " + value + " bytes");
    }
  }
  return Status::OK();
}

}  // namespace lumbra
