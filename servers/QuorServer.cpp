#include "servers/QuorServer.h"

#include <cxxabi.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include "foundation/QuorUtil.h"
#include "log/Log.h"
#include "protocol/WireLines.h"
#include "servers/QtSocketTransport.h"

namespace {

// Lines sent as a list are gathered into blocks of about this size, each
// handed to the kernel with as few calls as it will take; the kernel's own
// send buffer is the only queue, so a large message is never held twice.
constexpr size_t kSendBlock = 256 * 1024;
// Runs of a message text at least this long that need no change are written
// from the text itself instead of being copied into a block; the first
// kDirectJoin bytes of such a run go with the block before it.
constexpr size_t kDirectRun = 32 * 1024;
constexpr size_t kDirectJoin = 16 * 1024;
// The pause after an attempt that the peer's full window left unwritten.
constexpr int kWritePauseMs = 10;
// Lines longer than this are logged as a possible overflow attempt (and accepted).
constexpr size_t kLongLine = 1000;
constexpr int kTickMs = 1000;
// Connections the kernel holds for the loop to take. When the queue is
// full a new connection is dropped there, and one whose handshake has
// already finished leaves its client waiting for a greeting that never
// comes; a queue of five lost connections under a burst of mail programs.
constexpr int kListenBacklog = 128;
// Line handlers running at once, each inside the wait of the one below it
// (one thread, one loop), and how many of them are let in before new lines
// wait; the waiting ones look again this often.
int GNestedHandlers = 0;
constexpr int kMaxNestedHandlers = 8;
constexpr int kDispatchRetryMs = 20;

// A reply as it goes on the wire: one line ending in CR LF. Replies echo
// the client's own text (a user name decoded from base64, a command), and a
// CR or LF in it would end the reply early and make the rest read as the
// answer to the client's next command; inside the line each becomes a blank.
std::string AsReplyLine(const std::string &text) {
  std::string line = text;
  const bool ended = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
  if (ended) line.resize(line.size() - 2);
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  line += "\r\n";
  return line;
}

std::string DemangledName(const std::type_info &type) {
  int status = 0;
  char *name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string result = (status == 0 && name) ? name : type.name();
  std::free(name);
  return result;
}

}  // namespace

// ---- TQuorServer -----------------------------------------------------------

TQuorServer::TQuorServer() : FHousekeeping(std::make_unique<QTimer>()) {
  FHousekeeping->setInterval(kTickMs);
  QObject::connect(FHousekeeping.get(), &QTimer::timeout, [this] { HousekeepingTick(); });
  FHousekeeping->start();
}

TQuorServer::~TQuorServer() {
  FShuttingDown = true;
  FHousekeeping->stop();
  FHousekeeping->disconnect();
  SetActive(false);
  // Connections left from an earlier deactivation (their clean-up was still
  // running then) go now, unless a handler of theirs is still on the stack.
  DestroyAllConnections();
  // Connections still inside a handler outlive the server; they finish on
  // their own once the handler returns.
  for (TQuorServerSpawnedSocket *c : FConnections) c->FServer = nullptr;
  FConnections.clear();
  FPeerList.clear();
}

bool TQuorServer::Active() const { return FListener && FListener->isListening(); }

std::vector<std::unique_ptr<QTcpServer>> TQuorServer::Listen() {
  std::vector<std::unique_ptr<QTcpServer>> listeners;
  auto open = [&](const QHostAddress &address, quint16 port) {
    auto listener = std::make_unique<QTcpServer>();
    listener->setListenBacklogSize(kListenBacklog);
    QTcpServer *raw = listener.get();
    QObject::connect(raw, &QTcpServer::newConnection, [this, raw] { AcceptPending(raw); });
    if (!listener->listen(address, port)) throw ESocketError(listener->errorString().toStdString());
    listeners.push_back(std::move(listener));
  };
  if (FRestrictToLocalHost && FListenAddress == "0.0.0.0") {
    // Only this machine may connect: then nothing else needs to reach the
    // port at all (the per-connection check stays, for what gets through).
    open(QHostAddress::LocalHost, static_cast<quint16>(FPort));
    try {
      open(QHostAddress::LocalHostIPv6, listeners.front()->serverPort());
    } catch (const ESocketError &) {
      // A machine without IPv6 loopback: IPv4 alone.
    }
  } else {
    open(QHostAddress(QString::fromStdString(FListenAddress)), static_cast<quint16>(FPort));
  }
  return listeners;
}

