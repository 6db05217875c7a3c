#include "http/SocketEngine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "foundation/QuorUtil.h"

namespace {
using Clock = std::chrono::steady_clock;

// Connect and blocked writes wait in short slices so that the caller's idle
// handler (the user interface, the stop flags) runs while a slow peer answers.
constexpr int kConnectSliceMs = 50;
constexpr size_t kReadBlock = 65536;

int MsLeft(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::string ErrnoText(int err) {
  return "Socket Error # " + std::to_string(err) + " " + std::strerror(err);
}
}  // namespace

TSocketEngine::~TSocketEngine() {
  if (FSocket >= 0) ::close(FSocket);
}

void TSocketEngine::ThrowErrno(int err) const { throw ESocketEngineError(ErrnoText(err)); }

void TSocketEngine::Connect(int timeoutMs) {
  if (FSocket >= 0) throw ESocketEngineError("Already connected.");
  if (Port <= 0 || Port > 65535)
    throw ESocketEngineError("Invalid port " + std::to_string(Port) + ".");
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);

  uint32_t address = 0;
  TDNSResult dns = LookupHost(Host, timeoutMs > 0 ? timeoutMs : 0, address);
  if (dns != dns_NoError || address == 0) throw ESocketEngineError("Host not found: " + Host);

  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) ThrowErrno(errno);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(Port));
  sa.sin_addr.s_addr = address;
  if (::connect(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof(sa)) != 0) {
    if (errno != EINPROGRESS) {
      int err = errno;
      ::close(fd);
      ThrowErrno(err);
    }
    for (;;) {
      pollfd p{fd, POLLOUT, 0};
      int slice = std::min(MsLeft(deadline), kConnectSliceMs);
      int rc = ::poll(&p, 1, slice);
      if (rc < 0 && errno != EINTR) {
        int err = errno;
        ::close(fd);
        ThrowErrno(err);
      }
      if (rc > 0) break;
      if (OnIdle && OnIdle()) {
        ::close(fd);
        throw ESocketEngineError("Connect aborted.");
      }
      if (MsLeft(deadline) == 0) {
        ::close(fd);
        throw ESocketEngineError("Connect timed out.");
      }
    }
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
      ::close(fd);
      ThrowErrno(err);
    }
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  FSocket = fd;
  FPeerClosed = false;
  FInput.clear();
  FInputPos = 0;
}

void TSocketEngine::Attach(int fd) {
  if (FSocket >= 0) throw ESocketEngineError("Already connected.");
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno(errno);
  FSocket = fd;
  FPeerClosed = false;
  FInput.clear();
  FInputPos = 0;
}

bool TSocketEngine::Connected() const {
  return (FSocket >= 0 && !FPeerClosed) || InputBufferSize() > 0;
}

void TSocketEngine::Disconnect() {
  const bool wasOpen = FSocket >= 0;
  if (wasOpen) {
    ::shutdown(FSocket, SHUT_RDWR);
    ::close(FSocket);
    FSocket = -1;
  }
  FPeerClosed = false;
  FInput.clear();
  FInputPos = 0;
  if (wasOpen && OnDisconnected) OnDisconnected();
}

void TSocketEngine::Compact() {
  // Keep taking lines cheap without letting consumed input pile up.
  if (FInputPos > kReadBlock && FInputPos * 2 > FInput.size()) {
    FInput.erase(0, FInputPos);
    FInputPos = 0;
  }
}

int TSocketEngine::Fill(int timeoutMs) {
  if (FSocket < 0 || FPeerClosed) return 0;
  pollfd p{FSocket, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, timeoutMs > 0 ? timeoutMs : 0);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) ThrowErrno(errno);
  if (rc == 0) return 0;
  Compact();
  const size_t old = FInput.size();
  FInput.resize(old + kReadBlock);
  ssize_t n;
  do {
    n = ::recv(FSocket, FInput.data() + old, kReadBlock, 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    FInput.resize(old);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    int err = n < 0 ? errno : 0;
    FPeerClosed = true;
    if (err != 0 && InputBufferSize() == 0) ThrowErrno(err);
    return 0;
  }
  FInput.resize(old + static_cast<size_t>(n));
  return static_cast<int>(n);
}

