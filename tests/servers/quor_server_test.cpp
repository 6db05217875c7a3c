// The connection machinery driven by a small line protocol that answers,
// echoes, stalls and floods on command: over real loopback TCP, and over the
// in-memory stream for what does not depend on the socket.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "foundation/QuorUtil.h"
#include "log/Log.h"
#include "servers/QuorServer.h"
#include "support/LoopbackClient.h"
#include "support/ScriptedConversation.h"

namespace {

struct TProtocolRecord {
  TStringList handled;   // every line the protocol saw, in order
  int destroyed = 0;     // protocol destructors run
  int slowFinished = 0;  // long operations that returned
  int slowRunning = 0, slowMostAtOnce = 0;
  std::vector<std::string> log;  // every line offered to OnLog
  std::atomic<bool> otherServed{false};
  bool otherServedDuringBig = false;
  bool stuffedListUnchanged = false;
};

// About 800 KB (several send blocks) of lines that stuffing must handle: a
// lone ".", lines beginning with one or two dots, empty lines, a line that
// already carries its CR LF, lines of every length up to 200.
TStringList StuffingLines() {
  TStringList lines;
  for (int i = 0; lines.size() < 9000; ++i) {
    if (i % 13 == 0)
      lines.push_back(".");
    else if (i % 17 == 0)
      lines.push_back("..twice " + std::to_string(i));
    else if (i % 7 == 0)
      lines.push_back(".once " + std::string(static_cast<size_t>(i % 200), 'd'));
    else if (i % 11 == 0)
      lines.push_back("");
    else if (i % 101 == 0)
      lines.push_back("ends in CR LF\r\n");
    else
      lines.push_back("line " + std::to_string(i) + std::string(static_cast<size_t>(i % 190), 'x'));
  }
  return lines;
}

// Texts whose line ends and dots a text sent whole must treat exactly as
// the line list SplitLines makes of it: nothing, a lone dot with and
// without its line end, bare LF and bare CR, LF CR (two ends), a last
// line without an end or ending in a bare CR, dots opening lines, a text
// of several send blocks mixing every kind of line end, and long runs of
// lines that need no change.
std::vector<std::string> TrickyTexts() {
  std::vector<std::string> texts = {"",
                                    ".",
                                    ".\r\n",
                                    "a\nb\rc\r\nd",
                                    "\r\n\r\n",
                                    "\n\r\r\n\r",
                                    ".lead\r\n..two\r\n.\r\n\r\n.end",
                                    "x\r",
                                    "\r\n.\r\n.",
                                    "no end at all"};
  const char *const ends[] = {"\r\n", "\n", "\r", "\r\n\r\n"};
  std::string big;
  int i = 0;
  for (const std::string &line : StuffingLines()) big += line + ends[i++ % 4];
  texts.push_back(big);
  // Long runs already in their wire form (written from the text itself),
  // each broken by a dot, a bare LF or a bare CR.
  std::string runs;
  for (int r = 0; r < 12; ++r) {
    for (int l = 0; l < 600 + 37 * r; ++l)
      runs += "run " + std::to_string(l) + std::string(90, 'r') + "\r\n";
    runs += r % 3 == 0 ? ".dot\r\n" : r % 3 == 1 ? "bare LF\n" : "bare CR\r";
  }
  texts.push_back(runs);
  return texts;
}

class TTestServer;

class TTestConnection : public TQuorServerSpawnedSocket {
 public:
  TTestConnection(TTestServer *server, std::unique_ptr<TByteTransport> transport);
  ~TTestConnection() override;