void TQuorServer::CloseListeners() {
  for (auto &listener : FListeners) {
    listener->close();
    listener->disconnect();
    // The listener may be emitting right now (a connection being built pumps
    // the loop), so it is released by the loop rather than here.
    listener.release()->deleteLater();
  }
  FListeners.clear();
  FListener = nullptr;
}

void TQuorServer::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    FListeners = Listen();
    FListener = FListeners.front().get();
    return;
  }
  CloseListeners();
  DestroyAllConnections();
}

void TQuorServer::SetRestrictToLocalHost(bool value) {
  if (value == FRestrictToLocalHost) return;
  FRestrictToLocalHost = value;
  if (!Active() || FListenAddress != "0.0.0.0") return;
  // Listen again on the interfaces the option allows; live connections
  // stay. The same port is taken again, so the old listeners go first.
  const int port = FListener->serverPort();
  const int configured = FPort;
  CloseListeners();
  FPort = port;
  try {
    FListeners = Listen();
    FListener = FListeners.front().get();
  } catch (const ESocketError &e) {
    // Left inactive: whoever applies the settings sees that and reopens or
    // warns, as for any port that cannot be opened.
    Log(std::string("Could not listen again on port ") + std::to_string(port) + ": " + e.what(),
        kLogDetailConnection, true);
  }
  FPort = configured;
}

void TQuorServer::SetPort(int value) {
  if (value == FPort) return;
  if (Active()) throw ESocketError("Can't change value while socket is active");
  FPort = value;
}

int TQuorServer::BoundPort() const { return Active() ? FListener->serverPort() : 0; }

std::string TQuorServer::TranscriptFileName() const {
  if (!FTranscriptFileName.empty()) return FTranscriptFileName;
  return DemangledName(typeid(*this));
}

void TQuorServer::Log(const std::string &text, uint8_t detail, bool error) {
  try {
    if (FOnLog && !FOnLog(this, nullptr, text, detail, error)) return;
  } catch (...) {
  }
  WriteLogLine(TranscriptFileName(), text, detail, error);
}

void TQuorServer::AcceptPending(QTcpServer *listener) {
  auto live = [&] {
    for (const auto &l : FListeners)
      if (l.get() == listener) return true;
    return false;
  };
  while (live() && listener->hasPendingConnections()) {
    std::unique_ptr<QTcpSocket> socket(listener->nextPendingConnection());
    if (!socket) break;
    socket->setParent(nullptr);
    Adopt(std::make_unique<TQtSocketTransport>(std::move(socket)));
  }
}

TQuorServerSpawnedSocket *TQuorServer::Adopt(std::unique_ptr<TByteTransport> transport) {
  TQuorServerSpawnedSocket *connection = nullptr;
  try {
    connection = CreateSpawnedSocket(std::move(transport));
  } catch (const std::exception &e) {
    Log(std::string("Connection could not be set up: ") + e.what(), kLogDetailConnection, true);
  } catch (...) {
    Log("Connection could not be set up.", kLogDetailConnection, true);
  }
  if (connection) connection->Start();
  return connection;
}

void TQuorServer::HousekeepingTick() {
  TQuorServerSpawnedSocket *pending = FPendingFree;
  if (!pending || pending->FBusy > 0) return;
  FPendingFree = nullptr;
  DestroyConnection(pending);
}

void TQuorServer::DestroyConnection(TQuorServerSpawnedSocket *connection) {
  if (FPendingFree == connection) FPendingFree = nullptr;
  if (connection->FDestroying || !connection->FinishBeforeDestroy()) return;
  connection->FDestroying = true;
  delete connection;
}

