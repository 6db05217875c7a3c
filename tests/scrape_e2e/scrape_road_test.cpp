// The site road as a user meets it: the built program, headless with its
// browser, against the stand-in with HTTPMail switched off, so that every
// log-on falls back to the web pages; real mail programs on both ports.
// What they fetched and sent is checked against the site by Python's email
// package (compare_fetched.py, check_sent.py), not by the gateway's own
// message model.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <vector>

#include "common/GatewayProcess.h"
#include "common/StandinProcess.h"
#include "foundation/QuorUtil.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kSiteUser = "site@hotmail.com";
constexpr const char *kSitePassword = "site-pass";
// A mail check on this road costs a second or more per page: mail programs
// get minutes, not seconds.
constexpr int kClientLimitMs = 240000;

// Read flags of one folder of one account: message id -> read.
using TReadFlags = std::map<std::string, bool>;

class ScrapeRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Standin = new TStandinProcess({"--no-httpmail"}, "", 1800); }
  static void TearDownTestSuite() {
    delete Standin;
    Standin = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(Standin && Standin->Started()) << "stand-in service did not start";
    ASSERT_TRUE(Standin->Order({{"reload", true},
                                {"clear_faults", true},
                                {"clear_requests", true},
                                {"forget_nonces", true}}));
    // Clearing the faults clears the switch that keeps HTTPMail off too.
    ASSERT_TRUE(Standin->SetFault("httpmail_disabled"));
    Home = fs::temp_directory_path() / ("brelvane-scrape-e2e-" + RandomText(10));
    fs::create_directories(Home);
    Pop = FreePort();
    Smtp = FreePort();
    // Neither marking read nor leaving out read or already fetched mail:
    // what happens to the site's read flags is the site road's own doing.
    std::ofstream(Home / "Settings.ini", std::ios::binary)
        << "[Receiving]\r\nPopPort=" << Pop << "\r\nMarkRead=0\r\nUnReadOnly=0\r\n"
        << "NoDuplicates=0\r\nBulkMail=1\r\n[Sending]\r\nSmtpPort=" << Smtp << "\r\n";
    Gateway = std::make_unique<TGateway>(Home, Standin->Base());
    ASSERT_TRUE(Gateway->WaitStarted()) << Gateway->Output;
  }

  void TearDown() override {
    if (Gateway) {
      EXPECT_EQ(Gateway->Terminate(), 0) << Gateway->Errors;
      Gateway.reset();
    }
    std::error_code ignored;
    fs::remove_all(Home, ignored);
  }

  TReadFlags ReadFlags(const std::string &account, const std::string &folder) const {
    TReadFlags flags;
    for (const auto &value :
         Standin->Messages(QString::fromStdString(account), QString::fromStdString(folder))) {
      const QJsonObject m = value.toObject();
      flags[m["id"].toString().toStdString()] = m["read"].toBool();
    }
    return flags;
  }

  // Waits until Done holds, reading the program's log meanwhile: the
  // gateway finishes a connection's work on the site after the client left.
  bool WaitFor(const std::function<bool()> &done, int limitMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done() && std::chrono::steady_clock::now() < until) Gateway->Poll(500);
    return done();
  }

  TRun Fetchmail(const std::string &user, const std::string &password, bool keep,
                 const fs::path &into) {
    fs::create_directories(into);
    const fs::path rc = Home / ("fetchmailrc-" + RandomText(6));
    std::ofstream(rc) << "set no bouncemail\n"
                      << "poll 127.0.0.1 with proto POP3 port " << Pop << " uidl\n"
                      << "  user \"" << user << "\" there with password \"" << password
                      << "\" is \"tester\" here\n"
                      << "  sslproto '' " << (keep ? "keep" : "nokeep") << " no rewrite\n"
                      << "  mda \"/bin/sh -c 'cat > " << into.string() << "/msg.$$'\"\n";
    fs::permissions(rc, fs::perms::owner_read | fs::perms::owner_write);
    return RunClient(
        "fetchmail",
        {"-f", QString::fromStdString(rc.string()), "-i",
         QString::fromStdString((Home / ("fetchids-" + RandomText(6))).string()), "--pidfile",
         QString::fromStdString((Home / "fetchmail.pid").string()), "--nodetach", "-v"},
        "", kClientLimitMs);
  }

  QStringList MpopArgs(const std::string &user, const std::string &password, bool keep,
                       const fs::path &mbox) {
    const fs::path uidls = Home / ("uidls-" + RandomText(6));
    return {"--host=127.0.0.1",
            QString("--port=%1").arg(Pop),
            "--auth=user",
            QString::fromStdString("--user=" + user),
            QString::fromStdString("--passwordeval=echo " + password),
            "--tls=off",
            keep ? "--keep=on" : "--keep=off",
            "--timeout=120",
            "--received-header=off",
            QString::fromStdString("--uidls-file=" + uidls.string()),
            QString::fromStdString("--delivery=mbox," + mbox.string())};
  }

  // The site's mailbox against what a mail program stored.
  TRun Compare(const std::string &account, const std::string &folders, const fs::path &fetched) {
    return RunClient("python3", {BRELVANE_SCRAPE_E2E_DIR "/compare_fetched.py",
                                 QString::fromStdString(Standin->AccountsFolder().string()),
                                 QString::fromStdString(account), QString::fromStdString(folders),
                                 QString::fromStdString(fetched.string())});
  }

  static TStandinProcess *Standin;
  std::unique_ptr<TGateway> Gateway;
  fs::path Home;
  int Pop = 0;
  int Smtp = 0;
};