  void HandleLine(const std::string &line) override {
    FRecord->handled.push_back(line);
    if (!BannerDone()) {
      SendLine("301 Please wait for the greeting.");
      return;
    }
    if (line.rfind("ECHO ", 0) == 0) {
      SendLine("ECHO:" + line.substr(5));
    } else if (line.rfind("SLOW ", 0) == 0) {
      // Stands for a webmail operation that waits on the network while the
      // loop keeps running.
      int ms = StrToIntDef(line.substr(5), 0);
      FRecord->slowMostAtOnce = std::max(FRecord->slowMostAtOnce, ++FRecord->slowRunning);
      auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
      while (std::chrono::steady_clock::now() < end) {
        Yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ++FRecord->slowFinished;
      --FRecord->slowRunning;
      SendLine("SLOW done");
    } else if (line.rfind("BIG ", 0) == 0) {
      // Megabytes of 100-byte lines, then a marker.
      int mb = StrToIntDef(line.substr(4), 0);
      TStringList lines(static_cast<size_t>(mb) * 10486, std::string(98, 'x'));
      SendLines(lines);
      FRecord->otherServedDuringBig = FRecord->otherServed;
      SendLine("BIG done");
    } else if (line.rfind("RETR ", 0) == 0) {
      // As a message retrieval goes out: a status line, then N times 10 KB.
      int tens = StrToIntDef(line.substr(5), 0);
      SendLine("+OK here it comes");
      TStringList lines(static_cast<size_t>(tens) * 100, std::string(98, 'x'));
      lines.push_back(".");
      SendLines(lines);
    } else if (line == "STUFFED") {
      const TStringList lines = StuffingLines();
      TStringList copy = lines;
      SendReplyAndLines("+OK stuffed", copy, true);
      FRecord->stuffedListUnchanged = copy == lines;
      SendLine("after");
    } else if (line == "TEXTS") {
      // Each text as a split list and then whole, stuffed and not.
      for (const std::string &text : TrickyTexts()) {
        for (bool stuff : {true, false}) {
          SendReplyAndLines("+OK L", SplitLines(text), stuff);
          SendReplyAndText("+OK T", text, stuff);
        }
      }
      SendLine("texts done");
    } else if (line == "LEN") {
      SendLine("LEN");
    } else if (line == "QUIT") {
      SignOff("+OK");
    } else if (line.rfind("SIZE", 0) == 0) {
      SendLine("SIZE " + std::to_string(line.size()));
    } else {
      SendLine("? " + line);
    }
  }

  bool AllowConnection() override { return CheckLocalOnly("-ERR only local"); }

 private:
  TProtocolRecord *FRecord;
};

class TTestServer : public TQuorServer {
 public:
  explicit TTestServer(TProtocolRecord *record) : FRecord(record) {
    SetListenAddress("127.0.0.1");
    SetPort(0);
    SetBanner("+OK test banner");
    SetMaxConnections(50);
    SetOnLog([record](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &text, uint8_t,
                      bool) {
      record->log.push_back(text);
      return false;  // keep the test runs out of the diagnostic files
    });
  }
  TProtocolRecord *FRecord;

 protected:
  TQuorServerSpawnedSocket *CreateSpawnedSocket(
      std::unique_ptr<TByteTransport> transport) override {
    return new TTestConnection(this, std::move(transport));
  }
};

TTestConnection::TTestConnection(TTestServer *server, std::unique_ptr<TByteTransport> transport)
    : TQuorServerSpawnedSocket(server, std::move(transport)), FRecord(server->FRecord) {
  if (ConnectionLimitExceeded()) SignOff("-ERR : Maximum Connections exceeded.");
}

TTestConnection::~TTestConnection() { ++FRecord->destroyed; }

bool LogHas(const TProtocolRecord &r, const std::string &part) {
  for (const auto &l : r.log)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

class QuorServerTest : public testing::Test {
 protected:
  void SetUp() override {
    FServer = std::make_unique<TTestServer>(&FRecord);
    FServer->SetActive(true);
    FPort = FServer->BoundPort();
    ASSERT_GT(FPort, 0);
  }
  void TearDown() override {
    FServer.reset();
    PumpFor(20);  // let deferred releases run before the record goes
  }
  // Connects and waits until the server has built the connection object.
  std::unique_ptr<TLoopbackClient> Connect() {
    auto client = std::make_unique<TLoopbackClient>();
    int before = FServer->NextConnectionNumber();
    EXPECT_TRUE(client->Connect(FPort));
    EXPECT_TRUE(PumpUntil([&] { return FServer->NextConnectionNumber() > before; }, 5000));
    return client;
  }
  std::unique_ptr<TLoopbackClient> ConnectPastBanner() {
    auto client = Connect();
    std::string line;
    EXPECT_TRUE(client->ReadLine(line));
    EXPECT_EQ(line, "+OK test banner");
    return client;
  }
  TProtocolRecord FRecord;
  std::unique_ptr<TTestServer> FServer;
  int FPort = 0;
};

// The same protocol over an in-memory stream, for what concerns the
// connection's reading and answering rather than the socket: the reads
// arrive exactly as cut here, and idle ticks run on demand.
class QuorConversationTest : public testing::Test {
 protected:
  void SetUp() override { FServer = std::make_unique<TTestServer>(&FRecord); }
  void TearDown() override {
    FServer.reset();
    PumpFor(20);  // let deferred releases run before the record goes
  }
  // Before the first tick, so before the banner.
  std::unique_ptr<TScriptedConversation> Connect() {
    return std::make_unique<TScriptedConversation>(*FServer, /*banner=*/false);
  }
  std::unique_ptr<TScriptedConversation> ConnectPastBanner() {
    auto client = std::make_unique<TScriptedConversation>(*FServer);
    EXPECT_TRUE(client->Run({ServerAnswers("+OK test banner")}));
    return client;
  }
  TProtocolRecord FRecord;
  std::unique_ptr<TTestServer> FServer;
};

TEST_F(QuorConversationTest, EarlySpeakerIsAskedToWaitAndGetsBannerAfterTheAnswer) {
  auto client = Connect();
  ASSERT_TRUE(client->Send("HELLO\r\n"));
  std::string line;
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "301 Please wait for the greeting.");
  client->Tick();
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "+OK test banner");
  ASSERT_TRUE(client->Send("ECHO after\r\n"));
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "ECHO:after");
}

