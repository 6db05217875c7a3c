// The exchange of THttpRequest: one request on a fresh connection, with its
// redirects, retries and Digest repeats, and the developer trace.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "BuildConfig.h"
#include "foundation/QuorUtil.h"
#include "foundation/StrUtil.h"
#include "http/ChunkedDecoder.h"
#include "http/HttpDigest.h"
#include "http/HttpRequest.h"
#include "http/QuorClientSocket.h"
#include "mail/Rfc822Date.h"

namespace {

// When the headers start after the deadline, the answer still gets this long.
constexpr double kLateHeaderGraceMs = 5000;
// A body that is still arriving never runs out of time with less than this.
constexpr double kBodyGraceMs = 10000;
// Sends and bodies slower than this feed the line-speed figures.
constexpr int64_t kSlowTransferMs = 1000;
// An answer without Content-Length (only 207 is read that way) ends when the
// peer closes, or when nothing more has come for this long: a pause between
// two TCP segments must not cut a listing short.
constexpr double kQuietBodyMs = 500;
// The most room set aside ahead for an announced body length.
constexpr int64_t kMaxBodyReserve = 64 << 20;
// More header text than this is not an HTTP answer; stop collecting.
constexpr size_t kMaxHeaderBytes = 1 << 20;

int64_t MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// Whole seconds left before Deadline; the connection takes the number as
// milliseconds, which keeps each of its waits short so that the loops here
// poll the deadline and the stop flags.
// Every time limit here runs on the monotonic clock: the wall clock jumps
// with daylight saving and with a clock set by hand, which would make a
// stalled exchange wait an hour or time out every exchange at once.
using TSteady = std::chrono::steady_clock;

double MsLeft(TSteady::time_point deadline) {
  return std::chrono::duration<double, std::milli>(deadline - TSteady::now()).count();
}

TSteady::time_point SteadyIn(double ms) {
  return TSteady::now() + std::chrono::duration_cast<TSteady::duration>(
                              std::chrono::duration<double, std::milli>(std::min(ms, 1.0e15)));
}

int32_t SecondsLeft(TSteady::time_point deadline) {
  const double seconds = MsLeft(deadline) / 1000.0;
  return seconds <= 0 ? 0 : int32_t(std::min(seconds, 2.0e9));
}

// "yyyy/mm/dd hh:nn:ss": the stamp of trace lines and of the trace folder.
std::string FormatTraceTime(double dateTime) {
  int year, month, day, hour, minute, second, ms;
  DecodeDateTime(dateTime, year, month, day, hour, minute, second, ms);
  char text[64];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
  return text;
}

bool Passed(TSteady::time_point deadline) { return TSteady::now() > deadline; }

// The line-speed estimate of StretchDeadline, in ms; 0 when there is none.
double TransferEstimateMs(int64_t size, uint32_t bytes, uint32_t ms) {
  if (size < 0 || bytes == 0 || ms == 0) return 0;
  return std::round(double(size) * double(ms) / double(bytes)) * 1.5;
}

void StretchSteadyDeadline(TSteady::time_point &deadline, int64_t size, uint32_t bytes,
                           uint32_t ms) {
  const double estimate = TransferEstimateMs(size, bytes, ms);
  if (estimate > 0 && estimate >= std::round(MsLeft(deadline))) deadline = SteadyIn(estimate);
}

void AddFigure(uint32_t &total, int64_t amount) {
  total = uint32_t(std::min<int64_t>(int64_t(total) + amount, UINT32_MAX));
}

bool IsDottedIPv4(const std::string &host) {
  uint32_t address = 0;
  return std::count(host.begin(), host.end(), '.') == 3 && ParseIPv4(host, address);
}

// The trace folder is fixed when the program starts, so that one run's files
// stay together.
const double gProgramStart = Now();
std::atomic<int> gTraceNumber{0};

std::string TraceFolder() {
  std::string stamp;
  for (char c : FormatTraceTime(gProgramStart)) {
    if (c == '/') c = '-';
    if (c == ':') c = '_';
    if (c >= ' ' && c <= '~') stamp += c;
  }
  return GetProgramFolder() + "/Debug/" + stamp;
}

const char *const kConnecting =
    "========================== CONNECTING ============================";
const char *const kSendingOpen =
    "vvvvvvvvvvvvvvvvvvvvvvvvvvv SENDING vvvvvvvvvvvvvvvvvvvvvvvvvvvvvv";
const char *const kSendingClose =
    "^^^^^^^^^^^^^^^^^^^^^^^^^^^ SENDING ^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^";
const char *const kReceivingOpen =
    "vvvvvvvvvvvvvvvvvvvvvvvvvv RECEIVING vvvvvvvvvvvvvvvvvvvvvvvvvvvvvv";
const char *const kReceivingClose =
    "^^^^^^^^^^^^^^^^^^^^^^^^^^ RECEIVING ^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^";

// What one pass of the exchange decided about the next one.
enum class TNext { Finish, Repeat };

}  // namespace

