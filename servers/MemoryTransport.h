#pragma once
// Both ends of a byte stream in memory: the connection object on one side,
// a test or a fuzz target playing the client on the other. What the client
// writes reaches the connection at once, as a read the loop delivers; what
// the connection sends waits here until the client takes it.
#include <string>

#include "servers/ByteTransport.h"

class TMemoryTransport : public TByteTransport {
 public:
  explicit TMemoryTransport(std::string peerAddress = "127.0.0.1",
                            std::string localAddress = "127.0.0.1");
  ~TMemoryTransport() override = default;
  TMemoryTransport(const TMemoryTransport &) = delete;
  TMemoryTransport &operator=(const TMemoryTransport &) = delete;

  // ---- the client's end
  // Ignored once either end has closed.
  void ClientWrite(const std::string &bytes);
  // The client closes its end: the connection reads what is left and hears
  // of the disconnect.
  void ClientClose();
  // Everything the connection sent that the client has not taken yet.
  const std::string &Sent() const { return FToClient; }
  std::string TakeSent();
  // The connection has closed (or cut) the stream.
  bool ServerClosed() const { return FServerClosed; }
  bool ServerAborted() const { return FServerAborted; }

  // ---- the connection's end
  void SetListener(TByteTransportListener *listener) override { FListener = listener; }
  bool Connected() const override { return FOpen; }
  bool Unconnected() const override { return !FOpen; }
  int64_t BytesAvailable() const override { return static_cast<int64_t>(FToServer.size()); }
  std::string ReadAll() override;
  int64_t Send(std::string_view data) override;
  // Sent bytes are the client's at once: nothing waits in between.
  int64_t Queued() const override { return 0; }
  int64_t Unsent() const override { return 0; }
  void WaitWritable(int) override {}
  void Close() override;
  void Abort() override;
  std::string PeerAddress() const override { return FPeerAddress; }
  std::string LocalAddress() const override { return FLocalAddress; }

 private:
  void EndStream();

  TByteTransportListener *FListener = nullptr;
  std::string FToServer;
  std::string FToClient;
  std::string FPeerAddress;
  std::string FLocalAddress;
  bool FOpen = true;
  bool FServerClosed = false;
  bool FServerAborted = false;
};