TEST_F(QuorConversationTest, LinesAreSplitAtEveryKindOfLineEndAndJoinedAcrossReads) {
  auto client = ConnectPastBanner();
  std::string line;
  // A LF B CR LF: two lines.
  ASSERT_TRUE(client->Send("ECHO A\nECHO B\r\n"));
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "ECHO:A");
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "ECHO:B");
  // A line cut across reads is joined; its tail waits for the line end.
  ASSERT_TRUE(client->Send("ECHO sp"));
  EXPECT_EQ(client->Unread(), "");
  ASSERT_TRUE(client->Send("lit\r\nECHO tail"));
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "ECHO:split");
  EXPECT_EQ(FRecord.handled.back(), "ECHO split");
  ASSERT_TRUE(client->Send(" end\r\n"));
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "ECHO:tail end");
  // Zero bytes are dropped, the rest of the read and its line ends are kept.
  ASSERT_TRUE(client->Send(std::string("ECHO n\0u\0l\r\nECHO next\r\n", 23)));
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "ECHO:nul");
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "ECHO:next");
}

TEST_F(QuorConversationTest, InterceptCheckIsAnsweredAndNeverReachesTheProtocol) {
  auto client = Connect();
  // Even before the banner, where the protocol would ask the client to wait.
  ASSERT_TRUE(client->Send("~~Intercept check~~\r\n"));
  std::string line;
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "~~Intercept confirmed~~");
  client->Tick();
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "+OK test banner");
  ASSERT_TRUE(client->Send("~~Intercept check~~ \r\n~~Intercept check~~\r\n"));
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "? ~~Intercept check~~ ");  // only the exact line is intercepted
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "~~Intercept confirmed~~");
  for (const auto &h : FRecord.handled) EXPECT_NE(h, "~~Intercept check~~");
}

// The overflow warning is about a long line left waiting in the queue; one
// handled at once is simply taken.
TEST_F(QuorConversationTest, LongLinesWithinTheLimitAreTakenWithoutTheOverflowWarning) {
  auto client = ConnectPastBanner();
  std::string huge = "SIZE" + std::string(50 * 1024, 'y');
  ASSERT_TRUE(client->Send(huge + "\r\n"));
  std::string line;
  ASSERT_TRUE(client->ReadLine(line, 20000));
  EXPECT_EQ(line, "SIZE " + std::to_string(huge.size()));
  const std::string warning =
      "Line read exceding 1000 characters.  Possible buffer overflow attempt.";
  EXPECT_FALSE(LogHas(FRecord, warning));
  // Binary noise without a CR LF just waits while it stays within the limit.
  std::string noise;
  for (int i = 0; i < 20000; ++i)
    noise += static_cast<char>((i * 37) % 256 == 13 ? 14 : (i * 37) % 256);
  ASSERT_TRUE(client->Send(noise));
  ASSERT_TRUE(client->Send("\r\nECHO ok\r\n"));
  ASSERT_TRUE(PumpUntil(
      [&] { return !FRecord.handled.empty() && FRecord.handled.back() == "ECHO ok"; }, 10000));
}

