// The SMTP gateway over loopback sockets: the refusals of other machines,
// then real clients. Command handling is in esmtp_conversation_test.cpp.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <fstream>

#include "http/Connectivity.h"
#include "servers/ESMTPHotmailServer.h"
#include "support/LoopbackClient.h"
#include "support/EsmtpGatewayFixture.h"
#include "support/ServerTestKit.h"
#include "support/TestMailbox.h"

namespace {

class EsmtpServerTest : public TEsmtpGatewayFixture {
 protected:
  void SetUp() override { StartGateway(true); }

  std::unique_ptr<TLoopbackClient> Connect(bool readBanner = true) {
    auto client = std::make_unique<TLoopbackClient>();
    EXPECT_TRUE(client->Connect(FPort));
    if (readBanner) {
      std::string line;
      EXPECT_TRUE(client->ReadLine(line));
      EXPECT_EQ(line, kBanner);
    }
    return client;
  }
  // Sends Request (CR LF added) and returns the reply lines up to the last one.
  static TStringList Say(TLoopbackClient &c, const std::string &request) {
    return SmtpReply(c, request);
  }
  static std::string Say1(TLoopbackClient &c, const std::string &request) {
    return SmtpLastLine(c, request);
  }
};

TEST_F(EsmtpServerTest, RefusalsForTheLimitAndForOtherMachines) {
  FServer->SetMaxConnections(1);
  auto first = Connect();
  FServer->SetPeerAddressHook([](const std::string &) { return std::string("192.0.2.44"); });
  auto second = Connect(false);
  std::string line;
  ASSERT_TRUE(second->ReadLine(line));
  EXPECT_EQ(line,
            "421 : Maximum Connections exceeded. Please try again later. Mirandel ESMTP server "
            "signing off");
  EXPECT_TRUE(second->WaitClosed());

  FServer->SetMaxConnections(50);
  FServer->SetRestrictToLocalHost(true);
  auto remote = Connect(false);
  ASSERT_TRUE(remote->ReadLine(line));
  EXPECT_EQ(line, "521 Sorry, only local connections allowed Mirandel ESMTP server signing off");
  EXPECT_TRUE(remote->WaitClosed());
  EXPECT_TRUE(LogHas("11|127.0.0.1 connected."));
}

// ---- Real clients as separate processes -------------------------------------

struct TRun {
  int exitCode = -1;
  std::string output;
};

TRun RunClient(const QString &program, const QStringList &args, const QByteArray &input = {}) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  TRun run;
  if (!p.waitForStarted(10000)) return run;
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  // The server answers on this thread, so the wait pumps its loop.
  bool finished = PumpUntil([&] { return p.state() == QProcess::NotRunning; }, 60000);
  if (!finished) {
    p.kill();
    p.waitForFinished(5000);
  }
  run.output = p.readAll().toStdString();
  run.exitCode = finished ? p.exitCode() : -1;
  return run;
}

const TStringList kBody = {"From: Joe <joe@hotmail.com>",
                           "To: a@example.org",
                           "Subject: real client",
                           "",
                           "first line",
                           ".leading dot",
                           ".",
                           "..two dots",
                           "last"};

std::string Joined() { return JoinLines(kBody); }

// What a client added around the message: swaks ends with an empty line,
// msmtp puts Date and Message-ID in front. Everything else must be unchanged.
TStringList Core(TStringList lines) {
  while (!lines.empty() && lines.back().empty() && lines.size() > kBody.size()) lines.pop_back();
  while (lines.size() > kBody.size() &&
         (lines[0].rfind("Date: ", 0) == 0 || lines[0].rfind("Message-ID: ", 0) == 0))
    lines.erase(lines.begin());
  return lines;
}

TEST_F(EsmtpServerTest, PythonSmtplibLogsInWithInitialResponseAndSends) {
  QTemporaryDir dir;
  std::string script = dir.path().toStdString() + "/send.py";
  std::ofstream(script) << "import smtplib, sys\n"
                           "body = sys.stdin.buffer.read()\n"
                           "s = smtplib.SMTP('127.0.0.1', int(sys.argv[1]), timeout=30)\n"
                           "s.ehlo('py')\n"
                           "s.login('joe@hotmail.com', 'secret')\n"
                           "s.sendmail('joe@hotmail.com', ['a@example.org', 'b@example.org'], "
                           "body)\n"
                           "s.quit()\n";
  TRun run = RunClient("python3", {QString::fromStdString(script), QString::number(FPort)},
                       QByteArray::fromStdString(Joined()));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(FMailbox.SendCalls().size(), 1u);
  EXPECT_EQ(FMailbox.SendCalls()[0].Lines, kBody);
  EXPECT_EQ(FMailbox.SendCalls()[0].MailFrom, "<joe@hotmail.com>");
  EXPECT_EQ(FMailbox.SendCalls()[0].Recipients,
            (TStringList{"<a@example.org>", "<b@example.org>"}));
}

TEST_F(EsmtpServerTest, SwaksAuthLoginAndSends) {
  QTemporaryDir dir;
  std::string file = dir.path().toStdString() + "/msg.eml";
  std::ofstream(file, std::ios::binary) << Joined();
  TRun run = RunClient(
      "swaks", {"--server", QString("127.0.0.1:%1").arg(FPort), "--auth", "LOGIN", "--auth-user",
                "joe@hotmail.com", "--auth-password", "secret", "--from", "joe@hotmail.com", "--to",
                "a@example.org", "--data", QString::fromStdString(file), "--timeout", "30"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(FMailbox.SendCalls().size(), 1u);
  EXPECT_EQ(Core(FMailbox.SendCalls()[0].Lines), kBody);
  EXPECT_EQ(FMailbox.SendCalls()[0].Recipients, (TStringList{"<a@example.org>"}));
}

TEST_F(EsmtpServerTest, MsmtpAuthLoginAndSends) {
  TRun run = RunClient("msmtp",
                       {"--host=127.0.0.1", QString("--port=%1").arg(FPort), "--auth=login",
                        "--user=joe@hotmail.com", "--passwordeval=echo secret", "--tls=off",
                        "--from=joe@hotmail.com", "a@example.org"},
                       QByteArray::fromStdString(Joined()));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(FMailbox.SendCalls().size(), 1u);
  EXPECT_EQ(Core(FMailbox.SendCalls()[0].Lines), kBody);
  EXPECT_EQ(FMailbox.SendCalls()[0].Recipients, (TStringList{"<a@example.org>"}));
}

}  // namespace
