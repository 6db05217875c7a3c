#include "http/QuorClientSocket.h"

#include <algorithm>
#include <chrono>

#include "foundation/QuorUtil.h"

namespace {
using Clock = std::chrono::steady_clock;

// ReadLn waits in rounds of this length, yielding between them.
constexpr int kReadRoundMs = 100;
// Below this per-attempt share of the time-out an attempt gets a fixed
// limit instead, so that a short Timeout still allows a real connect.
constexpr int32_t kMinAttemptShareMs = 5000;
constexpr int32_t kShortTimeoutAttemptMs = 10000;
constexpr size_t kWriteBlock = 1024;
constexpr int kWatchIntervalMs = 500;

// Counts engine calls in progress on this connection.
struct TEngineCall {
  explicit TEngineCall(int &count) : FCount(count) { ++FCount; }
  ~TEngineCall() { --FCount; }
  int &FCount;
};
// A blocked write gets at least this long: callers set Timeout for reading
// (the HTTP exchange sets it to whole seconds counted as milliseconds), and a
// send must not fail because the peer paused for a fraction of a second.
constexpr int32_t kMinWriteLimitMs = 60000;
}  // namespace

// ---- TQuorAbstractClientSocket -------------------------------------------

TQuorAbstractClientSocket::TQuorAbstractClientSocket(std::string name) : Name(std::move(name)) {}

int32_t TQuorAbstractClientSocket::GetTimeout() { return FTimeout; }
void TQuorAbstractClientSocket::SetTimeout(int32_t ms) { FTimeout = ms; }
TSocketNotifyEvent TQuorAbstractClientSocket::GetOnDisconnect() { return FOnDisconnect; }
void TQuorAbstractClientSocket::SetOnDisconnect(TSocketNotifyEvent event) {
  FOnDisconnect = std::move(event);
}
TSocketErrorEvent TQuorAbstractClientSocket::GetOnError() { return FOnError; }
void TQuorAbstractClientSocket::SetOnError(TSocketErrorEvent event) { FOnError = std::move(event); }

void TQuorAbstractClientSocket::DoDisconnect(TQuorAbstractClientSocket *sender) {
  if (FOnDisconnect) FOnDisconnect(sender);
}

void TQuorAbstractClientSocket::ReportError(const std::string &message) {
  if (FOnError) FOnError(this, message);
}

// ---- TIndyClientSocket ---------------------------------------------------

TIndyClientSocket::TIndyClientSocket(std::string name)
    : TQuorAbstractClientSocket(std::move(name)) {
  FWatchTimer = std::make_unique<TWatchTimer>(kWatchIntervalMs, [this] { WatchTimerTick(); });
  RecreateEngine();
}

TIndyClientSocket::~TIndyClientSocket() {
  // No disconnect notice from here: the owner is going away.
  FWatchTimer.reset();
  if (FEngine) FEngine->OnDisconnected = nullptr;
  FEngine.reset();
}

void TIndyClientSocket::RecreateEngine() {
  std::string host;
  int port = 0;
  if (FEngine) {
    host = FEngine->Host;
    port = FEngine->Port;
    FEngine->OnDisconnected = nullptr;  // a dropped engine announces nothing
  }
  FEngine.reset();
  FEngine = std::make_unique<TSocketEngine>();
  FEngine->OnDisconnected = [this] { DoDisconnect(this); };
  FEngine->OnIdle = [this] {
    Yield();
    return TerminateRequested();
  };
  FEngine->Host = host;
  FEngine->Port = port;
}

int32_t TIndyClientSocket::GetPort() { return FEngine->Port; }
void TIndyClientSocket::SetPort(int32_t port) { FEngine->Port = port; }
std::string TIndyClientSocket::GetHost() { return FEngine->Host; }
void TIndyClientSocket::SetHost(const std::string &host) { FEngine->Host = host; }

uint32_t TIndyClientSocket::LookupHostAddress() {
  uint32_t address = 0;
  if (LookupHost(FEngine->Host, kHostLookupLimitMs, address) != dns_NoError) return 0;
  return address;
}

