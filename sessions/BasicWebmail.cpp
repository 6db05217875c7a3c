#include "sessions/BasicWebmail.h"

int TBasicMailMsgInfoList::Add(std::unique_ptr<TBasicMailMsgInfo> info) {
  if (!info) return -1;
  if (IndexOfUidl(info->Uidl) >= 0) return -1;
  FItems.push_back(std::move(info));
  return Count() - 1;
}

int TBasicMailMsgInfoList::IndexOfUidl(const std::string &uid) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i]->Uidl == uid) return static_cast<int>(i);
  return -1;
}

std::unique_ptr<TBasicMailMsgInfo> TBasicMailMsgInfoList::Delete(int index) {
  auto it = FItems.begin() + index;
  std::unique_ptr<TBasicMailMsgInfo> taken = std::move(*it);
  FItems.erase(it);
  return taken;
}

TBasicWebMailSession::TBasicWebMailSession() : FLock("TBasicWebMailSession") {}

TBasicWebMailSession::~TBasicWebMailSession() = default;

void TBasicWebMailSession::Log(const std::string &text, uint8_t detail, bool error) {
  TCriticalSectionGuard guard(FLock);
  if (FOnLog) FOnLog(text, detail, error);
}

void TBasicWebMailSession::GetMsgText(const std::string &url, std::string &text, std::string &error,
                                      int attempts) {
  TStringList lines;
  GetMsg(url, lines, error, attempts);
  size_t total = 0;
  for (const std::string &line : lines) total += line.size() + 2;
  text.clear();
  text.reserve(total);
  // A line that already carries its CR LF is sent without another, so it
  // gets none here either.
  for (const std::string &line : lines) {
    text += line;
    if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) text += "\r\n";
  }
}

void TBasicWebMailSession::SetTerminateFlag(const bool *flag) { FTerminateFlag = flag; }
const bool *TBasicWebMailSession::GetTerminateFlag() { return FTerminateFlag; }
void TBasicWebMailSession::SetCancelFlag(const bool *flag) { FCancelFlag = flag; }
const bool *TBasicWebMailSession::GetCancelFlag() { return FCancelFlag; }
TSessionLoggedOnEvent TBasicWebMailSession::GetOnLoggedOn() { return FOnLoggedOn; }
void TBasicWebMailSession::SetOnLoggedOn(TSessionLoggedOnEvent callback) {
  FOnLoggedOn = std::move(callback);
}
int TBasicWebMailSession::GetMaxLogonAttempts() { return FMaxLogonAttempts; }
void TBasicWebMailSession::SetMaxLogonAttempts(int value) { FMaxLogonAttempts = value; }
int TBasicWebMailSession::GetSpareSetting() { return FSpareSetting; }
void TBasicWebMailSession::SetSpareSetting(int value) { FSpareSetting = value; }
TSessionLogEvent TBasicWebMailSession::GetOnLog() { return FOnLog; }
void TBasicWebMailSession::SetOnLog(TSessionLogEvent callback) { FOnLog = std::move(callback); }
bool TBasicWebMailSession::LoggedOn() { return FLoggedOn; }

void TBasicWebMailSession::Logon(const std::string &userId, const std::string &password,
                                 std::string &error) {
  error.clear();
  DoLogon(userId, password, error);
  if (error.empty()) FLoggedOn = true;
}

// The service log-on stays valid so that a pooled session can serve the next
// connection without logging on again.
void TBasicWebMailSession::Logoff() { FLoggedOn = false; }

std::string TBasicWebMailSession::GetServiceName() { return ServiceNameForUserId(GetUserId()); }

void TBasicWebMailSession::DeleteMsg(const std::string &url) {
  std::string error;
  DeleteMsgs(TStringList{url}, error);
}

std::string ServiceNameForUserId(const std::string &userId) {
  return ContainsText(userId, "@msn") ? "MSN" : "Hotmail";
}

void ReleaseBorrowedSession(TBasicWebMailSession *&session,
                            std::unique_ptr<TBasicWebMailSession> &owned) {
  if (session) {
    try {
      session->Logoff();
    } catch (...) {
    }
    session->SetInUse(false);
  }
  session = nullptr;
  owned.reset();
}
