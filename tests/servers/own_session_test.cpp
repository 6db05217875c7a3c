// A gateway server without a session provider makes each connection a
// session of its own: the smart one, which falls back to the site when
// HTTPMail cannot be reached. Here the service is a closed loopback port and
// no browser is installed, so the fallback's own answer shows the road taken.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "foundation/QuorUtil.h"
#include "http/Connectivity.h"
#include "http/HttpRequest.h"
#include "servers/ESMTPHotmailServer.h"
#include "servers/Pop3HotmailServer.h"
#include "sessions/WebmailScrapeSession.h"
#include "support/LoopbackClient.h"

namespace fs = std::filesystem;

namespace {

int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where);
  socklen_t length = sizeof where;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &length);
  ::close(fd);
  return ntohs(where.sin_port);
}

class OwnSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("brelvane-own-session-" + RandomText(10));
    fs::create_directories(FDir);
    SetProgramFolder(FDir.string());
    const int closed = ClosedPort();
    SetServiceBaseOverride("http://127.0.0.1:" + std::to_string(closed));
    SetConnectivityProbeHost("127.0.0.1", closed);
    FSavedScraper = GetScraperFactory();
    SetScraperFactory(nullptr);
  }
  void TearDown() override {
    SetScraperFactory(FSavedScraper);
    SetConnectivityProbeHost("", 0);
    SetServiceBaseOverride("");
    SetProgramFolder("");
    std::error_code ec;
    fs::remove_all(FDir, ec);
  }

  // Reads lines until one starts with Prefix; empty when none came in time.
  std::string LineStarting(TLoopbackClient &client, const std::string &prefix) {
    std::string line;
    while (client.ReadLine(line, 60000)) {
      Transcript += line + "\n";
      if (line.rfind(prefix, 0) == 0) return line;
    }
    return "";
  }

  std::string Transcript;

  fs::path FDir;
  TScraperFactory FSavedScraper;
};

TEST_F(OwnSessionTest, Pop3ConnectionFallsBackToTheSiteOnItsOwnSession) {
  TPop3HotmailServer server;
  server.SetListenAddress("127.0.0.1");
  server.SetPort(0);
  server.SetBanner("+OK hello");
  server.SetDownloadRecordPath((FDir / "record.sqlite").string());
  server.SetActive(true);
  TLoopbackClient client;
  ASSERT_TRUE(client.Connect(server.BoundPort()));
  std::string line;
  ASSERT_TRUE(PumpUntil([&] { return client.ReadLine(line, 50); }, 10000));
  ASSERT_TRUE(client.Send("USER jdoe@hotmail.com\r\nPASS pw\r\n"));
  ASSERT_NE(LineStarting(client, "+OK Always"), "");
  const std::string answer = LineStarting(client, "+OK Failed to");
  EXPECT_NE(answer.find(TWebmailScrapeSession::kNoBrowserError), std::string::npos) << Transcript;
  client.Send("QUIT\r\n");
  EXPECT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 20000));
}

TEST_F(OwnSessionTest, EsmtpConnectionFallsBackToTheSiteOnItsOwnSession) {
  TESMTPHotmailServer server;
  server.SetListenAddress("127.0.0.1");
  server.SetPort(0);
  server.SetBanner("220 hello");
  server.SetActive(true);
  TLoopbackClient client;
  ASSERT_TRUE(client.Connect(server.BoundPort()));
  ASSERT_NE(LineStarting(client, "220"), "");
  // AUTH LOGIN with "jdoe@hotmail.com" / "pw": the session is made and
  // logs on at the password.
  ASSERT_TRUE(client.Send("EHLO test\r\nAUTH LOGIN\r\namRvZUBob3RtYWlsLmNvbQ==\r\ncHc=\r\n"));
  const std::string answer = LineStarting(client, "4");
  EXPECT_NE(answer.find(TWebmailScrapeSession::kNoBrowserError), std::string::npos) << Transcript;
  client.Send("QUIT\r\n");
  EXPECT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 20000));
}

}  // namespace
