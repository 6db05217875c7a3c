// The whole road: real mail programs in front, the gateway's servers in this
// process with HTTPMail sessions, and the stand-in service behind.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "common/StandinProcess.h"
#include "foundation/QuorUtil.h"
#include "http/HttpRequest.h"
#include "servers/ESMTPHotmailServer.h"
#include "servers/Pop3HotmailServer.h"
#include "sessions/HttpMailSession.h"
#include "support/LoopbackClient.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kUser = "demo@hotmail.com";
constexpr const char *kPassword = "demo-pass";

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A seed file as the service hands it out: every line end CR LF.
std::string Served(const fs::path &path) { return JoinLines(SplitLines(ReadFile(path))); }

struct TRun {
  int ExitCode = -1;
  std::string Output;
};

// Runs a client while the loop keeps serving the gateway; bounded.
TRun RunClient(const QString &program, const QStringList &args, const fs::path &dir,
               int limitMs = 120000) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", QString::fromStdString(dir.string()));
  process.setProcessEnvironment(env);
  process.setWorkingDirectory(QString::fromStdString(dir.string()));
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, args);
  TRun run;
  if (!process.waitForStarted(10000)) return run;
  if (!PumpUntil([&] { return process.state() == QProcess::NotRunning; }, limitMs)) {
    process.kill();
    process.waitForFinished(5000);
  } else if (process.exitStatus() == QProcess::NormalExit) {
    run.ExitCode = process.exitCode();
  }
  run.Output = process.readAll().toStdString();
  return run;
}

// Downloads every message into OUT/<uidl>.eml (lines joined with CR LF as
// they travelled), then deletes the numbers given after the folder.
const char *kPopScript = R"PY(
import poplib, sys
port, password, out = int(sys.argv[1]), sys.argv[2], sys.argv[3]
dele = [int(n) for n in sys.argv[4:]]
p = poplib.POP3("127.0.0.1", port, timeout=60)
p.user("demo@hotmail.com")
p.pass_(password)
count, _ = p.stat()
uidls = {}
for entry in p.uidl()[1]:
    n, uid = entry.decode().split()
    uidls[int(n)] = uid
for n in range(1, count + 1):
    _, lines, _ = p.retr(n)
    with open("%s/%s.eml" % (out, uidls[n]), "wb") as f:
        f.write(b"".join(line + b"\r\n" for line in lines))
for n in dele:
    p.dele(n)
with open(out + "/order.txt", "w") as f:
    f.write(" ".join(uidls[n] for n in sorted(uidls)))
p.quit()
)PY";

class HttpMailEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Standin.Started());
    SetServiceBaseOverride(Standin.Base());
    FDir = fs::temp_directory_path() / ("brelvane-httpmail-e2e-" + RandomText(10));
    fs::create_directories(FDir / "out");
    std::ofstream(FDir / "pop.py") << kPopScript;

    // Sessions outlive connections and carry the account they were made for,
    // as the pool's do.
    auto need = [this](const std::string &userId,
                       const std::string &password) -> TBasicWebMailSession * {
      auto &session = Sessions[userId];
      if (!session) {
        session = std::make_unique<THttpMailSession>();
        session->SetUserId(userId);
        session->SetPassword(password);
      }
      return session.get();
    };
    auto quiet = [](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &, uint8_t, bool) {
      return false;
    };
    Pop3.SetListenAddress("127.0.0.1");
    Pop3.SetPort(0);
    Pop3.SetBanner("+OK Brelvane POP3 gateway ready");
    Pop3.SetMaxConnections(50);
    Pop3.SetDownloadRecordPath((FDir / "record.sqlite").string());
    Pop3.OnNeedSession = need;
    Pop3.SetOnLog(quiet);
    Pop3.UnreadOnly = false;
    Pop3.NoDups = false;
    Pop3.SetActive(true);
    Smtp.SetListenAddress("127.0.0.1");
    Smtp.SetPort(0);
    Smtp.SetBanner("220 Brelvane ESMTP gateway ready");
    Smtp.SetMaxConnections(50);
    Smtp.OnNeedSession = need;
    Smtp.SetOnLog(quiet);
    Smtp.SetActive(true);
  }

  void TearDown() override {
    Pop3.SetActive(false);
    Smtp.SetActive(false);
    SetServiceBaseOverride("");
    std::error_code ec;
    fs::remove_all(FDir, ec);
  }

  TRun MailCheck(const QStringList &deletions = {}) {
    QStringList args{QString::fromStdString((FDir / "pop.py").string()),
                     QString::number(Pop3.BoundPort()), kPassword,
                     QString::fromStdString((FDir / "out").string())};
    TRun run = RunClient("python3", args + deletions, FDir);
    // The end-of-connection work (mark read, delete) runs after QUIT's reply.
    PumpUntil([this] { return Pop3.ActiveConnections() == 0; }, 30000);
    return run;
  }

  TStringList Order() { return SplitAt(ReadFile(FDir / "out" / "order.txt"), ' '); }

  static TStringList SplitAt(const std::string &text, char at) {
    TStringList out;
    std::stringstream s(text);
    for (std::string piece; std::getline(s, piece, at);)
      if (!piece.empty()) out.push_back(piece);
    return out;
  }

  TStandinProcess Standin;
  TPop3HotmailServer Pop3;
  TESMTPHotmailServer Smtp;
  std::map<std::string, std::unique_ptr<THttpMailSession>> Sessions;
  fs::path FDir;
};

