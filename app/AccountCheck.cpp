#include "app/AccountCheck.h"

#include <cstdint>
#include <cstdio>

#include "foundation/StrUtil.h"
#include "http/QuorClientSocket.h"

namespace {

const char *const kCrLf = "\r\n";

std::string Pad3(int number) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", number);
  return text;
}

}  // namespace

bool TAccountCheck::UserIdAcceptable(const std::string &userId) {
  return userId.find('@') != std::string::npos;
}

std::string TAccountCheck::NeedFullAddressText() {
  return std::string("Please enter full email address.") + kCrLf +
         "For example: someone@hotmail.com or someone@msn.com";
}

void TAccountCheck::LogLine(const std::string &text) {
  if (OnLog) OnLog("CHK  " + Pad3(CheckCounter) + " - " + text);
}

void TAccountCheck::Step(const std::string &text) {
  if (OnStep) OnStep(text);
  LogLine(text);
}

std::string TAccountCheck::Run(const std::string &userId, const std::string &password,
                               const std::string &portText) {
  if (!UserIdAcceptable(userId)) return NeedFullAddressText();
  ++CheckCounter;
  const std::string port = Trim(portText);
  std::string message = std::string("Account check failed.") + kCrLf + "See Log for details";
  // Each failure logs its text and becomes the one message the user sees.
  auto fail = [&](const std::string &text) {
    LogLine(text);
    message = text;
    return message;
  };
  try {
    TQuorClientSocket socket("CheckAccount");
    socket.SetTimeout(TimeoutMs);
    socket.SetHost("127.0.0.1");
    socket.SetPort(StrToIntDef(port, 110));
    socket.TerminateFlag = TerminateFlag;
    std::string socketError;
    socket.SetOnError([&socketError](TQuorAbstractClientSocket *, const std::string &text) {
      socketError = text;
    });

    Step("Connecting to Brelvane port:" + port);
    if (!socket.Connect()) {
      return fail("Failed to connect to Brelvane port:" + port +
                  (socketError.empty() ? "" : ". With: " + socketError) + kCrLf +
                  "Check that a personal firewall such as ZoneAlarm is not blocking internet "
                  "access.");
    }
    std::string reply;
    if (!socket.ReadLn(reply)) return fail("Failed to read banner");

    Step("Sending user name:" + userId);
    if (!socket.WriteLn("User " + Trim(userId))) return fail("Failed to write user name");
    if (!socket.ReadLn(reply)) return fail("Failed to read user name response");
    if (!StartsText("+", reply)) return fail("User name rejected with:" + reply);

    // The log is kept on disk and shown on screen: the password itself
    // never goes into it.
    Step("Sending Password:" + std::string(password.size(), '*'));
    if (!socket.WriteLn("Pass " + Trim(password))) return fail("Failed to write Password");
    if (OnStep) OnStep("Logging on");
    if (!socket.ReadLn(reply)) return fail("Failed to read Password response");
    if (!StartsText("+", reply)) {
      if (ContainsText(reply, "payment"))
        return fail(
            "Microsoft may require a newer accounts to be upgraded before they will allow access "
            "using this service");
      return fail("Login rejected with:" + reply);
    }

    Step("Sending Status request");
    if (!socket.WriteLn("Stat")) return fail("Failed to write Stat");
    if (!socket.ReadLn(reply)) return fail("Failed to read Stat response");
    if (!StartsText("+", reply)) return fail("Stat rejected with:" + reply);

    Step("Sending Quit request");
    if (!socket.WriteLn("Quit")) return fail("Failed to write Quit");
    message = "Account is accessible!";
    LogLine(message);
    socket.Close();
  } catch (const std::exception &e) {
    LogLine(std::string("Error - ") + e.what());
  }
  return message;
}
