#include "servers/MemoryTransport.h"

#include <utility>

TMemoryTransport::TMemoryTransport(std::string peerAddress, std::string localAddress)
    : FPeerAddress(std::move(peerAddress)), FLocalAddress(std::move(localAddress)) {}

void TMemoryTransport::ClientWrite(const std::string &bytes) {
  if (!FOpen || bytes.empty()) return;
  FToServer += bytes;
  if (FListener) FListener->TransportReadable();
}

void TMemoryTransport::ClientClose() {
  if (!FOpen) return;
  FOpen = false;
  if (FListener) FListener->TransportDisconnected();
}

std::string TMemoryTransport::TakeSent() {
  std::string taken;
  taken.swap(FToClient);
  return taken;
}

std::string TMemoryTransport::ReadAll() {
  std::string bytes;
  bytes.swap(FToServer);
  return bytes;
}

int64_t TMemoryTransport::Send(std::string_view data) {
  if (!FOpen) return -1;
  FToClient.append(data.data(), data.size());
  return static_cast<int64_t>(data.size());
}

void TMemoryTransport::EndStream() {
  if (!FOpen) return;
  FOpen = false;
  FServerClosed = true;
  // A socket closed with nothing left to send reports its disconnect from
  // inside the close; the connection relies on hearing it.
  if (FListener) FListener->TransportDisconnected();
}

void TMemoryTransport::Close() { EndStream(); }

void TMemoryTransport::Abort() {
  if (FOpen) FServerAborted = true;
  EndStream();
}