TEST_F(HttpMailEndToEnd, MailCheckDownloadsEveryMessageAsTheServiceHoldsItAndMarksItRead) {
  const TRun run = MailCheck();
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  const TStringList order = Order();
  ASSERT_EQ(order.size(), 5u);
  const fs::path seed = Standin.AccountsFolder() / kUser;
  for (const std::string &uid : order) {
    const fs::path stored = FDir / "out" / (uid + ".eml");
    const fs::path original = fs::exists(seed / "inbox" / (uid + ".eml"))
                                  ? seed / "inbox" / (uid + ".eml")
                                  : seed / "junk" / (uid + ".eml");
    EXPECT_EQ(ReadFile(stored), Served(original)) << uid;
  }
  for (const char *folder : {"inbox", "junk"})
    for (const auto &m : Standin.Messages(kUser, folder))
      EXPECT_TRUE(m.toObject()["read"].toBool()) << m.toObject()["id"].toString().toStdString();
  EXPECT_EQ(Standin.Messages(kUser, "deleted").size(), 0);
}

TEST_F(HttpMailEndToEnd, DeleAndQuitMoveTheMessagesToTheDeletedItems) {
  const TRun run = MailCheck({"1", "3"});
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  const TStringList order = Order();
  ASSERT_EQ(order.size(), 5u);
  QStringList deleted;
  for (const auto &m : Standin.Messages(kUser, "deleted")) deleted << m.toObject()["id"].toString();
  deleted.sort();
  QStringList expected{QString::fromStdString(order[0]), QString::fromStdString(order[2])};
  expected.sort();
  EXPECT_EQ(deleted, expected);
  EXPECT_EQ(Standin.Messages(kUser, "inbox").size() + Standin.Messages(kUser, "junk").size(), 3);
  // The session stayed logged on at the service: the second check needs no
  // logon PROPFIND, only the folder listing that confirms it.
  ASSERT_TRUE(Standin.ClearRequests());
  ASSERT_EQ(MailCheck().ExitCode, 0);
  EXPECT_EQ(Order().size(), 3u);
  for (const auto &r : Standin.RequestsTo("PROPFIND", "/httpmail.asp"))
    EXPECT_NE(r.toObject()["path"].toString(), "/svcs/hotmail/httpmail.asp");
}

TEST_F(HttpMailEndToEnd, SmtpSendArrivesWithItsEnvelopeAndTextAndIsKept) {
  const std::string text =
      "From: demo@hotmail.com\r\nTo: tester@msn.com\r\nSubject: through the gateway\r\n\r\n"
      "A line.\r\n.leading dot\r\n\r\nLast line.\r\n";
  std::ofstream(FDir / "message.eml", std::ios::binary) << text;
  const TRun run =
      RunClient("swaks",
                {"--server", QString("127.0.0.1:%1").arg(Smtp.BoundPort()), "--auth", "LOGIN",
                 "--auth-user", kUser, "--auth-password", kPassword, "--from", kUser, "--to",
                 "tester@msn.com,other@example.org", "--data",
                 QString::fromStdString((FDir / "message.eml").string()), "--timeout", "60"},
                FDir);
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  const QJsonArray sent = Standin.State()["sent"].toArray();
  ASSERT_EQ(sent.size(), 1);
  const QJsonObject one = sent[0].toObject();
  EXPECT_EQ(one["account"].toString(), kUser);
  EXPECT_EQ(one["mail_from"].toString(), "<demo@hotmail.com>");
  EXPECT_EQ(one["rcpt_to"].toArray(), (QJsonArray{"<tester@msn.com>", "<other@example.org>"}));
  EXPECT_TRUE(one["save_in_sent"].toBool());
  // swaks ends the data with one empty line of its own.
  std::string data = one["data"].toString().toStdString();
  EXPECT_EQ(data.substr(0, text.size()), text);
  EXPECT_EQ(data.substr(text.size()).find_first_not_of("\r\n"), std::string::npos);
  EXPECT_EQ(Standin.Messages(kUser, "sent").size(), 2);
  EXPECT_EQ(Standin.Messages("tester@msn.com", "inbox").size(), 2);
}

}  // namespace