// Input without a line end is still input: it neither holds back the
// banner nor keeps a silent peer from being timed out.
TEST_F(QuorConversationTest, PartialLineBeforeTheBannerNeitherStopsTheBannerNorTheTimeOut) {
  FServer->SetTimeOut(2000);
  auto client = Connect();
  ASSERT_TRUE(client->Send("X"));
  client->Tick();
  std::string line;
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "+OK test banner");
  client->Tick();  // two seconds of silence: not yet past the limit
  EXPECT_FALSE(client->Peer().ServerClosed());
  client->Tick();
  EXPECT_TRUE(client->WaitClosed(8000));
  EXPECT_TRUE(LogHas(FRecord, "User connection timed out."));
  EXPECT_TRUE(FRecord.handled.empty());
}

// A line that never ends is not kept growing: past the limit the peer gets
// the protocol's error reply and the connection closes.
TEST_F(QuorConversationTest, OverlongPendingLineGetsTheErrorReplyAndTheConnectionCloses) {
  auto client = ConnectPastBanner();
  const std::string piece(4096, 'A');
  for (int i = 0; i < 20; ++i) {
    if (!client->Send(piece)) break;
  }
  std::string line;
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_NE(line.find("Line too long"), std::string::npos) << line;
  EXPECT_TRUE(client->WaitClosed(5000));
  EXPECT_TRUE(FRecord.handled.empty());
  // A long line well inside the limit is still taken as a line.
  auto other = ConnectPastBanner();
  ASSERT_TRUE(other->Send("SIZE" + std::string(20000, 'b') + "\r\n"));
  ASSERT_TRUE(other->ReadLine(line));
  EXPECT_EQ(line, "SIZE 20004");
}

TEST_F(QuorServerTest, BannerComesWithTheFirstTickNotAtConnect) {
  QElapsedTimer clock;
  clock.start();
  auto client = Connect();
  std::string line;
  ASSERT_TRUE(client->ReadLine(line, 5000));
  EXPECT_EQ(line, "+OK test banner");
  EXPECT_GE(clock.elapsed(), 900);  // not before the one-second tick
  EXPECT_TRUE(LogHas(FRecord, "User connected. IP = 127.0.0.1 TID = "));
  EXPECT_TRUE(LogHas(FRecord, "Sent: \"+OK test banner\""));
}

TEST_F(QuorServerTest, ConnectionsAreNumberedAndCountedAndUncountedWhenGone) {
  auto a = ConnectPastBanner();
  auto b = ConnectPastBanner();
  EXPECT_EQ(FServer->ActiveConnections(), 2);
  EXPECT_EQ(FServer->Connections()[0]->ConnectionNumber(), 1);
  EXPECT_EQ(FServer->Connections()[1]->ConnectionNumber(), 2);
  ASSERT_TRUE(a->Send("QUIT\r\n"));
  std::string line;
  ASSERT_TRUE(a->ReadLine(line));
  EXPECT_EQ(line, "+OK Brelvane server signing off");
  EXPECT_TRUE(a->WaitClosed());
  ASSERT_TRUE(PumpUntil([&] { return FRecord.destroyed == 1; }, 5000));
  EXPECT_EQ(FServer->ActiveConnections(), 1);
  auto c = Connect();
  EXPECT_EQ(FServer->Connections().back()->ConnectionNumber(), 3);  // never reused
  EXPECT_TRUE(LogHas(FRecord, "Disconnected. IP = 127.0.0.1"));
}

TEST_F(QuorServerTest, ConnectionLimitRefusesOnlyPeersFromOtherMachines) {
  std::vector<std::unique_ptr<TLoopbackClient>> locals;
  for (int i = 0; i < 51; ++i) locals.push_back(Connect());
  PumpFor(100);
  EXPECT_EQ(FServer->ActiveConnections(), 51);
  EXPECT_EQ(FRecord.destroyed, 0);  // local peers are never refused for the limit
  locals.erase(locals.begin());     // back to 50 live
  ASSERT_TRUE(PumpUntil([&] { return FServer->ActiveConnections() == 50; }, 5000));

  FServer->SetPeerAddressHook([](const std::string &) { return std::string("192.0.2.7"); });
  auto remote = Connect();
  std::string line;
  ASSERT_TRUE(remote->ReadLine(line));
  EXPECT_EQ(line, "-ERR : Maximum Connections exceeded. Brelvane server signing off");
  EXPECT_TRUE(remote->WaitClosed());
  ASSERT_TRUE(PumpUntil([&] { return FServer->ActiveConnections() == 50; }, 5000));
}

