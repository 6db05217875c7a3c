#include "sessions/HttpMailSession.h"

#include <exception>

#include "BuildConfig.h"
#include "log/Log.h"
#include "mail/Rfc822Date.h"
#include "sessions/HttpMailMsgInfo.h"
#include "sessions/HttpMailTemplates.h"
#include "sessions/MultistatusReader.h"

namespace {

// Every exchange may take this long; large messages stretch it further
// inside the exchange as the measured line speed allows.
constexpr double kExchangeSeconds = 180;
// Tries of the operations that the session starts on its own behalf.
constexpr int kInnerTries = 5;

constexpr uint8_t kDetailRetry = kLogDetailStep;
constexpr uint8_t kDetailAlreadyLoggedIn = kLogDetailConnection;

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

}  // namespace

THttpMailSession::THttpMailSession()
    : Cookies(std::make_unique<THttpCookieList>()),
      Response(std::make_unique<THttpResponse>()),
      Request(std::make_unique<THttpRequest>()) {
  FMaxLogonAttempts = 10;
  FSpareSetting = 60;
}

THttpMailSession::~THttpMailSession() = default;

// The flags live in the request, which hands them on to every connection;
// the base keeps a copy so that its own checks see the same flags.
void THttpMailSession::SetTerminateFlag(const bool *flag) {
  Request->TerminateFlag = flag;
  FTerminateFlag = flag;
}
const bool *THttpMailSession::GetTerminateFlag() { return Request->TerminateFlag; }
void THttpMailSession::SetCancelFlag(const bool *flag) {
  Request->CancelFlag = flag;
  FCancelFlag = flag;
}
const bool *THttpMailSession::GetCancelFlag() { return Request->CancelFlag; }
std::string THttpMailSession::GetUserId() { return Request->UserId; }
void THttpMailSession::SetUserId(const std::string &userId) { Request->UserId = userId; }
std::string THttpMailSession::GetPassword() { return Request->Password; }
void THttpMailSession::SetPassword(const std::string &password) { Request->Password = password; }

void THttpMailSession::Perform(std::string &error) {
  Response->Clear();
  error.clear();
  Request->PerformRequest(*Response, UseCookies ? Cookies.get() : nullptr, error,
                          Now() + SecondsToDays(kExchangeSeconds));
}

std::string THttpMailSession::ExplainNoStatus(bool forLogon) {
  switch (Request->DnsResult) {
    case dns_NoContactServer:
      return "DNS error: could not access DNS to look up host";
    case dns_BadResultReturned:
      return "DNS error: Bad result returned";
    case dns_Timeout:
      return "DNS error: Timed out looking up host";
    case dns_InternalError:
      return "DNS error: Internal error while looking up host";
    case dns_NotPerformed:
      return "DNS error: could not look up host";
    case dns_NoError:
      break;
  }
  switch (Request->ConnectResult) {
    case cr_ConnectFailed:
      return "Failed to connect to " + GetServiceName() + ".";
    case cr_NoAddress:
      return forLogon ? "Failed to get " + GetServiceName() + " IP (dns error)"
                      : "Failed to connect to " + GetServiceName() + ".";
    default:
      return "Failed to get return code";
  }
}

bool THttpMailSession::Judge(std::string &error, int low, int high) {
  int status = 0;
  if (!error.empty()) {
    error = "Request failed with:" + error;
    return false;
  }
  if (!Response->GetStatusCode(status)) {
    error = ExplainNoStatus(false);
    return false;
  }
  if (status < low || status > high) {
    error = "Bad Response: " + Quoted((*Response)[0]);
    return false;
  }
  return true;
}

bool THttpMailSession::MayTry(int tries, std::string &error) {
  error.clear();
  if (tries <= 0) {
    error = "Retries exceeded";
    return false;
  }
  if (Request->StopRequested()) {
    error = "Asked to terminate nicely";
    return false;
  }
  return true;
}

void THttpMailSession::WithRetries(int tries, std::string &error,
                                   const std::function<bool()> &attempt,
                                   const std::function<std::string()> &retryNote) {
  for (;; --tries) {
    if (!MayTry(tries, error)) return;
    if (!attempt() || tries < 2) return;
    Log(retryNote(), kDetailRetry, true);
  }
}