void TQuorServer::DestroyAllConnections() {
  std::vector<TQuorServerSpawnedSocket *> live = FConnections;
  for (TQuorServerSpawnedSocket *c : live) {
    if (std::find(FConnections.begin(), FConnections.end(), c) == FConnections.end()) continue;
    if (c->FDestroying) continue;  // already on its way out
    if (c->FBusy > 0) {
      // Its handler is on the stack: cut the line now, free it when it returns.
      c->FForcedDestroy = true;
      c->FCloseRequested = true;
      if (c->FTransport) c->FTransport->Abort();
      c->ScheduleDestroy();
    } else {
      DestroyConnection(c);
    }
  }
}

void TQuorServer::Unregister(TQuorServerSpawnedSocket *connection) {
  if (FPendingFree == connection) FPendingFree = nullptr;
  auto c = std::find(FConnections.begin(), FConnections.end(), connection);
  if (c == FConnections.end()) return;
  FConnections.erase(c);
  auto p = std::find(FPeerList.begin(), FPeerList.end(), connection->FPeerAddress);
  if (p != FPeerList.end()) FPeerList.erase(p);
}

// ---- TQuorServerSpawnedSocket --------------------------------------------------

// Marks one of the connection's own handlers as running; destruction asked
// for meanwhile waits until the last of them has returned.
class TQuorServerSpawnedSocket::TBusyGuard {
 public:
  explicit TBusyGuard(TQuorServerSpawnedSocket *c) : FC(c) { ++FC->FBusy; }
  ~TBusyGuard() { FC->ReleaseBusy(); }
  TBusyGuard(const TBusyGuard &) = delete;
  TBusyGuard &operator=(const TBusyGuard &) = delete;

 private:
  TQuorServerSpawnedSocket *FC;
};

TQuorServerSpawnedSocket::TQuorServerSpawnedSocket(TQuorServer *server,
                                                   std::unique_ptr<TByteTransport> transport)
    : FServer(server), FTransport(std::move(transport)) {
  // Counts as busy until Start: the protocol constructor may pump the loop
  // (address checks) and must not see its object freed under it.
  FBusy = 1;
  FConnectionNumber = server->FNextConnectionNumber++;
  FRestrictToLocalHost = server->RestrictToLocalHost();
  FIdleTimer = std::make_unique<QTimer>();
  FIdleTimer->setInterval(kTickMs);
  QObject::connect(FIdleTimer.get(), &QTimer::timeout, this, [this] { OnIdleTimer(); });

  std::string address = FTransport ? FTransport->PeerAddress() : std::string();
  if (server->FPeerAddressHook) address = server->FPeerAddressHook(address);
  FRemoteIP = address;
  if (!ParseIPv4(FRemoteIP, FPeerAddress)) FPeerAddress = 0;
  server->FPeerList.push_back(FPeerAddress);
  server->FConnections.push_back(this);

  Log("User connected. IP = " + FRemoteIP + " TID = " + std::to_string(CurrentThreadNumber()) +
          " AppVers:" + GetVersionText(),
      kLogDetailConnection, false);
}

TQuorServerSpawnedSocket::~TQuorServerSpawnedSocket() {
  FDestroying = true;
  Log("Disconnected. IP = " + FRemoteIP, kLogDetailRoutine, false);
  Log("", kLogDetailClientLine, false);
  FIdleTimer->stop();
  if (FCloseGuard) FCloseGuard->stop();
  // Lines still buffered are not handed on: the protocol part of this object
  // has already been torn down.
  if (FServer) FServer->Unregister(this);
  if (FTransport) {
    FTransport->SetListener(nullptr);
    FTransport->Abort();
  }
}