TStandinProcess *ScrapeRoad::Standin = nullptr;

TEST_F(ScrapeRoad, FetchmailGetsEveryPageAndTheJunkFolderAndLeavesTheReadFlagsAlone) {
  const TReadFlags inbox = ReadFlags(kSiteUser, "inbox");
  const TReadFlags junk = ReadFlags(kSiteUser, "junk");
  ASSERT_GT(inbox.size(), 10u);  // more than two listing pages
  ASSERT_FALSE(junk.empty());

  const TRun fetched = Fetchmail(kSiteUser, kSitePassword, true, Home / "mda");
  ASSERT_EQ(fetched.Exit, 0) << fetched.Output << Gateway->Output;
  EXPECT_TRUE(Gateway->WaitForOutput("Logged in with HTTP.", 10000)) << Gateway->Output;
  const TRun compared = Compare(kSiteUser, "inbox,junk", Home / "mda");
  EXPECT_EQ(compared.Exit, 0) << compared.Output;

  // Opening a page marks its message read on the site; the gateway was not
  // asked to mark anything, so at the end everything is as it was.
  EXPECT_TRUE(WaitFor(
      [&] {
        return ReadFlags(kSiteUser, "inbox") == inbox && ReadFlags(kSiteUser, "junk") == junk;
      },
      120000))
      << Gateway->Output;
}

TEST_F(ScrapeRoad, MpopDeletesWhatItFetchedFromEveryPageAndFromTheJunkFolder) {
  const size_t total = ReadFlags(kSiteUser, "inbox").size() + ReadFlags(kSiteUser, "junk").size();
  const fs::path mbox = Home / "site.mbox";
  const TRun fetched =
      RunClient("mpop", MpopArgs(kSiteUser, kSitePassword, false, mbox), "", kClientLimitMs);
  ASSERT_EQ(fetched.Exit, 0) << fetched.Output << Gateway->Output;
  EXPECT_EQ(CountMessages(mbox), static_cast<int>(total));
  const TRun compared = Compare(kSiteUser, "inbox,junk", mbox);
  EXPECT_EQ(compared.Exit, 0) << compared.Output;

  EXPECT_TRUE(WaitFor(
      [&] { return ReadFlags(kSiteUser, "inbox").empty() && ReadFlags(kSiteUser, "junk").empty(); },
      120000))
      << "inbox " << ReadFlags(kSiteUser, "inbox").size() << ", junk "
      << ReadFlags(kSiteUser, "junk").size() << "\n"
      << Gateway->Output;
}