std::string TSocketEngine::ReadLn(std::string_view terminator, int timeoutMs, int maxLength,
                                  bool &timedOut) {
  timedOut = false;
  if (terminator.empty()) terminator = "\r\n";
  const size_t maxLen = static_cast<size_t>(maxLength < 0 ? MaxLineLength : maxLength);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  size_t scanned = 0;  // bytes already searched, so a long wait stays linear
  for (;;) {
    std::string_view input(FInput.data() + FInputPos, FInput.size() - FInputPos);
    size_t from = scanned >= terminator.size() ? scanned - terminator.size() + 1 : 0;
    size_t at = input.find(terminator, from);
    if (at != std::string_view::npos) {
      if (maxLen > 0 && at > maxLen) throw ELineTooLong("Max line length exceeded.");
      std::string line(input.substr(0, at));
      FInputPos += at + terminator.size();
      if (FInputPos == FInput.size()) {
        FInput.clear();
        FInputPos = 0;
      }
      return line;
    }
    scanned = input.size();
    if (maxLen > 0 && input.size() > maxLen) throw ELineTooLong("Max line length exceeded.");
    if (FSocket < 0 || FPeerClosed) {
      // The peer has finished: what it left without a terminator is its
      // last line, not something to throw away.
      if (!input.empty()) {
        std::string line(input);
        FInput.clear();
        FInputPos = 0;
        return line;
      }
      throw ESocketEngineError(FSocket < 0 ? "Not Connected." : "Connection Closed Gracefully.");
    }
    int left = MsLeft(deadline);
    if (left == 0 && timeoutMs > 0) {
      timedOut = true;
      return std::string();
    }
    if (Fill(left) == 0 && !FPeerClosed && MsLeft(deadline) == 0) {
      timedOut = true;
      return std::string();
    }
  }
}

std::string TSocketEngine::ExtractFromBuffer(size_t count) {
  std::string out;
  AppendFromBuffer(out, count);
  return out;
}

void TSocketEngine::AppendFromBuffer(std::string &out, size_t count) {
  if (count > InputBufferSize()) throw ESocketEngineError("Not enough data in buffer.");
  out.append(FInput, FInputPos, count);
  FInputPos += count;
  if (FInputPos == FInput.size()) {
    FInput.clear();
    FInputPos = 0;
  }
}

int TSocketEngine::ReadAvailable(int timeoutMs, bool raiseIfGone, bool raiseOnTimeout) {
  if (FSocket < 0) {
    if (raiseIfGone) throw ESocketEngineError("Not Connected.");
    return 0;
  }
  int n = FPeerClosed ? 0 : Fill(timeoutMs);
  if (n > 0) return n;
  if (FPeerClosed) {
    if (raiseIfGone && InputBufferSize() == 0)
      throw ESocketEngineError("Connection Closed Gracefully.");
    return 0;
  }
  if (raiseOnTimeout) throw ESocketEngineError("Read timed out.");
  return 0;
}

void TSocketEngine::Write(std::string_view data) {
  if (FSocket < 0) throw ESocketEngineError("Not Connected.");
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(WriteTimeoutMs > 0 ? WriteTimeoutMs : 0);
  size_t off = 0;
  while (off < data.size()) {
    // MSG_NOSIGNAL: a peer that has gone must give an error, not kill the
    // process with SIGPIPE.
    ssize_t n = ::send(FSocket, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n > 0) {
      off += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The peer is not taking data: wait in slices so that the caller's
      // loop keeps running and a hard stop is seen.
      pollfd p{FSocket, POLLOUT, 0};
      int left = MsLeft(deadline);
      if (left == 0) throw ESocketEngineError("Write timed out.");
      int rc = ::poll(&p, 1, std::min(left, kConnectSliceMs));
      if (rc < 0 && errno != EINTR) ThrowErrno(errno);
      if (rc == 0 && OnIdle && OnIdle()) throw ESocketEngineError("Write aborted.");
      continue;
    }
    ThrowErrno(n < 0 ? errno : EPIPE);
  }
}

void TSocketEngine::WriteLn(std::string_view line) {
  std::string data(line);
  data += "\r\n";
  Write(data);
}
