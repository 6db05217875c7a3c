#include "servers/MemoryTransport.h"

#include <utility>

void TMemoryPeer::Write(const std::string &bytes) {
  if (!FOpen || bytes.empty()) return;
  FToServer += bytes;
  if (FServerEnd && FServerEnd->FListener) FServerEnd->FListener->TransportReadable();
}

void TMemoryPeer::Close() {
  if (!FOpen) return;
  FOpen = false;
  if (FServerEnd && FServerEnd->FListener) FServerEnd->FListener->TransportDisconnected();
}

std::string TMemoryPeer::TakeReceived() {
  std::string taken;
  taken.swap(FToClient);
  return taken;
}

TMemoryTransport::TMemoryTransport(std::shared_ptr<TMemoryPeer> peer, std::string peerAddress,
                                   std::string localAddress)
    : FPeer(std::move(peer)),
      FPeerAddress(std::move(peerAddress)),
      FLocalAddress(std::move(localAddress)) {
  FPeer->FServerEnd = this;
}

TMemoryTransport::~TMemoryTransport() { FPeer->FServerEnd = nullptr; }

std::string TMemoryTransport::ReadAll() {
  std::string bytes;
  bytes.swap(FPeer->FToServer);
  return bytes;
}

int64_t TMemoryTransport::Send(std::string_view data) {
  if (!FPeer->FOpen) return -1;
  FPeer->FToClient.append(data.data(), data.size());
  return static_cast<int64_t>(data.size());
}

void TMemoryTransport::EndStream() {
  if (!FPeer->FOpen) return;
  FPeer->FOpen = false;
  FPeer->FServerClosed = true;
  // A socket closed with nothing left to send reports its disconnect from
  // inside the close; the connection relies on hearing it.
  if (FListener) FListener->TransportDisconnected();
}

void TMemoryTransport::Close() { EndStream(); }

void TMemoryTransport::Abort() {
  if (FPeer->FOpen) FPeer->FServerAborted = true;
  EndStream();
}