// Python's own POP3 client: two deletions taken back by RSET, a third kept.
TEST_F(ScrapeRoad, RsetTakesBackDeletionsAndQuitDeletesTheRest) {
  const std::string script = R"PY(
import poplib, sys
p = poplib.POP3("127.0.0.1", int(sys.argv[1]), timeout=200)
p.user(sys.argv[2]); p.pass_(sys.argv[3])
ids = [line.split()[1].decode() for line in p.uidl()[1]]
p.dele(1); p.dele(2)
p.rset()
p.dele(3)
p.quit()
print(ids[2])
)PY";
  const TReadFlags before = ReadFlags(kSiteUser, "inbox");
  const TRun run = RunClient(
      "python3",
      {"-c", QString::fromStdString(script), QString::number(Pop), kSiteUser, kSitePassword}, "",
      kClientLimitMs);
  ASSERT_EQ(run.Exit, 0) << run.Output << Gateway->Output;
  const std::string deleted = Trim(run.Output);
  ASSERT_EQ(before.count(deleted), 1u) << run.Output;
  EXPECT_TRUE(WaitFor([&] { return ReadFlags(kSiteUser, "inbox").count(deleted) == 0; }, 120000))
      << Gateway->Output;
  TReadFlags expected = before;
  expected.erase(deleted);
  TReadFlags after = ReadFlags(kSiteUser, "inbox");
  // Only the one deletion; the two messages taken back stay, unread or not.
  EXPECT_EQ(after.size(), expected.size());
  for (const auto &[id, read] : expected) EXPECT_EQ(after.count(id), 1u) << id;
}

// With marking read on, what was fetched ends read on the site, and the
// marking costs no page: opening the message to fetch it read it already.
TEST_F(ScrapeRoad, MarkingReadKeepsFetchedMessagesReadWithoutAnotherPage) {
  ASSERT_EQ(Gateway->Terminate(), 0) << Gateway->Errors;
  std::ofstream(Home / "Settings.ini", std::ios::binary)
      << "[Receiving]\r\nPopPort=" << Pop << "\r\nMarkRead=1\r\nUnReadOnly=0\r\n"
      << "NoDuplicates=0\r\nBulkMail=1\r\n[Sending]\r\nSmtpPort=" << Smtp << "\r\n";
  Gateway = std::make_unique<TGateway>(Home, Standin->Base());
  ASSERT_TRUE(Gateway->WaitStarted()) << Gateway->Output;

  const std::string script = R"PY(
import poplib, sys
p = poplib.POP3("127.0.0.1", int(sys.argv[1]), timeout=200)
p.user(sys.argv[2]); p.pass_(sys.argv[3])
numbers = {line.split()[1].decode(): int(line.split()[0]) for line in p.uidl()[1]}
for uid in sys.argv[4:]:
    p.retr(numbers[uid])
p.quit()
)PY";
  const std::vector<std::string> fetched = {"04-eight-bit", "07-lunch", "09-trip"};
  TReadFlags expected = ReadFlags(kSiteUser, "inbox");
  for (const std::string &id : fetched) {
    ASSERT_EQ(expected.count(id), 1u) << id;
    ASSERT_FALSE(expected[id]) << id << " should start unread";
    expected[id] = true;
  }
  ASSERT_TRUE(Standin->ClearRequests());
  QStringList args = {"-c", QString::fromStdString(script), QString::number(Pop), kSiteUser,
                      kSitePassword};
  for (const std::string &id : fetched) args << QString::fromStdString(id);
  const TRun run = RunClient("python3", args, "", kClientLimitMs);
  ASSERT_EQ(run.Exit, 0) << run.Output << Gateway->Output;
  EXPECT_TRUE(WaitFor([&] { return ReadFlags(kSiteUser, "inbox") == expected; }, 60000))
      << Gateway->Output;
  // Let the connection's end run, then count: one page per fetch, no
  // listing command.
  EXPECT_TRUE(Gateway->WaitForOutput("Disconnected", 60000));
  Gateway->Poll(3000);
  EXPECT_EQ(Standin->RequestsTo("GET", "/cgi-bin/getmsg").size(), 3);
  EXPECT_EQ(Standin->RequestsTo("POST", "/cgi-bin/HoTMaiL").size(), 0);
}

