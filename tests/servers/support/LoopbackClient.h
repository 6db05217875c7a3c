#pragma once
// A plain POSIX client for the servers under test, which run on this same
// thread's Qt loop: every wait here pumps that loop while it polls.
#include <functional>
#include <string>

#include "foundation/StrUtil.h"

// Runs the Qt loop until Condition holds or LimitMs passes; returns Condition.
bool PumpUntil(const std::function<bool()> &condition, int limitMs);
// Runs the Qt loop for about Ms milliseconds.
void PumpFor(int ms);

// On a thread of its own: connects, reads Before lines, sends Request and
// reads one more line; returns the last line read, empty on failure.
std::string BlockingExchange(int port, int before, const std::string &request, int limitMs);

class TLoopbackClient {
 public:
  TLoopbackClient() = default;
  ~TLoopbackClient();
  TLoopbackClient(const TLoopbackClient &) = delete;
  TLoopbackClient &operator=(const TLoopbackClient &) = delete;

  bool Connect(int port);
  bool Send(const std::string &bytes);
  // Next line without its CR LF; false when none arrived in time or the peer closed.
  bool ReadLine(std::string &line, int limitMs = 5000);
  // Waits until the server has closed the connection (unread input is dropped).
  bool WaitClosed(int limitMs = 5000);
  // Bytes received so far and not yet taken as lines.
  size_t Buffered() const { return FBuffer.size(); }
  // Reads and counts everything until the peer closes or Stop holds; with a
  // Pause, at most ReadSize bytes are taken per read, Pause ms apart (a slow
  // but steady reader).
  size_t Drain(const std::function<bool(const std::string &received)> &stop, int limitMs,
               size_t readSize = 65536, int pauseMs = 0);
  // Everything received and not taken as lines.
  const std::string &Received() const { return FBuffer; }
  // Shrinks the receive buffer so that a client that stops reading stalls the server quickly.
  void SetSmallReceiveBuffer();
  void Close();
  // Closes with a reset instead of an orderly end.
  void Abort();
  bool PeerClosed() const { return FPeerClosed; }

 private:
  bool Poll();  // reads what is waiting; false on error
  int FFd = -1;
  std::string FBuffer;
  bool FPeerClosed = false;
};
