#include "servers/ESMTPHotmailServer.h"

#include <algorithm>

#include "BuildConfig.h"
#include "foundation/StrUtil.h"
#include "http/Connectivity.h"
#include "log/Log.h"
#include "mail/EmailDecoders.h"
#include "servers/GatewayLogon.h"
#include "sessions/SessionFactory.h"

namespace {

// More unrecognised commands in a row than this end the connection.
constexpr int kMaxBadCommands = 10;

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

std::string DecodeBase64(const std::string &text) {
  try {
    return TBase64Decoder::Instance().DecodeLine(text);
  } catch (...) {
    return std::string();
  }
}

bool StartsWithNumber(const std::string &text) {
  if (text.size() < 3) return false;
  for (int i = 0; i < 3; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

}  // namespace

// ---- TESMTPHotmailServer ---------------------------------------------------

TESMTPHotmailServer::TESMTPHotmailServer() = default;

TESMTPHotmailServer::~TESMTPHotmailServer() {
  // Connections reach back to this object in their destructors.
  SetActive(false);
}

TQuorServerSpawnedSocket *TESMTPHotmailServer::CreateSpawnedSocket(
    std::unique_ptr<TByteTransport> transport) {
  return new TESMTPHotmailServerSpawnedSocket(this, std::move(transport));
}

// ---- TESMTPHotmailServerSpawnedSocket --------------------------------------

TESMTPHotmailServerSpawnedSocket::TESMTPHotmailServerSpawnedSocket(
    TESMTPHotmailServer *server, std::unique_ptr<TByteTransport> transport)
    : TQuorServerSpawnedSocket(server, std::move(transport)) {
  FSaveInSent = server->SaveInSent;
  FMaxMessageBytes = server->MaxMessageBytes;
  if (ConnectionLimitExceeded())
    SignOff("421 : Maximum Connections exceeded. Please try again later.");
  else
    Log(RemoteIP() + " connected.", kLogDetailNever, false);
}

TESMTPHotmailServerSpawnedSocket::~TESMTPHotmailServerSpawnedSocket() {
  // A message not finished with "." is never sent.
  FMessageLines.clear();
  FRecipients.clear();
  ReleaseBorrowedSession(FSession, FOwnedSession);
}

size_t TESMTPHotmailServerSpawnedSocket::PendingLineLimit() const {
  // A line of message text may be long (unwrapped HTML); the message limit
  // bounds it as it bounds the whole text.
  if (FState == ss_Data) return static_cast<size_t>(std::max<int64_t>(FMaxMessageBytes, 1));
  return TQuorServerSpawnedSocket::PendingLineLimit();
}

void TESMTPHotmailServerSpawnedSocket::LineTooLong() {
  FMessageLines.clear();
  if (FState == ss_Data) {
    Log("Message text exceeds " + std::to_string(FMaxMessageBytes) + " bytes.  Connection closed.",
        kLogDetailRefusal, true);
    SignOff("552 Message size exceeds fixed maximum message size");
    return;
  }
  Log("Line longer than " + std::to_string(PendingLineLimit()) + " characters.  Connection closed.",
      kLogDetailSecurity, true);
  SignOff("500 Line too long");
}

bool TESMTPHotmailServerSpawnedSocket::AllowConnection() {
  return CheckLocalOnly("521 Sorry, only local connections allowed");
}

void TESMTPHotmailServerSpawnedSocket::BannerSent() { FState = ss_BannerSent; }

void TESMTPHotmailServerSpawnedSocket::SignOff(const std::string &text) {
  std::string reply = StartsWithNumber(text) ? text : "421 - " + text;
  SendLine(reply + " Mirandel ESMTP server signing off");
  if (Connected()) {
    try {
      CloseConnection();
    } catch (...) {
    }
  } else {
    CloseConnection();  // nothing to close, but no more input is taken
  }
  FState = ss_BeforeBanner;
}

std::string TESMTPHotmailServerSpawnedSocket::ServiceName() {
  if (FSession) {
    try {
      return FSession->GetServiceName();
    } catch (...) {
    }
  }
  return ServiceNameForUserId(FUserId);
}

void TESMTPHotmailServerSpawnedSocket::HandleLine(const std::string &line) {
  if (FState == ss_AwaitPassword)
    Log("Read: \"****\"", kLogDetailClientLine, false);  // the password line is never written out
  else if (FState != ss_Data)
    Log("Read: " + Quoted(line), kLogDetailClientLine, false);
  std::string arg;
  TESMTPCommand command = ParseESMTPLine(FState, line, arg);
  if (command == sc_Unknown) {
    if (++FBadCommands > kMaxBadCommands) {
      SignOff("500 Sorry, too many bad commands. Disconnecting");
      return;
    }
  } else {
    FBadCommands = 0;
  }
  Dispatch(command, arg, Trim(line));
}

void TESMTPHotmailServerSpawnedSocket::Dispatch(TESMTPCommand command, const std::string &arg,
                                                const std::string &line) {
  ResetIdleCount();
  if (RestrictToLocal() && !PeerIsLocal()) {
    Log("Dropping Connection. Local connections allowed only.  Connection attempted by: " +
            RemoteIP(),
        kLogDetailSecurity, true);
    SignOff("521 Sorry, you are not permitted to access this server.");
    return;
  }
  if (FState == ss_BeforeBanner) {
    Log("Client spoke before welcome banner sent.", kLogDetailClientError, true);
    SendLine("301 Please wait for the greeting.");
    return;
  }
  switch (command) {
    case sc_Helo:
      DoHelo(arg);
      break;
    case sc_Ehlo:
      DoEhlo(arg);
      break;
    case sc_AuthLogin:
    case sc_AuthEquals:
      // "AUTH=LOGIN" is the mechanism as some clients copy it from the EHLO
      // answer; it means the same as "AUTH LOGIN".
      DoAuthLogin(arg);
      break;
    case sc_UserName:
      DoUserName(arg);
      break;
    case sc_Password:
      DoPassword(arg);
      break;
    case sc_MailFrom:
      DoMailFrom(arg);
      break;
    case sc_RcptTo:
      DoRcptTo(arg);
      break;
    case sc_Data:
      DoData();
      break;
    case sc_TextLine:
      DoTextLine(arg);
      break;
    case sc_EndOfText:
      DoEndOfText();
      break;
    case sc_Quit:
      Log("Received Request QUIT", kLogDetailStep, false);
      SignOff("221 OK Dropping line.");
      FState = ss_BeforeBanner;
      break;
    case sc_Rset:
      DoRset();
      break;
    case sc_Noop:
      Log("Received Request NOOP", kLogDetailRoutine, false);
      SendLine("250 OK - Standing by.");
      break;
    case sc_Help:
      DoHelp();
      break;
    case sc_NotImplemented:
      Log("Received unimplemented request with " + Quoted(arg), kLogDetailClientError, true);
      SendLine("502 Command not implemented.");
      break;
    case sc_Unknown:
      Log("Received Unknown Request " + Quoted(line), kLogDetailClientError, true);
      SendLine("500 Command " + Quoted(line) + " not recognized.");
      break;
  }
}

void TESMTPHotmailServerSpawnedSocket::DoHelo(const std::string &arg) {
  if (FState != ss_BannerSent) {
    Log("Received Request HELO with " + Quoted(arg) + " - bad timing", kLogDetailClientError, true);
    SendLine("503 Helo command inappropriate at this time.");
    return;
  }
  Log("Received Request HELO with " + Quoted(arg), kLogDetailRoutine, false);
  FState = ss_Greeted;
  SendLine("250 Mirandel SMTP at your service " + Quoted(arg));
}

void TESMTPHotmailServerSpawnedSocket::DoEhlo(const std::string &arg) {
  if (FState != ss_BannerSent) {
    Log("Received Request EHLO with " + Quoted(arg) + " - bad timing", kLogDetailClientError, true);
    SendLine("503 Ehlo command inappropriate at this time.");
    return;
  }
  Log("Received Request EHLO with " + Quoted(arg), kLogDetailRoutine, false);
  FState = ss_Greeted;
  SendLine("250-MirandelSMTP Hello [" + RemoteIP() + "]");
  SendLine("250-HELP");
  SendLine("250-AUTH LOGIN");
  SendLine("250 AUTH=LOGIN");
}

void TESMTPHotmailServerSpawnedSocket::DoAuthLogin(const std::string &arg) {
  if (FState != ss_Greeted) {
    Log("Received Request AUTH LOGIN with " + Quoted(arg) + " - bad timing", kLogDetailClientError,
        true);
    SendLine("503 Auth Login command inappropriate at this time.");
    return;
  }
  if (!arg.empty()) {
    FUserId = DecodeBase64(arg);
    Log("Received Request AUTH LOGIN with " + Quoted(arg) + " decodes as " + FUserId,
        kLogDetailStep, false);
    FState = ss_AwaitPassword;
    SendLine("334 UGFzc3dvcmQ6");
  } else {
    Log("Received Request AUTH LOGIN with no name", kLogDetailRoutine, false);
    FState = ss_AwaitUserName;
    SendLine("334 VXNlcm5hbWU6");
  }
}

void TESMTPHotmailServerSpawnedSocket::DoUserName(const std::string &line) {
  std::string decoded = DecodeBase64(line);
  Log("Received Auth User id with " + Quoted(line) + " decodes as " + decoded, kLogDetailStep,
      false);
  FUserId = decoded;
  FState = ss_AwaitPassword;
  SendLine("334 UGFzc3dvcmQ6");
}

void TESMTPHotmailServerSpawnedSocket::DoPassword(const std::string &line) {
  FPassword = DecodeBase64(line);
  std::string failure = LogOn();
  if (!failure.empty()) {
    FState = ss_Greeted;
    Log("Failed to log in to " + ServiceNameForUserId(FUserId), kLogDetailStep, true);
    SendLine(failure);
    return;
  }
  FState = ss_Authenticated;
  SendLine("235 LOGIN authentication successful");
}

void TESMTPHotmailServerSpawnedSocket::DoMailFrom(const std::string &arg) {
  Log("Received Request MAIL FROM with " + Quoted(arg), kLogDetailStep, false);
  if (FState != ss_Greeted && FState != ss_Authenticated) {
    SendLine("503 \"Mail From\" command inappropriate at this time.");
    return;
  }
  if (!FSession) {
    std::string failure = LogOn();
    if (!failure.empty()) {
      SendLine(failure);
      return;
    }
  }
  FMailFrom = arg;
  FRecipients.clear();
  FState = ss_MailFrom;
  SendLine("250 OK - mail from " + Quoted(arg));
}

void TESMTPHotmailServerSpawnedSocket::DoRcptTo(const std::string &arg) {
  if (FState != ss_MailFrom && FState != ss_RcptTo) {
    Log("Received RCPT TO for " + Quoted(arg) + " - bad timing", kLogDetailClientError, true);
    SendLine("503 \"Rcpt To\" command inappropriate at this time.");
    return;
  }
  Log("Received RCPT TO for " + Quoted(arg), kLogDetailStep, false);
  FRecipients.push_back(arg);
  FState = ss_RcptTo;
  SendLine("250 OK - Rcpt To " + Quoted(arg));
}

void TESMTPHotmailServerSpawnedSocket::DoData() {
  if (FState != ss_RcptTo) {
    Log("Received DATA command - bad timing", kLogDetailClientError, true);
    SendLine("503 \"Data\" command inappropriate at this time.");
    return;
  }
  FMessageLines.clear();
  FTotal = 0;
  FTooBig = false;
  Log("Received DATA command", kLogDetailRoutine, false);
  FState = ss_Data;
  SendLine("354 OK - Waiting for message text");
}

void TESMTPHotmailServerSpawnedSocket::DoTextLine(const std::string &line) {
  // The transparency dot of a line that begins with "." comes off.
  const bool dotted = line.size() > 1 && line[0] == '.';
  FTotal += static_cast<int64_t>(line.size() - (dotted ? 1 : 0));
  if (FTotal > FMaxMessageBytes && !FTooBig) {
    // The rest is read and dropped, so the client's "." is still seen and
    // the connection stays usable for the next message.
    FTooBig = true;
    FMessageLines.clear();
    FMessageLines.shrink_to_fit();
  }
  if (!FTooBig) FMessageLines.push_back(dotted ? line.substr(1) : line);
  StartIdleTimer();
}

void TESMTPHotmailServerSpawnedSocket::DoEndOfText() {
  StopIdleTimer();
  ClearInput();  // whatever followed the "." in the same burst is not a command
  Log("Received message text " + std::to_string(FTotal) + " bytes.", kLogDetailStep, false);
  if (FTooBig) {
    FTooBig = false;
    FMessageLines.clear();
    FRecipients.clear();
    FState = ss_Authenticated;
    Log("Message text exceeds " + std::to_string(FMaxMessageBytes) + " bytes; not sent",
        kLogDetailStep, true);
    SendLine("552 Message size exceeds fixed maximum message size");
    return;
  }
  std::string error;
  try {
    FSession->SendMsg(FMailFrom, false, error, 3, FMessageLines, FRecipients, FSaveInSent);
  } catch (const std::exception &e) {
    error = std::string("Error ") + e.what();
  } catch (...) {
    error = "Error sending";
  }
  std::string svc = ServiceName();
  std::string userId = FSession->GetUserId();
  if (!error.empty()) {
    FState = ss_Authenticated;
    Log("Failed to send mail through " + userId + "@" + svc + " with:" + error, kLogDetailStep,
        true);
    SendLine("450 " + svc + " send failed with:" + error);
    return;
  }
  FRecipients.clear();
  FMessageLines.clear();
  FState = ss_Authenticated;
  SendLine("250 OK - message Received and Sent through " + userId);
}

void TESMTPHotmailServerSpawnedSocket::DoRset() {
  Log("Received Request RSET", kLogDetailStep, false);
  FTotal = 0;
  FMailFrom.clear();
  FRecipients.clear();
  FMessageLines.clear();
  ClearInput();
  FState = ss_Greeted;
  SendLine("250 OK - Session reset");
}

void TESMTPHotmailServerSpawnedSocket::DoHelp() {
  Log("Received Request HELP", kLogDetailRoutine, false);
  SendLine("214- Supported commands are as follows:");
  SendLine("214-     HELO     MAIL     RCPT     DATA     RSET");
  SendLine("214-     NOOP     QUIT     HELP     AUTH     EHLO");
  SendLine("214 Thats all.");
}

void TESMTPHotmailServerSpawnedSocket::LetGoOfSession() {
  ReleaseBorrowedSession(FSession, FOwnedSession);
}

std::string TESMTPHotmailServerSpawnedSocket::TakeSession() {
  auto *server = static_cast<TESMTPHotmailServer *>(Server());
  if (server && server->OnNeedSession) {
    TBasicWebMailSession *supplied = nullptr;
    try {
      supplied = server->OnNeedSession(FUserId, FPassword);
    } catch (const std::exception &e) {
      return std::string("454 Error ") + e.what();
    }
    if (!supplied) {
      Log("No cached account info.  Use authentication.", kLogDetailStep, true);
      return "450 You must use authentication to log in.";
    }
    FSession = supplied;
    FUserId = FSession->GetUserId();
    FPassword = FSession->GetPassword();
    Log("Sending mail through account " + FUserId, kLogDetailClientLine, false);
  } else {
    if (FUserId.empty() || FPassword.empty()) {
      Log("No account info available.  Please use authentication.", kLogDetailStep, true);
      return "450 You must use authentication to log in.";
    }
    try {
      FOwnedSession =
          server && server->SessionFactory ? server->SessionFactory() : CreatePooledSession();
    } catch (const std::exception &e) {
      return std::string("454 Error ") + e.what();
    }
    if (!FOwnedSession) return "454 Error no session available";
    FSession = FOwnedSession.get();
    FSession->SetOnLog(
        [this](const std::string &text, uint8_t detail, bool error) { Log(text, detail, error); });
  }
  return std::string();
}

std::string TESMTPHotmailServerSpawnedSocket::LogOn() {
  if (FSession) return std::string();
  if (!FUserId.empty() && FUserId.find('@') == std::string::npos) {
    std::string domain = std::string("@") + BRELVANE_DEFAULT_MAIL_DOMAIN;
    Log("Userid " + Quoted(FUserId) + " given with no domain! " + FUserId + domain + " assumed.",
        kLogDetailStep, true);
    FUserId += domain;
  }
  std::string failure = TakeSession();
  if (!failure.empty()) return failure;

  try {
    std::string error;
    FSession->Logon(FUserId, FPassword, error);
    if (error.empty()) return std::string();
    static const TGatewayLogonTexts kSmtpTexts{"535 ", "454 ", false, "requested payment"};
    const std::string reply = LogonFailureReply(
        ClassifyLogonError(error, false), error, ServiceName(), FUserId, kSmtpTexts,
        [this](const std::string &text, uint8_t detail, bool isError) {
          Log(text, detail, isError);
        },
        [] { return CheckConnectivity(); });
    LetGoOfSession();
    return reply;
  } catch (const std::exception &e) {
    LetGoOfSession();
    return std::string("454 Error ") + e.what();
  } catch (...) {
    LetGoOfSession();
    return "454 Error";
  }
}