void TIndyClientSocket::DoDisconnect(TQuorAbstractClientSocket *sender) {
  FWatchTimer->SetEnabled(false);
  // A closed connection is announced once, however its end was found.
  if (FDisconnectNotified) return;
  FDisconnectNotified = true;
  TQuorAbstractClientSocket::DoDisconnect(sender);
}

int32_t TIndyClientSocket::WriteLimit() const { return std::max(FTimeout, kMinWriteLimitMs); }

int32_t TIndyClientSocket::AttemptTimeout() const {
  const int32_t retries = ConnectRetries > 0 ? ConnectRetries : 1;
  return FTimeout / retries < kMinAttemptShareMs ? kShortTimeoutAttemptMs : FTimeout;
}

bool TIndyClientSocket::Connect() {
  int32_t attempt = 1;
  bool connected = false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(FTimeout);
  FConnectAttempts = 0;
  if (TerminateRequested() || StopRequested()) return false;
  const int32_t limit = AttemptTimeout();
  std::string lastError;
  for (;;) {
    if (TerminateRequested() || StopRequested()) return false;
    ++FConnectAttempts;
    try {
      Yield();
      FEngine->WriteTimeoutMs = WriteLimit();
      TEngineCall busy(FEngineCalls);
      FEngine->Connect(limit);
      Yield();
      connected = true;
    } catch (const std::exception &e) {
      Yield();
      ++attempt;
      lastError = e.what();
      try {
        RecreateEngine();
      } catch (...) {
      }
      connected = false;
    }
    if (connected || attempt > ConnectRetries || Clock::now() > deadline) break;
  }
  if (!connected) ReportError("TIndyClientSocket.Connect excepted with " + lastError);
  if (connected) {
    // A new conversation starts with nothing left over from an old one.
    FPushback.clear();
    FPartialLine.clear();
    FDisconnectNotified = false;
  }
  FWatchTimer->SetEnabled(connected);
  return connected;
}

bool TIndyClientSocket::AttachSocket(int fd) {
  try {
    FEngine->Attach(fd);
  } catch (const std::exception &e) {
    ReportError(std::string("TIndyClientSocket.Connect excepted with ") + e.what());
    return false;
  }
  FPushback.clear();
  FPartialLine.clear();
  FDisconnectNotified = false;
  FWatchTimer->SetEnabled(true);
  return true;
}

bool TIndyClientSocket::Connected() {
  if (!FEngine->Connected()) return false;
  try {
    FEngine->ReadAvailable(0, true, false);
    return true;
  } catch (const std::exception &) {
    RecreateEngine();
    return false;
  }
}

void TIndyClientSocket::WatchTimerTick() {
  // A tick that arrives while an engine call lets the loop run (a held-up
  // send) must not renew the engine under that call; the next tick looks.
  if (FEngineCalls > 0) return;
  if (FOnDisconnect && !Connected()) DoDisconnect(this);
}

bool TIndyClientSocket::Close() {
  try {
    if (FEngine->Connected() || FEngine->IsOpen()) {
      FEngine->Disconnect();
      DoDisconnect(this);
    }
    return true;
  } catch (const std::exception &e) {
    ReportError(std::string("TIndyClientSocket.Close excepted with ") + e.what());
    return false;
  }
}

void TIndyClientSocket::SplitEmbeddedLineBreaks(std::string &line, std::string &pushback) {
  for (;;) {
    if (line.find_first_of("\r\n") == std::string::npos) return;
    size_t p = line.find("\r\n");
    if (p == std::string::npos) return;  // lone CR or LF stay in the line
    if (p == 0) {
      line.erase(0, 2);
      continue;
    }
    if (p + 2 == line.size()) {
      line.erase(p);
      return;
    }
    pushback = line.substr(p + 2) + pushback;
    line.erase(p);
    return;
  }
}

