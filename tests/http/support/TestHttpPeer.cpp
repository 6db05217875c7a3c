#include "TestHttpPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "foundation/StrUtil.h"

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
  return int(std::max<int64_t>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count()));
}

}  // namespace

std::string TPeerConnection::ReadRequest(int limitMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
  size_t headEnd;
  while ((headEnd = FInput.find("\r\n\r\n")) == std::string::npos) {
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, MsLeft(end)) <= 0) return std::string();
    char buf[4096];
    const ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
    if (n <= 0) return std::string();
    FInput.append(buf, size_t(n));
  }
  const std::string head = FInput.substr(0, headEnd + 4);
  const size_t length = size_t(StrToIntDef(Trim(PeerHeader(head, "Content-Length")), 0));
  while (FInput.size() < head.size() + length) {
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, MsLeft(end)) <= 0) break;
    char buf[4096];
    const ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
    if (n <= 0) break;
    FInput.append(buf, size_t(n));
  }
  const std::string request = FInput.substr(0, std::min(FInput.size(), head.size() + length));
  FInput.erase(0, request.size());
  FPeer->Record(request);
  return request;
}

void TPeerConnection::Send(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(FFd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    data.remove_prefix(size_t(n));
  }
}

void TPeerConnection::Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool TPeerConnection::ClientClosed(int limitMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, MsLeft(end)) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
}

TTestHttpPeer::TTestHttpPeer(THandler handler, int lifetimeMs) : FHandler(std::move(handler)) {
  FListen = ::socket(AF_INET, SOCK_STREAM, 0);
  if (FListen < 0) throw std::runtime_error("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(FListen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      ::listen(FListen, 16) != 0)
    throw std::runtime_error("bind/listen");
  socklen_t len = sizeof addr;
  ::getsockname(FListen, reinterpret_cast<sockaddr *>(&addr), &len);
  FPort = ntohs(addr.sin_port);
  FThread = std::thread([this, lifetimeMs] { Run(lifetimeMs); });
}

TTestHttpPeer::~TTestHttpPeer() {
  FStop = true;
  if (FThread.joinable()) FThread.join();
  if (FListen >= 0) ::close(FListen);
}

void TTestHttpPeer::Run(int lifetimeMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(lifetimeMs);
  while (!FStop && Clock::now() < end) {
    pollfd p{FListen, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept(FListen, nullptr, nullptr);
    if (fd < 0) continue;
    const int index = FConnections++;
    TPeerConnection connection(fd, this);
    FHandler(connection, index);
    ::close(fd);
  }
}

std::vector<std::string> TTestHttpPeer::Requests() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FRequests;
}

void TTestHttpPeer::Record(const std::string &request) {
  std::lock_guard<std::mutex> lock(FMutex);
  FRequests.push_back(request);
}

std::string PeerHeader(const std::string &request, const std::string &name) {
  for (const std::string &line : SplitLines(request)) {
    if (line.empty()) break;
    if (line.size() > name.size() && line[name.size()] == ':' && StartsText(name, line))
      return Trim(line.substr(name.size() + 1));
  }
  return std::string();
}

std::vector<std::pair<std::string, std::string>> PeerDigestItems(const std::string &value) {
  std::vector<std::pair<std::string, std::string>> items;
  std::string rest = value;
  if (StartsText("Digest ", rest)) rest = rest.substr(7);
  size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == ',')) ++i;
    const size_t eq = rest.find('=', i);
    if (eq == std::string::npos) break;
    const std::string name = Trim(rest.substr(i, eq - i));
    std::string val;
    i = eq + 1;
    if (i < rest.size() && rest[i] == '"') {
      const size_t close = rest.find('"', i + 1);
      val = rest.substr(i + 1, close - i - 1);
      i = close == std::string::npos ? rest.size() : close + 1;
    } else {
      const size_t comma = rest.find(',', i);
      val = Trim(rest.substr(i, comma - i));
      i = comma == std::string::npos ? rest.size() : comma;
    }
    items.emplace_back(name, val);
  }
  return items;
}
