#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "foundation/QuorUtil.h"
#include "http/Connectivity.h"
#include "http/QuorClientSocket.h"
#include "support/LoopbackPeer.h"

namespace {
using namespace std::chrono_literals;

class ClientSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    socket.SetOnError(
        [this](TQuorAbstractClientSocket *, const std::string &m) { errors.push_back(m); });
    socket.SetOnDisconnect([this](TQuorAbstractClientSocket *) { ++disconnects; });
    socket.SetHost("127.0.0.1");
    socket.SetPort(peer.Port());
    socket.SetTimeout(5000);
  }
  void ConnectTo(std::function<void(int)> script) {
    peer.Serve(std::move(script));
    ASSERT_TRUE(socket.Connect()) << (errors.empty() ? "" : errors.back());
  }

  TLoopbackPeer peer;
  TQuorClientSocket socket{"Test"};
  std::vector<std::string> errors;
  int disconnects = 0;
};

TEST_F(ClientSocketTest, LinesArrivingTogetherAreHandedOutOneByOneWithoutWaitingAgain) {
  ConnectTo([](int fd) {
    TLoopbackPeer::SendAll(fd, "A\r\nB\r\n\r\nlast");
    std::this_thread::sleep_for(200ms);
  });
  std::string line;
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line, "A");
  const auto waits = socket.SocketWaits();
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line, "B");
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line, "") << "an empty line is a line";
  EXPECT_EQ(socket.SocketWaits(), waits) << "the second and third lines were already received";
  // After the peer has gone, its unterminated tail is its last line.
  peer.Join();
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(socket.ReadLn(line));
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back().rfind("Readln excepted with ", 0), 0u) << errors.back();
}

TEST(SplitEmbeddedLineBreaks, CutsAtFirstPairAndKeepsTheRestForLater) {
  struct Case {
    std::string in, line, pushback;
  } cases[] = {
      {"plain", "plain", ""},         {"\r\nA", "A", ""},
      {"\r\n\r\nA\r\nB", "A", "B"},   {"A\r\n", "A", ""},
      {"A\r\nB\r\nC", "A", "B\r\nC"}, {"A\rB\nC", "A\rB\nC", ""},
      {"A\n\r\nB", "A\n", "B"},       {"\r\n", "", ""},
  };
  for (const auto &c : cases) {
    std::string line = c.in, pushback;
    TIndyClientSocket::SplitEmbeddedLineBreaks(line, pushback);
    EXPECT_EQ(line, c.line) << c.in;
    EXPECT_EQ(pushback, c.pushback) << c.in;
  }
  std::string line = "X\r\nY", pushback = "Z";
  TIndyClientSocket::SplitEmbeddedLineBreaks(line, pushback);
  EXPECT_EQ(pushback, "YZ") << "text cut off goes in front of what was pushed back before";
}

TEST_F(ClientSocketTest, OverLongLineComesBackWholeEvenWhenItsEndArrivesLate) {
  const std::string first(100000, 'x');
  std::string second(70000, 'y');
  second[16383] = '\r';  // a lone CR where a piece ends stays in the line
  ConnectTo([&](int fd) {
    TLoopbackPeer::SendAll(fd, first + "\r\n");
    TLoopbackPeer::SendAll(fd, second.substr(0, 50000));
    std::this_thread::sleep_for(350ms);  // longer than one read round
    TLoopbackPeer::SendAll(fd, second.substr(50000) + "\r\nshort\r\n");
    std::this_thread::sleep_for(100ms);
  });
  std::string line;
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line.size(), first.size());
  EXPECT_EQ(line, first);
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line.size(), second.size());
  EXPECT_EQ(line, second);
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line, "short");
  EXPECT_TRUE(errors.empty());
  peer.Join();
}

TEST_F(ClientSocketTest, ReadTimeOutCountsRoundsAndReportsOnlyLongLimits) {
  ConnectTo([](int fd) { TLoopbackPeer::Receive(fd, 1, 3000); });
  std::string line = "stale";
  socket.SetTimeout(180);
  auto waits = socket.SocketWaits();
  EXPECT_FALSE(socket.ReadLn(line));
  EXPECT_EQ(line, "");
  EXPECT_EQ(socket.SocketWaits() - waits, 2);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Readln Timed Out.");

  socket.SetTimeout(50);
  waits = socket.SocketWaits();
  EXPECT_FALSE(socket.ReadLn(line));
  EXPECT_EQ(socket.SocketWaits() - waits, 1);
  EXPECT_EQ(errors.size(), 1u) << "a limit of 100 ms or less is reported by the result alone";
  socket.WriteLn("x");
}

