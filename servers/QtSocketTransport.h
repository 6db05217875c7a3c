#pragma once
// The byte transport of an accepted TCP connection: a QTcpSocket on the
// main thread's loop, written straight to the kernel.
#include <memory>

#include "servers/ByteTransport.h"

class QTcpSocket;

class TQtSocketTransport : public TByteTransport {
 public:
  explicit TQtSocketTransport(std::unique_ptr<QTcpSocket> socket);
  ~TQtSocketTransport() override;
  TQtSocketTransport(const TQtSocketTransport &) = delete;
  TQtSocketTransport &operator=(const TQtSocketTransport &) = delete;

  void SetListener(TByteTransportListener *listener) override;
  bool Connected() const override;
  bool Unconnected() const override;
  int64_t BytesAvailable() const override;
  std::string ReadAll() override;
  int64_t Send(std::string_view data) override;
  int64_t Queued() const override;
  int64_t Unsent() const override;
  void WaitWritable(int ms) override;
  void Close() override;
  void Abort() override;
  std::string PeerAddress() const override;
  std::string LocalAddress() const override;

 private:
  // Whether the peer reset the connection rather than closing it; asked
  // when Qt reports the peer gone, before the watch is let go.
  bool PeerReset() const;
  void ReleaseWatch();

  std::unique_ptr<QTcpSocket> FSocket;
  TByteTransportListener *FListener = nullptr;
  // A second descriptor of the same socket. Qt reads a reset as an ordinary
  // end of stream and closes its descriptor before it says anything, so the
  // socket's state can only be read through this one. It is let go
  // whenever Qt's is closed, or the socket would stay open behind it.
  int FWatchFd = -1;
};
