#include "scraping/HotmailScraper.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <filesystem>

#include "BuildConfig.h"
#include "foundation/QuorUtil.h"
#include "http/HttpRequest.h"
#include "mail/EmailAddress.h"
#include "mail/EmailMsg.h"
#include "mail/MimeTypes.h"
#include "mail/Rfc822Date.h"
#include "scraping/HotmailScraperFactory.h"
#include "scraping/MessageAddress.h"
#include "scraping/QuorUrl.h"

namespace {

constexpr unsigned kAnyCaseGreedy = pf_Caseless | pf_DotAll | pf_Greedy;  // 13
constexpr unsigned kAnyCaseLazy = pf_Caseless;                            // 1

constexpr uint32_t kDefaultTimeoutMs = 30000;
// After a logout link the home page only has to show its form again.
constexpr uint32_t kLogoutTimeoutMs = 2000;
// How long a loaded page must stay quiet before it counts as settled, and
// the step in which waits poll.
constexpr int kQuietMs = 1000;
constexpr int kPollMs = 100;
// A site that keeps showing its logout link after being logged out would
// otherwise send the logon round in circles.
constexpr int kMaxLogoutRounds = 3;
// How long a file-upload field may take to report the chosen file.
constexpr int kFileChooserWaitMs = 3000;
// Detail of the line logged when the site's log-on page cannot be reached.
constexpr uint8_t kDetailSiteLogonFailure = 7;

const char *const kLoginMarker = "name=\"passwd\"";
const char *const kInboxId = "00000000-0000-0000-0000-000000000001";
const char *const kJunkId = "00000000-0000-0000-0000-000000000005";

int gSoundDepth = 0;

// Every public operation is bracketed, so that a desktop which sounds a click
// on each navigation could be silenced for its duration. The engine here
// makes no such sound, so only the depth is kept.
struct TSoundSuppression {
  TSoundSuppression() { ++gSoundDepth; }
  ~TSoundSuppression() { --gSoundDepth; }
};

bool Contains(const std::string &text, const std::string &part) {
  return WildcardPos(part, text) > 0;
}

bool Equals(const std::string &a, const std::string &b) { return SameText(Trim(a), Trim(b)); }

bool Has8BitBytes(const TStringList &lines) {
  for (const std::string &line : lines)
    for (char c : line)
      if ((unsigned char)c > 127) return true;
  return false;
}

std::string TextCharset(const TStringList &lines) {
  return Has8BitBytes(lines) ? "iso-8859-1" : "us-ascii";
}

// A name from a message may carry folders or be empty; only its last part
// is a file name here.
std::string SafeFileName(const std::string &name, size_t index) {
  std::string safe;
  for (char c : name) {
    if (c == '/' || c == '\\') {
      safe.clear();
      continue;
    }
    safe += (unsigned char)c < 32 ? '_' : c;
  }
  safe = Trim(safe);
  if (safe.empty() || safe == "." || safe == "..") safe = "Attachment" + std::to_string(index + 1);
  return safe;
}

// The file exists only between writing and the end of its upload.
struct TTemporaryFile {
  std::string Path;
  ~TTemporaryFile() {
    if (!Path.empty()) ::unlink(Path.c_str());
  }
};

bool WritePrivateFile(const std::string &path, const std::string &data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n <= 0) break;
    written += size_t(n);
  }
  const bool ok = ::close(fd) == 0 && written == data.size();
  return ok;
}

// Advertisement requests are recognised by the advert server's host name;
// when every endpoint is rebased onto one test service, by the rebased
// address (its host is then the service's own).
std::string AdvertAddress() {
  if (!GetServiceBaseOverride().empty()) return ApplyServiceBase(BRELVANE_SITE_ADVERT_URL);
  return UrlHost(BRELVANE_SITE_ADVERT_URL);
}

// A prefix without a path would name the whole service, and every table of
// a message page would then look like site furniture.
std::string ImageServerPrefix() {
  const std::string prefix = ApplyServiceBase(BRELVANE_SITE_IMAGE_PREFIX);
  std::string scheme, authority, rest;
  const size_t slashes = prefix.find("//");
  const size_t path =
      slashes == std::string::npos ? std::string::npos : prefix.find('/', slashes + 2);
  if (path == std::string::npos || prefix.size() <= path + 1) return std::string();
  return prefix;
}

std::string Message(const std::exception &e) { return e.what(); }

}  // namespace

std::string ContentTypeOf(const std::string &fileName) {
  const std::string ext = FileExtensionOf(fileName);
  if (ext.size() <= 1) return "application/octet-stream";
  return ExtensionToMimeType(ext);
}

THotmailScraper::THotmailScraper(QWidget *host) : FHost(host) {
  FBrowser = std::make_unique<TBrowserControl>(host);
  FImageServerPrefix = ImageServerPrefix();
  FAdvertAddress = AdvertAddress();
  FBrowser->SetBlockedAddresses({FAdvertAddress});
  FBrowser->OnBeforeNavigate = [this](const std::string &, bool topLevel) {
    if (!topLevel) return;
    Busy = true;
    QuietCountdown = kQuietMs;
    ++FNavigationCount;
  };
  FBrowser->OnNavigateComplete = [this](const std::string &address) {
    Busy = false;
    const std::string token = GetQueryParam(address, "a");
    if (!token.empty()) FolderToken = token;
  };
  FBrowser->OnRequest = [this] { QuietCountdown = kQuietMs; };
  Timeout = kDefaultTimeoutMs;
  SetAllowFocus(false);
}

THotmailScraper::~THotmailScraper() = default;

int THotmailScraper::SoundSuppressionDepth() { return gSoundDepth; }

std::string THotmailScraper::AttachmentFolder() { return GetProgramFolder() + "/Attachments"; }

bool THotmailScraper::IsTerminated() const {
  return (FTerminateFlag && *FTerminateFlag) || (FCancelFlag && *FCancelFlag);
}

void THotmailScraper::SetAllowFocus(bool allow) {
  FAllowFocus = allow;
  if (QWidget *host = FHost.data()) {
    host->setEnabled(allow);
    host->setWindowTitle(allow ? "Show" : "Hide");
    if (!allow) host->lower();
  }
  QCoreApplication::processEvents();
}

void THotmailScraper::Log(const std::string &text, uint8_t detail, bool error) {
  if (OnLog) OnLog(text, detail, error);
}

void THotmailScraper::Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

std::string THotmailScraper::BodyHtml() {
  const TBrowserElement body = FBrowser->Body();
  if (!body) throw EBrowserError("The page has no body");
  return FBrowser->Property(body, "innerHTML");
}