void TQuorServerSpawnedSocket::Start() {
  if (FTransport) FTransport->SetListener(this);
  FIdleTimer->start();
  // Whatever happened while the object was being built is picked up from the loop.
  QPointer<TQuorServerSpawnedSocket> self(this);
  QTimer::singleShot(0, [self] {
    if (!self || self->FDestroying) return;
    if (!self->FTransport || self->FTransport->Unconnected())
      self->TransportDisconnected();
    else if (self->FTransport->BytesAvailable() > 0)
      self->TransportReadable();
  });
  ReleaseBusy();
}

void TQuorServerSpawnedSocket::ReleaseBusy() {
  if (--FBusy == 0 && FDestroyWanted) ScheduleDestroy();
}

void TQuorServerSpawnedSocket::ScheduleDestroy() {
  FDestroyWanted = true;
  if (FDestroyScheduled || FBusy > 0) return;
  FDestroyScheduled = true;
  QPointer<TQuorServerSpawnedSocket> self(this);
  QTimer::singleShot(0, [self] {
    if (!self) return;
    self->FDestroyScheduled = false;
    self->TryDestroy();
  });
}

void TQuorServerSpawnedSocket::TryDestroy() {
  if (FBusy > 0 || FDestroying) return;  // the last handler to return reschedules
  if (FServer) {
    FServer->DestroyConnection(this);
  } else if (FinishBeforeDestroy()) {
    FDestroying = true;
    delete this;
  }
}

bool TQuorServerSpawnedSocket::FinishBeforeDestroy() {
  if (!FBeforeDestroyDone) {
    FBeforeDestroyDone = true;
    FIdleTimer->stop();
    QPointer<TQuorServerSpawnedSocket> self(this);
    {
      TBusyGuard busy(this);
      try {
        BeforeDestroy();
      } catch (...) {
      }
    }
    if (!self) return false;
  }
  return FBusy == 0 && !FDestroying;
}

void TQuorServerSpawnedSocket::BeforeDestroy() {}

bool TQuorServerSpawnedSocket::Connected() const { return FTransport && FTransport->Connected(); }

int64_t TQuorServerSpawnedSocket::UnsentBytes() const {
  return FTransport ? FTransport->Unsent() : 0;
}

bool TQuorServerSpawnedSocket::IdleTimerActive() const { return FIdleTimer->isActive(); }

std::string TQuorServerSpawnedSocket::LocalIP() const {
  return FTransport ? FTransport->LocalAddress() : std::string();
}

void TQuorServerSpawnedSocket::StartIdleTimer() {
  if (!FIdleTimer->isActive()) FIdleTimer->start();
  FIdleCount = 0;
}

void TQuorServerSpawnedSocket::StopIdleTimer() {
  FIdleTimer->stop();
  FIdleCount = 0;
}

void TQuorServerSpawnedSocket::TransportReadable() {
  if (FDestroying || !FTransport) return;
  TBusyGuard busy(this);
  try {
    std::string bytes = FTransport->ReadAll();
    // Input after a close request is read only to keep the transport's
    // buffer from growing.
    if (FCloseRequested || FClosing) {
      StopIdleTimer();
      return;
    }
    if (bytes.empty()) return;
    FChunks.push_back(WithoutZeroBytes(bytes));
    ProcessInput();
  } catch (...) {
  }
}

void TQuorServerSpawnedSocket::TransportDisconnected() {
  if (FDestroying) return;
  TBusyGuard busy(this);
  try {
    if (FTransport && FTransport->BytesAvailable() > 0 && !FCloseRequested && !FClosing)
      FChunks.push_back(WithoutZeroBytes(FTransport->ReadAll()));
    ProcessInput();
    FDisconnected = true;
    StopIdleTimer();
  } catch (...) {
  }
  ScheduleDestroy();
}

void TQuorServerSpawnedSocket::TransportError(int code, int kind) {
  if (FDestroying) return;
  TBusyGuard busy(this);
  try {
    Log("Socket error:" + std::to_string(kind), kLogDetailConnection, true);
    FErrorCode = code;
    CloseConnection();
  } catch (...) {
  }
}

