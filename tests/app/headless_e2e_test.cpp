// The gateway as a user runs it: the built program in headless mode against
// the stand-in service, real mail programs on both ports, a stop by SIGTERM
// and a second start on the same program folder.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QTcpSocket>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/DailyLog.h"
#include "common/GatewayProcess.h"
#include "common/StandinProcess.h"
#include "foundation/QuorUtil.h"

namespace fs = std::filesystem;

namespace {

class HeadlessGateway : public ::testing::Test {
 protected:
  void SetUp() override {
    Home = fs::temp_directory_path() / ("brelvane-e2e-" + RandomText(10));
    fs::create_directories(Home);
    Pop = FreePort();
    Smtp = FreePort();
    // Mark-read and unread-only off, so that only the download record keeps
    // a second fetch from getting the same messages.
    std::ofstream(Home / "Settings.ini", std::ios::binary)
        << "[Receiving]\r\nPopPort=" << Pop << "\r\nMarkRead=0\r\nUnReadOnly=0\r\n"
        << "NoDuplicates=1\r\n[Sending]\r\nSmtpPort=" << Smtp << "\r\n";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(Home, ignored);
  }

  // mpop with its own UIDL file, so that mpop itself remembers nothing.
  TRun Mpop(const std::string &user, const std::string &password, const fs::path &mbox) {
    const fs::path uidls = Home / ("uidls-" + RandomText(6));
    return RunClient("mpop", {"--host=127.0.0.1", QString("--port=%1").arg(Pop), "--auth=user",
                              QString::fromStdString("--user=" + user),
                              QString::fromStdString("--passwordeval=echo " + password),
                              "--tls=off", "--keep=on", "--timeout=60",
                              QString::fromStdString("--uidls-file=" + uidls.string()),
                              QString::fromStdString("--delivery=mbox," + mbox.string())});
  }

  fs::path Home;
  int Pop = 0;
  int Smtp = 0;
};

// One reply line from a plain client socket, or empty after Seconds.
std::string ReplyLine(QTcpSocket &client, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!client.canReadLine() && std::chrono::steady_clock::now() < until)
    client.waitForReadyRead(200);
  return client.readLine().toStdString();
}

}  // namespace

TEST_F(HeadlessGateway, FetchSendStopAndStartAgain) {
  TStandinProcess standin;
  ASSERT_TRUE(standin.Started()) << "stand-in service did not start";

  {
    TGateway gateway(Home, standin.Base());
    ASSERT_TRUE(gateway.WaitStarted()) << gateway.Output;
    EXPECT_NE(gateway.Output.find("Listening port " + std::to_string(Pop) + " opened for POP"),
              std::string::npos);

    const fs::path mbox = Home / "first.mbox";
    const TRun fetched = Mpop("demo@hotmail.com", "demo-pass", mbox);
    ASSERT_EQ(fetched.Exit, 0) << fetched.Output;
    EXPECT_GE(CountMessages(mbox), 3) << fetched.Output;

    // Authenticated send with msmtp.
    const TRun sent =
        RunClient("msmtp",
                  {"--host=127.0.0.1", QString("--port=%1").arg(Smtp), "--auth=login",
                   "--user=demo@hotmail.com", "--passwordeval=echo demo-pass", "--tls=off",
                   "--from=demo@hotmail.com", "tester@msn.com"},
                  "From: demo@hotmail.com\nTo: tester@msn.com\nSubject: sent by msmtp\n\nfirst\n");
    EXPECT_EQ(sent.Exit, 0) << sent.Output;

    EXPECT_EQ(gateway.Terminate(), 0) << gateway.Errors;
    EXPECT_NE(gateway.Output.find("Application Closed"), std::string::npos);
  }

  const std::string settings = ReadFile(Home / "Settings.ini");
  EXPECT_NE(settings.find("PopPort=" + std::to_string(Pop) + "\r\n"), std::string::npos)
      << settings;
  EXPECT_NE(settings.find("SmtpPort=" + std::to_string(Smtp) + "\r\n"), std::string::npos);
  EXPECT_NE(settings.find("cnonce="), std::string::npos);
  EXPECT_EQ(settings.find("demo-pass"), std::string::npos);
  const fs::path dayFile = Home / "Logs" / TDailyLog::FileNameFor(std::chrono::system_clock::now());
  const std::string dayLog = ReadFile(dayFile);
  EXPECT_NE(dayLog.find("Application Closed"), std::string::npos) << dayFile;
  EXPECT_NE(dayLog.find("POP   001 - "), std::string::npos);

  {
    TGateway gateway(Home, standin.Base());
    ASSERT_TRUE(gateway.WaitStarted()) << gateway.Output;

    // Already handed on: not downloaded a second time.
    const fs::path mbox = Home / "second.mbox";
    const TRun again = Mpop("demo@hotmail.com", "demo-pass", mbox);
    EXPECT_EQ(again.Exit, 0) << again.Output;
    EXPECT_EQ(CountMessages(mbox), 0) << again.Output;

    // No credentials from the client: the remembered account sends it.
    const TRun swaks = RunClient("swaks", {"--server", QString("127.0.0.1:%1").arg(Smtp), "--from",
                                           "demo@hotmail.com", "--to", "tester@msn.com", "--header",
                                           "Subject: sent by swaks", "--timeout", "60"});
    EXPECT_EQ(swaks.Exit, 0) << swaks.Output;

    // Both messages reached the other account, fetched through the gateway.
    const fs::path other = Home / "tester.mbox";
    const TRun tester = Mpop("tester@msn.com", "msn-pass", other);
    EXPECT_EQ(tester.Exit, 0) << tester.Output;
    const std::string received = ReadFile(other);
    EXPECT_NE(received.find("Subject: sent by msmtp"), std::string::npos) << received;
    EXPECT_NE(received.find("Subject: sent by swaks"), std::string::npos) << received;

    EXPECT_EQ(gateway.Terminate(), 0) << gateway.Errors;
    EXPECT_NE(gateway.Output.find("Application Closed"), std::string::npos);
  }
}

