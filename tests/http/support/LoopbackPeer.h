#pragma once
// The far end of a test connection: a listener on 127.0.0.1 at a port the
// system picks, which accepts one connection on its own thread and runs a
// script on it. Every wait is bounded so a failing test cannot hang.
#include <functional>
#include <string>
#include <thread>

class TLoopbackPeer {
 public:
  TLoopbackPeer();
  ~TLoopbackPeer();
  int Port() const { return FPort; }
  // Makes the receive buffer of connections accepted from now on that small
  // from their start, so that a peer that does not read holds a sender up.
  void SetReceiveBuffer(int bytes);
  // Accepts one connection (within 5 s) and runs Script on it on a thread;
  // the connection is closed when Script returns.
  void Serve(std::function<void(int fd)> script);
  // Waits for the script to end.
  void Join();

  static void SendAll(int fd, const std::string &data);
  // Reads until Count bytes, the peer's close, or TimeoutMs pass.
  static std::string Receive(int fd, size_t count, int timeoutMs);
  // Reads until the other side closes or TimeoutMs pass.
  static std::string ReceiveUntilClosed(int fd, int timeoutMs);

 private:
  int FListen = -1;
  int FPort = 0;
  std::thread FThread;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
int ClosedLoopbackPort();