// ---- logon ----------------------------------------------------------------

void THttpMailSession::DoLogon(const std::string &userId, const std::string &password,
                               std::string &error) {
  TCriticalSectionGuard guard(FLock);
  const bool sameAccount = userId.empty() || password.empty() ||
                           (userId == Request->UserId && password == Request->Password);
  if (LastLogonOk && sameAccount && CheckLoggedOn()) {
    error.clear();
    Log("Already logged in", kDetailAlreadyLoggedIn, false);
    return;
  }
  error.clear();
  try {
    LogonAttempts(userId, password, error);
  } catch (const std::exception &e) {
    error = std::string("Login error: ") + e.what();
  }
  LastLogonOk = error.empty();
  // Credentials the service has just refused (401, or 503 without the
  // service-down mark) must not become the remembered account: an
  // unauthenticated sender would then fail with them, and the good account
  // remembered before would be lost. Every other outcome is reported, since
  // a temporary failure says nothing against the credentials.
  const bool refused = StartsText("401", error) ||
                       (StartsText("503", error) && error.find("1000") == std::string::npos);
  if (FOnLoggedOn && !refused) FOnLoggedOn(Request->UserId, Request->Password);
}

void THttpMailSession::LogonAttempts(const std::string &userId, const std::string &password,
                                     std::string &error) {
  if (Request->StopRequested()) {
    error = "Asked to terminate nicely";
    return;
  }
  if (!userId.empty() && !password.empty()) {
    if (userId != Request->UserId || password != Request->Password) {
      // Another account: nothing of the old one's Digest state or cookies
      // may be offered for it.
      Request->Challenge.clear();
      Request->ClientNonce.clear();
      Request->NonceCount = 0;
      Cookies->Clear();
    }
    Request->UserId = userId;
    Request->Password = password;
  }
  // A call without credentials logs on the stored account, so its id picks
  // the endpoint.
  const std::string endpoint = HttpMailEndpointFor(userId.empty() ? Request->UserId : userId);
  bool folderRootSeen = false;
  const int attempts = GetMaxLogonAttempts();
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (Request->StopRequested()) {
      error = "Asked to terminate nicely";
      return;
    }
    Request->BuildLogonRequest(endpoint);
    Perform(error);
    int status = 0;
    const bool haveStatus = Response->GetStatusCode(status);
    if (!error.empty()) {
      // A complete 207 is worth reading even when the connection then broke.
      if (haveStatus && status == 207) {
        error.clear();
      } else {
        Log("Login request failed with:" + error, kDetailRetry, true);
        continue;
      }
    }
    if (!haveStatus) {
      error = ExplainNoStatus(true);
      return;
    }
    std::string davError;
    Response->GetHeader("X-Dav-Error", davError);
    if (status == 503) {
      error = "503 - " + GetServiceName() + " rejected Userid: " + davError;
      return;
    }
    if (status == 401) {
      error = "401 - " + GetServiceName() + " rejected password: " + davError;
      return;
    }
    if (status == 402) {
      error = "402 - " + GetServiceName() + " requested payment: " + Response->GetStatusText();
      return;
    }
    if (status != 207) {
      error = "Unknown Response: " + Quoted((*Response)[0]);
      Log(error, kDetailRetry, true);
      continue;
    }
    if (DiscoverFolders()) return;
    if (Request->StopRequested()) continue;
    folderRootSeen = folderRootSeen || !MsgFolderRootUrl.empty();
    Log("Logon answer lacked a folder URL", kDetailRetry, true);
  }
  // An answer that named the folder root but missed another folder still
  // leaves a usable session (the missing operation reports its own URL as
  // unknown). With no root at all, nothing would work, so that is a failure
  // rather than a logon reported as done.
  if (error.empty() && !folderRootSeen) {
    error = attempts <= 0 ? "Retries exceeded" : "Could not parse server output.";
  }
}

bool THttpMailSession::DiscoverFolders() {
  if (Request->StopRequested()) return true;
  const TLogonFolders folders = ReadLogonFolders(Response->GetBody());
  MsgFolderRootUrl = folders.MsgFolderRoot;
  SendMsgUrl = folders.SendMsg;
  InboxUrl = folders.Inbox;
  DeletedItemsUrl = folders.DeletedItems;
  if (MsgFolderRootUrl.empty()) return false;
  return !SendMsgUrl.empty() && !InboxUrl.empty() && !DeletedItemsUrl.empty();
}