void TQuorServerSpawnedSocket::OnIdleTimer() {
  if (FDestroying) return;
  TBusyGuard busy(this);
  try {
    IdleTick();
  } catch (...) {
  }
}

void TQuorServerSpawnedSocket::ProcessInput() {
  if (FClosing || FCloseRequested || FChunks.empty()) return;
  TStringList fresh;
  while (!FChunks.empty()) {
    std::string chunk = std::move(FChunks.front());
    FChunks.pop_front();
    FSplitter.Append(chunk, fresh);
  }
  if (!fresh.empty()) {
    // Only a whole line is something to answer; the time waiting for the
    // client ends here, not at a read that brought part of a line.
    StopIdleTimer();
    // A long line queued behind a handler still running is what the warning
    // is about; a long line handled at once is simply taken.
    if (!FLineQueue.empty() && FLineQueue.front().size() > kLongLine)
      Log("Line read exceding " + std::to_string(kLongLine) +
              " characters.  Possible buffer overflow attempt.",
          kLogDetailSecurity, true);
    for (std::string &line : fresh) {
      FQueuedBytes += line.size();
      FLineQueue.push_back(std::move(line));
    }
    if (FQueuedBytes > std::max(PendingLineLimit(), kMaxQueuedInput)) {
      RefuseInput();
      return;
    }
    DispatchLines();
  }
  // Checked once the lines before it have been handled: they may have
  // changed the limit (the start of a message's text).
  if (!FClosing && !FCloseRequested && !FDestroying &&
      FSplitter.Partial().size() > PendingLineLimit())
    RefuseInput();
}

void TQuorServerSpawnedSocket::RefuseInput() {
  FLineQueue.clear();
  FQueuedBytes = 0;
  FSplitter.Clear();
  FChunks.clear();
  LineTooLong();
}

size_t TQuorServerSpawnedSocket::PendingLineLimit() const { return kMaxCommandLine; }

void TQuorServerSpawnedSocket::LineTooLong() {
  Log("Line longer than " + std::to_string(PendingLineLimit()) + " characters.  Connection closed.",
      kLogDetailSecurity, true);
  SignOff("Line too long.");
}

void TQuorServerSpawnedSocket::DispatchLines() {
  // One line at a time, in arrival order: input that arrives while a handler
  // pumps the loop is queued here and taken by the loop below when it returns.
  if (FClosing || FCloseRequested || FDestroying || FDispatching) return;
  if (GNestedHandlers >= kMaxNestedHandlers && !FLineQueue.empty()) {
    // Handlers that wait on the service run inside one another's waits, and
    // the outermost can only return once every one above it has: under a
    // steady stream of new connections it would never return. Beyond a few
    // levels new lines wait until the stack has come down.
    if (!FDispatchRetryScheduled) {
      FDispatchRetryScheduled = true;
      QPointer<TQuorServerSpawnedSocket> self(this);
      QTimer::singleShot(kDispatchRetryMs, [self] {
        if (!self) return;
        self->FDispatchRetryScheduled = false;
        if (!self->FDestroying) self->DispatchLines();
      });
    }
    return;
  }
  TBusyGuard busy(this);
  FDispatching = true;
  ++GNestedHandlers;
  struct TLevel {
    ~TLevel() { --GNestedHandlers; }
  } level;
  while (!FLineQueue.empty() && !FClosing && !FCloseRequested && !FForcedDestroy) {
    std::string line = std::move(FLineQueue.front());
    FLineQueue.pop_front();
    FQueuedBytes -= std::min(FQueuedBytes, line.size());
    if (line.size() > PendingLineLimit()) {
      FDispatching = false;
      RefuseInput();
      return;
    }
    try {
      if (line == "~~Intercept check~~")
        SendLine("~~Intercept confirmed~~");
      else
        HandleLine(line);
    } catch (...) {
      break;  // the rest waits for the next input
    }
  }
  FDispatching = false;
}

void TQuorServerSpawnedSocket::ClearInput() {
  FLineQueue.clear();
  FQueuedBytes = 0;
  FSplitter.Clear();
}

