#pragma once
// One HTTP/1.1 request to the webmail service, sent on a fresh connection by
// PerformRequest, which also follows redirects, answers Digest challenges and
// keeps the cookie jar up to date.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/QuorUtil.h"
#include "http/HttpCommunication.h"
#include "http/HttpCookieList.h"
#include "http/HttpResponse.h"

class TQuorClientSocket;

// How the last exchange's connection went, beside its host lookup.
enum TConnectResult : uint8_t {
  cr_Connected = 0,      // the connection was made
  cr_ConnectFailed = 1,  // no connection (or none tried yet)
  cr_NoAddress = 2,      // the host's name gave no address
};

class THttpRequest : public THttpCommunication {
 public:
  THttpRequest();
  ~THttpRequest() override;

  // Replaces, adds (before the empty line ending the headers) or, with an
  // empty value, removes a header. True when the header was there.
  bool SetHeader(const std::string &name, const std::string &value);
  bool GetUri(std::string &uri);
  void SetUri(const std::string &uri);
  // Host header value followed by the uri: what cookies are matched against.
  bool GetFullUri(std::string &text);
  // Points the request at an absolute URL: uri, "host" and "port" headers.
  void SetUrl(const std::string &url);
  // Bytes after the empty line when the lines are sent.
  int64_t BodyLength() const;
  // The logon PROPFIND of the HTTPMail session, aimed at EndpointUrl.
  void BuildLogonRequest(const std::string &endpointUrl);

  bool TerminateRequested() const { return TerminateFlag && *TerminateFlag; }
  bool StopRequested() const { return (CancelFlag && *CancelFlag) || TerminateRequested(); }

  // The exchange. Error comes back empty on success (the caller empties it
  // beforehand); Deadline is a date-time, 0 meaning now + Timeout seconds.
  void PerformRequest(THttpResponse &response, THttpCookieList *cookies, std::string &error,
                      double deadline = 0);

  int32_t RedirectDepth = 0;
  int32_t AuthAttempts = 0;
  uint32_t BytesSent = 0;
  uint32_t BytesReceived = 0;
  uint32_t SendMs = 0;
  uint32_t ReceiveMs = 0;
  int32_t Timeout = 60;  // seconds
  std::string Name = "THttpRequest";
  const bool *TerminateFlag = nullptr;
  const bool *CancelFlag = nullptr;
  int32_t ConnectRetries = 10;
  bool FollowRedirects = true;
  bool HandleAuthentication = true;
  int32_t MaxRedirects = 15;
  int32_t MaxAuthAttempts = 2;
  bool DetectBadPassword = true;
  TDNSResult DnsResult = dns_NotPerformed;
  uint8_t ConnectResult = cr_ConnectFailed;  // one of TConnectResult
  int32_t RequestCount = 0;
  std::string UserId;
  std::string Password;
  std::string Challenge;
  std::string ClientNonce;
  int32_t NonceCount = 1;

 private:
  class TExchange;
  // PerformRequest with its deadline on the monotonic clock; without Given,
  // each repeat gets Timeout seconds of its own.
  void PerformUntil(THttpResponse &response, THttpCookieList *cookies, std::string &error,
                    std::chrono::steady_clock::time_point deadline, bool given);
  std::unique_ptr<TStringList> FTrace;  // open developer trace, if any
};

// The host lookup the exchange uses; LookupHost unless replaced (tests give
// it every outcome without touching a name server). Null restores it.
using THttpHostLookup =
    std::function<TDNSResult(const std::string &host, int limitMs, uint32_t &address)>;
void SetHttpHostLookup(THttpHostLookup lookup);
TDNSResult HttpLookupHost(const std::string &host, int limitMs, uint32_t &address);

// Lengthens Deadline (a date-time) when the line speed measured so far,
// Bytes in Ms, says that moving Size bytes takes longer than what is left:
// it then becomes now + 1.5 times that estimate. Size -1 (length unknown) or
// no figures yet change nothing.
void StretchDeadline(double &deadline, int64_t size, uint32_t bytes, uint32_t ms);

// Name of a host lookup outcome ("dns_Timeout"), as failure texts give it.
const char *DnsResultName(TDNSResult result);

// One base address ("http://127.0.0.1:8080") that replaces scheme, host and
// port of every service endpoint, so tests and the demo can point the
// gateway at a stand-in service. Empty switches it off; when never set, the
// environment variable BRELVANE_SERVICE_BASE is used.
void SetServiceBaseOverride(const std::string &baseUrl);
std::string GetServiceBaseOverride();
// Url with scheme, host and port taken from the override (unchanged when
// there is none).
std::string ApplyServiceBase(const std::string &url);
// The two HTTPMail endpoints, override applied; the MSN one for user ids
// containing "@msn".
std::string HttpMailEndpointFor(const std::string &userId);
// Host part of an absolute URL ("http://h:81/x" gives "h").
std::string UrlHost(const std::string &url);
