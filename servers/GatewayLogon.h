#pragma once
// What the POP3 and the SMTP gateways share about a failed log-on: which
// kind of failure the service's error text names, the log line of a
// rejection, and the probe that explains a service out of reach. Each
// protocol brings its own reply wording.
#include <cstdint>
#include <functional>
#include <string>

enum TLogonFailure : uint8_t {
  lf_None,              // logged on
  lf_ServerDown,        // "503 ... 1000": the service says it is down, try later
  lf_RejectedUserId,    // "503": the account is not known
  lf_RejectedPassword,  // "401"
  lf_PaymentRequired,   // "402"
  lf_Unreachable,       // anything else: the service could not be reached
};

// ServerDownCounts: whether "503" with "1000" in it is told apart from a
// rejected user id (the SMTP side has always treated it as a rejection).
TLogonFailure ClassifyLogonError(const std::string &error, bool serverDownCounts);

// True for the failures where the service answered and said no.
bool IsLogonRejection(TLogonFailure failure);

struct TGatewayLogonTexts {
  std::string RejectPrefix;     // "-ERR " / "535 "
  std::string TemporaryPrefix;  // "+OK " / "454 "
  bool RejectionNamesUserId = false;
  std::string PaymentWording;  // after the service name on a 402
};

using TGatewayLog = std::function<void(const std::string &text, uint8_t detail, bool error)>;
using TGatewayProbe = std::function<int()>;

// The reply line for a failed log-on. A rejection is logged first; an
// unreachable service runs Probe (one of TConnectivityResult; a throwing
// probe counts as an exception) to say whether the web itself is reachable.
// Not for lf_None.
std::string LogonFailureReply(TLogonFailure failure, const std::string &error,
                              const std::string &svc, const std::string &userId,
                              const TGatewayLogonTexts &texts, const TGatewayLog &log,
                              const TGatewayProbe &probe);
