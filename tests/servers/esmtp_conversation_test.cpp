// The SMTP gateway's command handling, as scripted conversations with a
// real connection object over an in-memory stream. The refusals of other
// machines and the real mail programs are in esmtp_server_test.cpp, on
// loopback sockets.
#include <gtest/gtest.h>

#include <QTcpServer>

#include "http/Connectivity.h"
#include "servers/ESMTPHotmailServer.h"
#include "support/LoopbackClient.h"
#include "support/ScriptedConversation.h"
#include "support/EsmtpGatewayFixture.h"
#include "support/ServerTestKit.h"
#include "support/TestMailbox.h"

namespace {

class EsmtpConversation : public TEsmtpGatewayFixture {
 protected:
  // Never listening: every connection comes in through Adopt.
  void SetUp() override { StartGateway(false); }

  // With ReadBanner, past the greeting; without, before the first tick.
  std::unique_ptr<TScriptedConversation> Connect(bool readBanner = true) {
    auto c = std::make_unique<TScriptedConversation>(*FServer, readBanner);
    if (readBanner) {
      EXPECT_TRUE(c->Run({ServerAnswers(kBanner)}));
    }
    return c;
  }
  // Sends Request (CR LF added) and returns the reply lines up to the last one.
  static TStringList Say(TScriptedConversation &c, const std::string &request) {
    return SmtpReply(c, request);
  }
  static std::string Say1(TScriptedConversation &c, const std::string &request) {
    return SmtpLastLine(c, request);
  }
};

TEST_F(EsmtpConversation, AuthenticatedConversationSendsTwoMessagesWithOneLogOn) {
  auto c = Connect();
  EXPECT_EQ(Say(*c, "EHLO client.example"),
            (TStringList{"250-MirandelSMTP Hello [127.0.0.1]", "250-HELP", "250-AUTH LOGIN",
                         "250 AUTH=LOGIN"}));
  EXPECT_EQ(Say1(*c, "AUTH LOGIN"), "334 VXNlcm5hbWU6");
  EXPECT_EQ(Say1(*c, "am9lQGhvdG1haWwuY29t"), "334 UGFzc3dvcmQ6");  // joe@hotmail.com
  EXPECT_EQ(Say1(*c, "c2VjcmV0"), "235 LOGIN authentication successful");
  EXPECT_EQ(FNeedSessionCalls, (TStringList{"joe@hotmail.com/secret"}));

  EXPECT_EQ(Say1(*c, "MAIL FROM:<joe@hotmail.com>"), "250 OK - mail from \"<joe@hotmail.com>\"");
  EXPECT_EQ(Say1(*c, "RCPT TO:<a@example.org>"), "250 OK - Rcpt To \"<a@example.org>\"");
  EXPECT_EQ(Say1(*c, "rcpt to: <b@example.org> "), "250 OK - Rcpt To \"<b@example.org>\"");
  EXPECT_EQ(Say1(*c, "DATA"), "354 OK - Waiting for message text");
  EXPECT_EQ(Say1(*c, "Subject: hi\r\n\r\n..\r\n.x\r\n  indented \r\n."),
            "250 OK - message Received and Sent through joe@hotmail.com");
  ASSERT_EQ(FMailbox.SendCalls().size(), 1u);
  const TSendMsgCall &sent = FMailbox.SendCalls()[0];
  EXPECT_EQ(sent.MailFrom, "<joe@hotmail.com>");
  EXPECT_EQ(sent.Lines, (TStringList{"Subject: hi", "", ".", "x", "  indented "}));
  EXPECT_EQ(sent.Recipients, (TStringList{"<a@example.org>", "<b@example.org>"}));
  EXPECT_FALSE(sent.Flag);
  EXPECT_EQ(sent.Attempts, 3);
  EXPECT_TRUE(sent.SaveInSent);
  EXPECT_TRUE(LogHas("Received message text 24 bytes."));

  EXPECT_EQ(Say1(*c, "MAIL FROM:<joe@hotmail.com>"), "250 OK - mail from \"<joe@hotmail.com>\"");
  EXPECT_EQ(Say1(*c, "RCPT TO:<c@example.org>"), "250 OK - Rcpt To \"<c@example.org>\"");
  EXPECT_EQ(Say1(*c, "DATA"), "354 OK - Waiting for message text");
  EXPECT_EQ(Say1(*c, "second\r\n."), "250 OK - message Received and Sent through joe@hotmail.com");
  ASSERT_EQ(FMailbox.SendCalls().size(), 2u);
  EXPECT_EQ(FMailbox.SendCalls()[1].Recipients, (TStringList{"<c@example.org>"}));
  EXPECT_EQ(FMailbox.Calls(TTestMailbox::op_Logon), 1);

  EXPECT_EQ(Say1(*c, "QUIT"), "221 OK Dropping line. Mirandel ESMTP server signing off");
  EXPECT_TRUE(c->WaitClosed());
  ASSERT_TRUE(PumpUntil([&] { return FServer->ActiveConnections() == 0; }, 5000));
  EXPECT_FALSE(FMailbox.LoggedOn());  // released with Logoff
  // The password line never reaches the log; the user line does.
  EXPECT_FALSE(LogHas("c2VjcmV0"));
  EXPECT_TRUE(
      LogHas("Received Auth User id with \"am9lQGhvdG1haWwuY29t\" decodes as joe@hotmail.com"));
}

// A user name is the client's own text, decoded from base64, so it may hold
// line breaks; echoed in a reply it must never end that reply early or make
// a second one (a client reading replies would take the rest as the answer
// to its next command).
TEST_F(EsmtpConversation, ALineBreakInTheUserNameStaysInsideItsReply) {
  auto c = Connect();
  Say(*c, "EHLO client.example");
  EXPECT_EQ(Say1(*c, "AUTH LOGIN"), "334 VXNlcm5hbWU6");
  EXPECT_EQ(Say1(*c, "YQ1iCmNAaG90bWFpbC5jb20="), "334 UGFzc3dvcmQ6");  // a CR b LF c@hotmail.com
  EXPECT_EQ(Say1(*c, "c2VjcmV0"), "235 LOGIN authentication successful");
  EXPECT_EQ(Say1(*c, "MAIL FROM:<joe@hotmail.com>"), "250 OK - mail from \"<joe@hotmail.com>\"");
  EXPECT_EQ(Say1(*c, "RCPT TO:<a@example.org>"), "250 OK - Rcpt To \"<a@example.org>\"");
  EXPECT_EQ(Say1(*c, "DATA"), "354 OK - Waiting for message text");
  EXPECT_EQ(Say1(*c, "text\r\n."), "250 OK - message Received and Sent through a b c@hotmail.com");
  EXPECT_EQ(c->Unread(), "");
}

TEST_F(EsmtpConversation, CommandsOutOfTurnAndUnknownOnesGetTheirReplies) {
  auto early = Connect(false);
  EXPECT_EQ(Say1(*early, "HELO x"), "301 Please wait for the greeting.");
  early->Tick();  // the greeting comes with the first tick
  std::string line;
  ASSERT_TRUE(early->ReadLine(line));
  EXPECT_EQ(line, kBanner);

  EXPECT_EQ(Say1(*early, "MAIL FROM:<a@b>"),
            "503 \"Mail From\" command inappropriate at this time.");
  EXPECT_EQ(Say1(*early, "RCPT TO:<a@b>"), "503 \"Rcpt To\" command inappropriate at this time.");
  EXPECT_EQ(Say1(*early, "DATA"), "503 \"Data\" command inappropriate at this time.");
  EXPECT_EQ(Say1(*early, "AUTH LOGIN"), "503 Auth Login command inappropriate at this time.");
  EXPECT_EQ(Say1(*early, "HELO me"), "250 Mirandel SMTP at your service \"me\"");
  EXPECT_EQ(Say1(*early, "HELO me"), "503 Helo command inappropriate at this time.");
  EXPECT_EQ(Say1(*early, "EHLO me"), "503 Ehlo command inappropriate at this time.");
  EXPECT_EQ(Say(*early, "HELP"),
            (TStringList{"214- Supported commands are as follows:",
                         "214-     HELO     MAIL     RCPT     DATA     RSET",
                         "214-     NOOP     QUIT     HELP     AUTH     EHLO", "214 Thats all."}));
  EXPECT_EQ(Say1(*early, "noop"), "250 OK - Standing by.");
  EXPECT_EQ(Say1(*early, "VRFY joe"), "502 Command not implemented.");
  EXPECT_EQ(Say1(*early, "  bogus thing "), "500 Command \"bogus thing\" not recognized.");
  EXPECT_EQ(Say1(*early, "HELO"), "500 Command \"HELO\" not recognized.");  // needs its blank
  EXPECT_EQ(Say1(*early, "RSET"), "250 OK - Session reset");
  EXPECT_TRUE(LogHas("3|Client spoke before welcome banner sent."));
}

TEST_F(EsmtpConversation, SenderWithoutAuthenticationNeedsAPooledAccount) {
  auto c = Connect();
  Say(*c, "EHLO x");
  EXPECT_EQ(Say1(*c, "MAIL FROM:<a@b>"), "450 You must use authentication to log in.");
  EXPECT_TRUE(LogHas("No cached account info.  Use authentication."));
  FPooled = true;  // the state stayed, so the client may simply try again
  EXPECT_EQ(Say1(*c, "MAIL FROM:<a@b>"), "250 OK - mail from \"<a@b>\"");
  EXPECT_EQ(FNeedSessionCalls, (TStringList{"/", "/"}));
  EXPECT_TRUE(LogHas("Sending mail through account pooled@hotmail.com"));
  EXPECT_EQ(Say1(*c, "RCPT TO:<x@y>"), "250 OK - Rcpt To \"<x@y>\"");
  EXPECT_EQ(Say1(*c, "DATA"), "354 OK - Waiting for message text");
  EXPECT_EQ(Say1(*c, "body\r\n."), "250 OK - message Received and Sent through pooled@hotmail.com");
}

TEST_F(EsmtpConversation, AuthWithoutOnNeedSessionUsesTheFactoryAndBareUserGetsTheDomain) {
  FServer->OnNeedSession = nullptr;
  TTestMailbox *made = nullptr;
  FServer->SessionFactory = [&made] {
    auto box = std::make_unique<TTestMailbox>();
    made = box.get();
    return std::unique_ptr<TBasicWebMailSession>(std::move(box));
  };
  auto c = Connect();
  Say(*c, "EHLO x");
  EXPECT_EQ(Say1(*c, "MAIL FROM:<a@b>"), "450 You must use authentication to log in.");
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(Say1(*c, "AUTH LOGIN am9l"), "334 UGFzc3dvcmQ6");  // "joe"
  EXPECT_EQ(Say1(*c, "cHc="), "235 LOGIN authentication successful");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetUserId(), "joe@hotmail.com");
  EXPECT_TRUE(LogHas("Userid \"joe\" given with no domain! joe@hotmail.com assumed."));
  // The line "AUTH=LOGIN" is taken as AUTH LOGIN.
  EXPECT_EQ(Say1(*c, "RSET"), "250 OK - Session reset");
  EXPECT_EQ(Say1(*c, "AUTH=LOGIN"), "334 VXNlcm5hbWU6");
}

