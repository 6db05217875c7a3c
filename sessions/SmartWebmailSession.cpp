#include "sessions/SmartWebmailSession.h"

#include "log/Log.h"
#include "sessions/HttpMailSession.h"
#include "sessions/WebmailScrapeSession.h"

namespace {

constexpr uint8_t kDetailMethodChosen = kLogDetailSecurity;

// Clears a flag when the scope ends, however it ends.
class TFlagScope {
 public:
  explicit TFlagScope(bool &flag) : FFlag(flag) { FFlag = true; }
  ~TFlagScope() { FFlag = false; }
  TFlagScope(const TFlagScope &) = delete;
  TFlagScope &operator=(const TFlagScope &) = delete;

 private:
  bool &FFlag;
};

}  // namespace

TSmartWebmailSession::TSmartWebmailSession(TInnerFactory httpMail, TInnerFactory scrape)
    : FHttpMailFactory(std::move(httpMail)), FScrapeFactory(std::move(scrape)) {
  if (!FHttpMailFactory)
    FHttpMailFactory = []() -> std::unique_ptr<TBasicWebMailSession> {
      return std::make_unique<THttpMailSession>();
    };
  if (!FScrapeFactory)
    FScrapeFactory = []() -> std::unique_ptr<TBasicWebMailSession> {
      return std::make_unique<TWebmailScrapeSession>();
    };
}

TSmartWebmailSession::~TSmartWebmailSession() = default;

void TSmartWebmailSession::SetTerminateFlag(const bool *flag) {
  TBasicWebMailSession::SetTerminateFlag(flag);
  if (FInner) FInner->SetTerminateFlag(flag);
}

void TSmartWebmailSession::SetCancelFlag(const bool *flag) {
  TBasicWebMailSession::SetCancelFlag(flag);
  if (FInner) FInner->SetCancelFlag(flag);
}

void TSmartWebmailSession::SetOnLoggedOn(TSessionLoggedOnEvent callback) {
  TBasicWebMailSession::SetOnLoggedOn(callback);
  if (FInner) FInner->SetOnLoggedOn(std::move(callback));
}

void TSmartWebmailSession::SetMaxLogonAttempts(int value) {
  TBasicWebMailSession::SetMaxLogonAttempts(value);
  if (FInner) FInner->SetMaxLogonAttempts(value);
}

void TSmartWebmailSession::SetSpareSetting(int value) {
  TBasicWebMailSession::SetSpareSetting(value);
  if (FInner) FInner->SetSpareSetting(value);
}

void TSmartWebmailSession::SetOnLog(TSessionLogEvent callback) {
  TBasicWebMailSession::SetOnLog(callback);
  if (FInner) FInner->SetOnLog(std::move(callback));
}

bool TSmartWebmailSession::LoggedOn() {
  return FInner ? FInner->LoggedOn() : TBasicWebMailSession::LoggedOn();
}

std::string TSmartWebmailSession::GetUserId() { return FInner ? FInner->GetUserId() : FUserId; }

void TSmartWebmailSession::SetUserId(const std::string &userId) {
  if (FInner)
    FInner->SetUserId(userId);
  else
    FUserId = userId;
}

std::string TSmartWebmailSession::GetPassword() {
  return FInner ? FInner->GetPassword() : FPassword;
}

void TSmartWebmailSession::SetPassword(const std::string &password) {
  if (FInner)
    FInner->SetPassword(password);
  else
    FPassword = password;
}

void TSmartWebmailSession::Logon(const std::string &userId, const std::string &password,
                                 std::string &error) {
  TFlagScope inLogon(FInLogon);
  if (FInner) {
    FInner->Logon(userId, password, error);
  } else {
    TBasicWebMailSession::Logon(userId, password, error);
  }
}

void TSmartWebmailSession::Logoff() {
  if (FInner)
    FInner->Logoff();
  else
    TBasicWebMailSession::Logoff();
}

