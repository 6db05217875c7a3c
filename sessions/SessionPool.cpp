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

TBasicWebMailSession *TSessionPool::Lend(TBasicWebMailSession *session) {
  if (session) session->SetInUse(true);
  return session;
}

bool TSessionPool::Idle(TBasicWebMailSession *session) {
  return !session->InUse() && !session->LoggedOn();
}

TBasicWebMailSession *TSessionPool::NeedSession(const std::string &userId,
                                                const std::string &password) {
  if (!userId.empty() && !password.empty()) {
    if (userId.find('@') == std::string::npos)
      WriteLogLine(
          "Brelvane",
          "User id \"" + userId + "\" has no domain; the service's default mail domain is assumed",
          kLogDetailRefusal, false);
    for (const auto &session : FSessions)
      if (Idle(session.get()) && SameText(session->GetUserId(), userId) &&
          session->GetPassword() == password)
        return Lend(session.get());
    return Lend(NewSession(userId, password));
  }

  // No credentials: an SMTP client that did not authenticate. Prefer a
  // session whose service logon is still alive, so the send needs no logon.
  // Asking the service runs the loop, so the session is lent while it is
  // asked, and the list is walked by index (it may grow meanwhile).
  for (size_t i = 0; i < FSessions.size(); ++i) {
    TBasicWebMailSession *session = FSessions[i].get();
    if (!Idle(session)) continue;
    Lend(session);
    bool alive = false;
    try {
      alive = session->CheckLoggedOn();
    } catch (...) {
    }
    if (alive) return session;
    session->SetInUse(false);
  }
  // Only the remembered account stands in for the sender: a session whose
  // log-on was refused (or never made) must not send in its place.
  if (!HasRememberedAccount()) return nullptr;
  for (const auto &session : FSessions)
    if (Idle(session.get()) && SameText(session->GetUserId(), FRememberedUserId) &&
        session->GetPassword() == FRememberedPassword)
      return Lend(session.get());
  return Lend(NewSession(FRememberedUserId, FRememberedPassword));
}