std::string THotmailScraper::BodyText() {
  const TBrowserElement body = FBrowser->Body();
  if (!body) throw EBrowserError("The page has no body");
  return FBrowser->Property(body, "innerText");
}

// ---- Page waits and clicks ---------------------------------------------------

bool THotmailScraper::WaitForPage(const std::string &marker) {
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  auto timedOut = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start).count() >
           int64_t(Timeout);
  };
  auto giveUp = [&] {
    FBrowser->Stop();
    Busy = false;
  };
  bool result = false;
  try {
    // A navigation just asked for may take a moment to leave the page
    // that is shown.
    for (int round = 0; round < 10; ++round) {
      if (FBrowser->ReadyState() != 4) break;
      Pause(kPollMs);
      if (IsTerminated()) {
        LastUrl = FBrowser->LocationUrl();
        return false;
      }
    }
    bool stoppedOnMarker = false;
    for (;;) {
      const int state = FBrowser->ReadyState();
      bool settle = !Busy && (state == 4 || (stoppedOnMarker && state == 3));
      if (!settle) {
        if (IsTerminated()) break;
        if (timedOut()) {
          giveUp();
          break;
        }
        if (!marker.empty() && state == 3) {
          try {
            const TBrowserElement body = FBrowser->Body();
            if (body &&
                !PatternSearch(marker, FBrowser->Property(body, "outerHTML"), kAnyCaseGreedy)
                     .empty()) {
              FBrowser->Stop();
              stoppedOnMarker = true;
              settle = true;
            }
          } catch (const EBrowserError &) {
          }
        }
      }
      if (!settle) {
        Pause(kPollMs);
        continue;
      }
      if (!FBrowser->Document()) break;
      QuietCountdown = kQuietMs;
      bool restart = false;
      bool stop = false;
      while (QuietCountdown > 0) {
        Pause(kPollMs);
        const int now = FBrowser->ReadyState();
        if (Busy || !(now == 4 || (stoppedOnMarker && now == 3))) {
          restart = true;
          break;
        }
        if (IsTerminated()) {
          stop = true;
          break;
        }
        // A page that never stops asking for things would otherwise hold
        // the wait for ever.
        if (timedOut()) {
          giveUp();
          stop = true;
          break;
        }
        QuietCountdown -= kPollMs;
      }
      if (stop) break;
      if (restart) continue;
      const std::string address = FBrowser->LocationUrl();
      result = address.empty() || address != LastUrl;
      break;
    }
  } catch (const std::exception &) {
  }
  LastUrl = FBrowser->LocationUrl();
  return result;
}

