// A tiny HTTP server for tests: listens on 127.0.0.1 on a free port, serves
// one connection at a time (each closed after its answer) from a handler,
// and records every request. It stops when destroyed, and by itself once
// its lifetime is over, so a test that hangs cannot keep it running.
#ifndef LUMBRA_TESTS_SUPPORT_HTTP_TEST_SERVER_H_
#define LUMBRA_TESTS_SUPPORT_HTTP_TEST_SERVER_H_

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace lumbra::test {

struct HttpRequest {
  std::string method;
  std::string target;  // as sent, escapes and all
  std::vector<std::pair<std::string, std::string>> headers;
  // Every value of the headers of that name (any case), in order.
  std::vector<std::string> Values(std::string_view name) const;
};

struct HttpReply {
  enum class Mode {
    kNormal,
    kSilent,    // reads the request and never answers
    kCutShort,  // announces the whole body, sends half of it and hangs up
  };
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  Mode mode = Mode::kNormal;
};

class HttpTestServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;
  explicit HttpTestServer(Handler handler, int lifetime_seconds = 60);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // 0 when the server could not start.
  int port() const { return port_; }
  std::vector<HttpRequest> requests() const;

 private:
  void Serve(int lifetime_seconds);
  void Answer(int fd);

  Handler handler_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::vector<HttpRequest> requests_;
  std::thread thread_;
};

// A loopback port that is bound but never listened on, so every connection
// to it is refused, and no other server can take it while this object lives.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace lumbra::test

#endif  // LUMBRA_TESTS_SUPPORT_HTTP_TEST_SERVER_H_