bool THttpMailSession::CheckLoggedOn() {
  TCriticalSectionGuard guard(FLock);
  THttpMailDirectoryList list;
  std::string error;
  ListFolders(list, kInnerTries, error);
  return error.empty();
}

void THttpMailSession::ListFolders(THttpMailDirectoryList &list, int tries, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  // Which check failed goes into the retry line, so that a log tells a
  // broken connection from an unreadable answer.
  int step = 0;
  const auto attempt = [&]() {
    FillFolderListRequest(*Request, MsgFolderRootUrl);
    Perform(error);
    int status = 0;
    if (!error.empty()) {
      error = "Request failed with:" + error;
      step = 1;
    } else if (!Response->GetStatusCode(status)) {
      error = ExplainNoStatus(false);
      step = Request->DnsResult != dns_NoError ? 2 : 3;
    } else if (status != 207) {
      error = "Bad Response: " + Quoted((*Response)[0]);
      step = 4;
    } else {
      list.Clear();
      if (!ReadFolderListing(Response->GetBody(), list)) {
        error = "Could not parse server output.";
        step = 5;
        return true;
      }
      for (int i = 0; i < list.Count(); ++i) {
        if (Request->TerminateRequested()) {
          error = "Asked to terminate.";
          return false;
        }
        const THttpMailDirectory *folder = list.Items(i);
        if (folder->Special == "inbox")
          InboxUrl = folder->Href;
        else if (folder->Special == "deleteditems")
          DeletedItemsUrl = folder->Href;
        else if (folder->Special == "sendmsg")
          SendMsgUrl = folder->Href;
      }
      return false;
    }
    return true;
  };
  WithRetries(tries, error, attempt, [&]() {
    return "Failed to get directory listing " + std::to_string(step) + " with:" + error +
           ". Retrying...";
  });
}

// ---- listings ---------------------------------------------------------------

void THttpMailSession::GetInboxList(TBasicMailMsgInfoList &list, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  error.clear();
  if (InboxUrl.empty()) {
    error = "Url of Inbox unknown";
    return;
  }
  ListMessages(InboxUrl, list, error, kInnerTries);
}

void THttpMailSession::GetJunkMailList(TBasicMailMsgInfoList &list, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  THttpMailDirectoryList folders;
  ListFolders(folders, kInnerTries, error);
  if (!error.empty()) {
    error = "Directory listing failed with: " + error;
    return;
  }
  static const std::string kJunkName = "bulkmail";
  const THttpMailDirectory *junk = folders.FindSpecial(kJunkName);
  if (!junk) {
    error = "Failed to find " + kJunkName + " directory";
    return;
  }
  ListMessages(junk->Href, list, error, kInnerTries);
}

void THttpMailSession::ListMessages(const std::string &folderUrl, TBasicMailMsgInfoList &list,
                                    std::string &error, int tries) {
  TCriticalSectionGuard guard(FLock);
  const auto attempt = [&]() {
    FillMessageListRequest(*Request, folderUrl);
    Perform(error);
    if (!Judge(error, 207, 207)) return true;
    if (Request->TerminateRequested()) {
      error = "Asked to terminate.";
      return false;
    }
    std::string problem;
    switch (ReadMessageListing(Response->GetBody(), list, problem)) {
      case TListingResult::Ok:
        return false;
      case TListingResult::Unreadable:
        error = "Could not parse server output.";
        break;
      case TListingResult::BadSize:
        error = "Could not parse server output. " + problem;
        break;
    }
    return true;
  };
  WithRetries(tries, error, attempt, [&]() { return "Directory listing failed with:" + error; });
}

// ---- messages ---------------------------------------------------------------

void THttpMailSession::GetMsg(const std::string &url, TStringList &lines, std::string &error,
                              int attempts) {
  std::string text;
  GetMsgText(url, text, error, attempts);
  lines = SplitLines(text);
}