// A stop while the browser waits for a slow page ends the wait, the
// connection and the program cleanly, settings written.
TEST_F(ScrapeRoad, StopsCleanlyWhileTheBrowserWaitsOnASlowPage) {
  ASSERT_TRUE(Standin->SetFault("slow_pages", {{"seconds", 8}}));
  QProcess client;
  client.start("python3", {"-c",
                           "import poplib, sys\n"
                           "p = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=100)\n"
                           "p.user(sys.argv[2]); p.pass_(sys.argv[3])\n",
                           QString::number(Pop), kSiteUser, kSitePassword});
  ASSERT_TRUE(client.waitForStarted(10000));
  ASSERT_TRUE(Gateway->WaitForOutput("Logging on", 20000)) << Gateway->Output;
  // HTTPMail is refused at once; after a few seconds the browser has
  // started and waits on the site's first page.
  WaitFor([] { return false; }, 4000);
  EXPECT_EQ(Gateway->Output.find("Logged in with"), std::string::npos) << Gateway->Output;
  EXPECT_EQ(Gateway->Terminate(), 0) << Gateway->Errors;
  EXPECT_NE(Gateway->Output.find("Application Closed"), std::string::npos) << Gateway->Output;
  EXPECT_NE(ReadFile(Home / "Settings.ini").find("PopPort=" + std::to_string(Pop)),
            std::string::npos);
  Gateway.reset();
  client.waitForFinished(30000);
}

// A password the site refuses ends the log-on after one try; HTTPMail
// being gone is not the mail program's business.
TEST_F(ScrapeRoad, APasswordTheSiteRefusesIsTriedOnce) {
  const std::string script = R"PY(
import poplib, sys
p = poplib.POP3("127.0.0.1", int(sys.argv[1]), timeout=200)
p.user(sys.argv[2])
try:
    p.pass_("not-the-password")
    print("accepted")
except poplib.error_proto as e:
    print(e.args[0].decode("latin-1"))
)PY";
  const TRun run =
      RunClient("python3", {"-c", QString::fromStdString(script), QString::number(Pop), kSiteUser},
                "", kClientLimitMs);
  ASSERT_EQ(run.Exit, 0) << run.Output;
  EXPECT_EQ(run.Output.rfind("-ERR Hotmail rejected password", 0), 0u) << run.Output;
  EXPECT_EQ(Standin->RequestsTo("POST", "/cgi-bin/dologin").size(), 1) << Gateway->Output;
}

