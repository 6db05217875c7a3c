#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace {
int BindLoopback(int &port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) != 0)
    throw std::runtime_error("bind failed");
  socklen_t len = sizeof(sa);
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
  port = ntohs(sa.sin_port);
  return fd;
}
}  // namespace

TLoopbackPeer::TLoopbackPeer() {
  FListen = BindLoopback(FPort);
  if (::listen(FListen, 4) != 0) throw std::runtime_error("listen failed");
}

TLoopbackPeer::~TLoopbackPeer() {
  Join();
  if (FListen >= 0) ::close(FListen);
}

void TLoopbackPeer::SetReceiveBuffer(int bytes) {
  ::setsockopt(FListen, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

void TLoopbackPeer::Join() {
  if (FThread.joinable()) FThread.join();
}

void TLoopbackPeer::Serve(std::function<void(int fd)> script) {
  Join();
  FThread = std::thread([this, script = std::move(script)] {
    pollfd p{FListen, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return;
    int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    script(fd);
    ::close(fd);
  });
}

void TLoopbackPeer::SendAll(int fd, const std::string &data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    off += static_cast<size_t>(n);
  }
}

std::string TLoopbackPeer::Receive(int fd, size_t count, int timeoutMs) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[65536];
    ssize_t n = ::recv(fd, buf, std::min(sizeof(buf), count - out.size()), 0);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string TLoopbackPeer::ReceiveUntilClosed(int fd, int timeoutMs) {
  return Receive(fd, static_cast<size_t>(-1) / 2, timeoutMs);
}

int ClosedLoopbackPort() {
  int port = 0;
  int fd = BindLoopback(port);
  ::close(fd);
  return port;
}