TEST_F(QuorServerTest, LocalOnlyPolicyRefusesAnotherMachineAtTheBanner) {
  FServer->SetRestrictToLocalHost(true);
  auto local = ConnectPastBanner();
  FServer->SetPeerAddressHook([](const std::string &) { return std::string("192.0.2.9"); });
  auto remote = Connect();
  std::string line;
  ASSERT_TRUE(remote->ReadLine(line));
  EXPECT_EQ(line, "-ERR only local Brelvane server signing off");
  EXPECT_TRUE(remote->WaitClosed());
  EXPECT_TRUE(LogHas(FRecord,
                     "Dropping Connection. Local connections allowed only.  Connection attempted "
                     "by: 192.0.2.9"));
}

TEST_F(QuorServerTest, IdleTimeOutCountsOnlyTimeWaitingForTheClient) {
  FServer->SetTimeOut(2000);
  auto client = ConnectPastBanner();
  // A handler busy for longer than the time-out is not the client's idleness.
  ASSERT_TRUE(client->Send("SLOW 3500\r\n"));
  std::string line;
  ASSERT_TRUE(client->ReadLine(line, 8000));
  EXPECT_EQ(line, "SLOW done");
  EXPECT_FALSE(FServer->Connections().empty() || FServer->Connections()[0]->IsTimedOut());
  // Silence after the server's last line is.
  ASSERT_TRUE(client->ReadLine(line, 8000));
  EXPECT_EQ(line, "Sorry user timed out. Brelvane server signing off");
  EXPECT_TRUE(client->WaitClosed());
  EXPECT_TRUE(LogHas(FRecord, "User connection timed out."));
}

TEST_F(QuorServerTest, PortCannotChangeWhileListeningAndDeactivatingFreesConnections) {
  auto a = ConnectPastBanner();
  auto b = ConnectPastBanner();
  EXPECT_NO_THROW(FServer->SetPort(0));  // unchanged value
  try {
    FServer->SetPort(2525);
    FAIL() << "port changed while active";
  } catch (const ESocketError &e) {
    EXPECT_STREQ(e.what(), "Can't change value while socket is active");
  }
  FServer->SetActive(false);
  EXPECT_EQ(FRecord.destroyed, 2);  // protocol clean-up ran
  EXPECT_EQ(FServer->ActiveConnections(), 0);
  EXPECT_TRUE(a->WaitClosed());
  EXPECT_TRUE(b->WaitClosed());
  EXPECT_NO_THROW(FServer->SetPort(2525));
  EXPECT_EQ(FServer->Port(), 2525);
}

TEST_F(QuorServerTest, TakenPortIsReportedToTheCaller) {
  TProtocolRecord other;
  TTestServer second(&other);
  second.SetPort(FPort);
  EXPECT_THROW(second.SetActive(true), ESocketError);
  EXPECT_FALSE(second.Active());
}

TEST_F(QuorServerTest, ConnectionOutlivesDeactivationWhileItsHandlerRuns) {
  auto client = ConnectPastBanner();
  ASSERT_TRUE(client->Send("SLOW 800\r\nECHO never\r\n"));
  QTimer::singleShot(200, [&] { FServer->SetActive(false); });
  ASSERT_TRUE(PumpUntil([&] { return FRecord.destroyed == 1; }, 5000));
  EXPECT_EQ(FRecord.slowFinished, 1);             // the handler finished on an intact object
  EXPECT_EQ(FRecord.handled.back(), "SLOW 800");  // nothing dispatched after the cut
  EXPECT_TRUE(client->WaitClosed());
}

TEST_F(QuorServerTest, PeerLeavingDuringAHandlerStillGetsItsQueuedLinesHandled) {
  auto client = ConnectPastBanner();
  ASSERT_TRUE(client->Send("SLOW 500\r\n"));
  PumpFor(100);
  ASSERT_TRUE(client->Send("ECHO queued\r\nECHO unfinish"));
  client->Close();
  ASSERT_TRUE(PumpUntil([&] { return FRecord.destroyed == 1; }, 5000));
  ASSERT_EQ(FRecord.handled.size(), 2u);
  EXPECT_EQ(FRecord.handled[1], "ECHO queued");  // a line without its end is never handed on
  EXPECT_EQ(FServer->ActiveConnections(), 0);
}

TEST_F(QuorServerTest, MegabytesReachAReadingClientWhole) {
  auto client = ConnectPastBanner();
  ASSERT_TRUE(client->Send("BIG 5\r\n"));
  const std::string marker = "BIG done\r\n";
  size_t got = client->Drain(
      [&](const std::string &r) {
        return r.size() >= marker.size() &&
               r.compare(r.size() - marker.size(), marker.size(), marker) == 0;
      },
      30000);
  EXPECT_EQ(got, 5u * 10486 * 100 + marker.size());
  EXPECT_FALSE(client->PeerClosed());

  // The lines of a bulk send are not logged one by one.
  EXPECT_FALSE(LogHas(FRecord, std::string(98, 'x')));
}