bool THotmailScraper::ClickElement(const TBrowserElement &element) {
  try {
    if (SameText(FBrowser->Property(element, "tagName"), "A")) {
      std::string script;
      if (ScriptOfLink(FBrowser->Property(element, "href"), script))
        FBrowser->RunScript(script);
      else
        FBrowser->Click(element);
      return true;
    }
    const std::string onclick = Trim(FBrowser->Property(element, "onclick"));
    if (!onclick.empty())
      FBrowser->RunScript(ScriptOfHandler(onclick));
    else
      FBrowser->Click(element);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

bool THotmailScraper::ClickLinkMatching(const std::string &pattern, unsigned flags) {
  try {
    const TBrowserElement document = FBrowser->Document();
    if (!document) return false;
    const TBrowserElements links = FBrowser->Collection(document, "links");
    const std::vector<std::string> html = FBrowser->Properties(links, "outerHTML");
    for (size_t i = 0; i < links.size(); ++i) {
      if (!PatternMatchesWhole(pattern, html[i], flags)) continue;
      FBrowser->Focus(links[i]);
      ClickElement(links[i]);
      return WaitForPage();
    }
  } catch (const std::exception &) {
  }
  return false;
}

bool THotmailScraper::ClickLinkByTitle(const std::string &title) {
  try {
    const TBrowserElement document = FBrowser->Document();
    if (!document) return false;
    const TBrowserElements links = FBrowser->Collection(document, "links");
    const std::vector<std::string> titles = FBrowser->Properties(links, "title");
    for (size_t i = 0; i < links.size(); ++i)
      if (Equals(titles[i], title)) return ClickElement(links[i]) && WaitForPage();
  } catch (const std::exception &) {
  }
  return false;
}

TBrowserElement THotmailScraper::FindFormElement(const std::string &formName,
                                                 const std::string &elementName,
                                                 const std::string &value) {
  try {
    const TBrowserElement document = FBrowser->Document();
    if (!document) return {};
    const TBrowserElements forms = FBrowser->Collection(document, "forms");
    const std::vector<std::string> names = FBrowser->Properties(forms, "name");
    for (size_t i = 0; i < forms.size(); ++i) {
      if (!Equals(names[i], formName)) continue;
      for (const TBrowserElement &element : FBrowser->Named(forms[i], elementName))
        if (value == "??" || Equals(FBrowser->Property(element, "value"), value)) return element;
      return {};
    }
  } catch (const std::exception &) {
  }
  return {};
}

bool THotmailScraper::HasForm(const std::string &formName) {
  try {
    const TBrowserElement document = FBrowser->Document();
    if (!document) return false;
    for (const std::string &name :
         FBrowser->Properties(FBrowser->Collection(document, "forms"), "name"))
      if (Equals(name, formName)) return true;
  } catch (const std::exception &) {
  }
  return false;
}

bool THotmailScraper::SetFormField(const std::string &formName, const std::string &elementName,
                                   bool submit, const std::string &value) {
  try {
    const TBrowserElement document = FBrowser->Document();
    if (!document) return false;
    const TBrowserElements forms = FBrowser->Collection(document, "forms");
    const std::vector<std::string> names = FBrowser->Properties(forms, "name");
    for (size_t i = 0; i < forms.size(); ++i) {
      if (!Equals(names[i], formName)) continue;
      const TBrowserElements fields = FBrowser->Named(forms[i], elementName);
      if (fields.empty()) return false;
      FBrowser->SetProperty(fields[0], "value", value);
      if (!submit) return true;
      FBrowser->Submit(forms[i]);
      return WaitForPage();
    }
  } catch (const std::exception &) {
  }
  return false;
}

// ---- Logon -------------------------------------------------------------------

void THotmailScraper::Login(const std::string &user, const std::string &password,
                            std::string &error) {
  for (int round = 0;; ++round) {
    TSoundSuppression quiet;
    error.clear();
    FUserName.clear();
    FPassword.clear();
    InboxUrl.clear();
    JunkUrl.clear();
    bool again = false;
    try {
      FBrowser->Navigate(ApplyServiceBase(BRELVANE_SITE_HOME));
      if (!WaitForPage(kLoginMarker)) {
        error = "Failed to connect to hotmail";
        Log(error, kDetailSiteLogonFailure, true);
        return;
      }
      // Signed in already (as anybody): sign out first.
      if (round < kMaxLogoutRounds) {
        try {
          const TBrowserElements links = FBrowser->Collection(FBrowser->Document(), "links");
          const std::vector<std::string> hrefs = FBrowser->Properties(links, "href");
          for (size_t i = 0; i < links.size(); ++i) {
            if (!Contains(hrefs[i], "/logout.srf?") && !Contains(hrefs[i], "/logout?")) continue;
            if (ClickElement(links[i])) {
              const uint32_t saved = Timeout;
              Timeout = kLogoutTimeoutMs;
              WaitForPage(kLoginMarker);
              Timeout = saved;
              again = true;
            }
            break;
          }
        } catch (const EBrowserError &) {
        }
      }
      if (again) continue;

      bool submitted = false;
      const TBrowserElements forms = FBrowser->Collection(FBrowser->Document(), "forms");
      for (const TBrowserElement &form : forms) {
        const TBrowserElements logins = FBrowser->Named(form, "login");
        const TBrowserElements passwords = FBrowser->Named(form, "passwd");
        if (logins.empty() || passwords.empty()) continue;
        FBrowser->SetProperty(logins[0], "value", user);
        FBrowser->SetProperty(passwords[0], "value", password);
        try {
          const TBrowserElement option = FindFormElement("f1", "LoginOptions", "3");
          if (option) FBrowser->SetProperty(option, "checked", "1");
        } catch (const EBrowserError &) {
        }
        FBrowser->Submit(form);
        submitted = true;
        if (WaitForPage(kLoginMarker)) {
          FUserName = user;
          FPassword = password;
        } else {
          error = "Timed out waiting for login response from hotmail";
          FUserName.clear();
          FPassword.clear();
          Log(error, kDetailSiteLogonFailure, true);
        }
        // The forms taken from the logon page went with it.
        break;
      }
      if (!submitted) {
        error = "Could not find login form.";
        return;
      }
      if (FBrowser->LocationUrl().find("curmbox=") == std::string::npos &&
          !PatternSearch("icon_err", BodyHtml(), kAnyCaseLazy).empty()) {
        error = "401 - Userid or password rejected.";
        Forget();
        return;
      }
      VerifyLoggedIn(error);
      if (!error.empty()) Forget();
      return;
    } catch (const std::exception &e) {
      error = "Unexpected problem logging in: " + Message(e);
      Forget();
      return;
    }
  }
}

// Only a logon that got all the way through is remembered: the session
// takes these as the account it is signed in to.
void THotmailScraper::Forget() {
  FUserName.clear();
  FPassword.clear();
}

void THotmailScraper::VerifyLoggedIn(std::string &error) {
  error.clear();
  try {
    if (!PatternSearch("<input [^<>]*name=\"?'?login\"?'? [^<>]*", BodyHtml(), kAnyCaseGreedy)
             .empty()) {
      error = "503 Invalid address or password.";
      return;
    }
    InboxUrl.clear();
    GoToInbox(error);
    if (error.empty() && !FUserName.empty() && !Contains(BodyText(), FUserName))
      error = "Could not confirm account name";
  } catch (const std::exception &) {
    error = "Could not verify Logged in status.";
  }
}

// ---- Navigation --------------------------------------------------------------

bool THotmailScraper::GoToFolderAgain(const std::string &address) {
  FBrowser->Navigate(address);
  return WaitForPage();
}

void THotmailScraper::GoToInbox(std::string &error) {
  error.clear();
  try {
    if (!FBrowser->Document()) {
      error = "Not logged in";
      return;
    }
    if (!InboxUrl.empty()) {
      if (FBrowser->LocationUrl() == InboxUrl) return;
      if (GoToFolderAgain(InboxUrl)) {
        InboxUrl = FBrowser->LocationUrl();
        return;
      }
    }
    TSoundSuppression quiet;
    auto reached = [this] { return FBrowser->LocationUrl().find("HoTMaiL") != std::string::npos; };
    // One pass over the page's links; Pick says which to click. A click that
    // loads a page other than the inbox ends the pass, as the links read
    // before it belong to the page that went.
    auto pass = [&](auto pick, bool waitAfterFailedClick) {
      const TBrowserElement document = FBrowser->Document();
      if (!document) return false;
      const TBrowserElements links = FBrowser->Collection(document, "links");
      const std::vector<std::string> texts = FBrowser->Properties(links, "innerText");
      const std::vector<std::string> html = FBrowser->Properties(links, "innerHTML");
      const std::vector<std::string> titles = FBrowser->Properties(links, "title");
      const std::vector<std::string> hrefs = FBrowser->Properties(links, "href");
      for (size_t i = 0; i < links.size(); ++i) {
        if (!pick(texts[i], html[i], titles[i], hrefs[i])) continue;
        const bool clicked = ClickElement(links[i]);
        if (!clicked && !waitAfterFailedClick) continue;
        if (!WaitForPage()) return false;
        return reached();
      }
      return false;
    };
    const bool found =
        pass([](const std::string &text, const std::string &html, const std::string &,
                const std::string &) { return Equals(text, "Mail") || Equals(html, "Mail"); },
             true) ||
        pass(
            [](const std::string &text, const std::string &html, const std::string &title,
               const std::string &) {
              return Equals(title, "Go to my Inbox") || Equals(text, "My Messages") ||
                     Equals(html, "My Messages");
            },
            false) ||
        pass([](const std::string &, const std::string &, const std::string &,
                const std::string &href) { return Contains(href, "/cgi-bin/HoTMaiL?"); },
             true) ||
        (ClickLinkByTitle("Inbox") && reached()) ||
        (ClickLinkMatching(std::string(".*HMFO\\('") + kInboxId + "'\\).*", kAnyCaseGreedy) &&
         reached()) ||
        (ClickLinkMatching(std::string(".*") + kInboxId + ".*", kAnyCaseGreedy) && reached());
    if (!found) {
      error = "Error finding inbox";
      return;
    }
    InboxUrl = FBrowser->LocationUrl();
  } catch (const std::exception &e) {
    error = "Unexpected problem going to inbox: " + Message(e);
  }
}

void THotmailScraper::GoToJunkFolder(std::string &error) {
  error.clear();
  try {
    if (!FBrowser->Document()) {
      error = "Not logged in";
      return;
    }
    if (!JunkUrl.empty()) {
      if (FBrowser->LocationUrl() == JunkUrl) return;
      if (GoToFolderAgain(JunkUrl)) {
        JunkUrl = FBrowser->LocationUrl();
        return;
      }
    }
    TSoundSuppression quiet;
    bool found = false;
    if (!FolderToken.empty()) {
      try {
        std::string address = ReplaceAll(FBrowser->LocationUrl(), "hmhome?", "HoTMaiL?");
        SetQueryParam("page", "", address);
        SetQueryParam("a", FolderToken, address);
        SetQueryParam("curmbox", kJunkId, address);
        found = GoToFolderAgain(address);
      } catch (const std::exception &) {
      }
    }
    found = found || ClickLinkByTitle("Junk E-Mail") ||
            ClickLinkMatching(std::string(".*HMFO\\('") + kJunkId + "'\\).*", kAnyCaseGreedy) ||
            ClickLinkMatching(std::string(".*") + kJunkId + ".*", kAnyCaseGreedy);
    if (!found) {
      error = "Could not find junk mail folder";
      return;
    }
    JunkUrl = FBrowser->LocationUrl();
  } catch (const std::exception &e) {
    error = "Unexpected problem going finding junkmail folder: " + Message(e);
  }
}

bool THotmailScraper::NextPage() {
  try {
    const std::string address = FBrowser->LocationUrl();
    if (Contains(address, "/HoTMaiL?")) {
      try {
        const int page = ListingPageNumber(address);
        if (!HasPageLink(BodyHtml(), page + 1)) return false;
        std::string next = address;
        SetQueryParam("page", std::to_string(page + 1), next);
        if (GoToFolderAgain(next)) return true;
      } catch (const std::exception &) {
      }
    }
    const std::string before = FBrowser->LocationUrl();
    return ClickLinkByTitle("Next Page") && FBrowser->LocationUrl() != before;
  } catch (const std::exception &) {
    return false;
  }
}

// ---- Listing -------------------------------------------------------------------

void THotmailScraper::ReadMessageList(TStringList &addresses, std::string &error) {
  TSoundSuppression quiet;
  error.clear();
  try {
    const std::string base = SiteBaseOf(FBrowser->LocationUrl());
    const TBrowserElement document = FBrowser->Document();
    if (!document) throw EBrowserError("No page is shown");
    const TBrowserElements tables = FBrowser->Collection(document, "Table");
    if (tables.empty()) {
      error = "Unable to find msg table";
      return;
    }
    const std::vector<std::string> ids = FBrowser->Properties(tables, "id");
    const std::vector<std::string> classes = FBrowser->Properties(tables, "className");
    size_t found = tables.size();
    for (size_t i = 0; i < tables.size() && found == tables.size(); ++i)
      if (Equals(ids[i], "MsgTable") && !Equals(classes[i], "Mtab")) found = i;
    if (found == tables.size()) {
      error = "Could not find msg table.";
      return;
    }
    const TBrowserElements links = FBrowser->Collection(tables[found], "A");
    const std::vector<std::string> hrefs = FBrowser->Properties(links, "href");
    // The table's first link heads the listing and is never a message.
    for (size_t i = 1; i < links.size(); ++i) {
      const std::string address = ListedMessageAddress(hrefs[i], base);
      if (address.empty()) continue;
      bool known = false;
      for (const std::string &listed : addresses) known = known || SameText(listed, address);
      if (!known) addresses.push_back(address);
    }
  } catch (const std::exception &e) {
    error = "Unexpected problem reading inbox: " + Message(e);
  }
}

void THotmailScraper::ReadInbox(TStringList &addresses, std::string &error) {
  TSoundSuppression quiet;
  try {
    GoToInbox(error);
    for (;;) {
      const size_t before = addresses.size();
      std::string listError;
      ReadMessageList(addresses, listError);
      if (!listError.empty()) error = listError;
      if (!error.empty() || addresses.size() == before || !NextPage()) break;
    }
  } catch (const std::exception &e) {
    error = "Unexpected problem reading inbox: " + Message(e);
  }
}

void THotmailScraper::ReadJunkFolder(TStringList &addresses, std::string &error) {
  TSoundSuppression quiet;
  try {
    GoToJunkFolder(error);
    if (!error.empty()) return;
    for (;;) {
      const size_t before = addresses.size();
      ReadMessageList(addresses, error);
      if (!error.empty() || addresses.size() == before || !NextPage()) break;
    }
  } catch (const std::exception &e) {
    error = "Unexpected problem reading JunkMail: " + Message(e);
  }
}

bool THotmailScraper::FetchUrl(const std::string &address, const std::string &cookies,
                               std::string &bytes) {
  return FBrowser->FetchUrl(address, cookies, bytes);
}

// ---- Reading a message -----------------------------------------------------------

std::unique_ptr<TEmailMsg> THotmailScraper::ReadMessage(const std::string &address,
                                                        std::string &error) {
  TSoundSuppression quiet;
  error.clear();
  TStringList visited;
  try {
    // Asked for by address, the page is new even when it is the one shown
    // (a mail program's TOP and then RETR of the same message).
    LastUrl.clear();
    FBrowser->Navigate(address);
    if (!WaitForPage()) {
      error = "Timed out reading msg.";
      return nullptr;
    }
    auto message = std::make_unique<TEmailMsg>();
    message->SetSaveOnDestroy(false);
    message->Text("from: \r\nSubject: \r\nDate: \r\n\r\n");

    // Each attachment fetched reloads the page: start the scan again until a
    // whole scan finds none left.
    for (bool again = true; again;) {
      again = false;
      const TBrowserElement document = FBrowser->Document();
      if (!document) break;
      for (const TBrowserElement &table : FBrowser->Collection(document, "Table"))
        if (DownloadAttachments(table, *message, address, visited)) {
          message->Header()->SetMainValue("Content-Type", "multipart/mixed");
          again = true;
          break;
        }
    }
    if (FBrowser->LocationUrl() != LastUrl) {
      FBrowser->Navigate(address);
      if (!WaitForPage()) return message;
    }

    const TBrowserElement document = FBrowser->Document();
    if (!document) throw EBrowserError("No page is shown");
    const TBrowserElements tables = FBrowser->Collection(document, "Table");
    if (tables.empty()) {
      error = "Unable to find msg table";
      return nullptr;
    }
    const std::vector<std::string> colors = FBrowser->Properties(tables, "bgColor");
    bool whiteSeen = false;
    bool taken = false;
    for (size_t i = 0; i < tables.size() && !taken; ++i) {
      if (!Equals(colors[i], "#ffffff")) continue;
      whiteSeen = true;
      try {
        const TBrowserElements nested = FBrowser->Collection(tables[i], "Table");
        if (!nested.empty()) taken = TakeBody(nested[0], *message);
      } catch (const EBrowserError &) {
      }
    }
    if (!taken) {
      const std::vector<std::string> aligns = FBrowser->Properties(tables, "align");
      for (size_t i = 0; i < tables.size() && !taken; ++i) {
        if (!ContainsText(Trim(aligns[i]), "center")) continue;
        if (whiteSeen) {
          const std::string text = FBrowser->Property(tables[i], "innerText");
          if (text.find("Trend Micro") != std::string::npos ||
              text.find("i.p.trend_small.gif") != std::string::npos)
            continue;
        }
        taken = TakeBody(tables[i], *message);
      }
    }

    const std::vector<std::string> classes = FBrowser->Properties(tables, "className");
    bool header = false;
    for (size_t i = 0; i < tables.size() && !header; ++i)
      if (classes[i] == "TH") header = ReadHeaderTable(tables[i], *message);
    for (size_t i = 0; i < tables.size() && !header; ++i)
      header = ReadHeaderTable(tables[i], *message);

    LinkInlineImages(*message);
    return message;
  } catch (const std::exception &e) {
    error = "Unexpected problem reading msg: " + Message(e);
    return nullptr;
  }
}

bool THotmailScraper::DownloadAttachments(const TBrowserElement &table, TEmailMsg &message,
                                          const std::string &address, TStringList &visited) {
  bool result = false;
  try {
    const TBrowserElements links = FBrowser->Collection(table, "A");
    const std::vector<std::string> hrefs = FBrowser->Properties(links, "href");
    const std::vector<std::string> texts = FBrowser->Properties(links, "innerText");
    auto wasVisited = [&visited](const std::string &text) {
      for (const std::string &seen : visited)
        if (SameText(seen, text)) return true;
      return false;
    };
    for (size_t i = 1; i < links.size(); ++i) {
      const std::string &href = hrefs[i];
      const std::string name = texts[i];
      if (!Contains(href, "/getmsg?") || !Contains(href, "mimepart")) continue;
      if (wasVisited(href) || wasVisited(name)) continue;
      visited.push_back(href);
      visited.push_back(name);
      ClickElement(links[i]);
      result = WaitForPage();
      if (!result) continue;

      std::string download;
      try {
        const TBrowserElements cells = FBrowser->Collection(FBrowser->Document(), "TD");
        const std::vector<std::string> html = FBrowser->Properties(cells, "innerHTML");
        for (const std::string &cell : html) {
          if (PatternSearch("newAttachWin\\([^>]*\\)", cell, pf_Caseless | pf_DotAll).empty())
            continue;
          download = DownloadAddressInCell(cell);
          break;
        }
        if (download.empty()) download = DownloadAddressInBody(BodyHtml());
      } catch (const std::exception &) {
        download.clear();
      }
      if (download.empty()) {
        result = WaitForPage();
        continue;
      }

      const std::string cookies = FBrowser->Cookie();
      FBrowser->Navigate(address);
      std::string bytes;
      if (FetchUrl(download, cookies, bytes)) {
        // The body's two forms are made before the message turns multipart,
        // so that they stay two parts the message model can find again.
        message.EnsureAlternatives();
        TEmailMsgPart *part = message.AddAttachment({});
        const std::string fileName = name.empty() ? "Unnamed Attachment" : name;
        const std::string type = ContentTypeOf(fileName);
        TEmailHeader *header = part->Header();
        header->SetField("Content-Transfer-Encoding",
                         StartsText("Text/", type) ? "quoted-printable" : "Base64");
        header->SetField("Content-Type", type);
        part->EncodeFromStream(bytes, false);
        header->SetField("Content-Disposition", "attachment; filename=\"" + fileName + "\"");
        header->SetField("Content-Location", AttachmentLocation(href, fileName));
        header->SetField("X-OrigUrl", href);
        header->SetField("Content-Type", type + "; name=\"" + fileName + "\"");
      }
      return WaitForPage();
    }
  } catch (const std::exception &) {
    return false;
  }
  return result;
}

bool THotmailScraper::TakeBody(const TBrowserElement &table, TEmailMsg &message) {
  try {
    if (IsSiteFurniture(FBrowser->Property(table, "innerHTML"), FImageServerPrefix, FAdvertAddress))
      return false;
    message.EnsureAlternatives();
    TEmailMsgPart *plain = nullptr;
    TEmailMsgPart *html = nullptr;
    message.FindBodyParts(plain, html);
    if (!plain || !html) return false;
    TStringList htmlLines = SplitLines(FBrowser->Property(table, "outerHTML"));
    RewriteLinks(htmlLines);
    const TStringList textLines = SplitLines(FBrowser->Property(table, "innerText"));
    // Text from the page is Latin-1; it is labelled so when it leaves ASCII,
    // and quoted-printable keeps long lines and 8-bit bytes intact in mail.
    plain->Header()->SetField("Content-Type",
                              "text/plain; charset=\"" + TextCharset(textLines) + "\"");
    plain->Header()->SetField("Content-Transfer-Encoding", "quoted-printable");
    html->Header()->SetField("Content-Type",
                             "text/html; charset=\"" + TextCharset(htmlLines) + "\"");
    html->Header()->SetField("Content-Transfer-Encoding", "quoted-printable");
    if (!html->EncodeFromStringList(htmlLines, false)) return false;
    plain->EncodeFromStringList(textLines, false);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

bool THotmailScraper::ReadHeaderTable(const TBrowserElement &table, TEmailMsg &message) {
  std::vector<THeaderRow> rows;
  try {
    for (const TBrowserElement &row : FBrowser->Collection(table, "TR")) {
      try {
        const TBrowserElements cells = FBrowser->Collection(row, "TD");
        THeaderRow read;
        read.Cells = int(cells.size());
        if (cells.size() == 2) {
          read.Label = FBrowser->Property(cells[0], "innerText");
          read.LabelHtml = FBrowser->Property(cells[0], "innerHTML");
          read.Value = FBrowser->Property(cells[1], "innerText");
        }
        rows.push_back(read);
      } catch (const EBrowserError &) {
      }
    }
  } catch (const std::exception &) {
    return false;
  }
  auto apply = [&message](const THeaderEdits &edits) {
    for (const THeaderEdit &edit : edits) {
      std::string value = edit.Value;
      TDateTime when = 0;
      double zone = LocalZoneOffset();
      // A date the page shows with its zone keeps that zone; the loose
      // reading alone would move it into the local one.
      if (edit.IsDate && !(ParseRfc822Date(value, when, zone) & rd_Problem))
        value = FormatRfc822Date(zone, when);
      else if (edit.IsDate && ParseLooseDate(value, when))
        value = FormatRfc822Date(LocalZoneOffset(), when);
      message.Header()->SetField(edit.Field, value);
    }
  };
  THeaderEdits labelled;
  const bool byLabels = HeaderFromLabelledRows(rows, labelled);
  apply(labelled);
  if (byLabels) return true;
  THeaderEdits positional;
  const bool byPositions = HeaderFromPositions(rows, positional);
  apply(positional);
  return byPositions;
}

void THotmailScraper::LinkInlineImages(TEmailMsg &message) {
  try {
    TEmailMsgPart *plain = nullptr;
    TEmailMsgPart *html = nullptr;
    message.FindBodyParts(plain, html);
    if (!html) return;
    TStringList lines;
    html->DecodeToStringList(lines, false);
    std::string text = JoinLines(lines, "\r\n");
    bool changed = false;
    TEmailMsgPartCollection &parts = message.Parts();
    for (int i = 0; i < parts.Count(); ++i) {
      TEmailHeader *header = parts.Items(i)->Header();
      std::string location, original;
      if (!header || !header->GetField("Content-Location", location) ||
          !header->GetField("X-OrigUrl", original))
        continue;
      if (location.empty() || original.empty() || location == original ||
          location.find(original) != std::string::npos)
        continue;
      if (text.find(original) == std::string::npos) continue;
      text = ReplaceAll(text, original, location);
      changed = true;
    }
    if (!changed) return;
    html->EncodeFromStringList(SplitLines(text), false);
    message.Header()->SetMainValue("Content-Type", "multipart/related");
  } catch (const std::exception &) {
  }
}

// ---- Changing the mailbox ---------------------------------------------------------

void THotmailScraper::MarkMessageRead(const std::string &address, std::string &error) {
  TSoundSuppression quiet;
  error.clear();
  try {
    LastUrl.clear();
    FBrowser->Navigate(address);
    if (!WaitForPage()) FBrowser->Stop();
  } catch (const std::exception &e) {
    error = "Unexpected problem marking msg read: " + Message(e);
  }
}

bool THotmailScraper::SelectListedMessages(TStringList &ids) {
  if (ids.empty()) return false;
  const TBrowserElement document = FBrowser->Document();
  if (!document) throw EBrowserError("Unable to find msg table");
  const TBrowserElements tables = FBrowser->Collection(document, "Table");
  if (tables.empty()) throw EBrowserError("Unable to find msg table");
  const std::vector<std::string> tableIds = FBrowser->Properties(tables, "id");
  size_t found = tables.size();
  for (size_t i = 0; i < tables.size() && found == tables.size(); ++i)
    if (Equals(tableIds[i], "MsgTable")) found = i;
  if (found == tables.size()) throw EBrowserError("Could not find msg table.");
  const TBrowserElements rows = FBrowser->Collection(tables[found], "TR");
  const std::vector<std::string> html = FBrowser->Properties(rows, "innerHTML");
  bool ticked = false;
  for (size_t r = 1; r < rows.size() && !ids.empty(); ++r) {
    for (size_t j = ids.size(); j-- > 0;) {
      if (html[r].find(ids[j]) == std::string::npos) continue;
      const TBrowserElements inputs = FBrowser->Collection(rows[r], "input");
      const std::vector<std::string> types = FBrowser->Properties(inputs, "type");
      for (size_t k = 0; k < inputs.size(); ++k) {
        if (!Equals(types[k], "checkbox")) continue;
        ClickElement(inputs[k]);
        ticked = true;
        ids.erase(ids.begin() + long(j));
        break;
      }
      break;
    }
  }
  return ticked;
}

void THotmailScraper::WorkThroughFolder(TStringList &ids,
                                        void (THotmailScraper::*command)(std::string &)) {
  for (;;) {
    while (SelectListedMessages(ids)) {
      std::string error;
      (this->*command)(error);
      if (!error.empty()) break;
    }
    if (ids.empty() || !NextPage()) return;
  }
}

namespace {
TStringList IdsOf(const TStringList &addresses) {
  TStringList ids;
  for (const std::string &address : addresses) {
    const std::string id = MessageIdOf(address);
    if (!id.empty()) ids.push_back(id);
  }
  return ids;
}
}  // namespace

void THotmailScraper::ClickMarkUnread(std::string &error) {
  error.clear();
  try {
    const TBrowserElement document = FBrowser->Document();
    if (!document) throw EBrowserError("No page is shown");
    const TBrowserElements cells = FBrowser->Collection(document, "TD");
    const std::vector<std::string> inner = FBrowser->Properties(cells, "innerHTML");
    const std::vector<std::string> outer = FBrowser->Properties(cells, "outerHTML");
    auto clickCell = [&](const std::string &text, const char *timeoutText) {
      for (size_t i = 0; i < cells.size(); ++i) {
        // A cell holding further cells is a frame around the buttons.
        if (ContainsText(inner[i], "<TD") || !ContainsText(outer[i], text)) continue;
        ClickElement(cells[i]);
        if (!WaitForPage()) error = timeoutText;
        return true;
      }
      return false;
    };
    if (clickCell("Subm('markunread'", "Timed out waiting for Mark Unread1")) return;
    if (clickCell(">Mark As Unread<", "Timed out waiting for Mark Unread2")) return;
    try {
      FBrowser->RunScript("Subm(\"markunread\",0,1)");
    } catch (const EBrowserError &) {
      error = "Could not find Mark Unread";
      return;
    }
    if (!WaitForPage()) error = "Timed out waiting for Mark Unread3";
  } catch (const std::exception &e) {
    error = "Unexpected problem with mark unread button: " + Message(e);
  }
}

void THotmailScraper::ClickDelete(std::string &error) {
  error.clear();
  try {
    const TBrowserElement document = FBrowser->Document();
    if (!document) throw EBrowserError("No page is shown");
    const TBrowserElements links = FBrowser->Collection(document, "links");
    const std::vector<std::string> outer = FBrowser->Properties(links, "outerHTML");
    for (size_t i = 0; i < links.size(); ++i) {
      if (outer[i].find("Subm('delete'") == std::string::npos) continue;
      ClickElement(links[i]);
      if (!WaitForPage()) error = "Timed out waiting for Delete";
      return;
    }
    error = "Could not find delete button";
  } catch (const std::exception &e) {
    error = "Unexpected problem with delete button: " + Message(e);
  }
}

void THotmailScraper::MoveToInbox(std::string &error) {
  error.clear();
  try {
    try {
      const TBrowserElements tables = FBrowser->Collection(FBrowser->Document(), "Table");
      const std::vector<std::string> ids = FBrowser->Properties(tables, "id");
      for (size_t t = 0; t < tables.size(); ++t) {
        if (!SameText(ids[t], "FldrTable")) continue;
        const TBrowserElements cells = FBrowser->Collection(tables[t], "TD");
        const std::vector<std::string> texts = FBrowser->Properties(cells, "innerText");
        for (size_t c = 0; c < cells.size(); ++c)
          if (SameText(texts[c], "Inbox") && ClickElement(cells[c]) && WaitForPage()) return;
      }
    } catch (const std::exception &) {
    }
    try {
      FBrowser->RunScript(std::string("PI('MoveTo',0,1,'") + kInboxId + "');");
    } catch (const EBrowserError &) {
      error = "Could not move msgs to inbox";
      return;
    }
    if (!WaitForPage()) error = "Timed out waiting for Mark Unread3";
  } catch (const std::exception &e) {
    error = "Unexpected problem moving files to inbox: " + Message(e);
  }
}

void THotmailScraper::MarkMessagesUnread(const TStringList &addresses, std::string &error) {
  TSoundSuppression quiet;
  error.clear();
  TStringList ids = IdsOf(addresses);
  if (ids.empty()) return;
  try {
    GoToInbox(error);
    if (!error.empty()) return;
    WorkThroughFolder(ids, &THotmailScraper::ClickMarkUnread);
    if (!ids.empty() && !JunkUrl.empty()) {
      GoToJunkFolder(error);
      if (!error.empty()) return;
      WorkThroughFolder(ids, &THotmailScraper::ClickMarkUnread);
    }
    if (!ids.empty()) error = "Failed to mark " + std::to_string(ids.size()) + " messages read";
  } catch (const std::exception &e) {
    error = "Unexpected problem marking msg read: " + Message(e);
  }
}

void THotmailScraper::DeleteMessages(const TStringList &addresses, std::string &error) {
  TSoundSuppression quiet;
  error.clear();
  TStringList ids = IdsOf(addresses);
  if (ids.empty()) return;
  try {
    // Messages in the junk folder are moved to the inbox first, where the
    // delete command can reach them.
    if (!JunkUrl.empty()) {
      try {
        std::string junkError;
        GoToJunkFolder(junkError);
        if (junkError.empty()) WorkThroughFolder(ids, &THotmailScraper::MoveToInbox);
      } catch (const std::exception &) {
      }
    }
    ids = IdsOf(addresses);
    GoToInbox(error);
    if (!error.empty()) return;
    WorkThroughFolder(ids, &THotmailScraper::ClickDelete);
    if (!ids.empty()) error = "Failed to delete " + std::to_string(ids.size()) + " messages";
  } catch (const std::exception &e) {
    error = "Unexpected problem deleting msgs: " + Message(e);
  }
}

void THotmailScraper::GoToCompose(std::string &error) {
  error.clear();
  try {
    try {
      const std::string address = ComposeAddressBeside(FBrowser->LocationUrl());
      if (!address.empty() && GoToFolderAgain(address)) return;
    } catch (const std::exception &) {
    }
    const TBrowserElement document = FBrowser->Document();
    if (!document) throw EBrowserError("No page is shown");
    const TBrowserElements links = FBrowser->Collection(document, "links");
    const std::vector<std::string> outer = FBrowser->Properties(links, "outerHTML");
    for (size_t i = 0; i < links.size(); ++i) {
      if (PatternSearch("onclick[^<>]*/cgi-bin/compose?", outer[i], kAnyCaseGreedy).empty())
        continue;
      ClickElement(links[i]);
      if (!WaitForPage()) error = "Timed out waiting for compose";
      return;
    }
    error = "Could not find compose button";
  } catch (const std::exception &e) {
    error = "Unexpected problem with compose button: " + Message(e);
  }
}

bool THotmailScraper::SetRichTextEditor(bool on) {
  try {
    // The page offers the command that switches to the other state.
    const std::string offered = on ? "Rich-Text\\s*Editor\\s*Off" : "Rich-Text\\s*Editor\\s*On";
    if (!PatternSearch(offered, BodyHtml(), kAnyCaseLazy).empty()) return true;
    SetFormField("composeform", "_HMaction", true, on ? "RTEON" : "RTEOFF");
    return !PatternSearch(offered, BodyHtml(), kAnyCaseLazy).empty();
  } catch (const std::exception &) {
    return false;
  }
}

namespace {
TBrowserElement BodyTextArea(TBrowserControl &browser) {
  const TBrowserElement document = browser.Document();
  if (!document) throw EBrowserError("No page is shown");
  const TBrowserElements areas = browser.Collection(document, "textarea");
  const std::vector<std::string> names = browser.Properties(areas, "name");
  for (size_t i = 0; i < areas.size(); ++i)
    if (Equals(names[i], "body")) return areas[i];
  throw EBrowserError("The page has no body text area");
}
}  // namespace

bool THotmailScraper::SetBodyText(const TStringList &lines) {
  try {
    // Into the value: a text area's text set any other way loses its line
    // breaks when the form is sent.
    FBrowser->SetProperty(BodyTextArea(*FBrowser), "value", JoinLines(lines, "\n"));
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

bool THotmailScraper::RichBodyAccepted(const TStringList &lines) {
  try {
    return RichBodyShowsFormatting(FBrowser->Property(BodyTextArea(*FBrowser), "value"), lines);
  } catch (const std::exception &) {
    return false;
  }
}

bool THotmailScraper::TypeIntoElement(const TBrowserElement &element, const std::string &text) {
  const bool allowed = FAllowFocus;
  SetAllowFocus(true);
  if (!element) {
    SetAllowFocus(allowed);
    return false;
  }
  bool sent = false;
  QWidget *host = FHost.data();
  const bool wasVisible = host && host->isVisible();
  try {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    // The host never reaches the screen (it is shown off it), so nothing
    // flashes up while the field has the focus.
    if (host) host->show();
    QCoreApplication::processEvents();
    FBrowser->Focus(element);
    // A file field answers a key press (not a scripted click) by asking
    // the page for a file; the page answers with Text.
    FBrowser->SetChosenFile(text);
    sent = FBrowser->SendKeyPress(Qt::Key_Space, " ");
    if (sent) {
      sent = false;
      for (int waited = 0; waited < kFileChooserWaitMs && !sent; waited += kPollMs) {
        Pause(kPollMs);
        sent = !FBrowser->Property(element, "value").empty();
      }
    }
  } catch (const std::exception &) {
    sent = false;
  }
  FBrowser->SetChosenFile(std::string());
  if (host && !wasVisible) host->hide();
  QCoreApplication::processEvents();
  SetAllowFocus(allowed);
  return sent;
}

void THotmailScraper::AttachFiles(const std::vector<TEmailMsgPart *> &parts) {
  if (parts.empty()) return;
  try {
    if (!ClickLinkMatching("<\\s*a\\s*[^>]*Mail\\('AttachFile'\\).*/a\\s*>", kAnyCaseGreedy))
      ClickLinkMatching(".*AttachFile.*", kAnyCaseGreedy);
    const std::string folder = AttachmentFolder();
    std::filesystem::create_directories(folder);
    for (size_t i = 0; i < parts.size(); ++i) {
      std::string name;
      TEmailHeader *header = parts[i]->Header();
      if (!header || !header->GetFileName(name) || name.empty())
        name = "Attachment" + std::to_string(i + 1);
      TTemporaryFile file;
      const std::string path = folder + "/" + SafeFileName(name, i);
      std::string content;
      parts[i]->DecodeToStream(content, true);
      if (!WritePrivateFile(path, content)) {
        ::unlink(path.c_str());
        continue;
      }
      file.Path = path;
      const TBrowserElement field = FindFormElement("doattach", "attfile", "??");
      if (!field || !TypeIntoElement(field, path)) continue;
      const bool last = i + 1 == parts.size();
      const std::string command = last ? "OK" : "AttachOther";
      if (ClickLinkMatching("<\\s*a\\s*[^>]*DoAttach\\(.?" + command + ".?\\).*/a\\s*>",
                            kAnyCaseGreedy) ||
          ClickLinkMatching(".*DoAttach\\('" + command + "'\\).*", kAnyCaseGreedy))
        continue;
      try {
        FBrowser->RunScript("DoAttach('" + command + "')");
        // The upload must be over before its file goes.
        WaitForPage();
      } catch (const EBrowserError &) {
      }
    }
  } catch (const std::exception &) {
  }
}

void THotmailScraper::SendMessage(TEmailMsg &message, const TStringList &recipients, bool saveCopy,
                                  std::string &error) {
  TSoundSuppression quiet;
  error.clear();
  try {
    GoToInbox(error);
    if (!error.empty()) return;
    GoToCompose(error);
    if (!error.empty()) return;
    SetRichTextEditor(false);

    TEmailMsgPart *plain = nullptr;
    TEmailMsgPart *html = nullptr;
    message.FindBodyParts(plain, html);
    bool htmlTaken = false;
    if (html) {
      TStringList lines;
      html->DecodeToStringList(lines, false);
      htmlTaken = SetBodyText(lines) && SetRichTextEditor(true) && RichBodyAccepted(lines);
    }
    if (!htmlTaken && plain) {
      TStringList lines;
      plain->DecodeToStringList(lines, false);
      SetBodyText(lines);
    }

    TEmailHeader *header = message.Header();
    std::string subject;
    if (header->GetDecodedField("subject", subject) && !subject.empty())
      SetFormField("composeform", "subject", false, subject);

    TStringList listed;
    auto takeAddresses = [&](std::unique_ptr<TEmailAddressCollection> addresses, const char *field,
                             const char *formField) {
      if (addresses)
        for (int i = 0; i < addresses->Count(); ++i)
          listed.push_back(addresses->Items(i)->Address());
      std::string text;
      if (header->GetDecodedField(field, text) && !Trim(text).empty())
        SetFormField("composeform", formField, false, text);
    };
    takeAddresses(header->GetToAddresses(), "To", "to");
    takeAddresses(header->GetCcAddresses(), "CC", "cc");
    const TStringList blind = BlindCopyRecipients(recipients, listed);
    if (!blind.empty()) {
      std::string bcc;
      for (const std::string &address : blind) bcc += (bcc.empty() ? "" : "; ") + address;
      SetFormField("composeform", "bcc", false, bcc);
    }
    SetFormField("composeform", "outgoing", false, saveCopy ? "on" : "off");

    std::vector<TEmailMsgPart *> attachments;
    TEmailMsgPartCollection &parts = message.Parts();
    for (int i = 0; i < parts.Count(); ++i) {
      TEmailMsgPart *part = parts.Items(i);
      if (part == plain || part == html || !part->Header()) continue;
      TEmailHeader *partHeader = part->Header();
      if (partHeader->IsAttachment() || partHeader->IsInlineAttachment() ||
          partHeader->IsEmbeddedMessage())
        attachments.push_back(part);
    }
    AttachFiles(attachments);

    // A site that refuses the message shows its compose form again; the
    // wait after Send succeeds all the same, so look before calling it sent.
    if (!SetFormField("composeform", "_HMaction", true, "Send") || HasForm("composeform"))
      error = kSendNotConfirmed;
  } catch (const std::exception &e) {
    error = "Unexpected problem sending msg: " + Message(e);
  }
}

// ---- The scraper in its own hidden window -------------------------------------------

namespace {

// Made first and destroyed last, so that the browser view inside it goes
// before the window does.
struct THostWindowHolder {
  THostWindowHolder() : Host(std::make_unique<QWidget>()) {
    Host->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    Host->setAttribute(Qt::WA_DontShowOnScreen);
    Host->setAttribute(Qt::WA_ShowWithoutActivating);
    Host->setWindowTitle("Hide");
    Host->resize(1024, 768);
  }
  std::unique_ptr<QWidget> Host;
};

class THostedHotmailScraper : private THostWindowHolder, public THotmailScraper {
 public:
  THostedHotmailScraper() : THostWindowHolder(), THotmailScraper(Host.get()) {
    // Shown, but never on the screen: the view then has what a visible
    // browser has (layout, a focus proxy for key presses).
    Host->show();
  }
};

}  // namespace

std::unique_ptr<TSiteScraper> CreateHotmailScraper() {
  return std::make_unique<THostedHotmailScraper>();
}
