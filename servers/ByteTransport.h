#pragma once
// What a connection object needs of the byte stream under it. The accepted
// TCP socket is one implementation; an in-memory pair is another, so that
// the protocol's real command handling runs in tests and fuzz targets with
// no socket and no network wait.
#include <cstdint>
#include <string>
#include <string_view>

// Told what happened to the stream. Calls come from the event loop, or from
// inside the transport's own Close and Abort (a closed stream says so at
// once, as a socket does).
class TByteTransportListener {
 public:
  virtual void TransportReadable() = 0;
  virtual void TransportDisconnected() = 0;
  // Code is never 0; Kind is what the log reports (0 general, 1 send,
  // 3 connect). A peer that closes its end is no error, only a disconnect.
  virtual void TransportError(int code, int kind) = 0;

 protected:
  ~TByteTransportListener() = default;
};

class TByteTransport {
 public:
  virtual ~TByteTransport() = default;

  // Notifications go to Listener from now on; none before the first call
  // and after a call with null.
  virtual void SetListener(TByteTransportListener *listener) = 0;

  virtual bool Connected() const = 0;
  // Closed for good: not connected and not still closing.
  virtual bool Unconnected() const = 0;

  virtual int64_t BytesAvailable() const = 0;
  virtual std::string ReadAll() = 0;

  // One non-blocking send of as much of Data as the stream takes: the count
  // taken, 0 when none (the peer's window is full, or earlier bytes are
  // still queued here), -1 when the stream failed.
  virtual int64_t Send(std::string_view data) = 0;
  // Bytes the transport itself still holds, not yet handed on.
  virtual int64_t Queued() const = 0;
  // Bytes sent but not yet taken by the peer (Queued and the kernel's queue).
  virtual int64_t Unsent() const = 0;
  // Waits at most Ms for room to send.
  virtual void WaitWritable(int ms) = 0;

  // Closes once what is queued has gone; Unconnected stays false meanwhile.
  virtual void Close() = 0;
  // Cuts the stream at once, dropping what is queued.
  virtual void Abort() = 0;

  // Dotted text of either end; empty when unknown.
  virtual std::string PeerAddress() const = 0;
  virtual std::string LocalAddress() const = 0;
};
