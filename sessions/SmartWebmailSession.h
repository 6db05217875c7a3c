#pragma once
// The session the gateway hands out. It has no mailbox of its own: its first
// log-on tries HTTPMail and, when that fails for any reason but a rejected
// password, falls back to driving the site's pages. Every later operation
// goes to the inner session it settled on, which it owns for its whole life.
#include <functional>
#include <memory>
#include <string>

#include "sessions/BasicWebmail.h"

class TSmartWebmailSession : public TBasicWebMailSession {
 public:
  using TInnerFactory = std::function<std::unique_ptr<TBasicWebMailSession>()>;

  // Empty factories mean the real ones: THttpMailSession, and a
  // TWebmailScrapeSession with the installed scraper factory.
  explicit TSmartWebmailSession(TInnerFactory httpMail = nullptr, TInnerFactory scrape = nullptr);
  ~TSmartWebmailSession() override;

  void SetTerminateFlag(const bool *flag) override;
  void SetCancelFlag(const bool *flag) override;
  void SetOnLoggedOn(TSessionLoggedOnEvent callback) override;
  void SetMaxLogonAttempts(int value) override;
  void SetSpareSetting(int value) override;
  void SetOnLog(TSessionLogEvent callback) override;
  bool LoggedOn() override;
  std::string GetUserId() override;
  void SetUserId(const std::string &userId) override;
  std::string GetPassword() override;
  void SetPassword(const std::string &password) override;
  void Logon(const std::string &userId, const std::string &password, std::string &error) override;
  void Logoff() override;
  std::string GetServiceName() override;
  void DoLogon(const std::string &userId, const std::string &password, std::string &error) override;
  void GetInboxList(TBasicMailMsgInfoList &list, std::string &error) override;
  void GetJunkMailList(TBasicMailMsgInfoList &list, std::string &error) override;
  void GetMsg(const std::string &url, TStringList &lines, std::string &error,
              int attempts) override;
  void GetMsgText(const std::string &url, std::string &text, std::string &error,
                  int attempts) override;
  void MarkMsgRead(const std::string &url, int attempts, std::string &error) override;
  void DeleteMsgs(const TStringList &urls, std::string &error) override;
  bool CheckLoggedOn() override;
  void SendMsg(const std::string &mailFrom, bool flag, std::string &error, int attempts,
               const TStringList &lines, const TStringList &recipients, bool saveInSent) override;

  // The session settled on; null before the first log-on and after a
  // rejected password.
  TBasicWebMailSession *Inner() const { return FInner.get(); }

 private:
  // Creates an inner session and hands it this session's settings, then
  // logs on with it the way the current call asks.
  void LogonWith(const TInnerFactory &factory, const std::string &userId,
                 const std::string &password, std::string &error);

  TInnerFactory FHttpMailFactory;
  TInnerFactory FScrapeFactory;
  std::unique_ptr<TBasicWebMailSession> FInner;
  bool FInLogon = false;
  std::string FUserId;
  std::string FPassword;
};