std::string TSmartWebmailSession::GetServiceName() {
  return FInner ? FInner->GetServiceName() : TBasicWebMailSession::GetServiceName();
}

void TSmartWebmailSession::LogonWith(const TInnerFactory &factory, const std::string &userId,
                                     const std::string &password, std::string &error) {
  FInner = factory();
  FInner->SetTerminateFlag(FTerminateFlag);
  FInner->SetCancelFlag(FCancelFlag);
  FInner->SetOnLoggedOn(FOnLoggedOn);
  FInner->SetOnLog(FOnLog);
  FInner->SetUserId(FUserId);
  FInner->SetPassword(FPassword);
  FInner->SetMaxLogonAttempts(FMaxLogonAttempts);
  FInner->SetSpareSetting(FSpareSetting);
  if (FInLogon)
    FInner->Logon(userId, password, error);
  else
    FInner->DoLogon(userId, password, error);
}

void TSmartWebmailSession::DoLogon(const std::string &userId, const std::string &password,
                                   std::string &error) {
  error.clear();
  if (FInner) {
    if (FInLogon)
      FInner->Logon(userId, password, error);
    else
      FInner->DoLogon(userId, password, error);
    return;
  }

  LogonWith(FHttpMailFactory, userId, password, error);
  if (error.empty()) {
    Log("Logged in with WebDav", kDetailMethodChosen, false);
    return;
  }
  FInner.reset();
  // A rejected password is the user's to fix; the site would reject it too.
  if (error.rfind("401", 0) == 0) return;
  // Shutting down: starting a browser now would only delay the end.
  if (Terminating() || Cancelling()) return;

  error.clear();
  LogonWith(FScrapeFactory, userId, password, error);
  if (error.empty()) Log("Logged in with HTTP.", kDetailMethodChosen, false);
}

void TSmartWebmailSession::GetInboxList(TBasicMailMsgInfoList &list, std::string &error) {
  if (!FInner) {
    error = "Internal Error: inbox listing before login";
    return;
  }
  FInner->GetInboxList(list, error);
}

void TSmartWebmailSession::GetJunkMailList(TBasicMailMsgInfoList &list, std::string &error) {
  if (!FInner) {
    error = "Internal Error: junkmail listing before login";
    return;
  }
  FInner->GetJunkMailList(list, error);
}

void TSmartWebmailSession::GetMsg(const std::string &url, TStringList &lines, std::string &error,
                                  int attempts) {
  if (!FInner) {
    error = "Internal Error: GetMsg before login";
    return;
  }
  FInner->GetMsg(url, lines, error, attempts);
}

void TSmartWebmailSession::GetMsgText(const std::string &url, std::string &text, std::string &error,
                                      int attempts) {
  if (!FInner) {
    error = "Internal Error: GetMsg before login";
    return;
  }
  FInner->GetMsgText(url, text, error, attempts);
}

void TSmartWebmailSession::MarkMsgRead(const std::string &url, int attempts, std::string &error) {
  if (!FInner) {
    error = "Internal Error: MarkMsgRead before login";
    return;
  }
  FInner->MarkMsgRead(url, attempts, error);
}

void TSmartWebmailSession::DeleteMsgs(const TStringList &urls, std::string &error) {
  if (!FInner) {
    error = "Internal Error: DeleteMsgs before login";
    return;
  }
  FInner->DeleteMsgs(urls, error);
}

bool TSmartWebmailSession::CheckLoggedOn() { return FInner && FInner->CheckLoggedOn(); }

void TSmartWebmailSession::SendMsg(const std::string &mailFrom, bool flag, std::string &error,
                                   int attempts, const TStringList &lines,
                                   const TStringList &recipients, bool saveInSent) {
  if (!FInner) {
    error = "Internal Error: SendMsg before login";
    return;
  }
  FInner->SendMsg(mailFrom, flag, error, attempts, lines, recipients, saveInSent);
}
