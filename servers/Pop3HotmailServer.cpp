#include "servers/Pop3HotmailServer.h"

#include <algorithm>
#include <exception>
#include <unordered_set>

#include "BuildConfig.h"
#include "http/Connectivity.h"
#include "log/Log.h"
#include "servers/GatewayLogon.h"
#include "sessions/Notifier.h"
#include "sessions/SessionFactory.h"

namespace {
// The gateway answers webmail round trips, which take far longer than a
// mail program's usual wait for a reply; three minutes keeps it patient.
constexpr int kPop3TimeOutMs = 180000;
// Retries handed to the session for one message fetch or read mark.
constexpr int kMsgAttempts = 5;

bool GTimeOutNoticeShown = false;

const char *const kLocalOnlyRefusal = "-ERR Sorry, only local connections allowed";
const char *const kTooManyRefusal = "-ERR : Maximum Connections exceeded. Please try again later.";
const char *const kTimeOutNotice =
    "Your email reader has timed out.\r\nTo avoid this problem please increase the server "
    "timeout in the account settings of your email reader.";

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }
}  // namespace

// ---------------------------------------------------------------------------
// Server

TPop3HotmailServer::TPop3HotmailServer() { SetTimeOut(kPop3TimeOutMs); }

TPop3HotmailServer::~TPop3HotmailServer() {
  // Connections use the record in their clean-up: close them while it exists.
  SetActive(false);
  DestroyAllConnections();
}

void TPop3HotmailServer::SetDownloadRecordPath(const std::string &path) {
  FRecordPath = path;
  FRecord.reset();
}

std::shared_ptr<TDownloadRecord> TPop3HotmailServer::SharedDownloadRecord() {
  if (!FRecord) FRecord = std::make_shared<TDownloadRecord>(FRecordPath);
  return FRecord;
}

bool TPop3HotmailServer::TimeOutNoticeShown() { return GTimeOutNoticeShown; }
void TPop3HotmailServer::ResetTimeOutNotice() { GTimeOutNoticeShown = false; }

TQuorServerSpawnedSocket *TPop3HotmailServer::CreateSpawnedSocket(
    std::unique_ptr<TByteTransport> transport) {
  return new TPop3HotmailServerSpawnedSocket(this, std::move(transport));
}

// ---------------------------------------------------------------------------
// Connection

TPop3HotmailServerSpawnedSocket::TPop3HotmailServerSpawnedSocket(
    TPop3HotmailServer *server, std::unique_ptr<TByteTransport> transport)
    : TQuorServerSpawnedSocket(server, std::move(transport)),
      FUnreadOnly(server->UnreadOnly),
      FMarkRead(server->MarkRead),
      FGetBulkmail(server->GetBulkmail),
      FNoDups(server->NoDups),
      FRecord(server->SharedDownloadRecord()) {
  if (ConnectionLimitExceeded()) SignOff(kTooManyRefusal);
}

TPop3HotmailServerSpawnedSocket::~TPop3HotmailServerSpawnedSocket() {
  // Normally done already, before the object was freed; this is the last
  // resort for a connection freed without it.
  try {
    EndOfConnection();
  } catch (...) {
    // Clean-up must not throw out of a destructor; what failed was logged.
  }
}

void TPop3HotmailServerSpawnedSocket::LineTooLong() {
  Log("Line longer than " + std::to_string(PendingLineLimit()) + " characters.  Connection closed.",
      kLogDetailSecurity, true);
  SignOff("-ERR Line too long");
}

void TPop3HotmailServerSpawnedSocket::BeforeDestroy() {
  // Marking read and deleting wait on the service; here, unlike in the
  // destructor, the object stays whole and counted while they do.
  EndOfConnection();
}

TPop3HotmailServer *TPop3HotmailServerSpawnedSocket::Pop3Server() const {
  return static_cast<TPop3HotmailServer *>(Server());
}