TEST_F(QuorServerTest, LinesNotVetoedReachTheDiagnosticFileUnderTheTranscriptName) {
  namespace fs = std::filesystem;
  fs::path folder = fs::temp_directory_path() / ("brelvane-srvlog-" + RandomText(8));
  SetLogFolder(folder.string());
  FServer->SetTranscriptFileName("TestTranscript");
  // Sent lines stay out of the file; everything else goes in.
  FServer->SetOnLog([](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &text, uint8_t,
                       bool) { return text.rfind("Sent: ", 0) != 0; });
  {
    auto client = ConnectPastBanner();
    ASSERT_TRUE(client->Send("QUIT\r\n"));
    EXPECT_TRUE(client->WaitClosed());
  }
  ASSERT_TRUE(PumpUntil([&] { return FRecord.destroyed == 1; }, 5000));
  std::string path = CurrentLogPath();
  CloseLogFile();
  SetLogFolder("");
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove_all(folder);
  EXPECT_NE(text.find("S=TestTranscript,\"T=(1) User connected. IP = 127.0.0.1"),
            std::string::npos);
  EXPECT_NE(text.find("S=TestTranscript,\"T=(1) Disconnected. IP = 127.0.0.1\",D=4,E=0"),
            std::string::npos);
  EXPECT_NE(text.find("S=TestTranscript,\"T=(1) \",D=1,E=0"),
            std::string::npos);  // the separator line
  EXPECT_EQ(text.find("Sent: "), std::string::npos);
}

TEST_F(QuorServerTest, PeerResettingWhileTheServerWritesEndsTheConnectionWithASendError) {
  auto client = ConnectPastBanner();
  client->SetSmallReceiveBuffer();
  ASSERT_TRUE(client->Send("BIG 20\r\n"));
  QTimer::singleShot(300, [&] { client->Abort(); });
  ASSERT_TRUE(PumpUntil([&] { return FRecord.destroyed == 1; }, 20000));
  EXPECT_EQ(FServer->ActiveConnections(), 0);
  EXPECT_FALSE(LogHas(FRecord, "User connection timed out."));  // the reset ended it, not a stall
  EXPECT_TRUE(LogHas(FRecord, "Socket error:1"));
}

// Qt reads a reset as an ordinary end of stream; the log must still tell
// a peer that broke off from one that said goodbye.
TEST_F(QuorServerTest, PeerResettingAnIdleConnectionIsLoggedAndAnOrderlyCloseIsNot) {
  auto closing = ConnectPastBanner();
  closing->Close();
  ASSERT_TRUE(PumpUntil([&] { return FRecord.destroyed == 1; }, 10000));
  EXPECT_FALSE(LogHas(FRecord, "Socket error"));

  auto resetting = ConnectPastBanner();
  resetting->Abort();
  ASSERT_TRUE(PumpUntil([&] { return FRecord.destroyed == 2; }, 10000));
  EXPECT_TRUE(LogHas(FRecord, "Socket error:2"));
  EXPECT_EQ(FServer->ActiveConnections(), 0);
}

TEST_F(QuorServerTest, ClientThatNeverReadsIsTimedOutWithoutHangingTheServer) {
  FServer->SetTimeOut(4000);
  auto stuck = ConnectPastBanner();
  stuck->SetSmallReceiveBuffer();
  ASSERT_TRUE(stuck->Send("BIG 50\r\n"));
  // While the server waits on the stuck peer, another client is served.
  std::string otherReply;
  std::thread other([&] {
    otherReply = BlockingExchange(FPort, 1, "ECHO alive\r\n", 10000);
    FRecord.otherServed = true;
  });
  bool destroyed = PumpUntil([&] { return FRecord.destroyed == 2; }, 30000);  // both clients
  PumpUntil([&] { return FRecord.otherServed.load(); }, 10000);
  other.join();
  ASSERT_TRUE(destroyed);
  EXPECT_EQ(otherReply, "ECHO:alive");
  EXPECT_TRUE(FRecord.otherServedDuringBig);
  EXPECT_TRUE(LogHas(FRecord, "User connection timed out."));
  EXPECT_EQ(FServer->ActiveConnections(), 0);
}

}  // namespace

