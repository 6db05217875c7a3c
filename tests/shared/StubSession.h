#pragma once
// A webmail session with no service behind it, for tests of what uses
// sessions (the pool, the controller, the road-choosing session).
#include <string>

#include "sessions/BasicWebmail.h"

// Keeps the account it is given; a log-on succeeds and is reported through
// the logged-on event, as a real session's is; every mail operation does
// nothing. A test overrides what it watches.
class TStubSession : public TBasicWebMailSession {
 public:
  std::string UserId, Password;

  std::string GetUserId() override;
  void SetUserId(const std::string &userId) override;
  std::string GetPassword() override;
  void SetPassword(const std::string &password) override;
  void DoLogon(const std::string &userId, const std::string &password, std::string &error) override;
  void GetInboxList(TBasicMailMsgInfoList &list, std::string &error) override;
  void GetJunkMailList(TBasicMailMsgInfoList &list, std::string &error) override;
  void GetMsg(const std::string &url, TStringList &lines, std::string &error,
              int attempts) override;
  void MarkMsgRead(const std::string &url, int attempts, std::string &error) override;
  void DeleteMsgs(const TStringList &urls, std::string &error) override;
  // No service: nothing is logged on there.
  bool CheckLoggedOn() override;
  void SendMsg(const std::string &mailFrom, bool flag, std::string &error, int attempts,
               const TStringList &lines, const TStringList &recipients, bool saveInSent) override;
};