TDownloadRecord *TPop3HotmailServerSpawnedSocket::Record() {
  if (!FRecord && Pop3Server()) FRecord = Pop3Server()->SharedDownloadRecord();
  return FRecord.get();
}

std::string TPop3HotmailServerSpawnedSocket::ServiceName() {
  if (FSession) {
    try {
      return FSession->GetServiceName();
    } catch (...) {
    }
  }
  return ServiceNameForUserId(FUserId);
}

bool TPop3HotmailServerSpawnedSocket::AllowConnection() {
  return !RestrictToLocal() || CheckLocalOnly(kLocalOnlyRefusal);
}

void TPop3HotmailServerSpawnedSocket::BannerSent() { FState = ps_AwaitUser; }

void TPop3HotmailServerSpawnedSocket::SignOff(const std::string &text) {
  StopIdleTimer();
  if (!text.empty()) SendLine(text);
  try {
    CloseConnection();
  } catch (...) {
  }
  FState = ps_BeforeBanner;
}

void TPop3HotmailServerSpawnedSocket::HandleLine(const std::string &line) {
  // Nothing typed while the password is awaited reaches the log, nor a
  // password given out of turn.
  if (FState != ps_AwaitPass) {
    const std::string head = UpperCase(Trim(line).substr(0, 4));
    Log("Read: " + Quoted(head == "PASS" ? std::string("PASS ****") : line), kLogDetailClientLine,
        false);
  }
  Dispatch(ParsePop3Command(line));
}

void TPop3HotmailServerSpawnedSocket::Dispatch(const TPop3Command &cmd) {
  if (RestrictToLocal() && !CheckLocalOnly(kLocalOnlyRefusal)) return;
  if (FState == ps_BeforeBanner) {
    SendLine("-ERR Please wait for the welcome.");
    Log("Client spoke before welcome banner sent.", kLogDetailClientError, true);
    return;
  }
  if (cmd.Kind == pc_Quit) {
    Log("Received Request QUIT", kLogDetailStep, false);
    FQuitReceived = true;
    SignOff("+OK ");
    return;
  }
  if (FServiceUnreachable) {
    SendLine("-ERR Could not connect to " + ServiceName());
    return;
  }
  if (FState == ps_AwaitUser && cmd.Kind != pc_User) {
    Log("Wrong command Issued.  Expected \"USER\".", kLogDetailClientError, true);
    SendLine("-ERR Awaiting user identification. Use USER command");
    return;
  }
  if (FState == ps_AwaitPass && cmd.Kind != pc_Pass) {
    Log("Wrong command Issued.  Expected \"PASS\".", kLogDetailClientError, true);
    SendLine("-ERR Awaiting password. Use PASS command");
    return;
  }
  switch (cmd.Kind) {
    case pc_User:
      if (FState == ps_Transaction) {
        Log("Erroneously tried logging in again as " + cmd.Arg, kLogDetailClientError, true);
        SendLine("-ERR Already logged in");
      } else {
        DoUser(cmd.Arg);
      }
      break;
    case pc_Pass:
      if (FState == ps_Transaction) {
        Log("Gave PASS command while logged in", kLogDetailClientError, true);
        SendLine("-ERR Already logged in");
      } else {
        DoPass(cmd.Arg);
      }
      break;
    case pc_Apop:
      Log("APOP login attempted", kLogDetailClientError, true);
      SendLine("-ERR Sorry, APOP is not allowed on this server");
      break;
    case pc_Auth:
      Log("AUTH login attempted", kLogDetailClientError, true);
      SendLine("-ERR Sorry, AUTH is not allowed on this server");
      break;
    case pc_Noop:
      Log("Received NOOP Request", kLogDetailRoutine, false);
      SendLine("+OK");
      break;
    case pc_Last:
      Log("Received LAST Request", kLogDetailRoutine, false);
      SendLine("+OK " + std::to_string(FLast));
      break;
    case pc_Rset:
      DoRset();
      break;
    case pc_Stat:
      DoStat();
      break;
    case pc_List:
      DoList(cmd.Arg);
      break;
    case pc_Uidl:
      DoUidl(cmd.Arg);
      break;
    case pc_Retr:
      DoRetr(cmd.Arg);
      break;
    case pc_Top:
      DoTop(cmd.Arg);
      break;
    case pc_Dele:
      DoDele(cmd.Arg);
      break;
    case pc_Quit:
    case pc_Unknown:
      DoUnknown(cmd.Arg);
      break;
  }
}

