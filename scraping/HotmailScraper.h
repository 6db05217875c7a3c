#pragma once
// The webmail site driven the way a person uses it: its pages loaded in the
// embedded browser, its forms filled in and submitted, its links and buttons
// clicked, its own script functions run, and what the gateway needs read out
// of the loaded pages. Every operation reports failure as an error text.
//
// All calls are made on the thread of the QApplication. Waits keep that
// thread's event loop running: the gateway's connections, timers and window
// stay live while a page loads.
#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>

#include "scraping/BrowserControl.h"
#include "scraping/SiteRules.h"
#include "scraping/SiteScraper.h"

class QWidget;
class TEmailMsg;
class TEmailMsgPart;

class THotmailScraper : public TSiteScraper {
 public:
  // Host is the window the browser view fills; the scraper does not own it.
  explicit THotmailScraper(QWidget *host);
  ~THotmailScraper() override;

  // ---- TSiteScraper ----------------------------------------------------------
  std::string UserName() const override { return FUserName; }
  std::string Password() const override { return FPassword; }
  void SetUserName(const std::string &value) override { FUserName = value; }
  void SetPassword(const std::string &value) override { FPassword = value; }
  void SetTerminateFlag(const bool *flag) override { FTerminateFlag = flag; }
  const bool *TerminateFlag() const override { return FTerminateFlag; }
  void SetCancelFlag(const bool *flag) override { FCancelFlag = flag; }
  const bool *CancelFlag() const override { return FCancelFlag; }
  bool IsTerminated() const override;
  void SetOnLog(TScraperLogEvent handler) override { OnLog = std::move(handler); }
  bool AllowFocus() const override { return FAllowFocus; }
  void SetAllowFocus(bool allow) override;

  void Login(const std::string &user, const std::string &password, std::string &error) override;
  void VerifyLoggedIn(std::string &error) override;
  void ReadInbox(TStringList &addresses, std::string &error) override;
  void ReadJunkFolder(TStringList &addresses, std::string &error) override;
  std::unique_ptr<TEmailMsg> ReadMessage(const std::string &address, std::string &error) override;
  void MarkMessageRead(const std::string &address, std::string &error) override;
  void MarkMessagesUnread(const TStringList &addresses, std::string &error) override;
  void DeleteMessages(const TStringList &addresses, std::string &error) override;
  void SendMessage(TEmailMsg &message, const TStringList &recipients, bool saveCopy,
                   std::string &error) override;

  // ---- Page waits and clicks -------------------------------------------------
  // True when a page has loaded and then stayed quiet (no new navigation, no
  // request) for a second. Marker: a pattern that, once the page being built
  // shows it, ends the loading early.
  bool WaitForPage(const std::string &marker = std::string());
  bool ClickElement(const TBrowserElement &element);
  bool ClickLinkMatching(const std::string &pattern, unsigned flags);
  bool ClickLinkByTitle(const std::string &title);
  TBrowserElement FindFormElement(const std::string &formName, const std::string &elementName,
                                  const std::string &value);
  // Whether the page shown holds a form of that name.
  bool HasForm(const std::string &formName);
  bool SetFormField(const std::string &formName, const std::string &elementName, bool submit,
                    const std::string &value);

  // ---- Navigation --------------------------------------------------------------
  void GoToInbox(std::string &error);
  void GoToJunkFolder(std::string &error);
  bool NextPage();

  // ---- Listing and reading -----------------------------------------------------
  void ReadMessageList(TStringList &addresses, std::string &error);
  bool FetchUrl(const std::string &address, const std::string &cookies, std::string &bytes);

  // ---- Changing the mailbox ------------------------------------------------------
  // Ticks the boxes of the listed rows whose HTML holds one of the ids, one
  // id per row; ticked ids leave the list. Raises when the page has no
  // message table.
  bool SelectListedMessages(TStringList &ids);
  void ClickDelete(std::string &error);
  void ClickMarkUnread(std::string &error);
  void MoveToInbox(std::string &error);
  void GoToCompose(std::string &error);
  bool SetRichTextEditor(bool on);
  bool SetBodyText(const TStringList &lines);
  bool RichBodyAccepted(const TStringList &lines);
  bool TypeIntoElement(const TBrowserElement &element, const std::string &text);
  void AttachFiles(const std::vector<TEmailMsgPart *> &parts);

  // ---- State -------------------------------------------------------------------
  std::string InboxUrl;
  std::string JunkUrl;
  std::string FolderToken;
  std::string LastUrl;
  uint32_t Timeout = 30000;
  bool Busy = false;
  int32_t QuietCountdown = 0;
  TScraperLogEvent OnLog;

  TBrowserControl &Browser() { return *FBrowser; }
  // Top-level navigations started since construction: what a page load costs
  // is counted in these.
  int NavigationCount() const { return FNavigationCount; }
  // Nesting depth of the public operations (the bracket the other platform
  // needs to silence its navigation sound).
  static int SoundSuppressionDepth();
  // Where attachment files wait for their upload: "Attachments" in the
  // program folder.
  static std::string AttachmentFolder();

 private:
  void Log(const std::string &text, uint8_t detail, bool error);
  void Forget();
  // Pumps the event loop for about Ms milliseconds.
  void Pause(int ms);
  std::string BodyHtml();
  std::string BodyText();
  bool GoToFolderAgain(const std::string &address);
  void WorkThroughFolder(TStringList &ids, void (THotmailScraper::*command)(std::string &));
  bool DownloadAttachments(const TBrowserElement &table, TEmailMsg &message,
                           const std::string &address, TStringList &visited);
  bool TakeBody(const TBrowserElement &table, TEmailMsg &message);
  bool ReadHeaderTable(const TBrowserElement &table, TEmailMsg &message);
  void LinkInlineImages(TEmailMsg &message);

  QPointer<QWidget> FHost;
  std::unique_ptr<TBrowserControl> FBrowser;
  std::string FUserName;
  std::string FPassword;
  const bool *FTerminateFlag = nullptr;
  const bool *FCancelFlag = nullptr;
  bool FAllowFocus = false;
  int FNavigationCount = 0;
  std::string FImageServerPrefix;
  std::string FAdvertAddress;
};

// Content type registered for a file name's extension;
// "application/octet-stream" when none is, or the name has no extension.
std::string ContentTypeOf(const std::string &fileName);