void StretchDeadline(double &deadline, int64_t size, uint32_t bytes, uint32_t ms) {
  if (size < 0 || bytes == 0 || ms == 0) return;
  const double estimate = TransferEstimateMs(size, bytes, ms);
  const double left = std::round(DaysToMs(deadline - Now()));
  if (estimate >= left) deadline = Now() + MsToDays(estimate);
}

class THttpRequest::TExchange {
 public:
  TExchange(THttpRequest &request, THttpResponse &response, THttpCookieList *cookies,
            std::string &error, TSteady::time_point deadline)
      : R(request), Response(response), Cookies(cookies), Error(error), Deadline(deadline) {}

  TNext Run();
  void Close() {
    if (Socket) Socket->Close();
    Socket.reset();
  }

 private:
  void Trace(const std::string &line) {
    if (R.FTrace) R.FTrace->push_back(line);
  }
  bool PrepareHeaders(int &port);
  bool Authenticate();
  bool OpenConnection(const std::string &host, int port);
  bool Send();
  bool ReadHeaders(bool &ended);
  // The body's announced length; -1 when it says where it ends itself
  // (chunked) or ends at the close, 0 when there is none.
  int64_t ExpectedBodyLength(bool &chunked);
  bool ReadBody();
  // Hands the whole body over (and to the trace).
  void KeepBody(std::string &&body);
  void TakeCookies();
  TNext Redirects();
  TNext Authentication();

  THttpRequest &R;
  THttpResponse &Response;
  THttpCookieList *Cookies;
  std::string &Error;
  TSteady::time_point Deadline;
  std::unique_ptr<TQuorClientSocket> Socket;
};

bool THttpRequest::TExchange::PrepareHeaders(int &port) {
  std::string host;
  if (!R.GetHeader("Host", host)) {
    R.SetHeader("Host", R.DefaultHost);
  } else if (StartsText("Blah", host)) {
    R.SetHeader("Host", R.DefaultHost);
  }
  std::string portText;
  // Without a Port header the service base override, when set, names the
  // port that every endpoint lives on.
  int defaultPort = 80;
  const std::string base = GetServiceBaseOverride();
  if (!base.empty()) {
    const size_t slashes = base.find("//");
    const std::string authority = base.substr(slashes == std::string::npos ? 0 : slashes + 2);
    const size_t colon = authority.find(':');
    if (colon != std::string::npos)
      defaultPort =
          StrToIntDef(authority.substr(colon + 1, authority.find('/', colon) - colon - 1), 80);
  }
  port = R.GetHeader("Port", portText) ? StrToIntDef(Trim(portText), defaultPort) : defaultPort;
  // The header block must be closed before a length can be counted or the
  // request sent; a request built from a URL alone has none yet.
  if (R.HeaderEnd() < 0) R.Add("");
  R.SetHeader("Content-Length", std::to_string(R.BodyLength()));
  if (Cookies) {
    std::string fullUri;
    R.GetFullUri(fullUri);
    R.SetHeader("Cookie", Cookies->CookiesFor(fullUri));
  }
  return true;
}

bool THttpRequest::TExchange::Authenticate() {
  std::string challenge;
  if (Response.GetHeader("WWW-Authenticate", challenge)) {
    R.Challenge = challenge;
    R.ClientNonce.clear();
  }
  if (R.Challenge.empty()) {
    R.SetHeader("Authorization", "");
    R.ClientNonce.clear();
    return true;
  }
  std::string uri;
  if (!R.GetUri(uri)) {
    Error = "Was asked to authenticate but couldn't find Uri";
    return false;
  }
  std::string user = R.UserId;
  if (user.find('@') == std::string::npos) user += std::string("@") + BRELVANE_DEFAULT_MAIL_DOMAIN;
  std::string value, failure;
  // The service digests every request as if it were a PROPFIND.
  if (!ComputeAuthorization(R.Challenge, user, R.Password, "PROPFIND", uri, R.ClientNonce,
                            R.NonceCount, value, failure)) {
    Error = "ComputeAuthorization failed with:" + failure;
    return false;
  }
  R.SetHeader("Authorization", value);
  return true;
}