void TPop3HotmailServerSpawnedSocket::DoUnknown(const std::string &line) {
  if (line.empty()) {
    Log("Blank command Received", kLogDetailClientError, true);
    SendLine("-ERR Empty string sent.");
  } else {
    Log("Unknown command Received: " + Quoted(line), kLogDetailClientError, true);
    SendLine("-ERR Eh?? Command " + Quoted(line) + " not understood");
  }
}

void TPop3HotmailServerSpawnedSocket::DoUser(const std::string &given) {
  Log("User " + Quoted(given) + " given", kLogDetailRoutine, false);
  FState = ps_AwaitPass;
  // Some mail programs cannot take "@" in a user name; "#" stands in for it.
  std::string arg = ReplaceAll(given, "#", "@");
  FUserId = arg;
  if (arg.find('@') != std::string::npos) {
    SendLine("+OK Always happy to see " + arg);
  } else {
    FUserId = arg + "@" + BRELVANE_DEFAULT_MAIL_DOMAIN;
    SendLine("+OK Always happy to see " + arg + " Note: no domain supplied. " + Quoted(FUserId) +
             " assumed.");
  }
}

bool TPop3HotmailServerSpawnedSocket::TakeSession() {
  TPop3HotmailServer *server = Pop3Server();
  if (server && server->OnNeedSession) {
    TBasicWebMailSession *supplied = nullptr;
    try {
      supplied = server->OnNeedSession(FUserId, FPassword);
    } catch (const std::exception &e) {
      Log(std::string("No session: ") + e.what(), kLogDetailConnection, true);
    }
    if (!supplied) return false;
    FSession = supplied;
  } else {
    // Without a provider the connection makes its own session, of the kind
    // the pool hands out.
    if (!FOwnedSession) {
      try {
        FOwnedSession =
            server && server->SessionFactory ? server->SessionFactory() : CreatePooledSession();
      } catch (const std::exception &e) {
        Log(std::string("No session: ") + e.what(), kLogDetailConnection, true);
      }
    }
    if (!FOwnedSession) return false;
    FSession = FOwnedSession.get();
    FSession->SetOnLog(
        [this](const std::string &text, uint8_t detail, bool error) { Log(text, detail, error); });
  }
  return true;
}

std::string TPop3HotmailServerSpawnedSocket::LogOnWithSession() {
  Log("Logging on to " + ServiceName() + " server...", kLogDetailStep, false);
  std::string error;
  try {
    FSession->Logon(FUserId, FPassword, error);
  } catch (const std::exception &e) {
    error = e.what();
    if (error.empty()) error = "Log-on failed";
  } catch (...) {
    error = "Log-on failed";
  }
  return error;
}

