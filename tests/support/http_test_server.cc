#include "support/http_test_server.h"

#ifdef _WIN32
#include <winsock2.h>
#define poll WSAPoll
#define strncasecmp _strnicmp
#define MSG_NOSIGNAL 0
using socklen_t = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>

namespace lumbra::test {
namespace {

#ifdef _WIN32
void CloseSocket(std::intptr_t fd) { ::closesocket(static_cast<SOCKET>(fd)); }
std::intptr_t NewSocket() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return -1;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(s);
}
std::intptr_t Accept(std::intptr_t fd) {
  SOCKET s = ::accept(static_cast<SOCKET>(fd), nullptr, nullptr);
  return s == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(s);
}
#else
void CloseSocket(std::intptr_t fd) { ::close(static_cast<int>(fd)); }
std::intptr_t NewSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
std::intptr_t Accept(std::intptr_t fd) {
  return ::accept4(static_cast<int>(fd), nullptr, nullptr, SOCK_CLOEXEC);
}
#endif

auto Raw(std::intptr_t fd) {
#ifdef _WIN32
  return static_cast<SOCKET>(fd);
#else
  return static_cast<int>(fd);
#endif
}

// A TCP socket bound to a free loopback port.
std::intptr_t BindLoopback(int* port) {
  std::intptr_t fd = NewSocket();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(Raw(fd), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(Raw(fd), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) CloseSocket(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

// Waits up to ms for fd to become readable (or hung up).
bool Readable(std::intptr_t fd, int ms) {
  pollfd p{};
  p.fd = static_cast<decltype(p.fd)>(fd);
  p.events = POLLIN;
  return ::poll(&p, 1, ms) > 0;
}

}  // namespace

std::vector<std::string> HttpRequest::Values(std::string_view name) const {
  std::vector<std::string> values;
  for (size_t start = 0, end; start < head.size(); start = end + 2) {
    end = std::min(head.find("\r\n", start), head.size());
    std::string_view line = std::string_view(head).substr(start, end - start);
    if (line.size() > name.size() && line[name.size()] == ':' &&
        ::strncasecmp(line.data(), name.data(), name.size()) == 0) {
      line.remove_prefix(name.size() + 1);
      while (line.starts_with(' ')) line.remove_prefix(1);
      values.emplace_back(line);
    }
  }
  return values;
}

HttpTestServer::HttpTestServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = BindLoopback(&port_);
  if (listen_fd_ < 0 || ::listen(Raw(listen_fd_), 16) != 0) {
    port_ = 0;
    return;
  }
  thread_ = std::thread([this] {
    while (!stop_) {
      if (!Readable(listen_fd_, 50)) continue;
      std::intptr_t fd = Accept(listen_fd_);
      if (fd < 0) continue;
      Answer(fd);
      CloseSocket(fd);
    }
  });
}

HttpTestServer::~HttpTestServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) CloseSocket(listen_fd_);
}

std::vector<HttpRequest> HttpTestServer::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

void HttpTestServer::Answer(std::intptr_t fd) {
  std::string in;
  char buf[4096];
  size_t head_end;
  while ((head_end = in.find("\r\n\r\n")) == std::string::npos) {
    if (stop_ || in.size() > (1 << 16) || !Readable(fd, 2000)) return;
    ssize_t n = ::recv(Raw(fd), buf, sizeof buf, 0);
    if (n <= 0) return;
    in.append(buf, static_cast<size_t>(n));
  }
  // "GET <target> HTTP/1.1\r\n<header lines>"
  size_t sp1 = in.find(' '), sp2 = in.find(' ', sp1 + 1), eol = in.find("\r\n");
  if (sp2 > eol) return;
  HttpRequest request{in.substr(sp1 + 1, sp2 - sp1 - 1), in.substr(eol + 2, head_end - eol)};
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(request);
  }
  HttpReply reply = handler_(request);
  if (reply.mode == HttpReply::Mode::kSilent) {
    // Holds the connection until the client gives up or the server stops.
    while (!stop_) {
      if (Readable(fd, 50) && ::recv(Raw(fd), buf, sizeof buf, 0) <= 0) return;
    }
    return;
  }
  std::string out = "HTTP/1.1 " + std::to_string(reply.status) +
                    " Status\r\nConnection: close\r\nContent-Length: " +
                    std::to_string(reply.body.size()) + "\r\n";
  for (const auto& [key, value] : reply.headers) out += key + ": " + value + "\r\n";
  bool cut = reply.mode == HttpReply::Mode::kCutShort;
  out += "\r\n" + reply.body.substr(0, cut ? reply.body.size() / 2 : std::string::npos);
  const bool slow = reply.mode == HttpReply::Mode::kSlow;
  const size_t piece = slow ? out.size() / 5 + 1 : out.size();
  for (std::string_view rest = out; !rest.empty();) {
    if (slow && rest.size() < out.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(reply.pause_ms));
    }
    ssize_t n = ::send(Raw(fd), rest.data(), static_cast<int>(std::min(rest.size(), piece)),
                       MSG_NOSIGNAL);
    if (n <= 0) return;
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace lumbra::test
