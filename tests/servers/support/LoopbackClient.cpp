#include "support/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

bool PumpUntil(const std::function<bool()> &condition, int limitMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return true;
}

void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

TLoopbackClient::~TLoopbackClient() { Close(); }

bool TLoopbackClient::Connect(int port) {
  FFd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (FFd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(FFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
}

void TLoopbackClient::SetSmallReceiveBuffer() {
  int size = 4096;
  ::setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

bool TLoopbackClient::Send(const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(FFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    // The server drains on the loop of this very thread.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  return true;
}

bool TLoopbackClient::Poll() {
  if (FFd < 0 || FPeerClosed) return false;
  char buf[65536];
  for (;;) {
    ssize_t n = ::recv(FFd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      FBuffer.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) {
      FPeerClosed = true;
      return false;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    FPeerClosed = true;  // reset by the server counts as closed
    return false;
  }
}

bool TLoopbackClient::ReadLine(std::string &line, int limitMs) {
  bool got = PumpUntil(
      [&] {
        Poll();
        return FBuffer.find("\r\n") != std::string::npos || FPeerClosed;
      },
      limitMs);
  size_t end = FBuffer.find("\r\n");
  if (!got || end == std::string::npos) return false;
  line = FBuffer.substr(0, end);
  FBuffer.erase(0, end + 2);
  return true;
}

bool TLoopbackClient::WaitClosed(int limitMs) {
  return PumpUntil(
      [&] {
        Poll();
        return FPeerClosed;
      },
      limitMs);
}

size_t TLoopbackClient::Drain(const std::function<bool(const std::string &)> &stop, int limitMs,
                              size_t readSize, int pauseMs) {
  // The server writes from inside this thread's loop and may wait there for
  // the reader, so the reading happens on a thread of its own.
  std::atomic<bool> done{false};
  std::thread reader([&] {
    timeval tv{0, 100000};
    ::setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    char buf[65536];
    while (std::chrono::steady_clock::now() < end && !stop(FBuffer)) {
      ssize_t n = ::recv(FFd, buf, std::min(readSize, sizeof buf), 0);
      if (n > 0) {
        FBuffer.append(buf, static_cast<size_t>(n));
        if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
      } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        FPeerClosed = true;
        break;
      }
    }
    done = true;
  });
  PumpUntil([&] { return done.load(); }, limitMs + 5000);
  reader.join();
  return FBuffer.size();
}

void TLoopbackClient::Abort() {
  if (FFd < 0) return;
  linger l{1, 0};
  ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

void TLoopbackClient::Close() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

std::string BlockingExchange(int port, int before, const std::string &request, int limitMs) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return {};
  timeval tv{limitMs / 1000, (limitMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string buffer, line;
  auto readLine = [&] {
    char c;
    while (buffer.find("\r\n") == std::string::npos) {
      if (::recv(fd, &c, 1, 0) != 1) return false;
      buffer += c;
    }
    line = buffer.substr(0, buffer.find("\r\n"));
    buffer.clear();
    return true;
  };
  bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
  for (int i = 0; ok && i < before; ++i) ok = readLine();
  if (ok)
    ok = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(request.size());
  if (ok) ok = readLine();
  ::close(fd);
  return ok ? line : std::string();
}