TEST_F(EsmtpConversation, RejectedLogOnsExplainThemselvesAndAllowAnotherTry) {
  auto c = Connect();
  Say(*c, "EHLO x");
  EXPECT_EQ(Say1(*c, "AUTH LOGIN am9lQG1zbi5jb20="), "334 UGFzc3dvcmQ6");  // joe@msn.com
  EXPECT_EQ(Say1(*c, "d3Jvbmc="), "535 MSN rejected password");
  EXPECT_TRUE(LogHas("Failed to log in to MSN"));
  EXPECT_FALSE(FServer->Connections().empty());
  auto *conn = static_cast<TESMTPHotmailServerSpawnedSocket *>(FServer->Connections()[0]);
  EXPECT_FALSE(conn->HasSession());  // let go after the failure

  FMailbox.SetFailure(TTestMailbox::op_Logon, "503 no such user", 1);
  EXPECT_EQ(Say1(*c, "AUTH LOGIN am9lQGhvdG1haWwuY29t"), "334 UGFzc3dvcmQ6");
  EXPECT_EQ(Say1(*c, "c2VjcmV0"), "535 Hotmail rejected userid");
  FMailbox.SetFailure(TTestMailbox::op_Logon, "402 pay up", 1);
  EXPECT_EQ(Say1(*c, "AUTH LOGIN am9lQGhvdG1haWwuY29t"), "334 UGFzc3dvcmQ6");
  EXPECT_EQ(Say1(*c, "c2VjcmV0"), "535 Hotmail requested payment");

  // A temporary failure runs the connectivity probe; pointed at a listening
  // loopback port it finds "the web" reachable.
  QTcpServer web;
  ASSERT_TRUE(web.listen(QHostAddress::LocalHost, 0));
  SetConnectivityProbeHost("127.0.0.1", web.serverPort());
  FMailbox.SetFailure(TTestMailbox::op_Logon, "Timed out\r\nreading", 1);
  EXPECT_EQ(Say1(*c, "AUTH LOGIN am9lQGhvdG1haWwuY29t"), "334 UGFzc3dvcmQ6");
  EXPECT_EQ(Say1(*c, "c2VjcmV0"),
            "454 Failed to reach Hotmail. Web is active. (Temporary error: Timed out  reading)");
  SetConnectivityProbeHost("", 0);

  EXPECT_EQ(Say1(*c, "AUTH LOGIN am9lQGhvdG1haWwuY29t"), "334 UGFzc3dvcmQ6");
  EXPECT_EQ(Say1(*c, "c2VjcmV0"), "235 LOGIN authentication successful");
}

