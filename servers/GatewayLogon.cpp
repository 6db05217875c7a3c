#include "servers/GatewayLogon.h"

#include "http/Connectivity.h"
#include "log/Log.h"

namespace {

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

std::string ProbeWording(int probe, const std::string &svc) {
  switch (probe) {
    case cy_Reached:
      return "Failed to reach " + svc + ". Web is active.";
    case cy_NoAddress:
      return "Failed to reach " + svc + " DNS1.";
    case cy_LookupFailed:
      return "Failed to reach " + svc + " DNS2.";
    case cy_ConnectFailed:
      return "Failed to connect to " + svc + ". Cannot access web.";
    default:
      return "Failed to reach " + svc + " internal error.";
  }
}

}  // namespace

TLogonFailure ClassifyLogonError(const std::string &error, bool serverDownCounts) {
  if (error.empty()) return lf_None;
  if (error.rfind("503", 0) == 0) {
    if (serverDownCounts && error.find("1000") != std::string::npos) return lf_ServerDown;
    return lf_RejectedUserId;
  }
  if (error.rfind("401", 0) == 0) return lf_RejectedPassword;
  if (error.rfind("402", 0) == 0) return lf_PaymentRequired;
  return lf_Unreachable;
}

bool IsLogonRejection(TLogonFailure failure) {
  return failure == lf_RejectedUserId || failure == lf_RejectedPassword ||
         failure == lf_PaymentRequired;
}

std::string LogonFailureReply(TLogonFailure failure, const std::string &error,
                              const std::string &svc, const std::string &userId,
                              const TGatewayLogonTexts &texts, const TGatewayLog &log,
                              const TGatewayProbe &probe) {
  // A line break in the service's text is made a blank where the reply is
  // sent, as in every reply.
  const std::string tail = " (Temporary error: " + error + ")";
  switch (failure) {
    case lf_None:
      return std::string();
    case lf_ServerDown:
      return texts.TemporaryPrefix + "Failed to reach " + svc + ". Server is down." + tail;
    case lf_RejectedUserId:
      log(svc + " login rejected useid " + Quoted(userId) + " with " + error, kLogDetailRefusal,
          true);
      return texts.RejectPrefix + svc + " rejected userid" +
             (texts.RejectionNamesUserId ? " " + userId : std::string());
    case lf_RejectedPassword:
      log(svc + " rejected password with:" + error, kLogDetailRefusal, true);
      return texts.RejectPrefix + svc + " rejected password";
    case lf_PaymentRequired:
      log(svc + " requested payment with:" + error, kLogDetailRefusal, true);
      return texts.RejectPrefix + svc + " " + texts.PaymentWording;
    case lf_Unreachable:
      break;
  }
  int result = cy_Exception;
  try {
    result = probe();
  } catch (...) {
    result = cy_Exception;
  }
  return texts.TemporaryPrefix + ProbeWording(result, svc) + tail;
}