// A reader that takes a large transfer slowly but steadily is making
// progress, not idling: it gets every byte, and no text of the server's
// (a time-out line) ever lands inside the transfer.
TEST_F(QuorServerTest, SlowSteadyReaderGetsTheWholeTransferWithNoTimeOutText) {
  FServer->SetTimeOut(1000);
  auto client = ConnectPastBanner();
  client->SetSmallReceiveBuffer();
  ASSERT_TRUE(client->Send("RETR 20\r\n"));
  // 200 KB taken a small buffer at a time: some seconds, well past the
  // time-out.
  client->Drain(
      [](const std::string &got) {
        return got.size() >= 5 && got.find("\r\n.\r\n") != std::string::npos;
      },
      30000, 16 * 1024, 1);
  const std::string got = client->Received();
  EXPECT_EQ(got.find("timed out"), std::string::npos);
  EXPECT_EQ(got.rfind("+OK here it comes\r\n", 0), 0u) << got.substr(0, 60) << " " << got.size();
  EXPECT_EQ(got.size(), std::string("+OK here it comes\r\n").size() + 2000 * 100 + 3);
  EXPECT_FALSE(LogHas(FRecord, "User connection timed out."));
}

// Stuffing and the terminating line are added while the text is written,
// across block boundaries (the pauses of a slow reader are the slow-reader
// test's); the bytes are those of the stuffed list joined with CR LF.
TEST_F(QuorServerTest, StuffedSendIsByteForByteTheStuffedListAndLeavesTheListAlone) {
  auto client = ConnectPastBanner();
  ASSERT_TRUE(client->Send("STUFFED\r\n"));
  client->Drain(
      [](const std::string &got) {
        return got.size() >= 7 && got.compare(got.size() - 7, 7, "after\r\n") == 0;
      },
      30000);
  TStringList stuffed = StuffingLines();
  for (std::string &l : stuffed)
    if (!l.empty() && l[0] == '.') l.insert(l.begin(), '.');
  stuffed.push_back(".");
  std::string expected = "+OK stuffed\r\n";
  for (const std::string &l : stuffed)
    expected += l.size() >= 2 && l.compare(l.size() - 2, 2, "\r\n") == 0 ? l : l + "\r\n";
  expected += "after\r\n";
  const std::string got = client->Received();
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "first difference at byte "
                               << std::mismatch(got.begin(), got.end(), expected.begin()).first -
                                      got.begin();
  EXPECT_TRUE(FRecord.stuffedListUnchanged);
  // The status line is logged as a single line is; the text is not.
  EXPECT_TRUE(LogHas(FRecord, "Sent: \"+OK stuffed\""));
  EXPECT_FALSE(LogHas(FRecord, "..twice"));
}

// A message held as one text reaches the wire as the list SplitLines makes
// of it would: the expectation is built here from the split lines alone.
TEST_F(QuorServerTest, TextSentWholeIsByteForByteItsSplitLinesSent) {
  auto client = ConnectPastBanner();
  ASSERT_TRUE(client->Send("TEXTS\r\n"));
  const std::string marker = "texts done\r\n";
  client->Drain(
      [&](const std::string &got) {
        return got.size() >= marker.size() &&
               got.compare(got.size() - marker.size(), marker.size(), marker) == 0;
      },
      30000);
  std::string expected;
  for (const std::string &text : TrickyTexts()) {
    for (bool stuff : {true, false}) {
      std::string wire;
      for (const std::string &l : SplitLines(text))
        wire += (stuff && !l.empty() && l[0] == '.' ? "." : "") + l + "\r\n";
      if (stuff) wire += ".\r\n";
      expected += "+OK L\r\n" + wire + "+OK T\r\n" + wire;
    }
  }
  expected += marker;
  const std::string got = client->Received();
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "first difference at byte "
                               << std::mismatch(got.begin(), got.end(), expected.begin()).first -
                                      got.begin();
}

