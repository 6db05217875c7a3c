#pragma once
// The listening TCP server both local gateways derive from, and the base of
// their connection objects. Everything runs on the main thread's Qt event
// loop: no thread per connection. Protocol classes override a few virtual
// operations of TQuorServerSpawnedSocket and otherwise call SendLine,
// SendLines, SignOff and Log. A connection reads and writes through a byte
// transport: an accepted socket, or an in-memory stream in tests.
#include <QObject>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/StrUtil.h"
#include "protocol/LineSplitter.h"
#include "servers/ByteTransport.h"

class QTcpServer;
class QTimer;
class TQuorServer;
class TQuorServerSpawnedSocket;

// Raised by the server's property setters and by activation: changing the
// port of a listening server, or a port that cannot be listened on.
class ESocketError : public std::runtime_error {
 public:
  explicit ESocketError(const std::string &message) : std::runtime_error(message) {}
};

// Sees every connection line first; returning false keeps it out of the
// diagnostic file. Spawned is null for lines of the server itself.
using TServerLogEvent = std::function<bool(TQuorServer *server, TQuorServerSpawnedSocket *spawned,
                                           const std::string &text, uint8_t detail, bool error)>;

// Idle time-out of a server whose owner sets none; a connection that has
// lost its server falls back to it too.
constexpr int kDefaultTimeOutMs = 60000;

class TQuorServer {
 public:
  TQuorServer();
  virtual ~TQuorServer();
  TQuorServer(const TQuorServer &) = delete;
  TQuorServer &operator=(const TQuorServer &) = delete;

  bool Active() const;
  // True listens on Port (raising ESocketError when that fails); false closes
  // the listening socket and destroys every live connection, whose clean-up runs.
  void SetActive(bool value);
  int Port() const { return FPort; }
  // Raises ESocketError("Can't change value while socket is active") while
  // listening, unless the value is unchanged.
  void SetPort(int value);
  int TimeOut() const { return FTimeOut; }  // ms
  void SetTimeOut(int ms) { FTimeOut = ms; }
  bool RestrictToLocalHost() const { return FRestrictToLocalHost; }
  // With the listen address left at "0.0.0.0", true listens on the loopback
  // addresses only (IPv4 and IPv6); a change while listening listens again
  // at once and keeps the live connections (when that fails the server is
  // left inactive, and says so in the log). New connections copy the value
  // for their own check.
  void SetRestrictToLocalHost(bool value);
  int ActiveConnections() const { return static_cast<int>(FPeerList.size()); }
  int MaxConnections() const { return FMaxConnections; }
  void SetMaxConnections(int value) { FMaxConnections = value; }
  const std::string &Banner() const { return FBanner; }
  void SetBanner(const std::string &value) { FBanner = value; }
  // Source name of this server's log lines; the server's class name unless set.
  std::string TranscriptFileName() const;
  void SetTranscriptFileName(const std::string &value) { FTranscriptFileName = value; }
  const TServerLogEvent &OnLog() const { return FOnLog; }
  void SetOnLog(TServerLogEvent handler) { FOnLog = std::move(handler); }

  // Interface to listen on; every local IPv4 interface by default. Tests
  // listen on 127.0.0.1 only.
  const std::string &ListenAddress() const { return FListenAddress; }
  void SetListenAddress(const std::string &address) { FListenAddress = address; }
  // The port actually listened on (differs from Port when Port is 0); 0 when inactive.
  int BoundPort() const;

  // Replaces the peer address a new connection sees (dotted text in, dotted
  // text out), so that tests can present a connection from another machine.
  using TPeerAddressHook = std::function<std::string(const std::string &actual)>;
  void SetPeerAddressHook(TPeerAddressHook hook) { FPeerAddressHook = std::move(hook); }

  // Live connection objects, in creation order.
  const std::vector<TQuorServerSpawnedSocket *> &Connections() const { return FConnections; }
  // Number the next connection will get.
  int NextConnectionNumber() const { return FNextConnectionNumber; }

  // A line of the server itself (not of one connection).
  void Log(const std::string &text, uint8_t detail, bool error);

  // Serves a connection that arrived some other way than through the
  // listening socket (an in-memory stream in tests), exactly as an accepted
  // one: the server owns the object from now on. Null when the protocol
  // could not set it up.
  TQuorServerSpawnedSocket *Adopt(std::unique_ptr<TByteTransport> transport);

 protected:
  // Frees every connection not inside one of its handlers, after its
  // clean-up; the others are cut off and freed once their handler returns.
  void DestroyAllConnections();
  // The connection factory: builds the protocol's connection object over a
  // new connection's transport and copies the server options it needs.
  // Ownership of the returned object passes to the server.
  virtual TQuorServerSpawnedSocket *CreateSpawnedSocket(
      std::unique_ptr<TByteTransport> transport) = 0;

