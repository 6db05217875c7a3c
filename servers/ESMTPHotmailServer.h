#pragma once
// The local SMTP server: each connection takes a message from the user's
// mail program and hands it, unchanged, to a webmail session's SendMsg.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocol/ESMTPCommand.h"
#include "servers/QuorServer.h"
#include "sessions/BasicWebmail.h"

// Builds a session the connection owns, used when no OnNeedSession is assigned.
using TESMTPSessionFactory = std::function<std::unique_ptr<TBasicWebMailSession>()>;

class TESMTPHotmailServer : public TQuorServer {
 public:
  TESMTPHotmailServer();
  ~TESMTPHotmailServer() override;

  TOnNeedSession OnNeedSession;
  // Default: the session kind the application gives every new account.
  TESMTPSessionFactory SessionFactory;
  bool SaveInSent = true;  // ask the service to keep a copy of each sent message
  // Largest message text taken (bytes without line ends); a larger one is
  // refused with 552. Webmail services of this kind take about 10 MB per
  // message; 32 MB is safely above that and still far from exhausting memory.
  int64_t MaxMessageBytes = 32 * 1024 * 1024;

 protected:
  TQuorServerSpawnedSocket *CreateSpawnedSocket(std::unique_ptr<TByteTransport> transport) override;
};

class TESMTPHotmailServerSpawnedSocket : public TQuorServerSpawnedSocket {
 public:
  TESMTPHotmailServerSpawnedSocket(TESMTPHotmailServer *server,
                                   std::unique_ptr<TByteTransport> transport);
  ~TESMTPHotmailServerSpawnedSocket() override;

  void HandleLine(const std::string &line) override;
  bool AllowConnection() override;
  void BannerSent() override;
  void SignOff(const std::string &text) override;
  size_t PendingLineLimit() const override;
  void LineTooLong() override;

  uint8_t State() const { return FState; }
  const std::string &UserId() const { return FUserId; }
  const std::string &MailFrom() const { return FMailFrom; }
  const TStringList &Recipients() const { return FRecipients; }
  const TStringList &MessageLines() const { return FMessageLines; }
  bool HasSession() const { return FSession != nullptr; }

 private:
  void Dispatch(TESMTPCommand command, const std::string &arg, const std::string &line);
  void DoHelo(const std::string &arg);
  void DoEhlo(const std::string &arg);
  void DoAuthLogin(const std::string &arg);
  void DoUserName(const std::string &line);
  void DoPassword(const std::string &line);
  void DoMailFrom(const std::string &arg);
  void DoRcptTo(const std::string &arg);
  void DoData();
  void DoTextLine(const std::string &line);
  void DoEndOfText();
  void DoRset();
  void DoHelp();
  // Empty on success, else the reply line for the client.
  std::string LogOn();
  // Empty when a session was had, else the reply line for the client.
  std::string TakeSession();
  void LetGoOfSession();
  std::string ServiceName();

  uint8_t FState = ss_BeforeBanner;
  TStringList FMessageLines;
  TBasicWebMailSession *FSession = nullptr;
  std::unique_ptr<TBasicWebMailSession> FOwnedSession;
  int FBadCommands = 0;
  int64_t FTotal = 0;
  int64_t FMaxMessageBytes = 0;
  bool FTooBig = false;  // the text passed the limit: read to its end, then refused
  std::string FUserId;
  std::string FPassword;
  std::string FMailFrom;
  TStringList FRecipients;
  bool FSaveInSent = true;
};
