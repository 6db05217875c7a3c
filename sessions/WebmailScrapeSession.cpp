#include "sessions/WebmailScrapeSession.h"

#include <algorithm>

#include "log/Log.h"
#include "mail/EmailMsg.h"
#include "scraping/MessageAddress.h"

namespace {

constexpr uint8_t kDetailRetry = kLogDetailStep;
constexpr uint8_t kDetailAlreadyLoggedIn = kLogDetailConnection;

TScraperFactory &InstalledFactory() {
  static TScraperFactory factory;
  return factory;
}

std::unique_ptr<TBasicMailMsgInfo> InfoFor(const std::string &address) {
  auto info = std::make_unique<TBasicMailMsgInfo>();
  info->Url = address;
  info->IsRead = IsReadAddress(address);
  info->Size = MessageSizeOf(address);
  info->Uidl = MessageIdOf(address);
  return info;
}

}  // namespace

void SetScraperFactory(TScraperFactory factory) { InstalledFactory() = std::move(factory); }
TScraperFactory GetScraperFactory() { return InstalledFactory(); }

TWebmailScrapeSession::TWebmailScrapeSession(const TScraperFactory &factory) {
  const TScraperFactory &make = factory ? factory : InstalledFactory();
  if (make) {
    try {
      FScraper = make();
    } catch (...) {
      FScraper.reset();
    }
  }
  if (FScraper) {
    FScraper->SetAllowFocus(false);
    FScraper->SetOnLog(
        [this](const std::string &text, uint8_t detail, bool error) { Log(text, detail, error); });
  }
  FMaxLogonAttempts = 10;
}

TWebmailScrapeSession::~TWebmailScrapeSession() {
  // The scraper logs through this session: it must go while the session is
  // still whole.
  if (FScraper) FScraper->SetOnLog(nullptr);
  FScraper.reset();
}

void TWebmailScrapeSession::SetTerminateFlag(const bool *flag) {
  TBasicWebMailSession::SetTerminateFlag(flag);
  if (FScraper) FScraper->SetTerminateFlag(flag);
}

void TWebmailScrapeSession::SetCancelFlag(const bool *flag) {
  TBasicWebMailSession::SetCancelFlag(flag);
  if (FScraper) FScraper->SetCancelFlag(flag);
}

std::string TWebmailScrapeSession::GetUserId() { return FUserId; }

void TWebmailScrapeSession::SetUserId(const std::string &userId) {
  FUserId = userId;
  if (FScraper) FScraper->SetUserName(userId);
}

std::string TWebmailScrapeSession::GetPassword() { return FPassword; }

void TWebmailScrapeSession::SetPassword(const std::string &password) {
  FPassword = password;
  if (FScraper) FScraper->SetPassword(password);
}

bool TWebmailScrapeSession::BrowserReady(std::string &error) const {
  error.clear();
  if (FScraper) return true;
  error = kNoBrowserError;
  return false;
}

bool TWebmailScrapeSession::Stopped() const {
  if (FScraper) return FScraper->IsTerminated();
  return Terminating() || Cancelling();
}

void TWebmailScrapeSession::ForgetOpenedUnread(const std::string &url) {
  FOpenedUnread.erase(std::remove(FOpenedUnread.begin(), FOpenedUnread.end(), url),
                      FOpenedUnread.end());
}

// Messages fetched only to hand them on go back to unread on the site, so
// that a mail program that keeps mail on the server and was not asked to
// mark it read leaves the account as it found it.
void TWebmailScrapeSession::Logoff() {
  TCriticalSectionGuard guard(FLock);
  if (FScraper && !FOpenedUnread.empty()) {
    std::string ignored;
    try {
      FScraper->MarkMessagesUnread(FOpenedUnread, ignored);
    } catch (...) {
    }
    FOpenedUnread.clear();
  }
  TBasicWebMailSession::Logoff();
}

void TWebmailScrapeSession::DoLogon(const std::string &userId, const std::string &password,
                                    std::string &error) {
  TCriticalSectionGuard guard(FLock);
  // A caller without credentials (an SMTP client that did not authenticate)
  // means the account this session already holds; an empty logon must not
  // count as a successful one.
  const std::string user = userId.empty() || password.empty() ? FUserId : userId;
  const std::string pass = userId.empty() || password.empty() ? FPassword : password;
  FOpenedUnread.clear();
  if (!BrowserReady(error)) return;
  if (user.empty() || pass.empty()) {
    error = "No user name or password given";
    return;
  }
  FUserId = user;
  FPassword = pass;

  int remaining = std::max(GetMaxLogonAttempts(), 1);
  while (true) {
    --remaining;
    FOpenedUnread.clear();
    error.clear();
    try {
      if (user == FScraper->UserName() && pass == FScraper->Password() && CheckLoggedOn()) {
        Log("Already logged in", kDetailAlreadyLoggedIn, false);
      } else {
        FScraper->Login(user, pass, error);
      }
    } catch (const std::exception &e) {
      error = std::string("Unexpected problem logging in: ") + e.what();
    }
    if (error.empty()) {
      if (FOnLoggedOn) FOnLoggedOn(user, pass);
      return;
    }
    // A rejected password stays rejected; asking again only risks the
    // account being locked.
    if (error.rfind("401", 0) == 0) return;
    if (remaining <= 0 || Stopped()) return;
    Log(error + ". Retrying...", kDetailRetry, true);
  }
}