void TQuorServerSpawnedSocket::IdleTick() {
  if (!FBannerDone) {
    FBannerDone = true;
    if (FServer && !FServer->Banner().empty()) {
      if (!AllowConnection()) return;
      SendLine(FServer->Banner());
      BannerSent();
    }
  }
  if (FErrorCode != 0) CloseConnection();
  // What was written may still be on its way (Qt's buffer, then the
  // kernel's, which holds megabytes): a peer still taking it is busy
  // reading, not idle, however long a large message takes it.
  const int64_t unsent = UnsentBytes();
  const bool progress = unsent > 0 && unsent < FLastUnsent;
  FLastUnsent = unsent;
  if (progress) FIdleCount = 0;
  FIdleCount += kTickMs;
  int limit = FServer ? FServer->TimeOut() : kDefaultTimeOutMs;
  if (FIdleCount > limit) {
    TimedOut();
    FIdleTimer->stop();
  }
}

bool TQuorServerSpawnedSocket::AllowConnection() { return true; }

void TQuorServerSpawnedSocket::BannerSent() {}

void TQuorServerSpawnedSocket::TimedOut() {
  Log("User connection timed out.", kLogDetailRefusal, true);
  SignOff("Sorry user timed out.");
  FTimedOut = true;
}

void TQuorServerSpawnedSocket::SignOff(const std::string &text) {
  if (FClosing) {
    CloseConnection();
    return;
  }
  if (!text.empty()) SendLine(text + " Brelvane server signing off");
  try {
    CloseConnection();
  } catch (...) {
  }
}

bool TQuorServerSpawnedSocket::SendLines(const TStringList &lines, bool dotStuff) {
  return SendBlocks(nullptr, LineListFiller(lines, dotStuff), dotStuff, !lines.empty());
}

bool TQuorServerSpawnedSocket::SendReplyAndLines(const std::string &reply, const TStringList &lines,
                                                 bool dotStuff) {
  if (!MayStartReply(reply)) return false;
  return SendBlocks(&reply, LineListFiller(lines, dotStuff), dotStuff, !lines.empty());
}

bool TQuorServerSpawnedSocket::SendReplyAndText(const std::string &reply, std::string_view text,
                                                bool dotStuff) {
  if (!MayStartReply(reply)) return false;
  return SendBlocks(&reply, TextFiller(text, dotStuff), dotStuff, !text.empty());
}

bool TQuorServerSpawnedSocket::MayStartReply(const std::string &reply) {
  if (FClosing || !Connected()) return false;
  if (FWriteDepth > 0) {
    Log("Not sent while a transfer is under way: \"" + reply + "\"", kLogDetailConnection, true);
    return false;
  }
  if (FLogSentLines) Log("Sent: \"" + reply + "\"", kLogDetailSentLine, false);
  return true;
}

TQuorServerSpawnedSocket::TBlockFiller TQuorServerSpawnedSocket::LineListFiller(
    const TStringList &lines, bool dotStuff) {
  return [&lines, dotStuff, next = size_t(0)](std::string &block, size_t limit,
                                              const TDirectWrite &) mutable {
    while (next < lines.size() && block.size() < limit) {
      const std::string &line = lines[next++];
      if (dotStuff && !line.empty() && line[0] == '.') block += '.';
      block += line;
      if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) block += "\r\n";
    }
    return next < lines.size();
  };
}