void TPop3HotmailServerSpawnedSocket::DoPass(const std::string &arg) {
  FPassword = arg;
  Log("Received Request PASS", kLogDetailStep, false);
  if (!TakeSession()) {
    SendLine("-ERR userid and password required");
    return;
  }
  std::string error = LogOnWithSession();
  std::string svc = ServiceName();
  // A supplied session whose log-on failed goes back to its supplier at
  // once, who may lend it to another connection: this one must not touch it
  // again (its clean-up would log that connection off).
  if (!error.empty() && !FOwnedSession) {
    std::unique_ptr<TBasicWebMailSession> none;
    ReleaseBorrowedSession(FSession, none);
  }

  const TLogonFailure failure = ClassifyLogonError(error, true);
  if (failure == lf_None) {
    Log("Successfully logged on to " + svc + " server", kLogDetailStep, false);
    FState = ps_Transaction;
    FReachedTransaction = true;
    SendLine("+OK Logged in to " + svc);
    return;
  }
  if (failure == lf_Unreachable) {
    // Set before the probe: a line read while it runs already sees the
    // temporary failure.
    FServiceUnreachable = true;
    FState = ps_Transaction;
    FReachedTransaction = true;
  }
  static const TGatewayLogonTexts kPop3Texts{"-ERR ", "+OK ", true, "Requested payment"};
  const std::string reply = LogonFailureReply(
      failure, error, svc, FUserId, kPop3Texts,
      [this](const std::string &text, uint8_t detail, bool isError) { Log(text, detail, isError); },
      [] { return CheckConnectivity(); });
  if (IsLogonRejection(failure)) {
    FServiceUnreachable = false;
    if (failure == lf_PaymentRequired)
      NotifyUser("Brelvane", svc + " requested payment with:" + error);
    FState = ps_AwaitUser;
  }
  SendLine(reply);
}

bool TPop3HotmailServerSpawnedSocket::LoadList(std::string &error) {
  error.clear();
  if (FListed) return true;
  if (!FSession) {
    error = "No session";
    return false;
  }
  bool junkFailed = false;
  try {
    // A failed attempt may have left part of a listing behind.
    FMsgList.Clear();
    FSession->GetInboxList(FMsgList, error);
    if (FGetBulkmail) {
      std::string junkError;
      FSession->GetJunkMailList(FMsgList, junkError);
      if (!junkError.empty()) {
        junkFailed = true;
        Log("Error reading Junk Mail box " + junkError, kLogDetailConnection, true);
      }
    }
  } catch (const std::exception &e) {
    error = e.what();
    if (error.empty()) error = "Listing failed";
  } catch (...) {
    error = "Listing failed";
  }
  if (!error.empty()) return false;
  FListed = true;

  if (TPop3HotmailServer *server = Pop3Server()) FNoDups = server->NoDups;
  TDownloadRecord *record = Record();
  if (!record) return true;
  const std::string section = Section();
  // Without the junk folder's listing its messages would look gone, and
  // forgetting them would hand them on again as new: keep the record as it
  // is until a complete listing comes back. A listing that names nothing is
  // no proof either (a service answer without entries looks just like it),
  // and what an empty mailbox leaves in the record does no harm.
  if (!junkFailed && FMsgList.Count() > 0) {
    std::unordered_set<std::string> listed;
    listed.reserve(static_cast<size_t>(FMsgList.Count()));
    for (int i = 0; i < FMsgList.Count(); ++i) listed.insert(FMsgList.Items(i)->Uidl);
    if (record->DeleteEntriesNotIn(section, listed) < 0)
      Log("Download record: " + record->LastError(), kLogDetailConnection, true);
  }
  auto entries = record->ReadSection(section);
  const bool noDups = FNoDups;
  for (int i = FMsgList.Count() - 1; i >= 0; --i) {
    TBasicMailMsgInfo *info = FMsgList.Items(i);
    auto it = entries.find(info->Uidl);
    int value = it == entries.end() ? TDownloadRecord::rv_None : it->second;
    bool drop = value == TDownloadRecord::rv_Deleted || (FUnreadOnly && info->IsRead) ||
                (noDups && value == TDownloadRecord::rv_PassedOn);
    if (drop) FMsgList.Delete(i);
  }
  return true;
}

int TPop3HotmailServerSpawnedSocket::MessageIndex(int n) const {
  return n >= 1 && n <= FMsgList.Count() ? n : 0;
}

bool TPop3HotmailServerSpawnedSocket::StillConnected() const {
  return !Closing() && !CloseRequested() && Connected();
}