TEST_F(EsmtpConversation, FailedSendKeepsTheConnectionAndTheNextMessageGoesThrough) {
  auto c = Connect();
  Say(*c, "EHLO x");
  Say(*c, "AUTH LOGIN am9lQGhvdG1haWwuY29t");
  Say(*c, "c2VjcmV0");
  FMailbox.SetFailure(TTestMailbox::op_Send, "500 service\r\nbusy", 1);
  Say(*c, "MAIL FROM:<joe@hotmail.com>");
  Say(*c, "RCPT TO:<a@b>");
  Say(*c, "DATA");
  // Lines after the "." in the same burst are not taken as commands.
  ASSERT_TRUE(c->Send("text\r\n.\r\nNOOP\r\n"));
  std::string line;
  ASSERT_TRUE(c->ReadLine(line));
  EXPECT_EQ(line, "450 Hotmail send failed with:500 service  busy");
  EXPECT_TRUE(LogHas("Failed to send mail through joe@hotmail.com@Hotmail with:500 service"));
  EXPECT_EQ(Say1(*c, "MAIL FROM:<joe@hotmail.com>"), "250 OK - mail from \"<joe@hotmail.com>\"");
  Say(*c, "RCPT TO:<a@b>");
  Say(*c, "DATA");
  EXPECT_EQ(Say1(*c, "again\r\n."), "250 OK - message Received and Sent through joe@hotmail.com");
  EXPECT_EQ(FMailbox.SendCalls().size(), 2u);
}