bool TIndyClientSocket::ReadLn(std::string &line) {
  line.clear();
  if (TerminateRequested()) return false;
  try {
    size_t chunk = static_cast<size_t>(FEngine->MaxLineLength / 2);
    int32_t waited = 0;
    bool done = false;
    while (!done) {
      Yield();
      if (TerminateRequested()) return false;
      if (FTimeout < waited) {
        if (FTimeout > kReadRoundMs) ReportError("Readln Timed Out.");
        return false;
      }
      waited += kReadRoundMs;
      if (!FPushback.empty()) {
        line = std::move(FPushback);
        FPushback.clear();
        done = true;
      } else {
        bool timedOut = false;
        std::string read;
        try {
          if (FEngine->InputBufferSize() == 0) ++FSocketWaits;
          read = FEngine->ReadLn("\r\n", kReadRoundMs, -1, timedOut);
        } catch (const ELineTooLong &) {
          // Gather the front of an over-long line piece by piece. A piece
          // never ends on a CR, so that a CR LF pair is never cut in two and
          // the line end is still found afterwards.
          try {
            std::string_view waiting = FEngine->PeekBuffer();
            size_t take = std::min(chunk, waiting.size());
            if (take > 1 && waiting[take - 1] == '\r') --take;
            FPartialLine += FEngine->ExtractFromBuffer(take);
          } catch (const ESocketEngineError &) {
            chunk = chunk > 1 ? chunk / 2 : 1;
          }
          continue;
        }
        // A round that ran out keeps the gathered front of the line: its
        // end may simply arrive a little later.
        if (timedOut) continue;
        line = FPartialLine + read;
        Yield();
        FPartialLine.clear();
        done = true;
      }
      SplitEmbeddedLineBreaks(line, FPushback);
    }
    return true;
  } catch (const std::exception &e) {
    ReportError(std::string("Readln excepted with ") + e.what());
    return false;
  }
}

bool TIndyClientSocket::WriteLn(const std::string &line) {
  if (TerminateRequested()) return true;
  try {
    FEngine->WriteTimeoutMs = WriteLimit();
    TEngineCall busy(FEngineCalls);
    FEngine->WriteLn(line);
    return true;
  } catch (const std::exception &e) {
    ReportError(std::string("WriteLn excepted with ") + e.what());
    return false;
  }
}

bool TIndyClientSocket::ReadData(std::string &stream) {
  if (TerminateRequested()) return false;
  try {
    bool gotPushback = false;
    if (!FPushback.empty()) {
      stream += FPushback;
      FPushback.clear();
      gotPushback = true;
    }
    size_t n = FEngine->InputBufferSize();
    if (n == 0) {
      ++FSocketWaits;
      n = static_cast<size_t>(FEngine->ReadAvailable(1, true, false));
    }
    if (n > 0) {
      FEngine->AppendFromBuffer(stream, n);
      return true;
    }
    // Text handed over from the pushback is data too.
    return gotPushback;
  } catch (const std::exception &e) {
    ReportError(std::string("ReadData excepted with:") + e.what());
    return false;
  }
}

bool TIndyClientSocket::WriteData(std::string_view stream, const TWriteProgressEvent &progress) {
  try {
    const int64_t total = static_cast<int64_t>(stream.size());
    int64_t sent = 0;
    FEngine->WriteTimeoutMs = WriteLimit();
    for (size_t at = 0; at < stream.size(); at += kWriteBlock) {
      std::string_view block = stream.substr(at, kWriteBlock);
      Yield();
      if (TerminateRequested() || ProgressHook()) return false;
      TEngineCall busy(FEngineCalls);
      FEngine->Write(block);
      sent += static_cast<int64_t>(block.size());
      if (progress)
        progress("wrote " + std::to_string(sent) + " of " + std::to_string(total) + " bytes", sent,
                 total);
    }
    return true;
  } catch (const std::exception &e) {
    if (TerminateRequested()) return false;  // a hard stop is no failure to report
    ReportError(std::string("WriteData excepted with") + e.what());
    return false;
  }
}
