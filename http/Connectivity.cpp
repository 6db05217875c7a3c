#include "http/Connectivity.h"

#include <mutex>

#include "BuildConfig.h"
#include "foundation/QuorUtil.h"
#include "http/QuorClientSocket.h"

namespace {
constexpr int kProbeLookupMs = 5000;
constexpr int kProbeRetries = 3;

std::mutex gProbeMutex;
std::string gProbeHost;  // empty: the built-in host
int gProbePort = 0;
}  // namespace

void SetConnectivityProbeHost(const std::string &host, int port) {
  std::lock_guard<std::mutex> lock(gProbeMutex);
  gProbeHost = host;
  gProbePort = port;
}

bool SetConnectivityProbeHostText(const std::string &text) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  int port = 0;
  if (!TryStrToInt(text.substr(colon + 1), port) || port <= 0 || port > 65535) return false;
  SetConnectivityProbeHost(text.substr(0, colon), port);
  return true;
}

int CheckConnectivity() {
  try {
    std::string host;
    int port;
    {
      std::lock_guard<std::mutex> lock(gProbeMutex);
      host = gProbeHost.empty() ? std::string(BRELVANE_PROBE_HOST) : gProbeHost;
      port = gProbeHost.empty() ? BRELVANE_PROBE_PORT : gProbePort;
    }
    TQuorClientSocket socket("CheckConnectivity");
    uint32_t address = 0;
    if (LookupHost(host, kProbeLookupMs, address) != dns_NoError) return cy_LookupFailed;
    if (address == 0) return cy_NoAddress;
    socket.SetHost(IPv4ToText(address));
    socket.ConnectRetries = kProbeRetries;
    socket.SetPort(port);
    if (!socket.Connect()) return cy_ConnectFailed;
    socket.Close();
    return cy_Reached;
  } catch (...) {
    return cy_Exception;
  }
}
