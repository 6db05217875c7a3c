#pragma once
// The outgoing TCP connection every part of the gateway uses. No operation
// throws: each reports success as a boolean and hands failure texts to
// OnError. While it waits it lets the user interface run (Yield) and it reads
// its two stop flags afresh at every check.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http/SocketEngine.h"
#include "http/WatchTimer.h"

class TQuorAbstractClientSocket;

// How long the host lookup before a connection may take, for every
// outgoing connection alike.
constexpr int kHostLookupLimitMs = 5000;

using TSocketNotifyEvent = std::function<void(TQuorAbstractClientSocket *sender)>;
using TSocketErrorEvent =
    std::function<void(TQuorAbstractClientSocket *sender, const std::string &message)>;
// Told after every block that WriteData sends: "wrote N of M bytes", N, M.
using TWriteProgressEvent =
    std::function<void(const std::string &text, int64_t sent, int64_t total)>;

class TQuorAbstractClientSocket {
 public:
  explicit TQuorAbstractClientSocket(std::string name);
  virtual ~TQuorAbstractClientSocket() = default;
  TQuorAbstractClientSocket(const TQuorAbstractClientSocket &) = delete;
  TQuorAbstractClientSocket &operator=(const TQuorAbstractClientSocket &) = delete;

  virtual int32_t GetPort() = 0;
  virtual void SetPort(int32_t port) = 0;
  virtual std::string GetHost() = 0;
  virtual void SetHost(const std::string &host) = 0;
  virtual int32_t GetTimeout();
  virtual void SetTimeout(int32_t ms);
  // IPv4 address of the host in network order; 0 when it has none.
  virtual uint32_t LookupHostAddress() = 0;
  virtual TSocketNotifyEvent GetOnDisconnect();
  virtual void SetOnDisconnect(TSocketNotifyEvent event);
  virtual TSocketErrorEvent GetOnError();
  virtual void SetOnError(TSocketErrorEvent event);
  virtual void DoDisconnect(TQuorAbstractClientSocket *sender);
  virtual bool Connect() = 0;
  virtual bool Connected() = 0;
  virtual bool Close() = 0;
  virtual bool ReadLn(std::string &line) = 0;
  virtual bool WriteLn(const std::string &line) = 0;
  // Appends what has arrived to Stream.
  virtual bool ReadData(std::string &stream) = 0;
  virtual bool WriteData(std::string_view stream,
                         const TWriteProgressEvent &progress = nullptr) = 0;

  void ReportError(const std::string &message);
  bool TerminateRequested() const { return TerminateFlag && *TerminateFlag; }
  bool StopRequested() const { return CancelFlag && *CancelFlag; }

  std::string Name;
  // Hard stop: end what is going on at once.
  const bool *TerminateFlag = nullptr;
  // Polite stop: open no new connection.
  const bool *CancelFlag = nullptr;
  int32_t ConnectRetries = 5;

 protected:
  TSocketNotifyEvent FOnDisconnect;
  TSocketErrorEvent FOnError;
  int32_t FTimeout = 60000;
};

class TIndyClientSocket : public TQuorAbstractClientSocket {
 public:
  explicit TIndyClientSocket(std::string name);
  ~TIndyClientSocket() override;

  int32_t GetPort() override;
  void SetPort(int32_t port) override;
  std::string GetHost() override;
  void SetHost(const std::string &host) override;
  uint32_t LookupHostAddress() override;
  void DoDisconnect(TQuorAbstractClientSocket *sender) override;
  bool Connect() override;
  bool Connected() override;
  bool Close() override;
  bool ReadLn(std::string &line) override;
  bool WriteLn(const std::string &line) override;
  bool ReadData(std::string &stream) override;
  bool WriteData(std::string_view stream, const TWriteProgressEvent &progress = nullptr) override;

  // Adopts an already connected socket instead of connecting (a socket
  // pair in tests and fuzzing). False when it cannot be used.
  bool AttachSocket(int fd);
  // The limit of each connect attempt for the current Timeout and retries.
  int32_t AttemptTimeout() const;
  // The watch timer's tick; the timer driver calls it every 500 ms.
  void WatchTimerTick();
  bool WatchTimerEnabled() const { return FWatchTimer->Enabled(); }
  // Counts of engine reads that waited on the socket; lets tests tell a line
  // served from what was already received from one that needed the network.
  int64_t SocketWaits() const { return FSocketWaits; }
  // Connect attempts made by the last Connect.
  int32_t ConnectAttempts() const { return FConnectAttempts; }
  const std::string &Pushback() const { return FPushback; }

  // Cuts Line at its first CR LF pair, leading pairs dropped, and puts what
  // follows the pair in front of Pushback. A lone CR or LF stays in the line.
  static void SplitEmbeddedLineBreaks(std::string &line, std::string &pushback);

 private:
  void RecreateEngine();
  int32_t WriteLimit() const;

  std::unique_ptr<TSocketEngine> FEngine;
  std::string FPushback;
  std::string FPartialLine;
  std::unique_ptr<TWatchTimer> FWatchTimer;
  bool FDisconnectNotified = true;  // nothing to announce before a connection
  int64_t FSocketWaits = 0;
  int32_t FConnectAttempts = 0;
  int FEngineCalls = 0;  // engine calls under way that may run the loop
};

// The class callers instantiate.
class TQuorClientSocket : public TIndyClientSocket {
 public:
  explicit TQuorClientSocket(std::string name = "TQuorClientSocket")
      : TIndyClientSocket(std::move(name)) {}
};