bool THttpRequest::TExchange::OpenConnection(const std::string &hostName, int port) {
  Socket = std::make_unique<TQuorClientSocket>(R.Name);
  std::string host = hostName;
  if (IsDottedIPv4(host)) {
    // Nothing to look up is a successful lookup: callers explain a failed
    // exchange by this result, and a refused connection to a dotted address
    // is a connection failure, not a lookup failure.
    R.DnsResult = dns_NoError;
  } else {
    uint32_t address = 0;
    TDNSResult result;
    try {
      result = HttpLookupHost(host, kHostLookupLimitMs, address);
    } catch (const std::exception &e) {
      Error = std::string("Excepted looking up host with:") + e.what();
      R.DnsResult = dns_InternalError;
      return false;
    }
    if (result != dns_NoError) {
      R.DnsResult = result;
      Error = std::string("Host lookup failed with:") + DnsResultName(result);
      return false;
    }
    R.DnsResult = dns_NoError;
    if (address == 0) {
      R.ConnectResult = cr_NoAddress;
      Error = "Host lookup failed. Host \"" + host + "\" doesnt exist";
      return false;
    }
    host = IPv4ToText(address);
  }
  Socket->SetHost(host);
  Socket->TerminateFlag = R.TerminateFlag;
  Socket->CancelFlag = R.CancelFlag;
  Socket->ConnectRetries = R.ConnectRetries;
  Socket->SetPort(port);
  Socket->SetTimeout(SecondsLeft(Deadline));
  bool connected = Socket->Connect();
  if (!connected) {
    Socket->SetTimeout(SecondsLeft(Deadline));
    connected = Socket->Connect();
  }
  R.ConnectResult = connected ? cr_Connected : cr_ConnectFailed;
  return connected;
}

bool THttpRequest::TExchange::Send() {
  const std::string wire = R.SaveToString();
  Trace("");
  Trace(kSendingOpen);
  for (const auto &line : R.Lines()) Trace(line);
  Trace(kSendingClose);
  Trace("");
  Trace(kReceivingOpen);
  StretchSteadyDeadline(Deadline, int64_t(wire.size()), R.BytesSent, R.SendMs);
  Socket->SetTimeout(SecondsLeft(Deadline));
  const auto start = std::chrono::steady_clock::now();
  if (!Socket->WriteData(wire)) return false;
  const int64_t took = MsSince(start);
  if (took > kSlowTransferMs) {
    AddFigure(R.BytesSent, int64_t(wire.size()));
    AddFigure(R.SendMs, took);
  }
  return true;
}

// False when the exchange is over (an error text is set); Ended tells whether
// the header block was read to its end.
bool THttpRequest::TExchange::ReadHeaders(bool &ended) {
  ended = false;
  TStringList headers;
  size_t headerBytes = 0;
  for (;;) {
    if (R.TerminateRequested()) {
      Error = "Terminated while reading header";
      return false;
    }
    if (Passed(Deadline)) {
      Error = "Timed out reading header";
      return false;
    }
    Socket->SetTimeout(SecondsLeft(Deadline));
    std::string line;
    if (Socket->ReadLn(line)) {
      Trace(line);
      if (!line.empty()) {
        headerBytes += line.size();
        headers.push_back(line);
        if (headerBytes <= kMaxHeaderBytes) continue;
        Error = "Header too long";
        return false;
      }
      if (headers.empty()) continue;  // stray line ends before the status line
      Response.Clear();
      Response.MergeHeaders(headers);
      int code = 0;
      if (Response.GetStatusCode(code) && code == 100) {
        headers.clear();  // the real answer follows on the same connection
        continue;
      }
      ended = true;
      break;
    }
    if (!Socket->Connected()) {
      Error = "Disconnected while reading header.";
      break;
    }
  }
  Response.Clear();
  Response.MergeHeaders(headers);
  return true;
}

int64_t THttpRequest::TExchange::ExpectedBodyLength(bool &chunked) {
  std::string text;
  int code = 0;
  const bool haveCode = Response.GetStatusCode(code);
  // A chunked body says where it ends itself; a length beside it is void.
  chunked = Response.GetHeader("Transfer-Encoding", text) && ContainsText(text, "chunked");
  if (chunked) return -1;
  if (Response.GetHeader("Content-Length", text)) return StrToInt64Def(Trim(text), 1000000);
  if (haveCode && code == 207) return -1;
  return 0;
}