void TWebmailScrapeSession::GetInboxList(TBasicMailMsgInfoList &list, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  if (!BrowserReady(error)) return;
  TStringList addresses;
  FScraper->ReadInbox(addresses, error);
  if (!error.empty()) return;
  for (const std::string &address : addresses) list.Add(InfoFor(address));
}

void TWebmailScrapeSession::GetJunkMailList(TBasicMailMsgInfoList &list, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  if (!BrowserReady(error)) return;
  TStringList addresses;
  FScraper->ReadJunkFolder(addresses, error);
  if (!error.empty()) return;
  for (const std::string &address : addresses) {
    auto info = InfoFor(address);
    if (list.IndexOfUidl(info->Uidl) < 0) list.Add(std::move(info));
  }
}

std::unique_ptr<TEmailMsg> TWebmailScrapeSession::FetchMessage(const std::string &url,
                                                               std::string &error, int attempts) {
  std::unique_ptr<TEmailMsg> message;
  for (;;) {
    error.clear();
    message.reset();
    try {
      message = FScraper->ReadMessage(url, error);
    } catch (const std::exception &e) {
      error = std::string("Unexpected problem reading msg: ") + e.what();
    }
    if (error.empty() && !message) error = "Unexpected problem reading msg: no message";
    // Freed messages would otherwise leave a copy of the mail in the
    // temporary folder.
    if (message) message->SetSaveOnDestroy(false);
    if (error.empty()) break;
    if (Stopped()) {
      error = "Terminated";
      break;
    }
    if (attempts < 0) break;
    Log("Failed to get email with:" + error + ". Retrying...", kDetailRetry, true);
    --attempts;
  }
  // Opening the page marked the message read on the site although nobody
  // has seen it yet.
  if (url.find("msgread=1") == std::string::npos &&
      std::find(FOpenedUnread.begin(), FOpenedUnread.end(), url) == FOpenedUnread.end())
    FOpenedUnread.push_back(url);
  if (!error.empty()) message.reset();
  return message;
}

void TWebmailScrapeSession::GetMsg(const std::string &url, TStringList &lines, std::string &error,
                                   int attempts) {
  TCriticalSectionGuard guard(FLock);
  if (!BrowserReady(error)) return;
  if (auto message = FetchMessage(url, error, attempts)) message->GetRawMail(lines, true);
}

// Written straight to one text: a list of one string per line would cost the
// gateway nearly twice the message again on the way to the mail program.
void TWebmailScrapeSession::GetMsgText(const std::string &url, std::string &text,
                                       std::string &error, int attempts) {
  TCriticalSectionGuard guard(FLock);
  text.clear();
  if (!BrowserReady(error)) return;
  if (auto message = FetchMessage(url, error, attempts)) message->GetRawMailText(text, true);
}

void TWebmailScrapeSession::MarkMsgRead(const std::string &url, int attempts, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  error.clear();
  // Fetched here, so already read on the site: only keep it that way.
  if (std::find(FOpenedUnread.begin(), FOpenedUnread.end(), url) != FOpenedUnread.end()) {
    ForgetOpenedUnread(url);
    return;
  }
  if (!BrowserReady(error)) return;
  FScraper->MarkMessageRead(url, error);
  if (!error.empty() && attempts >= 0 && !Stopped()) {
    Log("Failed to mark email read with:" + error + ". Retrying...", kDetailRetry, true);
    MarkMsgRead(url, attempts - 1, error);
  }
}

void TWebmailScrapeSession::DeleteMsgs(const TStringList &urls, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  if (!BrowserReady(error)) return;
  FScraper->DeleteMessages(urls, error);
  if (error.empty())
    for (const std::string &url : urls) ForgetOpenedUnread(url);
}

bool TWebmailScrapeSession::CheckLoggedOn() {
  TCriticalSectionGuard guard(FLock);
  if (!FScraper) return false;
  std::string error;
  FScraper->VerifyLoggedIn(error);
  return error.empty();
}

void TWebmailScrapeSession::SendMsg(const std::string &mailFrom, bool flag, std::string &error,
                                    int attempts, const TStringList &lines,
                                    const TStringList &recipients, bool saveInSent) {
  TCriticalSectionGuard guard(FLock);
  if (!BrowserReady(error)) return;
  TEmailMsg message;
  message.SetSaveOnDestroy(false);
  TStringList text = lines;  // parsing consumes the lines
  message.Parse(text);
  try {
    FScraper->SendMessage(message, recipients, saveInSent, error);
  } catch (const std::exception &e) {
    error = std::string("Unexpected problem sending msg: ") + e.what();
  }
  // Once Send was pressed a retry could deliver the message twice; the mail
  // program hears of the failure and decides.
  if (!error.empty() && error != kSendNotConfirmed && !Stopped() && attempts >= 0) {
    Log("Failed to send email with:" + error + ". Retrying...", kDetailRetry, true);
    SendMsg(mailFrom, flag, error, attempts - 1, lines, recipients, saveInSent);
  }
}