TEST_F(ScrapeRoad, MsmtpAndSwaksSendWithAttachmentsThroughTheSite) {
  // A binary attachment with every byte value, and blind copies from the
  // envelope.
  std::string blob;
  for (int round = 0; round < 16; ++round)
    for (int c = 0; c < 256; ++c) blob += static_cast<char>(c);
  const fs::path blobFile = Home / "table.bin";
  std::ofstream(blobFile, std::ios::binary) << blob;
  const std::string boundary = "=_part_" + RandomText(8);
  const QByteArray encoded = QByteArray::fromStdString(blob).toBase64();
  std::string message =
      "From: site@hotmail.com\nTo: tester@msn.com\nCC: demo@hotmail.com\n"
      "Subject: sent by msmtp with a file\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"" +
      boundary + "\"\n\n--" + boundary +
      "\nContent-Type: text/plain; charset=us-ascii\n\n"
      "Please find the table attached.\nSecond line.\n\n--" +
      boundary +
      "\nContent-Type: application/octet-stream; name=\"table.bin\"\n"
      "Content-Transfer-Encoding: base64\n"
      "Content-Disposition: attachment; filename=\"table.bin\"\n\n";
  for (int at = 0; at < encoded.size(); at += 76)
    message += encoded.mid(at, 76).toStdString() + "\n";
  message += "--" + boundary + "--\n";

  const TRun msmtp = RunClient(
      "msmtp",
      {"--host=127.0.0.1", QString("--port=%1").arg(Smtp), "--auth=login",
       QString("--user=%1").arg(kSiteUser), QString("--passwordeval=echo %1").arg(kSitePassword),
       "--tls=off", QString("--from=%1").arg(kSiteUser), "tester@msn.com", "demo@hotmail.com",
       "hidden@example.com"},
      message, kClientLimitMs);
  ASSERT_EQ(msmtp.Exit, 0) << msmtp.Output << Gateway->Output;
  const auto checkSent = [&](const std::string &subject, const std::string &rcpts,
                             const std::string &text, const std::string &file) {
    return RunClient("python3", {BRELVANE_SCRAPE_E2E_DIR "/check_sent.py",
                                 QString::fromStdString(Standin->Base()), kSiteUser,
                                 QString::fromStdString(subject), QString::fromStdString(rcpts),
                                 QString::fromStdString(text), QString::fromStdString(file)});
  };
  const TRun sent =
      checkSent("sent by msmtp with a file", "tester@msn.com,demo@hotmail.com,hidden@example.com",
                "Please find the table attached. Second line.", "table.bin=" + blobFile.string());
  EXPECT_EQ(sent.Exit, 0) << sent.Output;

  // swaks, authenticated, with its own MIME writer.
  const TRun swaks = RunClient("swaks",
                               {"--server",
                                QString("127.0.0.1:%1").arg(Smtp),
                                "--auth",
                                "LOGIN",
                                "--auth-user",
                                kSiteUser,
                                "--auth-password",
                                kSitePassword,
                                "--from",
                                kSiteUser,
                                "--to",
                                "tester@msn.com",
                                "--header",
                                "Subject: sent by swaks with a file",
                                "--body",
                                "Sent by swaks.",
                                "--attach",
                                QString::fromStdString("@" + blobFile.string()),
                                "--timeout",
                                "200"},
                               "", kClientLimitMs);
  ASSERT_EQ(swaks.Exit, 0) << swaks.Output << Gateway->Output;
  const TRun swaksSent = checkSent("sent by swaks with a file", "tester@msn.com", "Sent by swaks.",
                                   "table.bin=" + blobFile.string());
  EXPECT_EQ(swaksSent.Exit, 0) << swaksSent.Output;
}

// Each account's browser keeps its own cookies: two checks at the same time
// each get their own mailbox.
TEST_F(ScrapeRoad, TwoAccountsCheckedAtOnceEachGetTheirOwnMail) {
  const fs::path siteBox = Home / "site.mbox";
  const fs::path demoBox = Home / "demo.mbox";
  QProcess site, demo;
  site.setProcessChannelMode(QProcess::MergedChannels);
  demo.setProcessChannelMode(QProcess::MergedChannels);
  site.start("mpop", MpopArgs(kSiteUser, kSitePassword, true, siteBox));
  demo.start("mpop", MpopArgs("demo@hotmail.com", "demo-pass", true, demoBox));
  ASSERT_TRUE(site.waitForStarted(10000));
  ASSERT_TRUE(demo.waitForStarted(10000));
  const bool bothEnded = WaitFor(
      [&] {
        site.waitForFinished(10);
        demo.waitForFinished(10);
        return site.state() == QProcess::NotRunning && demo.state() == QProcess::NotRunning;
      },
      kClientLimitMs);
  if (!bothEnded) {
    site.kill();
    demo.kill();
    site.waitForFinished(5000);
    demo.waitForFinished(5000);
  }
  ASSERT_TRUE(bothEnded) << Gateway->Output;
  EXPECT_EQ(site.exitCode(), 0) << site.readAll().toStdString();
  EXPECT_EQ(demo.exitCode(), 0) << demo.readAll().toStdString();
  const TRun siteCompared = Compare(kSiteUser, "inbox,junk", siteBox);
  EXPECT_EQ(siteCompared.Exit, 0) << siteCompared.Output;
  const TRun demoCompared = Compare("demo@hotmail.com", "inbox,junk", demoBox);
  EXPECT_EQ(demoCompared.Exit, 0) << demoCompared.Output;
}

}  // namespace