bool THttpRequest::TExchange::ReadBody() {
  bool chunked = false;
  const int64_t expected = ExpectedBodyLength(chunked);
  if (expected == 0) return true;

  StretchSteadyDeadline(Deadline, expected, R.BytesReceived, R.ReceiveMs);
  std::string buffer;
  // Sized once for an announced length, so that a large body is not copied
  // as it grows; a length beyond any message is not trusted that far.
  if (expected > 0) buffer.reserve(size_t(std::min<int64_t>(expected, kMaxBodyReserve)));
  TChunkedDecoder decoder;
  std::string raw;
  // Appends what has arrived to the body; false when nothing came.
  auto read = [&]() -> bool {
    if (!chunked) return Socket->ReadData(buffer);
    raw.clear();
    if (!Socket->ReadData(raw)) return false;
    decoder.Feed(raw, buffer);
    return true;
  };
  const auto start = std::chrono::steady_clock::now();
  auto lastData = start;
  auto addFigures = [&] {
    const int64_t took = MsSince(start);
    if (took > kSlowTransferMs) {
      AddFigure(R.BytesReceived, int64_t(buffer.size()));
      AddFigure(R.ReceiveMs, took);
    }
  };
  for (;;) {
    // Reading what has arrived never waits on the loop by itself; without
    // this a long body would freeze every other connection and the window,
    // and a stop raised there could not be seen.
    Yield();
    if (R.TerminateRequested()) {
      Error = "Terminated while reading body";
      addFigures();
      return false;
    }
    if (decoder.Failed()) {
      Error = "Bad chunked body: " + decoder.Error();
      addFigures();
      return false;
    }
    if (decoder.Done()) break;
    if (Passed(Deadline)) {
      Error = "Timed out while reading body";
      addFigures();
      return false;
    }
    if (!Socket->Connected()) {
      // What the peer sent before it closed may still be waiting.
      read();
      // The close ends an answer without any length.
      const bool complete =
          chunked ? decoder.Done() : expected < 0 || int64_t(buffer.size()) >= expected;
      if (complete) break;
      Error = decoder.Failed() ? "Bad chunked body: " + decoder.Error()
                               : std::string("Connection dropped while reading body");
      addFigures();
      return false;
    }
    Socket->SetTimeout(SecondsLeft(Deadline));
    if (read()) {
      lastData = std::chrono::steady_clock::now();
      if (MsLeft(Deadline) < kBodyGraceMs) Deadline = SteadyIn(kBodyGraceMs);
      if (expected < 0) continue;
    } else if (expected < 0) {
      // Only an answer without any length ends when the peer goes quiet.
      if (!chunked && MsSince(lastData) >= kQuietBodyMs) break;
      continue;
    }
    if (int64_t(buffer.size()) < expected) continue;
    break;
  }
  // Bytes past the announced length belong to no answer of ours.
  if (expected > 0 && int64_t(buffer.size()) > expected) buffer.resize(size_t(expected));
  addFigures();
  KeepBody(std::move(buffer));
  return true;
}

void THttpRequest::TExchange::KeepBody(std::string &&body) {
  if (R.FTrace)
    for (const auto &line : SplitLines(body)) Trace(line);
  // Kept whole: the lines are split only for a caller that asks for them.
  Response.PutBodyText(std::move(body));
  Trace(kReceivingClose);
  Trace("Time = " + FormatTraceTime(Now()));
  Trace("");
}

void THttpRequest::TExchange::TakeCookies() {
  if (!Cookies) return;
  // Only the header block: a message body that happens to hold a line
  // starting "Set-Cookie:" must not plant cookies in the jar.
  const int end = Response.HeaderEnd();
  const int count = end < 0 ? Response.Count() : end;
  for (int i = 0; i < count; ++i) {
    if (R.TerminateRequested()) return;
    const std::string &line = Response[i];
    if (line.empty() || !StartsText("Set-Cookie:", line)) continue;
    auto cookie = std::make_unique<THttpCookie>();
    if (cookie->Parse(Trim(line.substr(11)))) Cookies->Add(std::move(cookie));
  }
}

TNext THttpRequest::TExchange::Redirects() {
  int code = 0;
  std::string location;
  const bool haveLocation = Response.GetHeader("Location", location);
  const bool haveCode = Response.GetStatusCode(code);
  if (!haveCode && !haveLocation) {
    if (R.RedirectDepth < R.MaxRedirects) return TNext::Repeat;
    Error = "Retry count exceeded " + std::to_string(R.RedirectDepth);
    return TNext::Finish;
  }
  if (haveCode && code != 302) return TNext::Finish;
  R.AuthAttempts = 0;
  R.Challenge.clear();
  if (R.RedirectDepth >= R.MaxRedirects) {
    Error = "Retry count exceeded " + std::to_string(R.RedirectDepth);
    return TNext::Finish;
  }
  if (!haveLocation) {
    Error = "Server is too busy. (302 no Location tag)";
    return TNext::Finish;
  }
  Response.Clear();
  R.SetUrl(Trim(location));
  return TNext::Repeat;
}

