#include <curl/curl.h>

#include <chrono>
#include <mutex>
#include <string>

#include "backends/moneyworks/http_client.h"

namespace lumbra::moneyworks {
namespace {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

using Clock = std::chrono::steady_clock;

std::string DurationText(long ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

struct Transfer {
  HttpResponse* response;
  size_t max_body_bytes;
  std::chrono::milliseconds silence_limit;
  Clock::time_point last_byte = Clock::now();
  bool too_large = false;
  bool silent = false;
};

// libcurl calls this about once a second while nothing moves, so the
// silence limit is kept to within about a second.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  if (Clock::now() - t->last_byte < t->silence_limit) return 0;
  t->silent = true;
  return 1;  // ends the transfer
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  t->last_byte = Clock::now();
  size_t n = size * count;
  if (t->response->body.size() + n > t->max_body_bytes) {
    t->too_large = true;
    return 0;  // ends the transfer with a write error
  }
  t->response->body.append(data, n);
  return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  t->last_byte = Clock::now();
  size_t n = size * count;
  std::string_view line(data, n);
  // A status line starts a new response (after "100 Continue", say): only
  // the headers of the last one count.
  if (line.substr(0, 5) == "HTTP/") {
    t->response->headers.clear();
    return n;
  }
  size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    t->response->headers.emplace_back(std::string(TrimBlanks(line.substr(0, colon))),
                                      std::string(TrimBlanks(line.substr(colon + 1))));
  }
  return n;
}

class CurlHttpClient : public HttpClient {
 public:
  explicit CurlHttpClient(const HttpLimits& limits) : limits_(limits) { InitCurlOnce(); }
  ~CurlHttpClient() override { Close(); }

  Status Get(const std::string& url, const std::vector<std::string>& headers,
             HttpResponse* response) override {
    *response = HttpResponse();
    if (curl_ == nullptr) curl_ = curl_easy_init();
    if (curl_ == nullptr) return Status::IOError("HTTP client could not be started");
    curl_easy_reset(curl_);

    curl_slist* list = nullptr;
    for (const std::string& h : headers) {
      curl_slist* grown = curl_slist_append(list, h.c_str());
      if (grown == nullptr) {
        curl_slist_free_all(list);
        return Status::IOError("out of memory for request headers");
      }
      list = grown;
    }
    Transfer transfer{response, limits_.max_body_bytes,
                      std::chrono::milliseconds(limits_.silence_ms)};
    char error[CURL_ERROR_SIZE] = {0};

    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error);
    // No limit on the whole transfer: only a connection that is not made,
    // or a server that falls silent, ends it.
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, limits_.connect_ms);
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 0L);
    // The server is reached directly, whatever proxy the environment names.
    curl_easy_setopt(curl_, CURLOPT_PROXY, "");
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
#endif

    CURLcode rc = curl_easy_perform(curl_);
    // Nothing of this call's stack stays known to the handle.
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, nullptr);
    curl_slist_free_all(list);
    if (transfer.silent) {
      return Status::IOError("timed out: nothing received for " + DurationText(limits_.silence_ms));
    }
    if (transfer.too_large) {
      return Status::IOError("response larger than " + std::to_string(limits_.max_body_bytes) +
                             " bytes");
    }
    if (rc != CURLE_OK) {
      std::string what = error[0] != '\0' ? error : curl_easy_strerror(rc);
      return Status::IOError(what);
    }
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &response->status);
    return Status::OK();
  }

  void Close() override {
    if (curl_ != nullptr) curl_easy_cleanup(curl_);
    curl_ = nullptr;
  }

 private:
  HttpLimits limits_;
  CURL* curl_ = nullptr;
};

}  // namespace

std::unique_ptr<HttpClient> NewHttpClient(const HttpLimits& limits) {
  return std::make_unique<CurlHttpClient>(limits);
}

}  // namespace lumbra::moneyworks
