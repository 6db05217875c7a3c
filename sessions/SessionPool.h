#pragma once
// Keeps webmail sessions alive across the mail program's connections, so a
// periodic mail check does not log on afresh each time and an SMTP client
// that gives no credentials can send through the account last logged on.
// Runs on the main thread only, as the servers do: no lock of its own.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sessions/BasicWebmail.h"

class TSessionPool {
 public:
  using TFactory = std::function<std::unique_ptr<TBasicWebMailSession>()>;

  // Without a factory, new sessions come from CreatePooledSession().
  explicit TSessionPool(TFactory factory = nullptr);
  ~TSessionPool();
  TSessionPool(const TSessionPool &) = delete;
  TSessionPool &operator=(const TSessionPool &) = delete;

  // The servers' OnNeedSession handler. The session stays the pool's; the
  // connection borrows it from this call until ReleaseBorrowedSession gives
  // it back, and nobody else gets it meanwhile. Null when there is none to
  // give.
  TBasicWebMailSession *NeedSession(const std::string &userId, const std::string &password);

  // Every pooled session's log lines lead here.
  void SetOnLog(TSessionLogEvent handler) { FOnLog = std::move(handler); }
  // The application's shutting-down flag, handed to every session.
  void SetTerminateFlag(const bool *flag) { FTerminateFlag = flag; }

  const std::string &RememberedUserId() const { return FRememberedUserId; }
  const std::string &RememberedPassword() const { return FRememberedPassword; }
  void SetRememberedAccount(const std::string &userId, const std::string &password);
  bool HasRememberedAccount() const {
    return !FRememberedUserId.empty() && !FRememberedPassword.empty();
  }

  int Count() const { return static_cast<int>(FSessions.size()); }
  TBasicWebMailSession *Items(int index) const {
    return FSessions.at(static_cast<size_t>(index)).get();
  }
  // Frees every session (shut-down).
  void Clear();

 private:
  TBasicWebMailSession *NewSession(const std::string &userId, const std::string &password);
  static TBasicWebMailSession *Lend(TBasicWebMailSession *session);
  static bool Idle(TBasicWebMailSession *session);

  TFactory FFactory;
  std::vector<std::unique_ptr<TBasicWebMailSession>> FSessions;
  TSessionLogEvent FOnLog;
  const bool *FTerminateFlag = nullptr;
  std::string FRememberedUserId;
  std::string FRememberedPassword;
};
