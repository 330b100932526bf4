// A tiny HTTP server for tests: listens on a free loopback port, serves one
// connection at a time (each closed after its answer) from a handler, and
// records every request.
#ifndef LUMBRA_TESTS_SUPPORT_HTTP_TEST_SERVER_H_
#define LUMBRA_TESTS_SUPPORT_HTTP_TEST_SERVER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace lumbra::test {

struct HttpRequest {
  std::string target;  // as sent, escapes and all
  std::string head;    // the header lines
  // Every value of the headers of that name (any case), in order.
  std::vector<std::string> Values(std::string_view name) const;
};

struct HttpReply {
  enum class Mode {
    kNormal,
    kSilent,    // reads the request and never answers
    kCutShort,  // announces the whole body, sends half of it and hangs up
    kSlow,      // sends the answer in five pieces, pause_ms apart
  };
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  Mode mode = Mode::kNormal;
  int pause_ms = 0;
};

class HttpTestServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;
  explicit HttpTestServer(Handler handler);
  ~HttpTestServer();

  int port() const { return port_; }  // 0 when the server could not start
  std::vector<HttpRequest> requests() const;

 private:
  // Sockets are ints on POSIX and handles on Windows.
  void Answer(std::intptr_t fd);

  Handler handler_;
  std::intptr_t listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::vector<HttpRequest> requests_;
  std::thread thread_;
};

}  // namespace lumbra::test

#endif  // LUMBRA_TESTS_SUPPORT_HTTP_TEST_SERVER_H_