// Local-only, with no listen address of the caller's: the port is not open
// to other machines at all, on IPv4 and IPv6 loopback it is; turning the
// option off listens everywhere again without dropping live connections.
// Connections that arrive while the loop is busy wait in the kernel's
// queue. One that finds the queue full is dropped there, and under steady
// load a client could believe itself connected while the gateway never
// hears of it, until the client's own time-out: a burst of mail programs
// must all be queued and then served.
TEST_F(QuorServerTest, ABurstOfConnectionsWhileTheLoopIsBusyIsQueuedAndServed) {
  FServer->SetMaxConnections(100);
  constexpr int kBurst = 40;
  std::vector<int> fds;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(FPort));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < kBurst; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0);
    connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    fds.push_back(fd);
  }
  // The loop does not run here: only the kernel's queue holds them.
  int queued = 0;
  for (int fd : fds) {
    pollfd ready{fd, POLLOUT, 0};
    int error = -1;
    socklen_t length = sizeof error;
    if (poll(&ready, 1, 500) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
        error == 0)
      ++queued;
  }
  EXPECT_EQ(queued, kBurst);
  // Then every one of them is greeted.
  int greeted = 0;
  std::vector<std::string> got(fds.size());
  PumpUntil(
      [&] {
        greeted = 0;
        for (size_t i = 0; i < fds.size(); ++i) {
          char buf[256];
          const ssize_t n = recv(fds[i], buf, sizeof buf, MSG_DONTWAIT);
          if (n > 0) got[i].append(buf, size_t(n));
          if (got[i].find("\r\n") != std::string::npos) ++greeted;
        }
        return greeted == kBurst;
      },
      10000);
  EXPECT_EQ(greeted, kBurst);
  for (int fd : fds) close(fd);
}

TEST(QuorServerListening, LocalOnlyListensOnLoopbackAndAChangeListensAgain) {
  QHostAddress outward;
  for (const QHostAddress &a : QNetworkInterface::allAddresses())
    if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) outward = a;
  TProtocolRecord record;
  TTestServer server(&record);
  server.SetListenAddress("0.0.0.0");
  server.SetRestrictToLocalHost(true);
  server.SetActive(true);
  const int port = server.BoundPort();
  ASSERT_GT(port, 0);
  auto reaches = [port](const QHostAddress &address) {
    QTcpSocket socket;
    socket.connectToHost(address, static_cast<quint16>(port));
    const bool connected = socket.waitForConnected(3000);
    socket.abort();
    return connected;
  };
  EXPECT_TRUE(reaches(QHostAddress::LocalHost));
  QTcpSocket probe6;
  probe6.bind(QHostAddress::LocalHostIPv6, 0);
  const bool haveIPv6 = probe6.state() == QAbstractSocket::BoundState;
  probe6.abort();
  if (haveIPv6) {
    EXPECT_TRUE(reaches(QHostAddress::LocalHostIPv6));
  }
  if (!outward.isNull()) {
    EXPECT_FALSE(reaches(outward)) << outward.toString().toStdString();
  }

  auto client = std::make_unique<TLoopbackClient>();
  ASSERT_TRUE(client->Connect(port));
  std::string line;
  ASSERT_TRUE(client->ReadLine(line));
  server.SetRestrictToLocalHost(false);
  EXPECT_EQ(server.BoundPort(), port);
  if (!outward.isNull()) {
    EXPECT_TRUE(reaches(outward));
  }
  EXPECT_TRUE(reaches(QHostAddress::LocalHost));
  ASSERT_TRUE(client->Send("ECHO still here\r\n"));
  ASSERT_TRUE(client->ReadLine(line));
  EXPECT_EQ(line, "ECHO:still here");
  server.SetRestrictToLocalHost(true);
  if (!outward.isNull()) {
    EXPECT_FALSE(reaches(outward));
  }
  EXPECT_TRUE(reaches(QHostAddress::LocalHost));
}

// Handlers that wait run inside one another's waits, and the outermost can
// return only after every one above it: their number is capped, so that a
// steady stream of new connections cannot keep the first one waiting for
// ever. Lines beyond the cap wait their turn and are all answered.
TEST_F(QuorServerTest, WaitingHandlersNestOnlyAFewDeepAndTheRestAreServedAfterwards) {
  std::vector<std::unique_ptr<TLoopbackClient>> clients;
  for (int i = 0; i < 14; ++i) clients.push_back(Connect());
  std::string banner;
  for (auto &c : clients) ASSERT_TRUE(c->ReadLine(banner));
  for (auto &c : clients) ASSERT_TRUE(c->Send("SLOW 300\r\n"));
  ASSERT_TRUE(PumpUntil([&] { return FRecord.slowFinished == 14; }, 30000));
  EXPECT_GE(FRecord.slowMostAtOnce, 2);
  EXPECT_LE(FRecord.slowMostAtOnce, 8);
  for (auto &c : clients) {
    std::string line;
    ASSERT_TRUE(c->ReadLine(line));
    EXPECT_EQ(line, "SLOW done");
  }
}
