#pragma once
// The mailbox reached through HTTPMail, the service's WebDAV dialect. Every
// operation holds the session lock for its whole length (retries included),
// because the shared Request and Response are refilled by each exchange and
// the message loop keeps running while an exchange waits.
#include <functional>
#include <memory>
#include <string>

#include "http/HttpCookieList.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "sessions/BasicWebmail.h"
#include "sessions/HttpMailDirectory.h"

class THttpMailSession : public TBasicWebMailSession {
 public:
  THttpMailSession();
  ~THttpMailSession() override;

  void SetTerminateFlag(const bool *flag) override;
  const bool *GetTerminateFlag() override;
  void SetCancelFlag(const bool *flag) override;
  const bool *GetCancelFlag() override;
  std::string GetUserId() override;
  void SetUserId(const std::string &userId) override;
  std::string GetPassword() override;
  void SetPassword(const std::string &password) override;
  void DoLogon(const std::string &userId, const std::string &password, std::string &error) override;
  void GetInboxList(TBasicMailMsgInfoList &list, std::string &error) override;
  void GetJunkMailList(TBasicMailMsgInfoList &list, std::string &error) override;
  void GetMsg(const std::string &url, TStringList &lines, std::string &error,
              int attempts) override;
  void GetMsgText(const std::string &url, std::string &text, std::string &error,
                  int attempts) override;
  void MarkMsgRead(const std::string &url, int attempts, std::string &error) override;
  void DeleteMsgs(const TStringList &urls, std::string &error) override;
  void DeleteMsg(const std::string &url) override;
  bool CheckLoggedOn() override;
  void SendMsg(const std::string &mailFrom, bool flag, std::string &error, int attempts,
               const TStringList &lines, const TStringList &recipients, bool saveInSent) override;

  // Moves one message to the deleted items with 5 tries.
  void DeleteMsg(const std::string &url, std::string &error);
  void ListFolders(THttpMailDirectoryList &list, int tries, std::string &error);
  void ListMessages(const std::string &folderUrl, TBasicMailMsgInfoList &list, std::string &error,
                    int tries);
  void MoveMessage(const std::string &url, const std::string &targetFolderUrl, std::string &error,
                   int tries);
  // Reads the four folder URLs out of the logon answer held in Response.
  bool DiscoverFolders();

  bool LastLogonOk = false;
  std::unique_ptr<THttpCookieList> Cookies;
  std::unique_ptr<THttpResponse> Response;
  std::unique_ptr<THttpRequest> Request;
  std::string MsgFolderRootUrl;
  std::string InboxUrl;
  std::string DeletedItemsUrl;
  std::string SendMsgUrl;
  bool UseCookies = true;

 private:
  void LogonAttempts(const std::string &userId, const std::string &password, std::string &error);
  // Sends Request; Error gets the exchange's own failure text, if any.
  void Perform(std::string &error);
  // Why an exchange ended without a readable status code.
  std::string ExplainNoStatus(bool forLogon);
  // The common judgement of an answer: true when its status lies in
  // [Low, High]; otherwise Error says why.
  bool Judge(std::string &error, int low, int high);
  // "Retries exceeded" and the stop texts shared by every retried operation.
  bool MayTry(int tries, std::string &error);
  // Runs Attempt up to Tries times, each try first passing MayTry. Attempt
  // leaves its failure in Error and returns true when another try may help
  // (a refusal that a repeat cannot change returns false). Before each
  // repeat the line RetryNote words is logged; the last failure is kept.
  void WithRetries(int tries, std::string &error, const std::function<bool()> &attempt,
                   const std::function<std::string()> &retryNote);
};
