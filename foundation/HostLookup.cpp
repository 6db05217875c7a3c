// Host lookup and IPv4 text handling. getaddrinfo blocks for as long as the
// resolver likes, so it runs on a worker thread and the caller polls it,
// yielding to its event loop, up to its own limit.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "foundation/QuorUtil.h"

namespace {
// Steps of the poll loop: short enough for a responsive window, long enough
// not to spin.
constexpr auto kLookupPollStep = std::chrono::milliseconds(10);
// Limit of each resolution done by IsLocalAddress.
constexpr int kLocalLookupLimitMs = 5000;

struct TLookupState {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  TDNSResult result = dns_NotPerformed;
  uint32_t address = 0;
};

TDNSResult MapLookupError(int rc, int savedErrno) {
  switch (rc) {
    case 0:
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return dns_NoError;
    case EAI_AGAIN:
      return dns_Timeout;
    case EAI_SYSTEM:
      if (savedErrno == EHOSTDOWN || savedErrno == EHOSTUNREACH || savedErrno == ENETUNREACH ||
          savedErrno == ENETDOWN || savedErrno == ECONNREFUSED)
        return dns_NoContactServer;
      if (savedErrno == ETIMEDOUT) return dns_Timeout;
      return dns_InternalError;
    default:
      return dns_InternalError;
  }
}

void ResolveInto(const std::string &hostName, const std::shared_ptr<TLookupState> &state) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *list = nullptr;
  errno = 0;
  int rc = ::getaddrinfo(hostName.c_str(), nullptr, &hints, &list);
  int savedErrno = errno;
  uint32_t address = 0;
  if (rc == 0) {
    for (addrinfo *p = list; p; p = p->ai_next) {
      if (p->ai_family == AF_INET && p->ai_addr) {
        address = reinterpret_cast<const sockaddr_in *>(p->ai_addr)->sin_addr.s_addr;
        break;
      }
    }
    ::freeaddrinfo(list);
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  state->result = MapLookupError(rc, savedErrno);
  state->address = address;
  state->done = true;
  state->done_cv.notify_all();
}

bool ParsePart(std::string_view part, uint64_t max, uint64_t &value) {
  // Decimal only: a leading zero is not taken as octal, and no sign, blank
  // or hex prefix is accepted, so that odd texts cannot pass for addresses.
  if (part.empty() || part.size() > 10) return false;
  uint64_t v = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max) return false;
  value = v;
  return true;
}
}  // namespace

bool ParseIPv4(std::string_view text, uint32_t &address) {
  std::string_view parts[4];
  int count = 0;
  size_t start = 0;
  for (;;) {
    size_t dot = text.find('.', start);
    if (count == 4) return false;
    if (dot == std::string_view::npos) {
      parts[count++] = text.substr(start);
      break;
    }
    parts[count++] = text.substr(start, dot - start);
    start = dot + 1;
  }
  // The last part fills whatever bytes the earlier parts leave over.
  uint64_t values[4] = {};
  for (int i = 0; i < count - 1; ++i)
    if (!ParsePart(parts[i], 255, values[i])) return false;
  const uint64_t lastMax = count == 1 ? 0xFFFFFFFFull : (1ull << (8 * (5 - count))) - 1;
  if (!ParsePart(parts[count - 1], lastMax, values[count - 1])) return false;
  uint32_t host = 0;
  for (int i = 0; i < count - 1; ++i) host |= static_cast<uint32_t>(values[i]) << (24 - 8 * i);
  host |= static_cast<uint32_t>(values[count - 1]);
  address = htonl(host);
  return true;
}

std::string IPv4ToText(uint32_t address) {
  uint32_t host = ntohl(address);
  return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
         std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF);
}

TDNSResult LookupHost(const std::string &hostName, int limitMs, uint32_t &address) {
  address = 0;
  if (ParseIPv4(hostName, address)) return dns_NoError;
  address = 0;
  // getaddrinfo gives no sensible answer for these; they name no host.
  if (hostName.empty() || hostName.find('\0') != std::string::npos) return dns_NoError;

  auto state = std::make_shared<TLookupState>();
  try {
    // Detached: a resolver that hangs past the limit must not hold the
    // caller; the shared state outlives whichever side finishes last.
    std::thread([hostName, state] { ResolveInto(hostName, state); }).detach();
  } catch (const std::system_error &) {
    return dns_InternalError;
  }

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs > 0 ? limitMs : 0);
  const bool pump = IsMainThread();
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(state->mutex);
      auto now = std::chrono::steady_clock::now();
      auto until = pump ? std::min(deadline, now + kLookupPollStep) : deadline;
      state->done_cv.wait_until(lock, until, [&] { return state->done; });
      if (state->done) {
        address = state->result == dns_NoError ? state->address : 0;
        return state->result;
      }
      if (std::chrono::steady_clock::now() >= deadline) return dns_Timeout;
    }
    Yield();
  }
}

bool IsLoopbackAddressText(const std::string &text) {
  uint32_t address = 0;
  // The loopback network is recognised by the parsed address rather than by
  // the text's first three characters, which would also pass "1279" or "127"
  // (addresses far outside the loopback network).
  return ParseIPv4(text, address) && (ntohl(address) >> 24) == 127;
}

bool IsLocalAddress(const std::string &text) {
  uint32_t address = 0;
  if (!ParseIPv4(text, address)) return false;
  if (IsLoopbackAddressText(text)) return true;

  char host[256] = {};
  std::string hostName = "LocalHost";
  if (::gethostname(host, sizeof(host) - 1) == 0 && host[0]) hostName = host;
  uint32_t resolved = 0;
  if (LookupHost(hostName, kLocalLookupLimitMs, resolved) == dns_NoError && resolved != 0 &&
      resolved == address)
    return true;
  resolved = 0;
  if (LookupHost("LocalHost", kLocalLookupLimitMs, resolved) == dns_NoError && resolved != 0 &&
      resolved == address)
    return true;
  return false;
}
