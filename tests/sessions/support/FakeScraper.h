#pragma once
// A site scraper without a browser: a small mailbox in memory that answers
// the way the site does (opening a message marks it read) and counts what
// the session asked of it, so the session's own rules can be checked.
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mail/EmailMsg.h"
#include "scraping/MessageAddress.h"
#include "scraping/SiteScraper.h"

class TFakeScraper : public TSiteScraper {
 public:
  // The site's mailbox: message id -> read on the site.
  std::map<std::string, bool> ReadOnSite;
  TStringList Inbox;  // addresses the inbox listing shows
  TStringList Junk;   // addresses the junk listing shows
  std::string SitePassword = "pw";
  bool SiteSessionValid = false;  // what VerifyLoggedIn finds

  // Scripted failures, used up one per call, front first.
  std::deque<std::string> LoginErrors;
  std::deque<std::string> ReadErrors;
  std::deque<std::string> MarkReadErrors;
  std::deque<std::string> SendErrors;
  std::string DeleteError;
  std::string ListError;  // both listings report it, after listing what they found

  // What the session asked for.
  int LoginCalls = 0;
  int VerifyCalls = 0;
  int ReadCalls = 0;
  int MarkReadCalls = 0;
  std::vector<TStringList> UnreadCalls;
  std::vector<TStringList> DeleteCalls;
  struct TSent {
    std::string Subject;
    std::string To;
    TStringList Recipients;
    bool SaveCopy;
  };
  std::vector<TSent> Sent;

  // Raised by a test to act as the application's stop.
  bool *RaiseTerminateOnRead = nullptr;

  static std::string Address(const std::string &id, int size, bool read) {
    return "http://site.test/cgi-bin/getmsg?curmbox=F1&a=tok&msg=" + id +
           "&len=" + std::to_string(size) + (read ? "&msgread=1" : "");
  }

  std::string UserName() const override { return FUser; }
  std::string Password() const override { return FPassword; }
  void SetUserName(const std::string &value) override { FUser = value; }
  void SetPassword(const std::string &value) override { FPassword = value; }
  void SetTerminateFlag(const bool *flag) override { FTerminate = flag; }
  const bool *TerminateFlag() const override { return FTerminate; }
  void SetCancelFlag(const bool *flag) override { FCancel = flag; }
  const bool *CancelFlag() const override { return FCancel; }
  bool IsTerminated() const override {
    return (FTerminate && *FTerminate) || (FCancel && *FCancel);
  }
  void SetOnLog(TScraperLogEvent handler) override { FOnLog = std::move(handler); }
  bool AllowFocus() const override { return FAllowFocus; }
  void SetAllowFocus(bool allow) override { FAllowFocus = allow; }

  void Login(const std::string &user, const std::string &password, std::string &error) override {
    ++LoginCalls;
    FUser.clear();
    FPassword.clear();
    error.clear();
    if (!LoginErrors.empty()) {
      error = LoginErrors.front();
      LoginErrors.pop_front();
      if (FOnLog) FOnLog(error, 7, true);
      return;
    }
    if (password != SitePassword) {
      error = "401 - Userid or password rejected.";
      return;
    }
    FUser = user;
    FPassword = password;
    SiteSessionValid = true;
  }
  void VerifyLoggedIn(std::string &error) override {
    ++VerifyCalls;
    error = SiteSessionValid ? "" : "Not logged in";
  }
  void ReadInbox(TStringList &addresses, std::string &error) override {
    for (const std::string &a : Inbox) addresses.push_back(a);
    error = ListError;
  }
  void ReadJunkFolder(TStringList &addresses, std::string &error) override {
    for (const std::string &a : Junk) addresses.push_back(a);
    error = ListError;
  }
  std::unique_ptr<TEmailMsg> ReadMessage(const std::string &address, std::string &error) override {
    ++ReadCalls;
    error.clear();
    ReadOnSite[MessageIdOf(address)] = true;
    if (RaiseTerminateOnRead) *RaiseTerminateOnRead = true;
    if (!ReadErrors.empty()) {
      error = ReadErrors.front();
      ReadErrors.pop_front();
      return nullptr;
    }
    auto message = std::make_unique<TEmailMsg>();
    message->SetSaveOnDestroy(false);
    message->Text("From: someone@example.com\r\nSubject: message " + MessageIdOf(address) +
                  "\r\n\r\nbody of " + MessageIdOf(address) + "\r\n");
    return message;
  }
  void MarkMessageRead(const std::string &address, std::string &error) override {
    ++MarkReadCalls;
    error.clear();
    if (!MarkReadErrors.empty()) {
      error = MarkReadErrors.front();
      MarkReadErrors.pop_front();
      return;
    }
    ReadOnSite[MessageIdOf(address)] = true;
  }
  void MarkMessagesUnread(const TStringList &addresses, std::string &error) override {
    error.clear();
    UnreadCalls.push_back(addresses);
    for (const std::string &a : addresses) ReadOnSite[MessageIdOf(a)] = false;
  }
  void DeleteMessages(const TStringList &addresses, std::string &error) override {
    DeleteCalls.push_back(addresses);
    error = DeleteError;
    if (error.empty())
      for (const std::string &a : addresses) ReadOnSite.erase(MessageIdOf(a));
  }
  void SendMessage(TEmailMsg &message, const TStringList &recipients, bool saveCopy,
                   std::string &error) override {
    error.clear();
    if (!SendErrors.empty()) {
      error = SendErrors.front();
      SendErrors.pop_front();
      return;
    }
    std::string subject, to;
    message.Header()->GetField("Subject", subject);
    message.Header()->GetField("To", to);
    Sent.push_back({subject, to, recipients, saveCopy});
  }

 private:
  std::string FUser, FPassword;
  const bool *FTerminate = nullptr;
  const bool *FCancel = nullptr;
  TScraperLogEvent FOnLog;
  bool FAllowFocus = true;
};