TEST_F(ClientSocketTest, WritesLinesAndDataWithProgress) {
  std::string received;
  const std::string body(5000, 'b');
  ConnectTo([&](int fd) { received = TLoopbackPeer::Receive(fd, 8 + body.size(), 3000); });
  EXPECT_TRUE(socket.WriteLn("HELO x"));
  std::vector<std::string> texts;
  int64_t lastSent = 0, lastTotal = 0;
  EXPECT_TRUE(socket.WriteData(body, [&](const std::string &t, int64_t sent, int64_t total) {
    texts.push_back(t);
    lastSent = sent;
    lastTotal = total;
  }));
  peer.Join();
  EXPECT_EQ(received.size(), 8 + body.size());
  EXPECT_TRUE(received == "HELO x\r\n" + body);
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts.front(), "wrote 1024 of 5000 bytes");
  EXPECT_EQ(texts.back(), "wrote 5000 of 5000 bytes");
  EXPECT_EQ(lastSent, 5000);
  EXPECT_EQ(lastTotal, 5000);
}

TEST_F(ClientSocketTest, ProgressCallbackCanCancelASend) {
  ConnectTo([](int fd) { TLoopbackPeer::ReceiveUntilClosed(fd, 2000); });
  ASSERT_TRUE(RegisterProgressCallback([](const std::string &, int64_t, int64_t) { return true; }));
  EXPECT_FALSE(socket.WriteData(std::string(4000, 'z')));
  UnregisterProgressCallback();
  socket.Close();
}

TEST_F(ClientSocketTest, WritingToAGonePeerFailsWithoutKillingTheProcess) {
  ConnectTo([](int fd) { ::shutdown(fd, SHUT_RDWR); });
  peer.Join();
  std::this_thread::sleep_for(50ms);
  const std::string big(2 * 1024 * 1024, 'q');
  EXPECT_FALSE(socket.WriteData(big));
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back().rfind("WriteData excepted with", 0), 0u) << errors.back();
}

TEST_F(ClientSocketTest, ReadDataCollectsBodyThenReportsTheClose) {
  ConnectTo([](int fd) {
    TLoopbackPeer::SendAll(fd, "line\r\nbody-part-1;");
    std::this_thread::sleep_for(100ms);
    TLoopbackPeer::SendAll(fd, "body-part-2");
  });
  std::string line, body;
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line, "line");
  auto until = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < until) {
    if (!socket.ReadData(body) && !errors.empty()) break;
  }
  EXPECT_EQ(body, "body-part-1;body-part-2");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "ReadData excepted with:Connection Closed Gracefully.");
}

TEST_F(ClientSocketTest, DropIsFoundByWatchTickAndAnnouncedOnce) {
  ConnectTo([](int fd) { TLoopbackPeer::SendAll(fd, "bye\r\n"); });
  EXPECT_TRUE(socket.WatchTimerEnabled());
  peer.Join();
  std::this_thread::sleep_for(50ms);
  // Unread input keeps the connection alive until it has been taken.
  EXPECT_TRUE(socket.Connected());
  std::string line;
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line, "bye");
  socket.WatchTimerTick();
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(socket.WatchTimerEnabled());
  EXPECT_FALSE(socket.Connected());
  socket.WatchTimerTick();
  EXPECT_TRUE(socket.Close());
  EXPECT_EQ(disconnects, 1);
}

TEST_F(ClientSocketTest, CloseAnnouncesOnceAndTheSocketCanConnectAgain) {
  ConnectTo([](int fd) { TLoopbackPeer::ReceiveUntilClosed(fd, 2000); });
  EXPECT_TRUE(socket.Connected());
  EXPECT_TRUE(socket.Close());
  EXPECT_TRUE(socket.Close());
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(socket.Connected());
  EXPECT_FALSE(socket.WatchTimerEnabled());
  peer.Join();

  ConnectTo([](int fd) { TLoopbackPeer::SendAll(fd, "again\r\n"); });
  std::string line;
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line, "again");
  EXPECT_TRUE(socket.Close());
  EXPECT_EQ(disconnects, 2);
}