TEST_F(EsmtpConversation, UnfinishedMessageIsNeverSentAndTheSessionIsReleased) {
  auto c = Connect();
  Say(*c, "EHLO x");
  Say(*c, "AUTH LOGIN am9lQGhvdG1haWwuY29t");
  Say(*c, "c2VjcmV0");
  Say(*c, "MAIL FROM:<joe@hotmail.com>");
  Say(*c, "RCPT TO:<a@b>");
  Say(*c, "DATA");
  ASSERT_TRUE(c->Send("half a message\r\n.."));
  c->Close();
  ASSERT_TRUE(PumpUntil([&] { return FServer->ActiveConnections() == 0; }, 5000));
  EXPECT_TRUE(FMailbox.SendCalls().empty());
  EXPECT_FALSE(FMailbox.LoggedOn());
}

// Message text has a size limit: past it the text is read to its end and
// refused with 552, nothing is sent, and the connection (its log-on and the
// next message) goes on. A single line past the limit ends the connection.
TEST_F(EsmtpConversation, MessageOverTheSizeLimitIsRefusedWith552AndTheNextOneGoesThrough) {
  FServer->MaxMessageBytes = 4000;
  auto c = Connect();
  Say(*c, "EHLO x");
  Say(*c, "AUTH LOGIN am9lQGhvdG1haWwuY29t");
  Say(*c, "c2VjcmV0");
  Say(*c, "MAIL FROM:<joe@hotmail.com>");
  Say(*c, "RCPT TO:<a@b>");
  Say(*c, "DATA");
  std::string text;
  for (int i = 0; i < 100; ++i) text += std::string(99, 'x') + "\r\n";
  EXPECT_EQ(Say1(*c, text + "."), "552 Message size exceeds fixed maximum message size");
  EXPECT_TRUE(FMailbox.SendCalls().empty());
  EXPECT_EQ(Say1(*c, "MAIL FROM:<joe@hotmail.com>"), "250 OK - mail from \"<joe@hotmail.com>\"");
  Say(*c, "RCPT TO:<a@b>");
  Say(*c, "DATA");
  EXPECT_EQ(Say1(*c, "small\r\n."), "250 OK - message Received and Sent through joe@hotmail.com");
  ASSERT_EQ(FMailbox.SendCalls().size(), 1u);

  Say(*c, "MAIL FROM:<joe@hotmail.com>");
  Say(*c, "RCPT TO:<a@b>");
  Say(*c, "DATA");
  ASSERT_TRUE(c->Send(std::string(9000, 'y')));
  std::string line;
  ASSERT_TRUE(c->ReadLine(line));
  EXPECT_EQ(line.rfind("552 ", 0), 0u) << line;
  EXPECT_TRUE(c->WaitClosed());
  EXPECT_EQ(FMailbox.SendCalls().size(), 1u);
}

