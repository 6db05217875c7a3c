#include "sessions/SessionPool.h"

#include "log/Log.h"
#include "sessions/SessionFactory.h"

TSessionPool::TSessionPool(TFactory factory) : FFactory(std::move(factory)) {
  if (!FFactory) FFactory = [] { return CreatePooledSession(); };
}

TSessionPool::~TSessionPool() { Clear(); }

void TSessionPool::Clear() {
  // Freed one at a time from the back, so a session's destructor that logs
  // through the pool's handler never meets a half-destroyed list.
  while (!FSessions.empty()) {
    std::unique_ptr<TBasicWebMailSession> last = std::move(FSessions.back());
    FSessions.pop_back();
    last.reset();
  }
}

void TSessionPool::SetRememberedAccount(const std::string &userId, const std::string &password) {
  FRememberedUserId = userId;
  FRememberedPassword = password;
}

TBasicWebMailSession *TSessionPool::NewSession(const std::string &userId,
                                               const std::string &password) {
  std::unique_ptr<TBasicWebMailSession> session = FFactory();
  if (!session) return nullptr;
  session->SetUserId(userId);
  session->SetPassword(password);
  session->SetOnLog([this](const std::string &text, uint8_t detail, bool error) {
    if (FOnLog) FOnLog(text, detail, error);
  });
  session->SetTerminateFlag(FTerminateFlag);
  session->SetOnLoggedOn(
      [this](const std::string &id, const std::string &pass) { SetRememberedAccount(id, pass); });
  FSessions.push_back(std::move(session));
  return FSessions.back().get();
}

TBasicWebMailSession *TSessionPool::NeedSession(const std::string &userId,
                                                const std::string &password) {
  if (!userId.empty() && !password.empty()) {
    if (userId.find('@') == std::string::npos)
      WriteLogLine(
          "Brelvane",
          "User id \"" + userId + "\" has no domain; the service's default mail domain is assumed",
          9, false);
    for (const auto &session : FSessions)
      if (!session->LoggedOn() && SameText(session->GetUserId(), userId) &&
          session->GetPassword() == password)
        return session.get();
    return NewSession(userId, password);
  }

  // No credentials: an SMTP client that did not authenticate. Prefer a
  // session whose service logon is still alive, so the send needs no logon.
  for (const auto &session : FSessions)
    if (!session->LoggedOn() && session->CheckLoggedOn()) return session.get();
  for (const auto &session : FSessions)
    if (!session->LoggedOn()) return session.get();
  if (HasRememberedAccount()) return NewSession(FRememberedUserId, FRememberedPassword);
  return nullptr;
}
