#pragma once
// Both ends of a byte stream in memory: the connection object holds the
// server's end (TMemoryTransport), a test or a fuzz target plays the client
// through the other (TMemoryPeer), which outlives the connection so that
// its last words can still be read. What the client writes reaches the
// connection at once, as a read the loop delivers; what the connection
// sends waits until the client takes it.
#include <memory>
#include <string>

#include "servers/ByteTransport.h"

class TMemoryTransport;

class TMemoryPeer {
 public:
  TMemoryPeer() = default;
  TMemoryPeer(const TMemoryPeer &) = delete;
  TMemoryPeer &operator=(const TMemoryPeer &) = delete;

  // Ignored once either end has closed.
  void Write(const std::string &bytes);
  // The client closes its end: the connection reads what is left and hears
  // of the disconnect.
  void Close();
  // Everything the connection sent that the client has not taken yet.
  const std::string &Received() const { return FToClient; }
  std::string TakeReceived();
  bool Open() const { return FOpen; }
  // The connection closed (or cut) the stream.
  bool ServerClosed() const { return FServerClosed; }
  bool ServerAborted() const { return FServerAborted; }

 private:
  friend class TMemoryTransport;
  TMemoryTransport *FServerEnd = nullptr;
  std::string FToServer;
  std::string FToClient;
  bool FOpen = true;
  bool FServerClosed = false;
  bool FServerAborted = false;
};

class TMemoryTransport : public TByteTransport {
 public:
  explicit TMemoryTransport(std::shared_ptr<TMemoryPeer> peer,
                            std::string peerAddress = "127.0.0.1",
                            std::string localAddress = "127.0.0.1");
  ~TMemoryTransport() override;
  TMemoryTransport(const TMemoryTransport &) = delete;
  TMemoryTransport &operator=(const TMemoryTransport &) = delete;

  void SetListener(TByteTransportListener *listener) override { FListener = listener; }
  bool Connected() const override { return FPeer->FOpen; }
  bool Unconnected() const override { return !FPeer->FOpen; }
  int64_t BytesAvailable() const override { return static_cast<int64_t>(FPeer->FToServer.size()); }
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
  friend class TMemoryPeer;
  void EndStream();

  std::shared_ptr<TMemoryPeer> FPeer;
  TByteTransportListener *FListener = nullptr;
  std::string FPeerAddress;
  std::string FLocalAddress;
};