TEST(ClientSocketConnect, AttemptLimitAndRetriesAgainstClosedPort) {
  TQuorClientSocket socket("Test");
  socket.SetTimeout(15000);
  EXPECT_EQ(socket.AttemptTimeout(), 10000) << "15000 div 5 is below 5000";
  socket.SetTimeout(60000);
  EXPECT_EQ(socket.AttemptTimeout(), 60000);
  socket.SetTimeout(24999);
  EXPECT_EQ(socket.AttemptTimeout(), 10000);
  socket.SetTimeout(25000);
  EXPECT_EQ(socket.AttemptTimeout(), 25000);

  std::vector<std::string> errors;
  socket.SetOnError(
      [&](TQuorAbstractClientSocket *, const std::string &m) { errors.push_back(m); });
  socket.SetHost("127.0.0.1");
  socket.SetPort(ClosedLoopbackPort());
  socket.ConnectRetries = 3;
  EXPECT_FALSE(socket.Connect());
  EXPECT_EQ(socket.ConnectAttempts(), 3);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("TIndyClientSocket.Connect excepted with ", 0), 0u) << errors[0];
  EXPECT_NE(errors[0].find("refused"), std::string::npos) << errors[0];
  EXPECT_FALSE(socket.WatchTimerEnabled());
  EXPECT_EQ(socket.GetHost(), "127.0.0.1") << "host and port survive the engine's renewal";

  socket.SetHost("no-such-host.invalid");
  socket.ConnectRetries = 1;
  EXPECT_FALSE(socket.Connect());
  EXPECT_EQ(socket.ConnectAttempts(), 1);
}

TEST_F(ClientSocketTest, CancelFlagStopsOnlyNewConnections) {
  bool cancel = true;
  socket.CancelFlag = &cancel;
  peer.Serve([](int fd) { TLoopbackPeer::SendAll(fd, "one\r\ntwo"); });
  EXPECT_FALSE(socket.Connect());
  EXPECT_EQ(socket.ConnectAttempts(), 0);
  EXPECT_TRUE(errors.empty());
  cancel = false;
  ASSERT_TRUE(socket.Connect());
  cancel = true;
  std::string line, data;
  ASSERT_TRUE(socket.ReadLn(line));
  EXPECT_EQ(line, "one");
  peer.Join();
  EXPECT_TRUE(socket.ReadData(data));
  EXPECT_EQ(data, "two");
}

TEST_F(ClientSocketTest, TerminateFlagStopsEverythingAndWriteLnSendsNothing) {
  bool terminate = false;
  socket.TerminateFlag = &terminate;
  std::string received;
  ConnectTo([&](int fd) {
    TLoopbackPeer::SendAll(fd, "waiting\r\n");
    received = TLoopbackPeer::ReceiveUntilClosed(fd, 3000);
  });
  terminate = true;
  std::string line, data;
  EXPECT_FALSE(socket.ReadLn(line));
  EXPECT_FALSE(socket.ReadData(data));
  EXPECT_FALSE(socket.WriteData("payload"));
  EXPECT_TRUE(socket.WriteLn("must not be sent"));
  EXPECT_FALSE(socket.Connect());
  EXPECT_TRUE(errors.empty());
  terminate = false;
  EXPECT_TRUE(socket.WriteLn("sent"));
  socket.Close();
  peer.Join();
  EXPECT_EQ(received, "sent\r\n");
}

bool *gRaiseAfterYields = nullptr;
int gYieldsLeft = 0;
void RaisingYield() {
  if (gRaiseAfterYields && --gYieldsLeft <= 0) *gRaiseAfterYields = true;
}

std::chrono::steady_clock::time_point gRaiseAt;
void RaisingYieldLater() {
  if (gRaiseAfterYields && std::chrono::steady_clock::now() >= gRaiseAt) *gRaiseAfterYields = true;
}

TEST_F(ClientSocketTest, TerminateRaisedWhileWaitingEndsTheReadAtOnce) {
  bool terminate = false;
  socket.TerminateFlag = &terminate;
  socket.SetTimeout(60000);
  ConnectTo([](int fd) { TLoopbackPeer::Receive(fd, 1, 3000); });
  // The flag is raised from inside the event loop, as a window would.
  gRaiseAfterYields = &terminate;
  gYieldsLeft = 4;
  SetMainThread();
  SetYieldHook(&RaisingYield);
  std::string line;
  auto waitsBefore = socket.SocketWaits();
  EXPECT_FALSE(socket.ReadLn(line));
  SetYieldHook(nullptr);
  gRaiseAfterYields = nullptr;
  EXPECT_LE(socket.SocketWaits() - waitsBefore, 4)
      << "stopped within a few rounds, not after the 60 s limit";
  EXPECT_TRUE(errors.empty());
  terminate = false;
  socket.WriteLn("x");
}