TQuorServerSpawnedSocket::TBlockFiller TQuorServerSpawnedSocket::TextFiller(std::string_view text,
                                                                            bool dotStuff) {
  // The text is cut into lines exactly where SplitLines cuts it (CR LF, a
  // bare LF or a bare CR each end one line; a last line needs no end), so
  // the wire holds what SendLines puts there for the split list, without
  // the list ever being built.
  // Text already in that form is copied in runs of many lines; only a dot
  // to add or a line end to replace breaks a run, and such runs are found
  // without stopping at every line.
  // A long run is written from the text itself rather than copied.
  return [text, dotStuff, p = size_t(0)](std::string &block, size_t limit,
                                         const TDirectWrite &direct) mutable {
    const size_t end = text.size();
    size_t run = p;  // start of the bytes that go out as they are
    bool failed = false;
    auto flushRun = [&](size_t to) {
      if (to - run >= kDirectRun)
        failed = !direct(text.substr(run, to - run));
      else
        block.append(text.data() + run, to - run);
      run = to;
      return !failed;
    };
    while (p < end && block.size() + (p - run) < limit) {
      if (dotStuff && text[p] == '.') {
        if (!flushRun(p)) return false;
        block += '.';
      }
      const size_t budget = limit - std::min(limit, block.size() + (p - run));
      const size_t plain = PlainLinesEnd(text, p, p + budget, dotStuff);
      if (plain > p) {
        p = plain;
        continue;
      }
      const size_t eol = NextLineEnd(text, p);
      if (eol < end && text[eol] == '\r' && eol + 1 < end && text[eol + 1] == '\n') {
        p = eol + 2;
        continue;
      }
      if (!flushRun(eol)) return false;
      block += "\r\n";
      p = run = std::min(eol + 1, end);
    }
    return flushRun(p) && p < end;
  };
}

bool TQuorServerSpawnedSocket::SendBlocks(const std::string *reply, const TBlockFiller &fill,
                                          bool dotStuff, bool hasText) {
  if (FClosing) return false;
  // A message goes out as blocks of many lines rather than line by line:
  // the bytes on the wire are the same, and the per-line cost of the write
  // path would otherwise dominate a large transfer. Stuffing while the block
  // is built spares a pass over the message and a change to the caller's
  // text.
  FLogSentLines = false;
  std::string block;
  block.reserve(kSendBlock + 1024);
  // The reply and the start of the text leave in one write, as one packet
  // for a small message.
  if (reply) block += AsReplyLine(*reply);
  bool ok = true;
  auto flush = [&] {
    if (block.empty()) return true;
    ok = !FClosing && Connected() && WriteBytes(block);
    block.clear();
    return ok;
  };
  const TDirectWrite direct = [&](std::string_view run) {
    // The start of the run leaves with what the block holds, so that a dot
    // or a line end just added is not a packet of its own.
    if (!block.empty()) {
      const size_t joined = std::min(run.size(), kDirectJoin);
      block.append(run.data(), joined);
      run.remove_prefix(joined);
      if (!flush()) return false;
    }
    if (!run.empty()) ok = !FClosing && Connected() && WriteBytes(run);
    return ok;
  };
  while (fill(block, kSendBlock, direct) && ok)
    if (!flush()) break;
  if (ok && dotStuff) block += ".\r\n";
  if (ok) flush();
  if (ok && (reply || dotStuff || hasText)) StartIdleTimer();
  FLogSentLines = true;
  return ok;
}

void TQuorServerSpawnedSocket::SendLine(const std::string &text) {
  if (FClosing || !Connected()) return;
  if (FWriteDepth > 0) {
    // A line from a timer or a nested handler would land inside the text
    // being written (the middle of a message): it is dropped instead.
    Log("Not sent while a transfer is under way: \"" + text + "\"", kLogDetailConnection, true);
    return;
  }
  if (FLogSentLines) Log("Sent: \"" + text + "\"", kLogDetailSentLine, false);
  if (WriteBytes(AsReplyLine(text))) StartIdleTimer();
}

