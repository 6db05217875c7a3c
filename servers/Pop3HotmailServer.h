#pragma once
// The local POP3 server: each connection serves a mail program's POP3
// conversation from a webmail session, and a per-account download record
// lets later connections leave out what was already handed on or deleted.
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "protocol/Pop3Command.h"
#include "servers/DownloadRecord.h"
#include "servers/QuorServer.h"
#include "sessions/BasicWebmail.h"

// Builds a session the connection owns itself, used when no OnNeedSession
// is assigned; empty means CreatePooledSession (a smart session).
using TPop3SessionFactory = std::function<std::unique_ptr<TBasicWebMailSession>()>;

class TPop3HotmailServer : public TQuorServer {
 public:
  TPop3HotmailServer();
  ~TPop3HotmailServer() override;

  bool UnreadOnly = true;   // list only what the service reports unread
  bool MarkRead = true;     // mark passed-on messages read when the connection ends
  bool GetBulkmail = true;  // also list the junk-mail folder
  bool NoDups = true;       // leave out what an earlier connection passed on
  TOnNeedSession OnNeedSession;
  TPop3SessionFactory SessionFactory;

  // The application's shutting-down flag: no notices while it is set.
  void SetTerminateFlag(const bool *flag) { FTerminateFlag = flag; }
  bool Terminating() const { return FTerminateFlag && *FTerminateFlag; }

  // The record file; empty (default) is the program folder's. Takes effect
  // before the record is first used.
  void SetDownloadRecordPath(const std::string &path);
  TDownloadRecord &DownloadRecord() { return *SharedDownloadRecord(); }
  // Shared with the connections: one still inside a webmail call when the
  // server goes away finishes its work on the record.
  std::shared_ptr<TDownloadRecord> SharedDownloadRecord();

  // The "your reader timed out" notice is shown once per run of the program.
  static bool TimeOutNoticeShown();
  static void ResetTimeOutNotice();

 protected:
  TQuorServerSpawnedSocket *CreateSpawnedSocket(std::unique_ptr<TByteTransport> transport) override;

 private:
  const bool *FTerminateFlag = nullptr;
  std::string FRecordPath;
  std::shared_ptr<TDownloadRecord> FRecord;
};

class TPop3HotmailServerSpawnedSocket : public TQuorServerSpawnedSocket {
 public:
  enum : uint8_t { ps_BeforeBanner = 0, ps_AwaitUser = 1, ps_AwaitPass = 2, ps_Transaction = 3 };

  TPop3HotmailServerSpawnedSocket(TPop3HotmailServer *server,
                                  std::unique_ptr<TByteTransport> transport);
  ~TPop3HotmailServerSpawnedSocket() override;

  void HandleLine(const std::string &line) override;
  bool AllowConnection() override;
  void BannerSent() override;
  void SignOff(const std::string &text) override;
  void BeforeDestroy() override;
  void LineTooLong() override;

  uint8_t State() const { return FState; }
  const std::string &UserId() const { return FUserId; }

 private:
  TPop3HotmailServer *Pop3Server() const;
  std::string ServiceName();
  void Dispatch(const TPop3Command &cmd);

  void DoUser(const std::string &arg);
  void DoPass(const std::string &arg);
  // False when no session could be had for the user id and password.
  bool TakeSession();
  // The service's error text, empty when logged on.
  std::string LogOnWithSession();
  void DoStat();
  void DoList(const std::string &arg);
  void DoUidl(const std::string &arg);
  void DoRetr(const std::string &arg);
  void DoTop(const std::string &arg);
  void DoDele(const std::string &arg);
  void DoRset();
  void DoUnknown(const std::string &line);

  // Lists the mailbox once per connection; false with Error on failure.
  bool LoadList(std::string &error);
  // 1-based message number in range, else 0.
  int MessageIndex(int n) const;
  bool MarkedDeleted(const std::string &uid) const { return FDeleted.count(uid) != 0; }
  bool FetchMessage(const TBasicMailMsgInfo &info, std::string &text);
  // The number of the message a RETR or DELE names (1-based), or 0 after
  // the error reply when the list cannot be had, there is no such message
  // or it is marked deleted; MissingLog is logged for a missing one.
  int NamedMessage(const std::string &command, const std::string &arg,
                   const std::string &missingLog);
  // True when everything handed to the socket can still reach the peer.
  bool StillConnected() const;
  std::string Section() const { return TDownloadRecord::SectionFor(FUserId); }
  // None only when the server went away before this connection first needed it.
  TDownloadRecord *Record();
  void RecordWrite(const std::string &uid, int value);
  // Puts back the record entries DELE changed in this connection.
  void RestoreDeletedEntries();
  void EndOfConnection();

  uint8_t FState = ps_BeforeBanner;
  bool FQuitReceived = false;
  bool FPop3Destroying = false;
  TBasicWebMailSession *FSession = nullptr;
  std::unique_ptr<TBasicWebMailSession> FOwnedSession;
  TBasicMailMsgInfoList FMsgList;
  bool FListed = false;
  int FLast = 0;
  // UIDLs compare exactly, as the message list does: two messages whose ids
  // differ only in case are two messages.
  std::set<std::string> FDeleted;
  std::set<std::string> FPassedOn;
  // Record value each DELE overwrote, so an undone deletion lists again.
  std::map<std::string, int> FDeletedBefore;
  bool FServiceUnreachable = false;
  bool FReachedTransaction = false;
  std::string FUserId;
  std::string FPassword;
  bool FUnreadOnly = true;
  bool FMarkRead = true;
  bool FGetBulkmail = true;
  bool FNoDups = true;
  std::shared_ptr<TDownloadRecord> FRecord;
};