void TPop3HotmailServerSpawnedSocket::RecordWrite(const std::string &uid, int value) {
  TDownloadRecord *record = Record();
  if (record && !record->WriteEntry(Section(), uid, value))
    Log("Download record: " + record->LastError(), kLogDetailConnection, true);
}

void TPop3HotmailServerSpawnedSocket::DoStat() {
  Log("Received STAT Request", kLogDetailRoutine, false);
  std::string error;
  if (!LoadList(error)) {
    SendLine("-ERR Stat failed with: " + error);
    return;
  }
  int64_t count = 0, total = 0;
  for (int i = 0; i < FMsgList.Count(); ++i) {
    const TBasicMailMsgInfo *info = FMsgList.Items(i);
    if (MarkedDeleted(info->Uidl)) continue;
    ++count;
    total += info->Size;
  }
  SendLine("+OK " + std::to_string(count) + " " + std::to_string(total) + " Stat");
}

void TPop3HotmailServerSpawnedSocket::DoList(const std::string &arg) {
  Log("Received LIST Request with " + Quoted(arg), kLogDetailRoutine, false);
  std::string error;
  if (!LoadList(error)) {
    SendLine("-ERR LIST failed with: " + error);
    return;
  }
  if (arg.empty()) {
    SendLine("+OK");
    for (int i = 0; i < FMsgList.Count(); ++i) {
      const TBasicMailMsgInfo *info = FMsgList.Items(i);
      if (!MarkedDeleted(info->Uidl))
        SendLine(std::to_string(i + 1) + " " + std::to_string(info->Size));
    }
    SendLine(".");
    return;
  }
  int n = MessageIndex(Pop3MessageNumber(arg));
  if (n == 0) {
    SendLine("-ERR No such Message " + Quoted(arg));
    return;
  }
  const TBasicMailMsgInfo *info = FMsgList.Items(n - 1);
  if (MarkedDeleted(info->Uidl))
    SendLine("-ERR Message " + Quoted(arg) + " has been marked deleted.");
  else
    SendLine("+OK " + arg + " " + std::to_string(info->Size));
}

void TPop3HotmailServerSpawnedSocket::DoUidl(const std::string &arg) {
  Log("Received UIDL Request with " + Quoted(arg), kLogDetailRoutine, false);
  std::string error;
  if (!LoadList(error)) {
    SendLine("-ERR UIDL failed with: " + error);
    return;
  }
  if (arg.empty()) {
    SendLine("+OK Unique-id listing follows.");
    for (int i = 0; i < FMsgList.Count(); ++i) {
      const TBasicMailMsgInfo *info = FMsgList.Items(i);
      if (!MarkedDeleted(info->Uidl)) SendLine(std::to_string(i + 1) + " " + info->Uidl);
    }
    SendLine(".");
    return;
  }
  // Only text that is no number at all asks for one; a negative number is
  // simply no message.
  int number = 0;
  if (!TryStrToInt(arg, number)) {
    SendLine("-ERR A message number is required. " + Quoted(arg));
    return;
  }
  int n = MessageIndex(number);
  if (n == 0) {
    SendLine("-ERR No such Message " + Quoted(arg));
    return;
  }
  const TBasicMailMsgInfo *info = FMsgList.Items(n - 1);
  if (MarkedDeleted(info->Uidl))
    SendLine("-ERR Message " + Quoted(arg) + " has been marked deleted.");
  else
    SendLine("+OK " + arg + " " + info->Uidl);
}

bool TPop3HotmailServerSpawnedSocket::FetchMessage(const TBasicMailMsgInfo &info,
                                                   std::string &text) {
  std::string error;
  try {
    FSession->GetMsgText(info.Url, text, error, kMsgAttempts);
  } catch (const std::exception &e) {
    error = e.what();
    if (error.empty()) error = "Retrieval failed";
  } catch (...) {
    error = "Retrieval failed";
  }
  if (error.empty()) return true;
  Log("Failed to retrieve msg with " + Quoted(error), kLogDetailClientError, true);
  SendLine("-ERR Failed to retrieve msg with " + Quoted(error));
  return false;
}

