#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace lumbra::test {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// A TCP socket bound to a free loopback port. No SO_REUSEADDR: a port held
// by a socket that does not listen must stay its own.
int BindLoopback(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

// Waits up to ms for fd to become readable (or hung up).
bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

void SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    data.remove_prefix(static_cast<size_t>(n));
  }
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

std::vector<std::string> HttpRequest::Values(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : headers) {
    if (SameNoCase(key, name)) values.push_back(value);
  }
  return values;
}

HttpTestServer::HttpTestServer(Handler handler, int lifetime_seconds)
    : handler_(std::move(handler)) {
  listen_fd_ = BindLoopback(&port_);
  if (listen_fd_ < 0 || ::listen(listen_fd_, 16) != 0) {
    port_ = 0;
    return;
  }
  thread_ = std::thread([this, lifetime_seconds] { Serve(lifetime_seconds); });
}

HttpTestServer::~HttpTestServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

std::vector<HttpRequest> HttpTestServer::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

void HttpTestServer::Serve(int lifetime_seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime_seconds);
  while (!stop_ && std::chrono::steady_clock::now() < end) {
    if (!Readable(listen_fd_, 50)) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Answer(fd);
    ::close(fd);
  }
}

void HttpTestServer::Answer(int fd) {
  std::string in;
  char buf[4096];
  size_t head_end;
  while ((head_end = in.find("\r\n\r\n")) == std::string::npos) {
    if (stop_ || in.size() > (1 << 16) || !Readable(fd, 2000)) return;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return;
    in.append(buf, static_cast<size_t>(n));
  }

  HttpRequest request;
  std::string_view head(in.data(), head_end);
  size_t eol = head.find("\r\n");
  std::string_view request_line = head.substr(0, eol);
  size_t sp1 = request_line.find(' ');
  size_t sp2 = request_line.find(' ', sp1 + 1);
  if (sp1 == std::string_view::npos || sp2 == std::string_view::npos) return;
  request.method = request_line.substr(0, sp1);
  request.target = request_line.substr(sp1 + 1, sp2 - sp1 - 1);
  head.remove_prefix(eol == std::string_view::npos ? head.size() : eol + 2);
  while (!head.empty()) {
    eol = head.find("\r\n");
    std::string_view line = head.substr(0, eol);
    head.remove_prefix(eol == std::string_view::npos ? head.size() : eol + 2);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    request.headers.emplace_back(std::string(Trimmed(line.substr(0, colon))),
                                 std::string(Trimmed(line.substr(colon + 1))));
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(request);
  }

  HttpReply reply = handler_(request);
  if (reply.mode == HttpReply::Mode::kSilent) {
    // Holds the connection until the client gives up, the server stops or
    // half a minute has passed.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!stop_ && std::chrono::steady_clock::now() < until) {
      if (Readable(fd, 50) && ::recv(fd, buf, sizeof buf, 0) <= 0) return;
    }
    return;
  }
  std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
                    "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                    "\r\nConnection: close\r\n";
  for (const auto& [key, value] : reply.headers) out += key + ": " + value + "\r\n";
  out += "\r\n";
  if (reply.mode == HttpReply::Mode::kCutShort) {
    out += reply.body.substr(0, reply.body.size() / 2);
  } else {
    out += reply.body;
  }
  SendAll(fd, out);
}

RefusingPort::RefusingPort() { fd_ = BindLoopback(&port_); }

RefusingPort::~RefusingPort() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace lumbra::test
