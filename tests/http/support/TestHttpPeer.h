#pragma once
// A scripted HTTP peer on a loopback port for exchange tests. Each accepted
// connection is handed, in order, to the handler on the peer's own thread;
// the handler reads the request and writes whatever answer the test wants,
// well-formed or not. The peer stops on destruction, and by itself after a
// bounded lifetime, so a failing test cannot leave it running.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class TTestHttpPeer;

class TPeerConnection {
 public:
  TPeerConnection(int fd, TTestHttpPeer *peer) : FFd(fd), FPeer(peer) {}
  // The request head and, when it announces a Content-Length, its body.
  // Empty when the client sent nothing within the limit.
  std::string ReadRequest(int limitMs = 5000);
  void Send(std::string_view data);
  void Pause(int ms);
  // Half a second of reading whatever else comes; true when the client has
  // closed its side.
  bool ClientClosed(int limitMs = 2000);

 private:
  int FFd;
  TTestHttpPeer *FPeer;
  std::string FInput;
};

class TTestHttpPeer {
 public:
  // Handler(connection, index of the connection from 0).
  using THandler = std::function<void(TPeerConnection &, int)>;
  explicit TTestHttpPeer(THandler handler, int lifetimeMs = 30000);
  ~TTestHttpPeer();
  int Port() const { return FPort; }
  int Connections() const { return FConnections.load(); }
  // The requests read by the handlers, in order.
  std::vector<std::string> Requests() const;
  void Record(const std::string &request);

 private:
  void Run(int lifetimeMs);

  THandler FHandler;
  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FConnections{0};
  mutable std::mutex FMutex;
  std::vector<std::string> FRequests;
  std::thread FThread;
};

// Value of header Name in a raw request head, "" when absent.
std::string PeerHeader(const std::string &request, const std::string &name);
// Splits a Digest Authorization value into name=value items (quotes removed).
std::vector<std::pair<std::string, std::string>> PeerDigestItems(const std::string &value);