int TPop3HotmailServerSpawnedSocket::NamedMessage(const std::string &command,
                                                  const std::string &arg,
                                                  const std::string &missingLog) {
  std::string error;
  if (!LoadList(error)) {
    SendLine("-ERR " + command + " failed with: " + error);
    return 0;
  }
  const int n = MessageIndex(Pop3MessageNumber(arg));
  if (n == 0) {
    Log(missingLog, kLogDetailClientError, true);
    SendLine("-ERR No such Message " + Quoted(arg));
    return 0;
  }
  if (MarkedDeleted(FMsgList.Items(n - 1)->Uidl)) {
    SendLine("-ERR Message " + Quoted(arg) + " has already been marked deleted.");
    return 0;
  }
  return n;
}

void TPop3HotmailServerSpawnedSocket::DoRetr(const std::string &arg) {
  const int n =
      NamedMessage("RETR", arg, "Received RETR Request with " + Quoted(arg) + " No such Message");
  if (n == 0) return;
  // Copied: a second connection may run while this one waits in GetMsg, but
  // the list belongs to this connection, so the entry stays put.
  const TBasicMailMsgInfo *info = FMsgList.Items(n - 1);
  const std::string uid = info->Uidl;
  Log("Received RETR Request with " + Quoted(arg) + " Getting msg. Uidl=" + uid, kLogDetailStep,
      false);
  std::string text;
  if (!FetchMessage(*info, text)) return;
  bool sent = SendReplyAndText("+OK ", text, true);
  std::string().swap(text);
  // A peer that went away during the transfer did not get the message: it
  // must not count as passed on, or it would be marked read and hidden.
  if (!sent || !StillConnected()) {
    Log("Inexplicably failed to passed on message body", kLogDetailRefusal, true);
    CloseConnection();
  } else {
    Log("Successfully passed on message with UIDL = " + uid, kLogDetailStep, false);
    // A message this connection has already passed on was recorded then
    // (or found recorded); asking the record again on every repeat would
    // only cost a query per RETR.
    TDownloadRecord *record = Record();
    if (record && FPassedOn.count(uid) == 0 &&
        record->ReadEntry(Section(), uid) == TDownloadRecord::rv_None)
      RecordWrite(uid, TDownloadRecord::rv_PassedOn);
    FPassedOn.insert(uid);
  }
  FLast = std::max(FLast, n);
}

void TPop3HotmailServerSpawnedSocket::DoTop(const std::string &arg) {
  Log("Received TOP Request with " + Quoted(arg), kLogDetailRoutine, false);
  int n = -1, k = -1;
  ParseTopArguments(arg, n, k);
  if (n < 1 || k < 0) {
    SendLine("-ERR bad arguments to TOP command " + Quoted(arg) +
             " Should be TOP Message# LineCount");
    return;
  }
  std::string error;
  if (!LoadList(error)) {
    SendLine("-ERR TOP failed with: " + error);
    return;
  }
  if (MessageIndex(n) == 0) {
    SendLine("-ERR No such Message " + Quoted(std::to_string(n)));
    return;
  }
  const TBasicMailMsgInfo *info = FMsgList.Items(n - 1);
  const std::string uid = info->Uidl;
  if (MarkedDeleted(uid)) {
    SendLine("-ERR Message " + Quoted(arg) + " has been marked deleted.");
    return;
  }
  std::string text;
  if (!FetchMessage(*info, text)) return;
  if (SendReplyAndText("+OK", TopOfText(text, k), true) && StillConnected()) {
    Log("Successfully sent TOP for message UIDL = " + uid, kLogDetailStep, false);
  } else {
    Log("Inexplicably failed to send message TOP", kLogDetailRefusal, true);
    CloseConnection();
  }
  FLast = std::max(FLast, n);
}