bool TQuorServerSpawnedSocket::WriteBytes(std::string_view data) {
  if (FClosing || !Connected()) return false;
  TBusyGuard busy(this);
  struct TDepth {
    int &Depth;
    explicit TDepth(int &depth) : Depth(depth) { ++Depth; }
    ~TDepth() { --Depth; }
  } depth(FWriteDepth);
  try {
    size_t done = 0;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    while (done < data.size()) {
      if (!Connected()) return false;
      const int64_t heldBefore = FTransport->Queued();
      const int64_t written = FTransport->Send(data.substr(done));
      if (written < 0) {
        // The peer reset the connection or is gone: a send error, which
        // the log reports as the receiving side's are.
        Log("Socket error:1", kLogDetailConnection, true);
        CloseConnection();
        return false;
      }
      if (written > 0) {
        // A peer taking the data, however slowly, is not idle.
        sinceProgress.restart();
        ResetIdleCount();
        done += static_cast<size_t>(written);
        continue;
      }
      if (FTransport->Queued() < heldBefore) {
        sinceProgress.restart();
        ResetIdleCount();
      }
      // The peer's window is full: pause, keeping other connections and
      // timers live; this connection's own new input is only queued.
      if (FWriteStalled) return false;  // given up on this peer already
      const int limit = FServer ? FServer->TimeOut() : kDefaultTimeOutMs;
      if (sinceProgress.elapsed() > limit) {
        FWriteStalled = true;
        TimedOut();
        return false;
      }
      FTransport->WaitWritable(kWritePauseMs);
      const bool wasDispatching = FDispatching;
      FDispatching = true;
      Yield();
      FDispatching = wasDispatching;
      if (FForcedDestroy || !FTransport) return false;
    }
    return true;
  } catch (...) {
    try {
      CloseConnection();
    } catch (...) {
    }
    return false;
  }
}

void TQuorServerSpawnedSocket::CloseConnection() {
  FCloseRequested = true;
  if (!FTransport) return;
  if (!FDisconnected && !FTransport->Unconnected()) {
    try {
      if (FWriteStalled) {
        FTransport->Abort();  // a peer that takes nothing would hold a graceful close forever
      } else if (FTransport->Connected()) {
        FTransport->Close();
        if (FTransport && !FTransport->Unconnected()) {
          // What is still unsent goes out first; a peer that never takes it
          // is cut off once the time-out has passed.
          if (!FCloseGuard) {
            FCloseGuard = std::make_unique<QTimer>();
            FCloseGuard->setSingleShot(true);
            QObject::connect(FCloseGuard.get(), &QTimer::timeout, this, [this] {
              if (FTransport && !FTransport->Unconnected()) FTransport->Abort();
              if (!FDisconnected) ScheduleDestroy();
            });
          }
          FCloseGuard->start(std::max(FServer ? FServer->TimeOut() : kDefaultTimeOutMs, kTickMs));
        }
      }
    } catch (...) {
      FClosing = true;
      if (FServer) {
        if (FServer->FPendingFree && FServer->FPendingFree != this)
          FServer->FPendingFree->ScheduleDestroy();
        FServer->FPendingFree = this;
      }
      return;
    }
  }
  if (FTransport->Unconnected()) ScheduleDestroy();
}

void TQuorServerSpawnedSocket::Log(const std::string &text, uint8_t detail, bool error) {
  try {
    if (FServer && FServer->FOnLog && !FServer->FOnLog(FServer, this, text, detail, error)) return;
    if (FLogSourceName.empty())
      FLogSourceName = FServer ? FServer->TranscriptFileName() : "TQuorServerSpawnedSocket";
    WriteLogLine(FLogSourceName, "(" + std::to_string(FConnectionNumber) + ") " + text, detail,
                 error);
  } catch (...) {
  }
}

bool TQuorServerSpawnedSocket::PeerIsLocal() const {
  return FRemoteIP == LocalIP() || IsLocalAddress(FRemoteIP);
}

bool TQuorServerSpawnedSocket::ConnectionLimitExceeded() const {
  return FServer && FServer->ActiveConnections() > FServer->MaxConnections() &&
         !IsLocalAddress(FRemoteIP);
}

bool TQuorServerSpawnedSocket::CheckLocalOnly(const std::string &refusalLine) {
  if (!FRestrictToLocalHost || PeerIsLocal()) return true;
  Log("Dropping Connection. Local connections allowed only.  Connection attempted by: " + FRemoteIP,
      kLogDetailSecurity, true);
  SignOff(refusalLine);
  return false;
}
