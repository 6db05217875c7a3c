#pragma once
// The mailbox reached by driving the webmail site's own pages. The browser
// work is the scraper's; this session adds the retry rules of each operation
// and puts back to unread what the gateway opened only to fetch it.
//
// The scraper comes from a factory, so that this layer (and its tests) never
// loads the browser engine: the program installs the browser-backed one at
// start-up, tests hand in fakes. The scraper owns its hidden host window.
#include <functional>
#include <memory>
#include <string>

#include "scraping/SiteScraper.h"
#include "sessions/BasicWebmail.h"

using TScraperFactory = std::function<std::unique_ptr<TSiteScraper>()>;

// What new scrape sessions use when they are given no factory of their own.
// Empty until the program installs one; a session without a scraper answers
// every operation with kNoBrowserError.
void SetScraperFactory(TScraperFactory factory);
TScraperFactory GetScraperFactory();

class TWebmailScrapeSession : public TBasicWebMailSession {
 public:
  static constexpr const char *kNoBrowserError = "No web browser available to reach the site";

  // An empty factory means the one installed with SetScraperFactory.
  explicit TWebmailScrapeSession(const TScraperFactory &factory = nullptr);
  ~TWebmailScrapeSession() override;

  void SetTerminateFlag(const bool *flag) override;
  void SetCancelFlag(const bool *flag) override;
  std::string GetUserId() override;
  void SetUserId(const std::string &userId) override;
  std::string GetPassword() override;
  void SetPassword(const std::string &password) override;
  void Logoff() override;
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

  // Null when no browser could be had.
  TSiteScraper *Scraper() const { return FScraper.get(); }
  // Addresses that were unread when fetched here and not marked read since.
  const TStringList &OpenedUnread() const { return FOpenedUnread; }

 private:
  // Clears Error, or sets it to the no-browser text when there is no
  // scraper to drive; every operation starts with it.
  bool BrowserReady(std::string &error) const;
  // Reads the message's page, trying Attempts more times after a failure
  // unless stopped; null with Error set when no try succeeded. The caller
  // holds the lock and has a browser.
  std::unique_ptr<TEmailMsg> FetchMessage(const std::string &url, std::string &error, int attempts);
  bool Stopped() const;
  void ForgetOpenedUnread(const std::string &url);

  std::unique_ptr<TSiteScraper> FScraper;
  TStringList FOpenedUnread;
  // The account this session is for. The scraper's own pair holds only a
  // logon that worked; the pool matches sessions on this one, so a session
  // whose logon failed is found again for the same account instead of a new
  // browser being started on every connection.
  std::string FUserId;
  std::string FPassword;
};