void THttpMailSession::GetMsgText(const std::string &url, std::string &text, std::string &error,
                                  int attempts) {
  TCriticalSectionGuard guard(FLock);
  text.clear();
  const auto attempt = [&]() {
    text.clear();
    std::string host;
    if (!Request->GetHeader("Host", host) || host.empty())
      host = UrlHost(ApplyServiceBase(BRELVANE_HOTMAIL_HTTPMAIL_URL));
    FillGetMsgRequest(*Request, url, host);
    Perform(error);
    if (Judge(error, 200, 200)) {
      // Taken over as it was read: a message of megabytes is neither
      // split into lines nor held twice.
      text = Response->TakeBodyText();
      if (text.empty()) error = "Empty message text";
    }
    return !error.empty();
  };
  WithRetries(attempts, error, attempt,
              [&]() { return "Failed to get email with:" + error + ". Retrying..."; });
}

void THttpMailSession::MarkMsgRead(const std::string &url, int attempts, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  const auto attempt = [&]() {
    FillMarkReadRequest(*Request, url);
    Perform(error);
    return !Judge(error, 200, 200);
  };
  WithRetries(attempts, error, attempt,
              [&]() { return "Failed to mark email read with:" + error + ". Retrying..."; });
}

void THttpMailSession::MoveMessage(const std::string &url, const std::string &targetFolderUrl,
                                   std::string &error, int tries) {
  TCriticalSectionGuard guard(FLock);
  const std::string fileName = LastUrlSegment(url);
  const auto attempt = [&]() {
    if (fileName.empty()) {
      error = "Asked to delete msg with bad url";
      return false;
    }
    FillMoveRequest(*Request, url, targetFolderUrl + fileName);
    Perform(error);
    return !Judge(error, 201, 201);
  };
  WithRetries(tries, error, attempt,
              [&]() { return "Failed to move email with:" + error + ". Retrying..."; });
}

void THttpMailSession::DeleteMsg(const std::string &url, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  error.clear();
  if (DeletedItemsUrl.empty()) {
    error = "Url of Trash unknown";
    return;
  }
  MoveMessage(url, DeletedItemsUrl, error, kInnerTries);
}

void THttpMailSession::DeleteMsg(const std::string &url) {
  std::string error;
  DeleteMsg(url, error);
}

// Every message is tried even after one fails; the caller still learns that
// something stayed behind, since a deletion reported as done while the
// message remains would bring it back on the next mail check unannounced.
void THttpMailSession::DeleteMsgs(const TStringList &urls, std::string &error) {
  TCriticalSectionGuard guard(FLock);
  error.clear();
  int failed = 0;
  std::string first;
  for (const std::string &url : urls) {
    std::string one;
    DeleteMsg(url, one);
    if (!one.empty() && failed++ == 0) first = one;
  }
  if (failed > 0)
    error = "Failed to delete " + std::to_string(failed) + " of " + std::to_string(urls.size()) +
            " messages: " + first;
}

// ---- sending ----------------------------------------------------------------

void THttpMailSession::SendMsg(const std::string &mailFrom, bool flag, std::string &error,
                               int attempts, const TStringList &lines,
                               const TStringList &recipients, bool saveInSent) {
  TCriticalSectionGuard guard(FLock);
  const auto attempt = [&]() {
    if (mailFrom.empty()) {
      error = "No MailFrom address given";
      return false;
    }
    if (recipients.empty()) {
      error = "No target addresses given";
      return false;
    }
    if (lines.empty()) {
      error = "Message text was empty";
      return false;
    }
    if (SendMsgUrl.empty()) {
      error = "Outbox url is unknown.";
      return false;
    }
    FillSendRequest(*Request, SendMsgUrl, flag, saveInSent, mailFrom, recipients, lines);
    Perform(error);
    int status = 0;
    const bool haveStatus = Response->GetStatusCode(status);
    if (!error.empty()) {
      if (haveStatus && status == 412) {
        error = "Sending limits imposed by " + GetServiceName() + " exceeded";
        return false;
      }
      error = "Request failed with:" + error;
    } else if (!haveStatus) {
      error = ExplainNoStatus(false);
    } else if (status == 412) {
      error = "Sending limits imposed by mail server have been exceeded.";
      return false;
    } else if (status < 200 || status > 299) {
      error = "Bad Response: " + Quoted((*Response)[0]);
    }
    return !error.empty();
  };
  WithRetries(attempts, error, attempt,
              [&]() { return "Failed to send email with:" + error + ". Retrying..."; });
}
