#include "servers/Pop3HotmailServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTcpServer>
#include <QTimer>
#include <atomic>
#include <thread>

#include "BuildConfig.h"
#include "foundation/QuorUtil.h"
#include "http/Connectivity.h"
#include "servers/support/TestMailbox.h"
#include "sessions/Notifier.h"
#include "support/LoopbackClient.h"
#include "support/Pop3GatewayFixture.h"
#include "support/ServerTestKit.h"

namespace {

class Pop3Test : public TPop3GatewayFixture {
 protected:
  void SetUp() override { StartGateway("brelvane-pop3-", true); }

  // Connected and past the banner.
  std::unique_ptr<TLoopbackClient> Connect() {
    auto client = std::make_unique<TLoopbackClient>();
    EXPECT_TRUE(client->Connect(Port));
    std::string banner;
    EXPECT_TRUE(client->ReadLine(banner, 5000));
    EXPECT_EQ(banner, kBanner);
    return client;
  }

  std::string Cmd(TLoopbackClient &client, const std::string &line, int limitMs = 5000) {
    EXPECT_TRUE(client.Send(line + "\r\n"));
    std::string reply;
    if (!client.ReadLine(reply, limitMs)) return "<no reply>";
    return reply;
  }

  // The lines of a multi-line answer after its first line, up to the ".".
  TStringList Body(TLoopbackClient &client) {
    TStringList lines;
    std::string line;
    while (client.ReadLine(line, 10000)) {
      if (line == ".") return lines;
      lines.push_back(line);
    }
    lines.push_back("<unterminated>");
    return lines;
  }

  std::unique_ptr<TLoopbackClient> LoggedIn(const std::string &user = "jdoe@hotmail.com") {
    auto client = Connect();
    EXPECT_EQ(Cmd(*client, "USER " + user), "+OK Always happy to see " + user);
    EXPECT_EQ(Cmd(*client, "PASS secret"), "+OK Logged in to Hotmail");
    return client;
  }