// Outside the message text a command line has its own limit.
TEST_F(EsmtpConversation, OverlongCommandLineGets500AndTheConnectionCloses) {
  auto c = Connect();
  ASSERT_TRUE(c->Send("EHLO " + std::string(TQuorServerSpawnedSocket::kMaxCommandLine + 10, 'h')));
  std::string line;
  ASSERT_TRUE(c->ReadLine(line));
  EXPECT_EQ(line.rfind("500 Line too long", 0), 0u) << line;
  EXPECT_TRUE(c->WaitClosed());
}

TEST_F(EsmtpConversation, ElevenUnknownCommandsInARowEndTheConnection) {
  auto c = Connect();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Say1(*c, "X" + std::to_string(i)).substr(0, 3), "500");
  EXPECT_EQ(Say1(*c, "NOOP"), "250 OK - Standing by.");  // a known command resets the count
  for (int i = 0; i < 10; ++i) Say(*c, "Y" + std::to_string(i));
  EXPECT_EQ(Say1(*c, "Z"),
            "500 Sorry, too many bad commands. Disconnecting Mirandel ESMTP server signing off");
  EXPECT_TRUE(c->WaitClosed());
}

TEST_F(EsmtpConversation, IdleClientIsTimedOutWithThe421Line) {
  FServer->SetTimeOut(1500);
  auto c = Connect();
  EXPECT_EQ(c->Unread(), "");  // one second after the greeting is within the limit
  c->Tick();
  std::string line;
  ASSERT_TRUE(c->ReadLine(line, 8000));
  EXPECT_EQ(line, "421 - Sorry user timed out. Mirandel ESMTP server signing off");
  EXPECT_TRUE(c->WaitClosed());
}

}  // namespace
