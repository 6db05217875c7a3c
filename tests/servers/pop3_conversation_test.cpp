// The POP3 gateway's command handling, as scripted conversations with a
// real connection object over an in-memory stream: the client says a line,
// the server must answer. What needs real sockets (listening, the local-only
// listeners, a peer that stops reading or leaves mid-transfer, two clients
// at once, real mail programs) is in Pop3HotmailServer_test.cpp and
// Pop3RealClients_test.cpp.
#include <gtest/gtest.h>

#include <QTcpServer>

#include "BuildConfig.h"
#include "foundation/QuorUtil.h"
#include "http/Connectivity.h"
#include "servers/Pop3HotmailServer.h"
#include "sessions/Notifier.h"
#include "support/LoopbackClient.h"
#include "support/ScriptedConversation.h"
#include "support/Pop3GatewayFixture.h"
#include "support/ServerTestKit.h"
#include "support/TestMailbox.h"

namespace {

class Pop3Conversation : public TPop3GatewayFixture {
 protected:
  // Never listening: every connection comes in through Adopt.
  void SetUp() override { StartGateway("brelvane-pop3c-", false); }

  // Connected and past the banner.
  std::unique_ptr<TScriptedConversation> Connect() {
    auto c = std::make_unique<TScriptedConversation>(*Server);
    EXPECT_TRUE(c->Run({ServerAnswers(kBanner)}));
    return c;
  }

  static std::string Cmd(TScriptedConversation &c, const std::string &line, int limitMs = 5000) {
    return c.Cmd(line, limitMs);
  }
  static TStringList Body(TScriptedConversation &c) { return c.Body(); }

  std::unique_ptr<TScriptedConversation> LoggedIn(const std::string &user = "jdoe@hotmail.com") {
    auto c = Connect();
    EXPECT_TRUE(
        c->Run({ClientSays("USER " + user), ServerAnswers("+OK Always happy to see " + user),
                ClientSays("PASS secret"), ServerAnswers("+OK Logged in to Hotmail")}));
    return c;
  }

