#pragma once
// An in-memory webmail account behind the mailbox interface, for driving the
// gateway servers without a service. Every operation can be made to fail
// with a chosen error text and to take a while; the wait pumps the event
// loop the way a network wait does, so other connections run meanwhile.
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "sessions/BasicWebmail.h"

struct TTestMessage {
  std::string Uidl;
  TStringList Lines;  // RFC 822 text, no line ends, no stuffing
  // When not empty, the message as the service sends it whole, with the
  // line ends it happens to use; GetMsg hands over its SplitLines.
  std::string Text;
  bool IsRead = false;
  bool InJunk = false;
  // Reported size; kComputeSize gives the wire size of Lines.
  static constexpr int64_t kComputeSize = -2;
  int64_t Size = kComputeSize;
};

struct TSendMsgCall {
  std::string MailFrom;
  bool Flag = false;
  int Attempts = 0;
  TStringList Lines;
  TStringList Recipients;
  bool SaveInSent = false;
};

class TTestMailbox : public TBasicWebMailSession {
 public:
  enum TOperation {
    op_Logon,
    op_Inbox,
    op_Junk,
    op_GetMsg,
    op_MarkRead,
    op_Delete,
    op_Send,
    op_Count
  };

  TTestMailbox() = default;

  // Returns the message's Url.
  std::string AddMessage(const std::string &uidl, const TStringList &lines, bool isRead = false,
                         int64_t size = TTestMessage::kComputeSize, bool inJunk = false);
  // A message held as one text; returns its Url.
  std::string AddMessageText(const std::string &uidl, const std::string &text);
  static std::string UrlFor(const std::string &uidl) { return "test-msg:" + uidl; }
  static int64_t WireSize(const TStringList &lines);

  // Failure injection: a non-empty text makes the operation fail with it.
  // FailCount limits how many calls fail (-1: every call).
  void SetFailure(TOperation op, const std::string &error, int failCount = -1);
  void SetDelay(TOperation op, std::chrono::milliseconds delay) { FDelay[op] = delay; }
  // Logon checks the password when one is set ("401 ..." on a mismatch).
  void SetExpectedPassword(const std::string &password) { FExpectedPassword = password; }
  // Listings come back empty without an error, as a service's answer that
  // names no message does.
  bool ListNothing = false;

  // What the callers did.
  int Calls(TOperation op) const { return FCalls[op]; }
  const std::vector<TStringList> &DeleteCalls() const { return FDeleteCalls; }
  const TStringList &MarkedRead() const { return FMarkedRead; }
  const std::vector<TSendMsgCall> &SendCalls() const { return FSendCalls; }
  const std::vector<int> &GetMsgAttempts() const { return FGetMsgAttempts; }
  const std::map<std::string, TTestMessage> &Messages() const { return FMessages; }
  bool HasMessage(const std::string &uidl) const { return FMessages.count(uidl) != 0; }
  // Deepest nesting of operations seen: above 1 means a second caller got in
  // while the first waited.
  int MaxNesting() const { return FMaxNesting; }

  std::string GetUserId() override { return FUserId; }
  void SetUserId(const std::string &userId) override { FUserId = userId; }
  std::string GetPassword() override { return FPassword; }
  void SetPassword(const std::string &password) override { FPassword = password; }
  void DoLogon(const std::string &userId, const std::string &password, std::string &error) override;
  void GetInboxList(TBasicMailMsgInfoList &list, std::string &error) override;
  void GetJunkMailList(TBasicMailMsgInfoList &list, std::string &error) override;
  void GetMsg(const std::string &url, TStringList &lines, std::string &error,
              int attempts) override;
  void GetMsgText(const std::string &url, std::string &text, std::string &error,
                  int attempts) override;
  void MarkMsgRead(const std::string &url, int attempts, std::string &error) override;
  void DeleteMsgs(const TStringList &urls, std::string &error) override;
  bool CheckLoggedOn() override { return FLoggedOn; }
  void SendMsg(const std::string &mailFrom, bool flag, std::string &error, int attempts,
               const TStringList &lines, const TStringList &recipients, bool saveInSent) override;

 private:
  // Counts the call, waits its delay and gives the injected failure, if any.
  bool Begin(TOperation op, std::string &error);
  void End() { --FNesting; }
  void List(bool junk, TBasicMailMsgInfoList &list);
  const TTestMessage *FindByUrl(const std::string &url) const;

  std::map<std::string, TTestMessage> FMessages;
  std::vector<std::string> FOrder;  // listing order = insertion order
  std::string FUserId, FPassword, FExpectedPassword;
  std::string FFailure[op_Count];
  int FFailCount[op_Count] = {};
  std::chrono::milliseconds FDelay[op_Count] = {};
  int FCalls[op_Count] = {};
  int FNesting = 0;
  int FMaxNesting = 0;
  std::vector<TStringList> FDeleteCalls;
  TStringList FMarkedRead;
  std::vector<TSendMsgCall> FSendCalls;
  std::vector<int> FGetMsgAttempts;
};