  void Quit(TLoopbackClient &client, bool lastConnection = true) {
    EXPECT_EQ(Cmd(client, "QUIT"), "+OK ");
    EXPECT_TRUE(client.WaitClosed());
    if (lastConnection) WaitGone();
  }
};

// ---------------------------------------------------------------------------

// A message the service hands over whole, with whatever line ends it
// used, reaches the client in the POP3 form: CR LF throughout, dots
// stuffed, one terminating line, also when its last line has no end.
TEST_F(Pop3Test, MessageTextWithMixedLineEndsGoesOutAsStuffedCrLfLines) {
  Mailbox.AddMessageText("T1",
                         "From: a@example.com\nSubject: raw\r\n\r\n.\rbare CR\n..two\r\nlast");
  auto c = LoggedIn();
  ASSERT_TRUE(c->Send("RETR 1\r\n"));
  const std::string end = "\r\n.\r\n";
  c->Drain(
      [&](const std::string &got) {
        return got.size() >= end.size() &&
               got.compare(got.size() - end.size(), end.size(), end) == 0;
      },
      10000);
  EXPECT_EQ(
      c->Received(),
      "+OK \r\nFrom: a@example.com\r\nSubject: raw\r\n\r\n..\r\nbare CR\r\n...two\r\nlast\r\n."
      "\r\n");
  std::string line;
  while (c->ReadLine(line) && line != ".") {
  }
  EXPECT_EQ(Cmd(*c, "TOP 1 1"), "+OK");
  EXPECT_EQ(Body(*c), (TStringList{"From: a@example.com", "Subject: raw", "", ".."}));
  EXPECT_EQ(Cmd(*c, "TOP 1 0"), "+OK");
  EXPECT_EQ(Body(*c), (TStringList{"From: a@example.com", "Subject: raw", ""}));
  Quit(*c);
  EXPECT_EQ(Record("T1"), TDownloadRecord::rv_PassedOn);
}

TEST_F(Pop3Test, SecondConnectionIsServedWhileTheFirstWaitsInTheMailbox) {
  Mailbox.AddMessage("U1", Msg("slow", {"body"}));
  auto first = LoggedIn();
  auto second = Connect();
  Mailbox.SetDelay(TTestMailbox::op_GetMsg, std::chrono::milliseconds(1500));
  ASSERT_TRUE(first->Send("RETR 1\r\n"));
  // Sent at once: this test's own reads cannot return while the RETR holds
  // the loop, but the server must answer the other client meanwhile.
  ASSERT_TRUE(second->Send("USER jdoe@hotmail.com\r\nPASS pw\r\nNOOP\r\n"));
  std::string reply;
  ASSERT_TRUE(second->ReadLine(reply));
  EXPECT_EQ(reply, "+OK Always happy to see jdoe@hotmail.com");
  ASSERT_TRUE(second->ReadLine(reply));
  EXPECT_EQ(reply, "+OK Logged in to Hotmail");
  ASSERT_TRUE(second->ReadLine(reply));
  EXPECT_EQ(reply, "+OK");
  std::string line;
  ASSERT_TRUE(first->ReadLine(line, 10000));
  EXPECT_EQ(line, "+OK ");
  EXPECT_EQ(Body(*first).back(), "body");
  Quit(*second, false);
  Quit(*first);
  // The second log-on ran inside the first connection's mailbox wait.
  EXPECT_EQ(Mailbox.MaxNesting(), 2);
}

// A blocking client on its own thread: the gateway writes a large answer
// from this thread's loop and must not wait on a reader that this same
// thread would have to run.
class TThreadClient {
 public:
  explicit TThreadClient(int port) {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    int size = 4096;  // small window: the server is still writing when the client goes
    ::setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    timeval tv{10, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FOk = ::connect(FFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
  }
  ~TThreadClient() { Close(); }
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }
  std::string ReadLine() {
    std::string line;
    char c;
    while (FOk && ::recv(FFd, &c, 1, 0) == 1) {
      if (c == '\n') return line;
      if (c != '\r') line += c;
    }
    return "<closed>";
  }
  std::string Cmd(const std::string &line) {
    std::string bytes = line + "\r\n";
    if (::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
      return "<send failed>";
    return ReadLine();
  }

 private:
  int FFd = -1;
  bool FOk = false;
};

TEST_F(Pop3Test, ClientLeavingMidRetrLeavesTheMessageUnmarked) {
  TStringList big = {"Subject: big", ""};
  for (int i = 0; i < 200000; ++i) big.push_back(std::string(100, 'a' + i % 26));
  Mailbox.AddMessage("BIG", big);
  Mailbox.AddMessage("SMALL", Msg("small", {"x"}));
  TStringList replies;
  std::atomic<bool> done{false};
  std::thread client([&] {
    TThreadClient c(Port);
    replies.push_back(c.ReadLine());
    replies.push_back(c.Cmd("USER jdoe@hotmail.com"));
    replies.push_back(c.Cmd("PASS pw"));
    replies.push_back(c.Cmd("DELE 2"));
    replies.push_back(c.Cmd("RETR 1"));
    c.Close();  // about 20 MB still to come
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 30000));
  client.join();
  WaitGone();
  EXPECT_EQ(replies,
            (TStringList{kBanner, "+OK Always happy to see jdoe@hotmail.com",
                         "+OK Logged in to Hotmail", "+OK Message 2 marked deleted", "+OK "}));
  EXPECT_TRUE(Logged("Inexplicably failed to passed on message body", 9));
  EXPECT_EQ(Record("BIG"), -7);
  EXPECT_EQ(Record("SMALL"), -7);
  EXPECT_TRUE(Mailbox.MarkedRead().empty());
  EXPECT_TRUE(Mailbox.DeleteCalls().empty());
}

TEST_F(Pop3Test, ServerGoingAwayDuringAMailboxWaitLeavesTheConnectionToFinish) {
  Mailbox.AddMessage("U1", Msg("one", {"a"}));
  auto c = LoggedIn();
  Mailbox.SetDelay(TTestMailbox::op_Inbox, std::chrono::milliseconds(800));
  ASSERT_TRUE(c->Send("DELE 1\r\n"));
  // Shut down from inside the listing wait, as the application does on exit.
  QTimer::singleShot(200, [this] { Server.reset(); });
  EXPECT_TRUE(PumpUntil([this] { return !Server && !Mailbox.LoggedOn(); }, 10000));
  PumpFor(300);
  EXPECT_EQ(Mailbox.Calls(TTestMailbox::op_Inbox), 1);
  EXPECT_TRUE(Mailbox.DeleteCalls().empty());
  // Its DELE was cut off with the line: nothing stays marked in the record.
  TDownloadRecord record((FDir / "record.sqlite").string());
  EXPECT_EQ(record.ReadEntry(TDownloadRecord::SectionFor("jdoe@hotmail.com"), "U1", -7), -7);
}

TEST_F(Pop3Test, ConnectionsBeyondTheLimitFromAnotherMachineAreRefused) {
  Server->SetMaxConnections(1);
  Server->SetPeerAddressHook([](const std::string &) { return std::string("192.0.2.7"); });
  auto first = Connect();
  TLoopbackClient second;
  ASSERT_TRUE(second.Connect(Port));
  std::string line;
  ASSERT_TRUE(second.ReadLine(line));
  EXPECT_EQ(line, "-ERR : Maximum Connections exceeded. Please try again later.");
  EXPECT_TRUE(second.WaitClosed());
  Server->SetRestrictToLocalHost(true);
  TLoopbackClient third;  // the limit is back to one; local-only now refuses
  first.reset();
  WaitGone();
  ASSERT_TRUE(third.Connect(Port));
  ASSERT_TRUE(third.ReadLine(line));
  EXPECT_EQ(line, "-ERR Sorry, only local connections allowed");
  EXPECT_TRUE(third.WaitClosed());
}

}  // namespace