  void Quit(TScriptedConversation &c, bool lastConnection = true) {
    EXPECT_TRUE(c.Run({ClientSays("QUIT"), ServerAnswers("+OK "), ServerCloses()}));
    if (lastConnection) WaitGone();
  }
};

TEST_F(Pop3Conversation, AuthorizationStatesAnswerOnlyTheAwaitedCommand) {
  auto c = Connect();
  EXPECT_EQ(Cmd(*c, "STAT"), "-ERR Awaiting user identification. Use USER command");
  EXPECT_EQ(Cmd(*c, "PASS early-secret"), "-ERR Awaiting user identification. Use USER command");
  EXPECT_EQ(Cmd(*c, "USER"), "-ERR Awaiting user identification. Use USER command");
  EXPECT_EQ(Cmd(*c, "USER jdoe"), std::string("+OK Always happy to see jdoe Note: no domain "
                                              "supplied. \"jdoe@") +
                                      BRELVANE_DEFAULT_MAIL_DOMAIN + "\" assumed.");
  EXPECT_EQ(Cmd(*c, "USER other"), "-ERR Awaiting password. Use PASS command");
  EXPECT_EQ(Cmd(*c, "PASS"), "-ERR Awaiting password. Use PASS command");
  EXPECT_EQ(Cmd(*c, "PASS "), "-ERR Awaiting password. Use PASS command");
  EXPECT_EQ(Cmd(*c, "pass  Two Words "), "+OK Logged in to Hotmail");
  ASSERT_EQ(NeedSessionCalls.size(), 1u);
  EXPECT_EQ(NeedSessionCalls[0].first, std::string("jdoe@") + BRELVANE_DEFAULT_MAIL_DOMAIN);
  EXPECT_EQ(NeedSessionCalls[0].second, "Two Words");
  EXPECT_TRUE(Mailbox.LoggedOn());

  EXPECT_EQ(Cmd(*c, "USER again"), "-ERR Already logged in");
  EXPECT_EQ(Cmd(*c, "PASS later-secret"), "-ERR Already logged in");
  EXPECT_EQ(Cmd(*c, "APOP jdoe 0123"), "-ERR Sorry, APOP is not allowed on this server");
  EXPECT_EQ(Cmd(*c, "AUTH"), "-ERR Sorry, AUTH is not allowed on this server");
  EXPECT_EQ(Cmd(*c, "   "), "-ERR Empty string sent.");
  EXPECT_EQ(Cmd(*c, " CAPA "), "-ERR Eh?? Command \"CAPA\" not understood");
  EXPECT_EQ(Cmd(*c, "noop"), "+OK");
  EXPECT_EQ(Cmd(*c, "LAST"), "+OK 0");
  Quit(*c);
  EXPECT_FALSE(Mailbox.LoggedOn());  // released back to its supplier

  // Nothing typed while the password was awaited reached the log, nor a
  // password given out of turn.
  for (const auto &l : Logs) {
    EXPECT_EQ(l.Text.find("Two Words"), std::string::npos) << l.Text;
    EXPECT_EQ(l.Text.find("secret"), std::string::npos) << l.Text;
  }
  EXPECT_TRUE(Logged("Read: \"USER jdoe\"", 1));
  EXPECT_TRUE(Logged("Unknown command Received: \"CAPA\"", 3));
}

TEST_F(Pop3Conversation, EarlySpeakerIsAskedToWaitAndHashStandsForAt) {
  TScriptedConversation c(*Server, /*banner=*/false);
  EXPECT_TRUE(c.Run({ClientSays("USER x"), ServerAnswers("-ERR Please wait for the welcome.")}));
  c.Tick();
  EXPECT_TRUE(c.Run({ServerAnswers(kBanner), ClientSays("USER Pat#MSN.com"),
                     ServerAnswers("+OK Always happy to see Pat@MSN.com"), ClientSays("PASS pw"),
                     ServerAnswers("+OK Logged in to MSN")}));
  EXPECT_EQ(NeedSessionCalls.at(0).first, "Pat@MSN.com");
  Quit(c);
}

TEST_F(Pop3Conversation, RejectedLogonsReturnToUserAndTheServiceDownCaseStaysAtPass) {
  RefuseSession = true;
  auto c = Connect();
  Cmd(*c, "USER jdoe@hotmail.com");
  EXPECT_EQ(Cmd(*c, "PASS pw"), "-ERR userid and password required");
  EXPECT_EQ(Cmd(*c, "STAT"), "-ERR Awaiting password. Use PASS command");
  RefuseSession = false;

  Mailbox.SetFailure(TTestMailbox::op_Logon, "401 Unauthorized", 1);
  EXPECT_EQ(Cmd(*c, "PASS pw"), "-ERR Hotmail rejected password");
  EXPECT_TRUE(Logged("Hotmail rejected password with:401 Unauthorized", 9));
  EXPECT_EQ(Cmd(*c, "PASS pw"), "-ERR Awaiting user identification. Use USER command");

  Cmd(*c, "USER jdoe@hotmail.com");
  Mailbox.SetFailure(TTestMailbox::op_Logon, "503 No such user", 1);
  EXPECT_EQ(Cmd(*c, "PASS pw"), "-ERR Hotmail rejected userid jdoe@hotmail.com");
  EXPECT_TRUE(Logged("Hotmail login rejected useid \"jdoe@hotmail.com\" with 503 No such user"));

  Cmd(*c, "USER jdoe@hotmail.com");
  Mailbox.SetFailure(TTestMailbox::op_Logon, "402 Payment Required", 1);
  EXPECT_EQ(Cmd(*c, "PASS pw"), "-ERR Hotmail Requested payment");
  ASSERT_EQ(FNotifier.Shown.size(), 1u);
  EXPECT_EQ(FNotifier.Shown[0].second, "Hotmail requested payment with:402 Payment Required");

  Cmd(*c, "USER jdoe@hotmail.com");
  Mailbox.SetFailure(TTestMailbox::op_Logon, "503 Service down (1000)", 1);
  EXPECT_EQ(Cmd(*c, "PASS pw"),
            "+OK Failed to reach Hotmail. Server is down. (Temporary error: 503 Service down "
            "(1000))");
  // Still waiting for the password: a retry on the same connection works.
  EXPECT_EQ(Cmd(*c, "STAT"), "-ERR Awaiting password. Use PASS command");
  EXPECT_EQ(Cmd(*c, "PASS pw"), "+OK Logged in to Hotmail");
  EXPECT_EQ(Cmd(*c, "STAT"), "+OK 0 0 Stat");
  Quit(*c);
}

TEST_F(Pop3Conversation, RejectedConnectionLeavesTheSessionItWasLentAlone) {
  auto rejected = Connect();
  Cmd(*rejected, "USER jdoe@hotmail.com");
  Mailbox.SetFailure(TTestMailbox::op_Logon, "401 Unauthorized", 1);
  EXPECT_EQ(Cmd(*rejected, "PASS wrong"), "-ERR Hotmail rejected password");
  // The supplier now lends the same session to a second connection.
  auto second = LoggedIn();
  EXPECT_TRUE(Mailbox.LoggedOn());
  rejected->Close();
  EXPECT_TRUE(PumpUntil([this] { return Server->ActiveConnections() == 1; }, 5000));
  EXPECT_TRUE(Mailbox.LoggedOn());  // still in use by the second connection
  EXPECT_EQ(Cmd(*second, "STAT"), "+OK 0 0 Stat");
  Quit(*second);
  EXPECT_FALSE(Mailbox.LoggedOn());
}

TEST_F(Pop3Conversation, TemporaryLogonFailureExplainsByProbeAndRefusesEverythingButQuit) {
  // The probe goes to loopback: a listening port is "the web is reachable".
  QTcpServer web;
  ASSERT_TRUE(web.listen(QHostAddress::LocalHost, 0));
  SetConnectivityProbeHost("127.0.0.1", web.serverPort());
  // The service's text holds a line break; the reply stays one line.
  Mailbox.SetFailure(TTestMailbox::op_Logon, "Connection\r\nreset", 1);
  auto c = Connect();
  Cmd(*c, "USER jdoe@hotmail.com");
  EXPECT_EQ(Cmd(*c, "PASS pw", 20000),
            "+OK Failed to reach Hotmail. Web is active. (Temporary error: Connection  reset)");
  EXPECT_EQ(Cmd(*c, "STAT"), "-ERR Could not connect to Hotmail");
  EXPECT_EQ(Cmd(*c, "USER x@y.z"), "-ERR Could not connect to Hotmail");
  EXPECT_EQ(Mailbox.Calls(TTestMailbox::op_Inbox), 0);
  Quit(*c);

  // A closed port: "cannot access the web".
  quint16 closed = web.serverPort();
  web.close();
  SetConnectivityProbeHost("127.0.0.1", closed);
  Mailbox.SetFailure(TTestMailbox::op_Logon, "Timed out", 1);
  auto d = Connect();
  Cmd(*d, "USER jdoe@hotmail.com");
  EXPECT_EQ(Cmd(*d, "PASS pw", 30000),
            "+OK Failed to connect to Hotmail. Cannot access web. (Temporary error: Timed out)");
  Quit(*d);
  SetConnectivityProbeHost("", 0);
}

TEST_F(Pop3Conversation, ListingCountsSizesSkipsDeletedAndChecksArguments) {
  Mailbox.AddMessage("U1", Msg("one", {"a"}), false, 100);
  Mailbox.AddMessage("U2", Msg("two", {"b"}), false, 250);
  Mailbox.AddMessage("U3", Msg("three", {"c"}), false, -1);
  Mailbox.AddMessage("U4", Msg("four", {"d"}), false, -1, /*inJunk=*/true);
  auto c = LoggedIn();
  EXPECT_EQ(Cmd(*c, "STAT"), "+OK 4 348 Stat");  // unknown sizes count as -1
  EXPECT_EQ(Cmd(*c, "DELE 1"), "+OK Message 1 marked deleted");
  EXPECT_EQ(Cmd(*c, "DELE 1"), "-ERR Message \"1\" has already been marked deleted.");
  EXPECT_EQ(Cmd(*c, "STAT"), "+OK 3 248 Stat");

  EXPECT_EQ(Cmd(*c, "LIST"), "+OK");
  EXPECT_EQ(Body(*c), (TStringList{"2 250", "3 -1", "4 -1"}));
  EXPECT_EQ(Cmd(*c, "LIST 2"), "+OK 2 250");
  EXPECT_EQ(Cmd(*c, "LIST2"), "+OK 2 250");
  EXPECT_EQ(Cmd(*c, "LIST abc"), "-ERR No such Message \"abc\"");
  EXPECT_EQ(Cmd(*c, "LIST 0"), "-ERR No such Message \"0\"");
  EXPECT_EQ(Cmd(*c, "LIST 5"), "-ERR No such Message \"5\"");
  EXPECT_EQ(Cmd(*c, "LIST 1"), "-ERR Message \"1\" has been marked deleted.");

  EXPECT_EQ(Cmd(*c, "UIDL"), "+OK Unique-id listing follows.");
  EXPECT_EQ(Body(*c), (TStringList{"2 U2", "3 U3", "4 U4"}));
  EXPECT_EQ(Cmd(*c, "UIDL 3"), "+OK 3 U3");
  EXPECT_EQ(Cmd(*c, "UIDL abc"), "-ERR A message number is required. \"abc\"");
  EXPECT_EQ(Cmd(*c, "UIDL 9"), "-ERR No such Message \"9\"");
  // A negative number is a number, just not one of a message.
  EXPECT_EQ(Cmd(*c, "UIDL -5"), "-ERR No such Message \"-5\"");
  EXPECT_EQ(Cmd(*c, "UIDL -1"), "-ERR No such Message \"-1\"");
  EXPECT_EQ(Cmd(*c, "UIDL 1"), "-ERR Message \"1\" has been marked deleted.");
  EXPECT_EQ(Cmd(*c, "RETR 1"), "-ERR Message \"1\" has already been marked deleted.");
  EXPECT_EQ(Cmd(*c, "TOP 1 0"), "-ERR Message \"1 0\" has been marked deleted.");
  EXPECT_EQ(Cmd(*c, "DELE 7"), "-ERR No such Message \"7\"");
  // Listed once per connection, however many commands need the list.
  EXPECT_EQ(Mailbox.Calls(TTestMailbox::op_Inbox), 1);
  EXPECT_EQ(Mailbox.Calls(TTestMailbox::op_Junk), 1);
  Quit(*c);
}

TEST_F(Pop3Conversation, RetrStuffsDotsAndTopCutsAfterTheHeader) {
  TStringList text = Msg("dots", {".", "..two", ".leading", "plain", "", "after blank"});
  Mailbox.AddMessage("U1", text);
  auto c = LoggedIn();
  EXPECT_EQ(Cmd(*c, "RETR 1"), "+OK ");
  EXPECT_EQ(Body(*c), (TStringList{"From: a@example.com", "Subject: dots", "", "..", "...two",
                                   "..leading", "plain", "", "after blank"}));
  EXPECT_EQ(Mailbox.GetMsgAttempts().back(), 5);

  EXPECT_EQ(Cmd(*c, "TOP 1 0"), "+OK");
  EXPECT_EQ(Body(*c), (TStringList{"From: a@example.com", "Subject: dots", ""}));
  EXPECT_EQ(Cmd(*c, "TOP 1 2"), "+OK");
  EXPECT_EQ(Body(*c), (TStringList{"From: a@example.com", "Subject: dots", "", "..", "...two"}));
  EXPECT_EQ(Cmd(*c, "TOP 1 999"), "+OK");
  EXPECT_EQ(Body(*c).size(), text.size());
  EXPECT_EQ(Cmd(*c, "TOP 1"),
            "-ERR bad arguments to TOP command \"1\" Should be TOP Message# LineCount");
  EXPECT_EQ(Cmd(*c, "TOP x 1"),
            "-ERR bad arguments to TOP command \"x 1\" Should be TOP Message# LineCount");
  EXPECT_EQ(Cmd(*c, "TOP 1 -1"),
            "-ERR bad arguments to TOP command \"1 -1\" Should be TOP Message# LineCount");
  EXPECT_EQ(Cmd(*c, "TOP 4 0"), "-ERR No such Message \"4\"");
  EXPECT_EQ(Cmd(*c, "RETR 2"), "-ERR No such Message \"2\"");

  Mailbox.SetFailure(TTestMailbox::op_GetMsg, "500 Internal", 1);
  EXPECT_EQ(Cmd(*c, "RETR 1"), "-ERR Failed to retrieve msg with \"500 Internal\"");
  EXPECT_EQ(Cmd(*c, "LAST"), "+OK 1");  // TOP counts, a failed RETR leaves it
  Quit(*c);
  // TOP never counts as passed on; the RETR did.
  EXPECT_EQ(Record("U1"), TDownloadRecord::rv_PassedOn);
  EXPECT_EQ(Mailbox.MarkedRead(), TStringList{TTestMailbox::UrlFor("U1")});
}

TEST_F(Pop3Conversation, ListingFailureIsReportedAndRetriedByTheNextCommand) {
  Mailbox.AddMessage("U1", Msg("one", {"a"}));
  Mailbox.SetFailure(TTestMailbox::op_Inbox, "500 Busy", 1);
  auto c = LoggedIn();
  EXPECT_EQ(Cmd(*c, "STAT"), "-ERR Stat failed with: 500 Busy");
  Mailbox.SetFailure(TTestMailbox::op_Inbox, "500 Busy", 4);
  EXPECT_EQ(Cmd(*c, "LIST"), "-ERR LIST failed with: 500 Busy");
  EXPECT_EQ(Cmd(*c, "UIDL"), "-ERR UIDL failed with: 500 Busy");
  EXPECT_EQ(Cmd(*c, "RETR 1"), "-ERR RETR failed with: 500 Busy");
  EXPECT_EQ(Cmd(*c, "DELE 1"), "-ERR DELE failed with: 500 Busy");
  EXPECT_EQ(Cmd(*c, "TOP 1 1"), "+OK");
  Body(*c);
  EXPECT_EQ(Cmd(*c, "STAT"),
            "+OK 1 " + std::to_string(TTestMailbox::WireSize(Msg("one", {"a"}))) + " Stat");
  Quit(*c);
}

TEST_F(Pop3Conversation, RsetUndoesDeletionsInTheAccountAndInTheRecord) {
  for (const char *u : {"U1", "U2", "U3"}) Mailbox.AddMessage(u, Msg(u, {"x"}));
  auto c = LoggedIn();
  EXPECT_EQ(Cmd(*c, "RETR 3"), "+OK ");
  Body(*c);
  EXPECT_EQ(Cmd(*c, "DELE 1"), "+OK Message 1 marked deleted");
  EXPECT_EQ(Cmd(*c, "DELE 3"), "+OK Message 3 marked deleted");
  EXPECT_EQ(Record("U1"), TDownloadRecord::rv_Deleted);  // durable before the "+OK"
  EXPECT_EQ(Cmd(*c, "LAST"), "+OK 3");
  EXPECT_EQ(Cmd(*c, "RSET"), "+OK");
  EXPECT_EQ(Cmd(*c, "LAST"), "+OK 0");
  EXPECT_EQ(Cmd(*c, "STAT").substr(0, 6), "+OK 3 ");
  // Each entry goes back to what it was before the DELE.
  EXPECT_EQ(Record("U1"), -7);
  EXPECT_EQ(Record("U3"), TDownloadRecord::rv_PassedOn);
  EXPECT_EQ(Cmd(*c, "DELE 2"), "+OK Message 2 marked deleted");
  Quit(*c);
  ASSERT_EQ(Mailbox.DeleteCalls().size(), 1u);
  EXPECT_EQ(Mailbox.DeleteCalls()[0], TStringList{TTestMailbox::UrlFor("U2")});
  EXPECT_FALSE(Mailbox.HasMessage("U2"));
  EXPECT_TRUE(Mailbox.HasMessage("U1"));
  // RSET emptied the passed-on list, so nothing was marked read.
  EXPECT_TRUE(Mailbox.MarkedRead().empty());
  EXPECT_TRUE(Logged("Marking 0 messages read.", 7));

  // The next connection sees the undone deletion again; the record forgets
  // the deleted message once the account no longer lists it. U3 was passed
  // on before and stays out.
  auto d = LoggedIn();
  EXPECT_EQ(Cmd(*d, "UIDL"), "+OK Unique-id listing follows.");
  EXPECT_EQ(Body(*d), TStringList{"1 U1"});
  EXPECT_EQ(Record("U2"), -7);
  Quit(*d);
}

TEST_F(Pop3Conversation, DroppedLineDeletesNothingRollsBackAndNotifiesOnce) {
  for (const char *u : {"U1", "U2"}) Mailbox.AddMessage(u, Msg(u, {"x"}));
  {
    auto c = LoggedIn();
    EXPECT_EQ(Cmd(*c, "RETR 1"), "+OK ");
    Body(*c);
    EXPECT_EQ(Cmd(*c, "DELE 2"), "+OK Message 2 marked deleted");
    // Pipelined with the drop: the DELE is read and answered, then the line goes.
    c->Send("DELE 1\r\n");
    c->Close();
  }
  WaitGone();
  EXPECT_TRUE(Mailbox.DeleteCalls().empty());
  EXPECT_TRUE(Logged(
      "Line dropped prematurely (QUIT command not issued).  Rolling back all transactions", 9));
  EXPECT_TRUE(Logged("Line dropped, marking 1 messages read.", 7));
  // Marking read happens without QUIT too; the passed-on entry stays.
  EXPECT_EQ(Mailbox.MarkedRead(), TStringList{TTestMailbox::UrlFor("U1")});
  EXPECT_EQ(Record("U1"), TDownloadRecord::rv_PassedOn);
  EXPECT_EQ(Record("U2"), -7);
  ASSERT_EQ(FNotifier.Shown.size(), 1u);
  EXPECT_EQ(FNotifier.Shown[0].second,
            "Your email reader has timed out.\r\nTo avoid this problem please increase the "
            "server timeout in the account settings of your email reader.");

  // A second drop in the same run of the program: no second notice.
  {
    auto c = LoggedIn();
    EXPECT_EQ(Cmd(*c, "UIDL"), "+OK Unique-id listing follows.");
    // U1 is read now and UnreadOnly drops it.
    EXPECT_EQ(Body(*c), TStringList{"1 U2"});
  }
  WaitGone();
  EXPECT_EQ(FNotifier.Shown.size(), 1u);
}

TEST_F(Pop3Conversation, NoDupsHidesWhatAnEarlierConnectionPassedOn) {
  Server->UnreadOnly = false;
  Server->MarkRead = false;
  Mailbox.AddMessage("U1", Msg("one", {"a"}));
  Mailbox.AddMessage("U2", Msg("two", {"b"}), /*isRead=*/true);
  auto c = LoggedIn();
  EXPECT_EQ(Cmd(*c, "STAT").substr(0, 6), "+OK 2 ");  // read ones listed without UnreadOnly
  EXPECT_EQ(Cmd(*c, "RETR 1"), "+OK ");
  Body(*c);
  Quit(*c);
  EXPECT_TRUE(Mailbox.MarkedRead().empty());

  auto d = LoggedIn();
  EXPECT_EQ(Cmd(*d, "UIDL"), "+OK Unique-id listing follows.");
  EXPECT_EQ(Body(*d), TStringList{"1 U2"});
  Quit(*d);

  Server->NoDups = false;
  auto e = LoggedIn();
  EXPECT_EQ(Cmd(*e, "UIDL"), "+OK Unique-id listing follows.");
  EXPECT_EQ(Body(*e), (TStringList{"1 U1", "2 U2"}));
  Quit(*e);
}

// A listing that names nothing (a service answer without entries) must not
// make the record forget what was handed on: the messages would come again
// as new once the next listing names them.
TEST_F(Pop3Conversation, AnEmptyListingDoesNotMakeTheRecordForget) {
  Server->UnreadOnly = false;
  Server->MarkRead = false;
  Mailbox.AddMessage("U1", Msg("one", {"a"}));
  Mailbox.AddMessage("U2", Msg("two", {"b"}));
  auto c = LoggedIn();
  EXPECT_EQ(Cmd(*c, "RETR 1"), "+OK ");
  Body(*c);
  Quit(*c);
  Mailbox.ListNothing = true;
  auto d = LoggedIn();
  EXPECT_EQ(Cmd(*d, "STAT"), "+OK 0 0 Stat");
  Quit(*d);
  Mailbox.ListNothing = false;
  auto e = LoggedIn();
  EXPECT_EQ(Cmd(*e, "UIDL"), "+OK Unique-id listing follows.");
  EXPECT_EQ(Body(*e), TStringList{"1 U2"});
  Quit(*e);
}

TEST_F(Pop3Conversation, JunkFolderFailureIsLoggedAndDoesNotForgetItsMessages) {
  Server->UnreadOnly = false;
  Server->MarkRead = false;
  Mailbox.AddMessage("IN", Msg("in", {"a"}));
  Mailbox.AddMessage("JUNK", Msg("junk", {"b"}), false, TTestMessage::kComputeSize, true);
  auto c = LoggedIn();
  EXPECT_EQ(Cmd(*c, "RETR 2"), "+OK ");
  Body(*c);
  Quit(*c);
  EXPECT_EQ(Record("JUNK"), TDownloadRecord::rv_PassedOn);

  Mailbox.SetFailure(TTestMailbox::op_Junk, "500 Junk unavailable", 1);
  auto d = LoggedIn();
  EXPECT_EQ(Cmd(*d, "UIDL"), "+OK Unique-id listing follows.");
  EXPECT_EQ(Body(*d), TStringList{"1 IN"});
  Quit(*d);
  EXPECT_TRUE(Logged("Error reading Junk Mail box 500 Junk unavailable", 8));
  // Had the record been reconciled against the partial listing, the junk
  // message would be handed on a second time now.
  auto e = LoggedIn();
  EXPECT_EQ(Cmd(*e, "UIDL"), "+OK Unique-id listing follows.");
  EXPECT_EQ(Body(*e), TStringList{"1 IN"});
  Quit(*e);
}

TEST_F(Pop3Conversation, HostileInputNeitherCrashesNorConfusesTheSession) {
  Mailbox.AddMessage("U1", Msg("one", {"a"}));
  auto c = LoggedIn();
  // Long lines within the line limit are commands like any other.
  std::string huge(60 * 1024, 'A');
  EXPECT_EQ(Cmd(*c, huge).substr(0, 20), "-ERR Eh?? Command \"A");
  EXPECT_EQ(Cmd(*c, "LIST " + std::string(60 * 1024, '9')),
            "-ERR No such Message \"" + std::string(60 * 1024, '9') + "\"");
  std::string binary = "\x01\x02\xff\xfe\x7f garbage \x80";
  EXPECT_EQ(Cmd(*c, binary).substr(0, 10), "-ERR Eh?? ");
  // Zero bytes are dropped by the line machinery; the command survives.
  EXPECT_EQ(Cmd(*c, std::string("NO\0OP", 5)), "+OK");

  // Several commands in one packet are answered in order.
  ASSERT_TRUE(c->Send("NOOP\r\nSTAT\r\nLIST 1\r\nDELE 1\r\nLAST\r\n"));
  std::string line;
  TStringList replies;
  for (int i = 0; i < 5 && c->ReadLine(line); ++i) replies.push_back(line);
  ASSERT_EQ(replies.size(), 5u);
  EXPECT_EQ(replies[0], "+OK");
  EXPECT_EQ(replies[1].substr(0, 6), "+OK 1 ");
  EXPECT_EQ(replies[2].substr(0, 6), "+OK 1 ");
  EXPECT_EQ(replies[3], "+OK Message 1 marked deleted");
  EXPECT_EQ(replies[4], "+OK 1");
  ASSERT_TRUE(c->Send("QUIT\r\nNOOP\r\n"));  // nothing after QUIT is handled
  ASSERT_TRUE(c->ReadLine(line));
  EXPECT_EQ(line, "+OK ");
  EXPECT_TRUE(c->WaitClosed());
  WaitGone();
  EXPECT_EQ(Mailbox.DeleteCalls().size(), 1u);

  // Past the limit, with or without a line end: refused and closed, and
  // nothing of the session is touched.
  for (const std::string &tail : {std::string(), std::string("\r\n")}) {
    auto d = LoggedIn();
    ASSERT_TRUE(d->Send("DELE 1\r\n"));
    ASSERT_TRUE(d->ReadLine(line));
    ASSERT_TRUE(d->Send(std::string(100 * 1024, 'B') + tail));
    ASSERT_TRUE(d->ReadLine(line));
    EXPECT_EQ(line, "-ERR Line too long");
    EXPECT_TRUE(d->WaitClosed());
    WaitGone();
    EXPECT_EQ(Mailbox.DeleteCalls().size(), 1u);
  }
}

}  // namespace