TEST(HeadlessFirstRun, PortsBelow1024WithoutPrivilegesAreProbedFromAbove) {
  const fs::path home = fs::temp_directory_path() / ("brelvane-e2e-unpriv-" + RandomText(10));
  fs::create_directories(home);
  fs::permissions(home, fs::perms::all);
  QString program = BRELVANE_PROGRAM;
  QStringList args = {"--headless",        "--home",    QString::fromStdString(home.string()),
                      "--listen",          "127.0.0.1", "--service-base",
                      "http://127.0.0.1:9"};
  if (geteuid() == 0) {
    // Run as nobody, as an ordinary user starts it.
    args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + args;
    program = "setpriv";
  }
  QProcess gateway;
  gateway.start(program, args);
  ASSERT_TRUE(gateway.waitForStarted(10000));
  std::string output;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (output.find("Application Started") == std::string::npos &&
         std::chrono::steady_clock::now() < until && gateway.state() == QProcess::Running) {
    gateway.waitForReadyRead(200);
    output += gateway.readAllStandardOutput().toStdString();
  }
  gateway.terminate();
  gateway.waitForFinished(30000);
  output += gateway.readAllStandardOutput().toStdString();
  std::error_code ignored;
  fs::remove_all(home, ignored);
  if (output.find("Port 110 opened for listening") != std::string::npos)
    GTEST_SKIP() << "this machine lets ordinary users listen below 1024";

  EXPECT_NE(output.find("Failed to open port 110 for listening\n"
                        "Ports below 1024 need privileges; probing from 1110 instead\n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("Ports below 1024 need privileges; probing from 1025 instead"),
            std::string::npos);
  // The probe goes on in steps of 100 from there, past ports others hold.
  const auto opened = [&](int start) {
    for (int port = start; port <= start + 900; port += 100)
      if (output.find("Port " + std::to_string(port) + " opened for listening") !=
          std::string::npos)
        return true;
    return false;
  };
  EXPECT_TRUE(opened(1110)) << output;
  EXPECT_TRUE(opened(1025)) << output;
  EXPECT_NE(output.find("Application Closed"), std::string::npos);
}

TEST(HeadlessPortOptions, PortsFromTheCommandLineAreUsedAndSaved) {
  const fs::path home = fs::temp_directory_path() / ("brelvane-e2e-ports-" + RandomText(10));
  fs::create_directories(home);
  const QStringList common = {
      "--headless",        "--home",    QString::fromStdString(home.string()),
      "--listen",          "127.0.0.1", "--service-base",
      "http://127.0.0.1:9"};
  for (const QString &bad : QStringList{"70000", "0", "pop"}) {
    QProcess refused;
    refused.start(BRELVANE_PROGRAM, common + QStringList{"--pop-port", bad});
    ASSERT_TRUE(refused.waitForFinished(30000));
    EXPECT_EQ(refused.exitCode(), 2) << bad.toStdString();
    EXPECT_NE(refused.readAllStandardError().toStdString().find(
                  "--pop-port wants a port number from 1 to 65535"),
              std::string::npos);
  }
  EXPECT_FALSE(fs::exists(home / "Settings.ini")) << "a refused start saves nothing";

  const int pop = FreePort(), smtp = FreePort();
  QProcess gateway;
  gateway.start(BRELVANE_PROGRAM, common + QStringList{"--pop-port", QString::number(pop),
                                                       "--smtp-port", QString::number(smtp)});
  ASSERT_TRUE(gateway.waitForStarted(10000));
  std::string output;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (output.find("Application Started") == std::string::npos &&
         std::chrono::steady_clock::now() < until && gateway.state() == QProcess::Running) {
    gateway.waitForReadyRead(200);
    output += gateway.readAllStandardOutput().toStdString();
  }
  gateway.terminate();
  gateway.waitForFinished(30000);
  output += gateway.readAllStandardOutput().toStdString();
  EXPECT_NE(output.find("Listening port " + std::to_string(pop) + " opened for POP"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("Listening port " + std::to_string(smtp) + " opened for SMTP"),
            std::string::npos);
  const std::string settings = ReadFile(home / "Settings.ini");
  EXPECT_NE(settings.find("PopPort=" + std::to_string(pop) + "\r\n"), std::string::npos)
      << settings;
  EXPECT_NE(settings.find("SmtpPort=" + std::to_string(smtp) + "\r\n"), std::string::npos);
  std::error_code ignored;
  fs::remove_all(home, ignored);
}

TEST_F(HeadlessGateway, StopsCleanlyWhileALogonWaitsOnTheService) {
  TStandinProcess standin({"--fault", R"(delay={"seconds": 6})"});
  ASSERT_TRUE(standin.Started()) << "stand-in service did not start";
  TGateway gateway(Home, standin.Base());
  ASSERT_TRUE(gateway.WaitStarted()) << gateway.Output;

  QTcpSocket client;
  client.connectToHost("127.0.0.1", static_cast<quint16>(Pop));
  ASSERT_TRUE(client.waitForConnected(5000));
  const auto answer = [&] { return ReplyLine(client, 10); };
  EXPECT_EQ(answer().rfind("+OK", 0), 0u);
  client.write("USER demo@hotmail.com\r\n");
  EXPECT_EQ(answer().rfind("+OK", 0), 0u);
  client.write("PASS demo-pass\r\n");
  client.flush();
  // The log-on is now waiting on the slow service, pumping the loop; the
  // stop arrives in the middle of it and must neither crash nor hang.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (gateway.Output.find("Logging on") == std::string::npos &&
         std::chrono::steady_clock::now() < until)
    gateway.Poll(200);
  EXPECT_EQ(gateway.Terminate(), 0) << gateway.Errors;
  EXPECT_NE(gateway.Output.find("Application Closed"), std::string::npos) << gateway.Output;
  EXPECT_NE(ReadFile(Home / "Settings.ini").find("PopPort=" + std::to_string(Pop)),
            std::string::npos);
}

// The end-of-connection work (marking read after a QUIT) waits on the
// service with the loop running; a stop arriving then must neither end the
// connection twice nor free the pool under it, and the settings still go out.
TEST_F(HeadlessGateway, StopsCleanlyWhileAConnectionsCleanUpWaitsOnTheService) {
  TStandinProcess standin({"--fault", R"(delay={"seconds": 6, "methods": ["PROPPATCH"]})"});
  ASSERT_TRUE(standin.Started()) << "stand-in service did not start";
  std::ofstream(Home / "Settings.ini", std::ios::binary)
      << "[Receiving]\r\nPopPort=" << Pop << "\r\nMarkRead=1\r\nUnReadOnly=0\r\n"
      << "NoDuplicates=1\r\n[Sending]\r\nSmtpPort=" << Smtp << "\r\n";
  TGateway gateway(Home, standin.Base());
  ASSERT_TRUE(gateway.WaitStarted()) << gateway.Output;

  QTcpSocket client;
  client.connectToHost("127.0.0.1", static_cast<quint16>(Pop));
  ASSERT_TRUE(client.waitForConnected(5000));
  const auto answer = [&] { return ReplyLine(client, 20); };
  EXPECT_EQ(answer().rfind("+OK", 0), 0u);
  client.write("USER demo@hotmail.com\r\n");
  EXPECT_EQ(answer().rfind("+OK", 0), 0u);
  client.write("PASS demo-pass\r\n");
  EXPECT_EQ(answer().rfind("+OK", 0), 0u);
  client.write("RETR 1\r\n");
  ASSERT_EQ(answer().rfind("+OK", 0), 0u);
  for (std::string line = answer(); !line.empty() && line != ".\r\n"; line = answer()) {
  }
  client.write("QUIT\r\n");
  EXPECT_EQ(answer().rfind("+OK", 0), 0u);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (gateway.Output.find("Marking 1 messages read") == std::string::npos &&
         std::chrono::steady_clock::now() < until)
    gateway.Poll(200);
  ASSERT_NE(gateway.Output.find("Marking 1 messages read"), std::string::npos) << gateway.Output;
  const auto stopAt = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < stopAt) gateway.Poll(100);
  EXPECT_EQ(gateway.Terminate(), 0) << gateway.Errors;
  EXPECT_NE(gateway.Output.find("Application Closed"), std::string::npos) << gateway.Output;
  EXPECT_NE(ReadFile(Home / "Settings.ini").find("cnonce="), std::string::npos);
}