 private:
  friend class TQuorServerSpawnedSocket;
  void AcceptPending(QTcpServer *listener);
  // Opens the listeners the options ask for; raises ESocketError.
  std::vector<std::unique_ptr<QTcpServer>> Listen();
  void CloseListeners();
  void HousekeepingTick();
  void DestroyConnection(TQuorServerSpawnedSocket *connection);
  void Unregister(TQuorServerSpawnedSocket *connection);

  std::vector<std::unique_ptr<QTcpServer>> FListeners;
  QTcpServer *FListener = nullptr;  // the first of them
  std::unique_ptr<QTimer> FHousekeeping;
  int FPort = 25;
  int FTimeOut = kDefaultTimeOutMs;
  bool FRestrictToLocalHost = false;
  int FMaxConnections = 1;
  std::string FBanner;
  std::string FTranscriptFileName;
  TServerLogEvent FOnLog;
  std::string FListenAddress = "0.0.0.0";
  TPeerAddressHook FPeerAddressHook;
  int FNextConnectionNumber = 1;
  std::vector<uint32_t> FPeerList;  // network order, one per live connection
  std::vector<TQuorServerSpawnedSocket *> FConnections;
  TQuorServerSpawnedSocket *FPendingFree = nullptr;
  bool FShuttingDown = false;
};

// One accepted client. Destruction is always deferred to the event loop and
// never happens while one of the connection's own handlers is on the stack,
// so a handler that pumps the loop during a long webmail operation finds
// its object intact when the operation returns.
class TQuorServerSpawnedSocket : public QObject, private TByteTransportListener {
 public:
  TQuorServerSpawnedSocket(TQuorServer *server, std::unique_ptr<TByteTransport> transport);
  ~TQuorServerSpawnedSocket() override;
  TQuorServerSpawnedSocket(const TQuorServerSpawnedSocket &) = delete;
  TQuorServerSpawnedSocket &operator=(const TQuorServerSpawnedSocket &) = delete;

  // The protocol's operations, in their fixed order.
  virtual void TimedOut();
  virtual void HandleLine(const std::string &line) = 0;
  virtual void ClearInput();
  virtual void IdleTick();
  virtual bool AllowConnection();
  virtual void BannerSent();
  virtual void SignOff(const std::string &text);
  // The protocol's end-of-connection work (it may wait on the service with
  // the loop running). Runs once, before the object is freed and while the
  // object counts as busy, so that a stop or a port change arriving meanwhile
  // waits for it instead of freeing the object under it.
  virtual void BeforeDestroy();
  // The longest line the protocol takes in its present state, line end not
  // counted; a line (or a line still without its end) beyond it is refused.
  virtual size_t PendingLineLimit() const;
  // A line over PendingLineLimit: the protocol's error reply, then the
  // connection closes. The base logs and signs off with "Line too long.".
  virtual void LineTooLong();

  // Command lines are at most 512 bytes (SMTP) or 255 (POP3) by the
  // protocols' own rules, and real clients stay far below; 64 KB leaves
  // room for any long authentication blob while keeping a peer that never
  // sends a line end from growing the process without bound.
  static constexpr size_t kMaxCommandLine = 64 * 1024;
  // Complete lines waiting while a handler runs (a pipelining client) are
  // bounded too, by this much or the line limit, whichever is larger.
  static constexpr size_t kMaxQueuedInput = 1024 * 1024;

  void SendLine(const std::string &text);
  // False (and nothing sent) when the connection is closing. The lines are
  // not logged one by one. With DotStuff the list goes out in the form a
  // POP3 message takes: a non-empty line beginning with "." gets another
  // "." in front, and a line "." follows the last; the list is not changed.
  bool SendLines(const TStringList &lines, bool dotStuff = false);
  // Reply (logged as SendLine logs it) and then Lines as SendLines sends
  // them, written together.
  bool SendReplyAndLines(const std::string &reply, const TStringList &lines, bool dotStuff);
  // Reply and then a whole message held as one text: the bytes on the wire
  // are those SendReplyAndLines sends for SplitLines(Text) (every line end
  // goes out as CR LF, a last line without one gets it), but no line list
  // is built, so a large message costs no copy beyond one block.
  bool SendReplyAndText(const std::string &reply, std::string_view text, bool dotStuff);
  void CloseConnection();
  void Log(const std::string &text, uint8_t detail, bool error);
  void ResetIdleCount() { FIdleCount = 0; }
  void StartIdleTimer();
  void StopIdleTimer();

