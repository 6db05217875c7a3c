#pragma once
// What the scrape session asks of the web-site scraper. The browser-backed
// THotmailScraper is the real implementation; the session's own rules
// (retries, read-state bookkeeping, junk-folder merging) are tested against
// fakes of this interface, without starting a browser engine.
//
// Failures are error texts: every operation with an `error` argument leaves
// it empty on success. A text beginning "401" means the password was
// rejected, "503" that the user id or password was refused.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/StrUtil.h"

class TEmailMsg;

// SendMessage's answer once Send was pressed and the site did not show the
// message as sent (the answer never settled, or the compose form came back).
// The site may have taken it all the same, so it is never sent again.
inline constexpr const char *kSendNotConfirmed = "Error 1 sending.";

using TScraperLogEvent = std::function<void(const std::string &text, uint8_t detail, bool error)>;

class TSiteScraper {
 public:
  virtual ~TSiteScraper() = default;

  // Credentials of the last successful logon; cleared when a logon starts.
  virtual std::string UserName() const = 0;
  virtual std::string Password() const = 0;
  virtual void SetUserName(const std::string &value) = 0;
  virtual void SetPassword(const std::string &value) = 0;

  // Flags owned elsewhere and read afresh at every wait: terminate (stop at
  // once) and cancel (start nothing new). Either may be null.
  virtual void SetTerminateFlag(const bool *flag) = 0;
  virtual const bool *TerminateFlag() const = 0;
  virtual void SetCancelFlag(const bool *flag) = 0;
  virtual const bool *CancelFlag() const = 0;
  virtual bool IsTerminated() const = 0;

  virtual void SetOnLog(TScraperLogEvent handler) = 0;
  // While false the host window keeps the caption "Hide" and never comes
  // to the front.
  virtual bool AllowFocus() const = 0;
  virtual void SetAllowFocus(bool allow) = 0;

  // Logon and navigation.
  virtual void Login(const std::string &user, const std::string &password, std::string &error) = 0;
  virtual void VerifyLoggedIn(std::string &error) = 0;

  // Listing: message addresses are appended, without duplicates.
  virtual void ReadInbox(TStringList &addresses, std::string &error) = 0;
  virtual void ReadJunkFolder(TStringList &addresses, std::string &error) = 0;
  // The message rebuilt from its page, or null with an error text. Opening
  // the page marks the message read on the site.
  virtual std::unique_ptr<TEmailMsg> ReadMessage(const std::string &address,
                                                 std::string &error) = 0;

  // Changing the mailbox.
  virtual void MarkMessageRead(const std::string &address, std::string &error) = 0;
  virtual void MarkMessagesUnread(const TStringList &addresses, std::string &error) = 0;
  virtual void DeleteMessages(const TStringList &addresses, std::string &error) = 0;
  // Recipients are the envelope's; those not in To or CC become blind copies.
  virtual void SendMessage(TEmailMsg &message, const TStringList &recipients, bool saveCopy,
                           std::string &error) = 0;
};