void TPop3HotmailServerSpawnedSocket::DoDele(const std::string &arg) {
  const int n = NamedMessage("DELE", arg,
                             "Received DELE Request with " + Quoted(arg) + " - no such message");
  if (n == 0) return;
  const std::string uid = FMsgList.Items(n - 1)->Uidl;
  FDeleted.insert(uid);
  if (TDownloadRecord *record = Record()) {
    FDeletedBefore.emplace(uid, record->ReadEntry(Section(), uid));
    RecordWrite(uid, TDownloadRecord::rv_Deleted);
  }
  FLast = std::max(FLast, n);
  Log("Flagging msg deleted. Uidl=" + uid, kLogDetailStep, false);
  SendLine("+OK Message " + arg + " marked deleted");
}

void TPop3HotmailServerSpawnedSocket::RestoreDeletedEntries() {
  TDownloadRecord *record = Record();
  if (FDeletedBefore.empty() || !record) return;
  for (const auto &[uid, before] : FDeletedBefore) {
    bool ok = before == TDownloadRecord::rv_None ? record->DeleteEntry(Section(), uid)
                                                 : record->WriteEntry(Section(), uid, before);
    if (!ok) Log("Download record: " + record->LastError(), kLogDetailConnection, true);
  }
  FDeletedBefore.clear();
}

void TPop3HotmailServerSpawnedSocket::DoRset() {
  Log("Received RSET Request", kLogDetailStep, false);
  // An undone deletion must be listed again by the next connection.
  RestoreDeletedEntries();
  FPassedOn.clear();
  FDeleted.clear();
  FLast = 0;
  SendLine("+OK");
}

void TPop3HotmailServerSpawnedSocket::EndOfConnection() {
  if (FPop3Destroying) return;
  FPop3Destroying = true;
  // Buffered input was already handed on when the disconnect was seen.

  if (FMarkRead) {
    const std::string count = std::to_string(FPassedOn.size());
    Log(FQuitReceived ? "Marking " + count + " messages read."
                      : "Line dropped, marking " + count + " messages read.",
        kLogDetailMarkRead, false);
    for (const std::string &uid : FPassedOn) {
      int i = FMsgList.IndexOfUidl(uid);
      if (i < 0 || !FSession) continue;
      const std::string url = FMsgList.Items(i)->Url;
      std::string error;
      try {
        FSession->MarkMsgRead(url, kMsgAttempts, error);
      } catch (const std::exception &e) {
        error = e.what();
        if (error.empty()) error = "failed";
      }
      if (!error.empty())
        Log("Failed to mark message read. URL = " + url, kLogDetailMarkRead, true);
    }
  }

  if (FQuitReceived) {
    if (FSession) {
      TStringList urls;
      for (const std::string &uid : FDeleted) {
        int i = FMsgList.IndexOfUidl(uid);
        if (i >= 0) urls.push_back(FMsgList.Items(i)->Url);
      }
      if (!urls.empty()) {
        std::string error;
        try {
          FSession->DeleteMsgs(urls, error);
        } catch (const std::exception &e) {
          error = e.what();
          if (error.empty()) error = "failed";
        }
        if (!error.empty()) Log("Error deleteing messages: " + error, kLogDetailConnection, true);
      }
    }
  } else {
    if (!FDeleted.empty() || !FPassedOn.empty())
      Log("Line dropped prematurely (QUIT command not issued).  Rolling back all transactions",
          kLogDetailRefusal, true);
    RestoreDeletedEntries();
    TPop3HotmailServer *server = Pop3Server();
    bool terminating = (server && server->Terminating()) || (FSession && FSession->Terminating());
    if (FReachedTransaction && !IsTimedOut() && !terminating && !GTimeOutNoticeShown) {
      GTimeOutNoticeShown = true;
      NotifyUser("Brelvane", kTimeOutNotice);
    }
  }

  ReleaseBorrowedSession(FSession, FOwnedSession);
  FMsgList.Clear();
  FDeleted.clear();
  FPassedOn.clear();
}
