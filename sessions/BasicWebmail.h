#pragma once
// The abstract mailbox the gateway servers talk to. Implementations report
// failure as error texts, never by raising: the first three characters of a
// text carry meaning for the callers ("401" password rejected, "402" payment
// wanted, "503" user id rejected, "503...1000" service down).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/QuorCriticalSections.h"
#include "foundation/StrUtil.h"

class TBasicMailMsgInfo {
 public:
  TBasicMailMsgInfo() = default;
  virtual ~TBasicMailMsgInfo() = default;

  std::string Url;  // whatever GetMsg/MarkMsgRead/DeleteMsgs of the implementation take
  bool IsRead = false;
  int64_t Size = -1;  // -1: the service gave no size
  std::string Uidl;
};

// Owns its entries. Listing the inbox and then the junk folder into one list
// must never yield a message twice, so Add refuses a repeated UIDL.
class TBasicMailMsgInfoList {
 public:
  TBasicMailMsgInfoList() = default;
  ~TBasicMailMsgInfoList() = default;
  TBasicMailMsgInfoList(const TBasicMailMsgInfoList &) = delete;
  TBasicMailMsgInfoList &operator=(const TBasicMailMsgInfoList &) = delete;

  // Index of the appended entry, or -1 when the UIDL was already listed (the
  // info is then released).
  int Add(std::unique_ptr<TBasicMailMsgInfo> info);
  int Add(TBasicMailMsgInfo *info) { return Add(std::unique_ptr<TBasicMailMsgInfo>(info)); }
  int IndexOfUidl(const std::string &uid) const;

  TBasicMailMsgInfo *Items(int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
  int Count() const { return static_cast<int>(FItems.size()); }
  // Removes the entry and hands its ownership to the caller.
  std::unique_ptr<TBasicMailMsgInfo> Delete(int index);
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TBasicMailMsgInfo>> FItems;
};

using TSessionLogEvent = std::function<void(const std::string &text, uint8_t detail, bool error)>;
using TSessionLoggedOnEvent =
    std::function<void(const std::string &userId, const std::string &password)>;

class TBasicWebMailSession {
 public:
  TBasicWebMailSession();
  virtual ~TBasicWebMailSession();
  TBasicWebMailSession(const TBasicWebMailSession &) = delete;
  TBasicWebMailSession &operator=(const TBasicWebMailSession &) = delete;

  virtual void Log(const std::string &text, uint8_t detail, bool error);
  virtual void SetTerminateFlag(const bool *flag);
  virtual const bool *GetTerminateFlag();
  virtual void SetCancelFlag(const bool *flag);
  virtual const bool *GetCancelFlag();
  virtual TSessionLoggedOnEvent GetOnLoggedOn();
  virtual void SetOnLoggedOn(TSessionLoggedOnEvent callback);
  virtual int GetMaxLogonAttempts();
  virtual void SetMaxLogonAttempts(int value);
  virtual int GetSpareSetting();
  virtual void SetSpareSetting(int value);
  virtual TSessionLogEvent GetOnLog();
  virtual void SetOnLog(TSessionLogEvent callback);
  virtual bool LoggedOn();
  virtual std::string GetUserId() = 0;
  virtual void SetUserId(const std::string &userId) = 0;
  virtual std::string GetPassword() = 0;
  virtual void SetPassword(const std::string &password) = 0;
  virtual void Logon(const std::string &userId, const std::string &password, std::string &error);
  virtual void Logoff();
  virtual std::string GetServiceName();
  virtual void DoLogon(const std::string &userId, const std::string &password,
                       std::string &error) = 0;
  virtual void GetInboxList(TBasicMailMsgInfoList &list, std::string &error) = 0;
  virtual void GetJunkMailList(TBasicMailMsgInfoList &list, std::string &error) = 0;
  virtual void GetMsg(const std::string &url, TStringList &lines, std::string &error,
                      int attempts) = 0;
  // The same message as one text, each line ended by CR LF (or by whatever
  // line end the service sent), for callers that pass it on whole: a
  // message of megabytes held as one string per line costs several times
  // its size. The default joins GetMsg's lines; a session that receives the
  // text whole hands it over without ever splitting it.
  virtual void GetMsgText(const std::string &url, std::string &text, std::string &error,
                          int attempts);
  virtual void MarkMsgRead(const std::string &url, int attempts, std::string &error) = 0;
  virtual void DeleteMsgs(const TStringList &urls, std::string &error) = 0;
  virtual void DeleteMsg(const std::string &url);
  virtual bool CheckLoggedOn() = 0;
  virtual void SendMsg(const std::string &mailFrom, bool flag, std::string &error, int attempts,
                       const TStringList &lines, const TStringList &recipients,
                       bool saveInSent) = 0;

  // True once the terminate flag has been raised by its owner.
  bool Terminating() const { return FTerminateFlag && *FTerminateFlag; }
  bool Cancelling() const { return FCancelFlag && *FCancelFlag; }
  TMutexCriticalSection &Lock() { return FLock; }
  // Lent to a connection: set by the supplier when it hands the session out,
  // cleared by ReleaseBorrowedSession. LoggedOn alone cannot say this, since
  // a log-on waits on the service with the loop running before it is set.
  bool InUse() const { return FInUse; }
  void SetInUse(bool value) { FInUse = value; }

 protected:
  TMutexCriticalSection FLock;
  const bool *FTerminateFlag = nullptr;
  const bool *FCancelFlag = nullptr;
  TSessionLogEvent FOnLog;
  TSessionLoggedOnEvent FOnLoggedOn;
  bool FLoggedOn = false;
  int FMaxLogonAttempts = 10;
  int FSpareSetting = 60;
  bool FInUse = false;
};

// What both gateway servers ask for a connection's session: the account's
// credentials, both empty when an SMTP client did not authenticate. None
// refuses the log-on. The session stays its supplier's; the connection only
// borrows it until Logoff.
using TOnNeedSession =
    std::function<TBasicWebMailSession *(const std::string &userId, const std::string &password)>;

// Ends a connection's use of its session: Logoff (the service logon stays
// alive for the next connection; a failure there must not stop the clean-up),
// gives it back to its supplier, then forgets the borrowed pointer and frees
// the session if it was owned.
void ReleaseBorrowedSession(TBasicWebMailSession *&session,
                            std::unique_ptr<TBasicWebMailSession> &owned);

// "MSN" for user ids containing "@msn" (any case), else "Hotmail"; shared
// with callers that know a user id but hold no session yet.
std::string ServiceNameForUserId(const std::string &userId);