TNext THttpRequest::TExchange::Authentication() {
  int code = 0;
  if (!Response.GetStatusCode(code)) return TNext::Finish;
  if (code != 401) {
    R.AuthAttempts = 0;
    return TNext::Finish;
  }
  ++R.AuthAttempts;
  if (R.AuthAttempts >= R.MaxAuthAttempts) {
    R.AuthAttempts = 0;
    return TNext::Finish;
  }
  if (R.DetectBadPassword && ContainsText(Response[0], "Bad Password")) return TNext::Finish;
  std::string challenge;
  if (R.RedirectDepth < R.MaxRedirects && Response.GetHeader("WWW-Authenticate", challenge)) {
    R.Challenge = challenge;
    R.ClientNonce.clear();
    return TNext::Repeat;
  }
  return TNext::Finish;
}

TNext THttpRequest::TExchange::Run() {
  int port = 80;
  PrepareHeaders(port);
  if (R.StopRequested()) return TNext::Finish;
  if (!Authenticate()) return TNext::Finish;
  if (R.StopRequested()) return TNext::Finish;

  std::string host;
  R.GetHeader("Host", host);
  host = Trim(host);
  Trace("");
  Trace("");
  Trace(kConnecting);
  Trace("ConnectionCount = " + std::to_string(R.RequestCount));
  Trace("Time = " + FormatTraceTime(Now()));
  Trace("Host = " + host);
  Trace("Port = " + std::to_string(port));
  Trace("UserId = " + R.UserId);
  Trace("Password = " + R.Password);
  if (!OpenConnection(host, port)) return TNext::Finish;
  if (!Send()) return TNext::Finish;

  Response.Clear();
  if (Passed(Deadline)) Deadline = SteadyIn(kLateHeaderGraceMs);
  bool ended = false;
  if (!ReadHeaders(ended)) return TNext::Finish;
  if (ended && !ReadBody()) return TNext::Finish;

  TakeCookies();
  if (R.TerminateRequested()) return TNext::Finish;
  if (R.FollowRedirects) {
    int code = 0;
    const bool haveCode = Response.GetStatusCode(code);
    if (!haveCode || code == 302) return Redirects();
  }
  if (R.HandleAuthentication) return Authentication();
  return TNext::Finish;
}

void THttpRequest::PerformRequest(THttpResponse &response, THttpCookieList *cookies,
                                  std::string &error, double deadline) {
  // The caller's date-time is turned into a monotonic one once; redirects
  // and repeats share it.
  const bool given = deadline != 0;
  PerformUntil(response, cookies, error,
               given ? SteadyIn(DaysToMs(deadline - Now())) : TSteady::time_point(), given);
}

void THttpRequest::PerformUntil(THttpResponse &response, THttpCookieList *cookies,
                                std::string &error, std::chrono::steady_clock::time_point deadline,
                                bool given) {
  const auto givenDeadline = deadline;
  if (IsDeveloperMode() && !FTrace) FTrace = std::make_unique<TStringList>();
  if (!given) deadline = SteadyIn(double(Timeout) * 1000.0);
  DnsResult = dns_NotPerformed;
  ConnectResult = cr_ConnectFailed;
  ++RequestCount;

  TNext next = TNext::Finish;
  {
    TExchange exchange(*this, response, cookies, error, deadline);
    try {
      next = exchange.Run();
    } catch (const std::exception &e) {
      error = std::string("Exchange excepted with:") + e.what();
      next = TNext::Finish;
    }
    // The connection is not needed by a repeat, which opens its own.
    exchange.Close();
  }
  if (next == TNext::Repeat) {
    const int32_t depth = RedirectDepth;
    ++RedirectDepth;
    PerformUntil(response, cookies, error, givenDeadline, given);
    RedirectDepth = depth;
    return;  // the innermost exchange has finished everything
  }

  response.ReceivedAt = Now();
  if (FTrace) {
    std::error_code ec;
    const std::string folder = TraceFolder();
    std::filesystem::create_directories(folder, ec);
    // A trace holds what went over the wire, a password included.
    std::filesystem::permissions(std::filesystem::path(folder).parent_path(),
                                 std::filesystem::perms::owner_all, ec);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    if (std::filesystem::is_directory(folder, ec)) {
      const std::string path = folder + "/" + std::to_string(gTraceNumber++) + ".txt";
      WriteFileAtomically(path, JoinLines(*FTrace));
    }
    FTrace.reset();
  }
}