TEST_F(ClientSocketTest, WriteHeldUpByAPeerThatDoesNotReadKeepsTheLoopAndSeesTheStop) {
  bool terminate = false;
  socket.TerminateFlag = &terminate;
  std::atomic<bool> release{false};
  peer.SetReceiveBuffer(4096);
  ConnectTo([&](int) {
    for (int i = 0; i < 500 && !release; ++i) std::this_thread::sleep_for(10ms);
  });
  // Enough to fill every buffer between the two ends, so the send blocks.
  const std::string big(16 * 1024 * 1024, 'w');
  // The stop comes from the loop a while after sending began: by then the
  // buffers are full and the send is waiting on the peer.
  gRaiseAfterYields = &terminate;
  gRaiseAt = std::chrono::steady_clock::now() + 300ms;
  SetMainThread();
  SetYieldHook(&RaisingYieldLater);
  EXPECT_FALSE(socket.WriteData(big));
  SetYieldHook(nullptr);
  gRaiseAfterYields = nullptr;
  release = true;
  peer.Join();  // the peer uses this test's locals
  EXPECT_TRUE(terminate) << "the send ended because the stop was seen, not for another reason";
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TIndyClientSocket *gTickedSocket = nullptr;
void TickingYield() {
  if (gTickedSocket) gTickedSocket->WatchTimerTick();
}

TEST_F(ClientSocketTest, WatchTickDuringAHeldUpSendLeavesTheEngineAlone) {
  peer.SetReceiveBuffer(4096);
  ConnectTo([](int fd) {
    std::this_thread::sleep_for(200ms);
    // Says it is finished while the send is held up, so that a tick then
    // finds the peer gone; later it leaves with data unread (a reset).
    ::shutdown(fd, SHUT_WR);
    std::this_thread::sleep_for(300ms);
  });
  // The watch timer fires from the loop that the held-up send keeps running.
  gTickedSocket = &socket;
  SetMainThread();
  SetYieldHook(&TickingYield);
  EXPECT_FALSE(socket.WriteData(std::string(16 * 1024 * 1024, 'v')));
  SetYieldHook(nullptr);
  gTickedSocket = nullptr;
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back().rfind("WriteData excepted with", 0), 0u) << errors.back();
  // Once the send has given up, the next tick finds the drop.
  socket.WatchTimerTick();
  EXPECT_EQ(disconnects, 1);
}

TEST(ClientSocketLookup, HostAddressOfDottedTextAndName) {
  TQuorClientSocket socket("Test");
  socket.SetHost("127.0.0.1");
  EXPECT_EQ(socket.LookupHostAddress(), htonl(0x7F000001));
  socket.SetHost("localhost");
  EXPECT_EQ(ntohl(socket.LookupHostAddress()) >> 24, 127u);
}

TEST(Connectivity, ProbeReachesListenerAndReportsClosedPortAndUnknownHost) {
  TLoopbackPeer peer;
  peer.Serve([](int) {});
  SetConnectivityProbeHost("127.0.0.1", peer.Port());
  EXPECT_EQ(CheckConnectivity(), cy_Reached);
  peer.Join();
  SetConnectivityProbeHost("127.0.0.1", ClosedLoopbackPort());
  EXPECT_EQ(CheckConnectivity(), cy_ConnectFailed);
  SetConnectivityProbeHost("no-such-host.invalid", 80);
  int r = CheckConnectivity();
  EXPECT_TRUE(r == cy_NoAddress || r == cy_LookupFailed) << r;
  EXPECT_TRUE(SetConnectivityProbeHostText("127.0.0.1:8080"));
  EXPECT_FALSE(SetConnectivityProbeHostText("127.0.0.1"));
  EXPECT_FALSE(SetConnectivityProbeHostText("127.0.0.1:http"));
  EXPECT_FALSE(SetConnectivityProbeHostText(":80"));
  SetConnectivityProbeHost("", 0);
}
}  // namespace
