// The in-memory stream under the conversation tests and fuzz targets: it
// must behave as the connection expects a socket to, or those tests would
// pass over a stream that no real client could produce.
#include <gtest/gtest.h>

#include "servers/MemoryTransport.h"

namespace {

class TRecordingListener : public TByteTransportListener {
 public:
  void TransportReadable() override { Events += "R"; }
  void TransportDisconnected() override { Events += "D"; }
  void TransportError(int, int) override { Events += "E"; }
  std::string Events;
};

TEST(MemoryTransport, ClientBytesWaitForTheListenerAndArriveInOrder) {
  auto peer = std::make_shared<TMemoryPeer>();
  TMemoryTransport transport(peer, "192.0.2.5", "127.0.0.1");
  EXPECT_EQ(transport.PeerAddress(), "192.0.2.5");
  EXPECT_EQ(transport.LocalAddress(), "127.0.0.1");
  // Written before anyone listens (the connection is still being built):
  // kept, and found by the first look.
  peer->Write("USER a\r\n");
  TRecordingListener listener;
  transport.SetListener(&listener);
  EXPECT_EQ(transport.BytesAvailable(), 8);
  peer->Write("PASS b\r\n");
  EXPECT_EQ(listener.Events, "R");
  EXPECT_EQ(transport.ReadAll(), "USER a\r\nPASS b\r\n");
  EXPECT_EQ(transport.ReadAll(), "");
  EXPECT_EQ(transport.Send("+OK\r\n"), 5);
  EXPECT_EQ(transport.Send("+OK two\r\n"), 9);
  EXPECT_EQ(peer->TakeReceived(), "+OK\r\n+OK two\r\n");
  EXPECT_EQ(transport.Unsent(), 0);
}

TEST(MemoryTransport, ACloseIsReportedAtOnceAndEndsBothDirections) {
  auto peer = std::make_shared<TMemoryPeer>();
  TRecordingListener listener;
  {
    TMemoryTransport transport(peer);
    transport.SetListener(&listener);
    ASSERT_TRUE(transport.Connected());
    transport.Send("bye\r\n");
    transport.Close();
    // As a socket with nothing left to send: the disconnect comes from
    // inside Close, and the stream is closed for good.
    EXPECT_EQ(listener.Events, "D");
    EXPECT_TRUE(transport.Unconnected());
    EXPECT_EQ(transport.Send("late\r\n"), -1);
    transport.Abort();  // already closed: no second disconnect
    EXPECT_EQ(listener.Events, "D");
    EXPECT_FALSE(peer->ServerAborted());
  }
  // The client's end outlives the connection's: its last answer is there.
  EXPECT_TRUE(peer->ServerClosed());
  EXPECT_EQ(peer->Received(), "bye\r\n");
  peer->Write("ignored\r\n");  // nobody to tell, nothing to crash
  EXPECT_FALSE(peer->Open());
}

TEST(MemoryTransport, TheClientLeavingAndAnAbortAreToldApart) {
  auto leaving = std::make_shared<TMemoryPeer>();
  TMemoryTransport a(leaving);
  TRecordingListener la;
  a.SetListener(&la);
  leaving->Write("QUIT\r\n");
  leaving->Close();
  EXPECT_EQ(la.Events, "RD");
  EXPECT_FALSE(leaving->ServerClosed());
  EXPECT_EQ(a.ReadAll(), "QUIT\r\n");  // what came before the close is still read

  auto cut = std::make_shared<TMemoryPeer>();
  TMemoryTransport b(cut);
  TRecordingListener lb;
  b.SetListener(&lb);
  b.Abort();
  EXPECT_EQ(lb.Events, "D");
  EXPECT_TRUE(cut->ServerAborted());
  EXPECT_TRUE(cut->ServerClosed());
}

}  // namespace