  const std::string &RemoteIP() const { return FRemoteIP; }
  // Dotted text of this end of the connection.
  std::string LocalIP() const;
  uint32_t PeerAddress() const { return FPeerAddress; }  // network order
  int ConnectionNumber() const { return FConnectionNumber; }
  TQuorServer *Server() const { return FServer; }
  bool Closing() const { return FClosing; }
  bool CloseRequested() const { return FCloseRequested; }
  bool Disconnected() const { return FDisconnected; }
  bool IsTimedOut() const { return FTimedOut; }
  bool BannerDone() const { return FBannerDone; }
  int ErrorCode() const { return FErrorCode; }
  int IdleCount() const { return FIdleCount; }
  bool IdleTimerActive() const;
  bool RestrictToLocal() const { return FRestrictToLocalHost; }
  // Whether the stream is still connected to the peer.
  bool Connected() const;
  // Bytes written but not yet taken by the peer (the transport's and the
  // kernel's queues).
  int64_t UnsentBytes() const;

 protected:
  // ActiveConnections above MaxConnections and a peer not on this machine:
  // the protocol constructor refuses the connection.
  bool ConnectionLimitExceeded() const;
  // The peer is this machine: same address as this end, or IsLocalAddress.
  bool PeerIsLocal() const;
  // The local-only policy: true when the peer may stay; otherwise logs the
  // refusal and signs off with RefusalLine.
  bool CheckLocalOnly(const std::string &refusalLine);
  TByteTransport *Transport() const { return FTransport.get(); }

 private:
  // Writes Data straight to the kernel as far as it takes it, pausing while
  // the peer's window is full; false when it gave up (closing, peer gone,
  // stalled).
  bool WriteBytes(std::string_view data);
  // Writes Run after what the block holds, from where it lies; false when
  // the connection failed.
  using TDirectWrite = std::function<bool(std::string_view run)>;
  // Appends the next lines of a text in their wire form to Block until it
  // holds at least Limit bytes, handing long runs that need no change to
  // Direct instead; false once the text is used up.
  using TBlockFiller =
      std::function<bool(std::string &block, size_t limit, const TDirectWrite &direct)>;
  static TBlockFiller LineListFiller(const TStringList &lines, bool dotStuff);
  static TBlockFiller TextFiller(std::string_view text, bool dotStuff);
  // The checks and log line before a reply that opens a transfer.
  bool MayStartReply(const std::string &reply);
  bool SendBlocks(const std::string *reply, const TBlockFiller &fill, bool dotStuff, bool hasText);
  friend class TQuorServer;
  class TBusyGuard;
  void Start();
  void TransportReadable() override;
  void TransportDisconnected() override;
  void TransportError(int code, int kind) override;
  void OnIdleTimer();
  void ProcessInput();
  // Drops all input and lets the protocol refuse the overlong line.
  void RefuseInput();
  void DispatchLines();
  void ScheduleDestroy();
  void TryDestroy();
  void ReleaseBusy();
  // Runs BeforeDestroy once; true when the object may be freed now.
  bool FinishBeforeDestroy();

  std::deque<std::string> FLineQueue;
  TLineSplitter FSplitter;
  std::deque<std::string> FChunks;
  std::unique_ptr<QTimer> FIdleTimer;
  std::unique_ptr<QTimer> FCloseGuard;
  int FIdleCount = 0;
  std::string FLogSourceName;
  bool FDestroying = false;
  bool FBannerDone = false;
  bool FDisconnected = false;
  std::string FRemoteIP;
  uint32_t FPeerAddress = 0;
  bool FLogSentLines = true;
  bool FClosing = false;
  bool FCloseRequested = false;
  TQuorServer *FServer;
  bool FRestrictToLocalHost = false;
  bool FTimedOut = false;
  int FErrorCode = 0;
  int FConnectionNumber = 0;

  std::unique_ptr<TByteTransport> FTransport;
  int FBusy = 0;              // own handlers on the stack
  bool FDispatching = false;  // lines are handed on one at a time, in order
  bool FDestroyWanted = false;
  bool FDestroyScheduled = false;
  bool FWriteStalled = false;   // the peer stopped taking data: no more waiting on it
  bool FForcedDestroy = false;  // the server is going away: dispatch nothing more
  bool FBeforeDestroyDone = false;
  bool FDispatchRetryScheduled = false;
  int FWriteDepth = 0;  // writes under way: nothing else may be written in between
  size_t FQueuedBytes = 0;
  int64_t FLastUnsent = 0;  // UnsentBytes at the last idle tick  // text held in the line queue
};
