// Real mail programs, as separate processes, download from the gateway that
// runs in this test's event loop; what each stored is compared with the
// mailbox's text byte for byte.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/QuorUtil.h"
#include "servers/Pop3HotmailServer.h"
#include "servers/support/TestMailbox.h"
#include "support/LoopbackClient.h"

namespace fs = std::filesystem;

namespace {

struct TProcessResult {
  int ExitCode = -1;
  bool Finished = false;
  std::string Out, Err;
};

// Runs Program while the loop keeps serving the gateway; bounded by LimitMs.
TProcessResult RunClient(const std::string &program, const QStringList &args, const fs::path &home,
                         int limitMs = 120000) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", QString::fromStdString(home.string()));
  env.insert("LC_ALL", "C");
  process.setProcessEnvironment(env);
  process.setWorkingDirectory(QString::fromStdString(home.string()));
  process.start(QString::fromStdString(program), args);
  TProcessResult result;
  if (!process.waitForStarted(10000)) {
    result.Err = "could not start " + program;
    return result;
  }
  result.Finished = PumpUntil([&] { return process.state() == QProcess::NotRunning; }, limitMs);
  if (!result.Finished) {
    process.kill();
    process.waitForFinished(5000);
  }
  result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.Out = process.readAllStandardOutput().toStdString();
  result.Err = process.readAllStandardError().toStdString();
  return result;
}

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path &path, const std::string &text, fs::perms perms) {
  std::ofstream(path, std::ios::binary) << text;
  fs::permissions(path, perms);
}

std::string WithLf(const TStringList &lines) { return JoinLines(lines, "\n"); }

// The header line a client puts on top, with its folded continuation lines.
std::string StripLeadingHeader(const std::string &text, const std::string &name) {
  if (text.compare(0, name.size(), name) != 0) return text;
  size_t pos = text.find('\n');
  while (pos != std::string::npos && pos + 1 < text.size() &&
         (text[pos + 1] == ' ' || text[pos + 1] == '\t'))
    pos = text.find('\n', pos + 1);
  return pos == std::string::npos ? std::string() : text.substr(pos + 1);
}

class Pop3RealClientsTest : public testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("brelvane-pop3-clients-" + RandomText(10));
    fs::create_directories(FDir);
    SetProgramFolder(FDir.string());
    Server = std::make_unique<TPop3HotmailServer>();
    Server->SetListenAddress("127.0.0.1");
    Server->SetPort(0);
    Server->SetBanner("+OK Welcome to Brelvane POP gateway");
    Server->SetDownloadRecordPath((FDir / "record.sqlite").string());
    Server->OnNeedSession = [this](const std::string &,
                                   const std::string &) -> TBasicWebMailSession * {
      return &Mailbox;
    };
    Server->SetOnLog([](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &, uint8_t,
                        bool) { return false; });
    Server->SetActive(true);
    Port = Server->BoundPort();

    Messages.push_back({"From: a@example.com", "To: jdoe@hotmail.com", "Subject: dots", "", ".",
                        "..", ".hidden line", "", "..end", "last"});
    std::string eight = "Subject: caf\xe9 \xfc\xf1\xee", body;
    for (int c = 0x80; c <= 0xff; ++c) body += static_cast<char>(c);
    Messages.push_back({"From: b@example.com", eight, "Content-Type: text/plain; charset=latin1",
                        "Content-Transfer-Encoding: 8bit", "", body, "\xe0 la carte", ".\xff"});
    TStringList big = {"From: c@example.com", "Subject: twenty megabytes", ""};
    for (int i = 0; big.size() < 270000; ++i) {
      std::string line = std::to_string(i) + " " + std::string(70, static_cast<char>('a' + i % 26));
      if (i % 997 == 0) line = "." + line;
      big.push_back(line);
    }
    Messages.push_back(big);
    for (size_t i = 0; i < Messages.size(); ++i)
      Mailbox.AddMessage("UID-" + std::to_string(i + 1), Messages[i]);
  }

  void TearDown() override {
    Server.reset();
    SetProgramFolder("");
    std::error_code ec;
    fs::remove_all(FDir, ec);
  }

  void WaitGone() {
    EXPECT_TRUE(PumpUntil([this] { return Server->ActiveConnections() == 0; }, 20000));
  }

  TTestMailbox Mailbox;
  std::vector<TStringList> Messages;
  std::unique_ptr<TPop3HotmailServer> Server;
  int Port = 0;
  fs::path FDir;
};

TEST_F(Pop3RealClientsTest, PythonPoplibUsesEveryCommand) {
  fs::path out = FDir / "poplib";
  fs::create_directories(out);
  const std::string script = R"PY(
import poplib, sys
port, out = int(sys.argv[1]), sys.argv[2]
log = open(out + "/replies.txt", "wb")
def note(x):
    log.write((x if isinstance(x, bytes) else str(x).encode()) + b"\n")
p = poplib.POP3("127.0.0.1", port, timeout=60)
note(p.getwelcome())
note(p.user("jdoe"))
note(p.pass_("secret"))
note(p.stat())
note(p.list()[1])
note(p.uidl()[1])
note(p.uidl(2))
note(p.noop())
top = p.top(1, 0)[1]
open(out + "/top1.txt", "wb").write(b"\r\n".join(top))
for i in range(1, 4):
    lines = p.retr(i)[1]
    open(out + "/msg%d.eml" % i, "wb").write(b"\r\n".join(lines) + b"\r\n")
note(p._shortcmd("LAST"))
note(p.dele(1))
note(p.rset())
note(p.dele(2))
try:
    p.dele(2)
except poplib.error_proto as e:
    note(e.args[0])
note(p.quit())
)PY";
  WriteFile(FDir / "client.py", script, fs::perms::owner_all);
  TProcessResult r = RunClient("python3",
                               {QString::fromStdString((FDir / "client.py").string()),
                                QString::number(Port), QString::fromStdString(out.string())},
                               FDir);
  ASSERT_TRUE(r.Finished);
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  for (size_t i = 0; i < Messages.size(); ++i)
    EXPECT_TRUE(ReadFile(out / ("msg" + std::to_string(i + 1) + ".eml")) == JoinLines(Messages[i]))
        << "message " << i + 1;
  EXPECT_EQ(ReadFile(out / "top1.txt"),
            "From: a@example.com\r\nTo: jdoe@hotmail.com\r\nSubject: dots\r\n");
  std::string replies = ReadFile(out / "replies.txt");
  EXPECT_NE(replies.find("+OK Logged in to Hotmail"), std::string::npos) << replies;
  EXPECT_NE(replies.find("\n+OK 3\n"), std::string::npos) << replies;  // LAST
  EXPECT_NE(replies.find("+OK 2 UID-2"), std::string::npos) << replies;
  EXPECT_NE(replies.find("-ERR Message \"2\" has already been marked deleted."), std::string::npos)
      << replies;
  WaitGone();
  ASSERT_EQ(Mailbox.DeleteCalls().size(), 1u);
  EXPECT_EQ(Mailbox.DeleteCalls()[0], TStringList{TTestMailbox::UrlFor("UID-2")});
  // The RSET after the downloads took back the passed-on marks as well.
  EXPECT_TRUE(Mailbox.MarkedRead().empty());
}

// fetchmail hands each message to an MDA with LF line ends and a Received
// line of its own on top; everything else must arrive untouched.
class FetchmailTest : public Pop3RealClientsTest {
 protected:
  TProcessResult Fetch(bool keep) {
    fs::path out = FDir / "mda";
    fs::create_directories(out);
    fs::path rc = FDir / "fetchmailrc";
    WriteFile(rc,
              "set no bouncemail\n"
              "poll 127.0.0.1 with proto POP3 port " +
                  std::to_string(Port) +
                  " uidl\n"
                  "  user \"jdoe@hotmail.com\" there with password \"secret\" is \"tester\" here\n"
                  "  sslproto '' " +
                  (keep ? "keep" : "nokeep") +
                  " no rewrite\n"
                  "  mda \"/bin/sh -c 'cat > " +
                  out.string() + "/msg.$$'\"\n",
              fs::perms::owner_read | fs::perms::owner_write);
    return RunClient(
        "fetchmail",
        {"-f", QString::fromStdString(rc.string()), "-i",
         QString::fromStdString((FDir / "fetchids").string()), "--pidfile",
         QString::fromStdString((FDir / "fetchmail.pid").string()), "--nodetach", "-v"},
        FDir);
  }

  // Stored messages, with fetchmail's own Received line taken off.
  std::vector<std::string> Stored() {
    std::vector<std::string> texts;
    for (const auto &entry : fs::directory_iterator(FDir / "mda"))
      texts.push_back(StripLeadingHeader(ReadFile(entry.path()), "Received: "));
    std::sort(texts.begin(), texts.end());
    return texts;
  }

  std::vector<std::string> Expected() {
    std::vector<std::string> texts;
    for (const TStringList &m : Messages) texts.push_back(WithLf(m));
    std::sort(texts.begin(), texts.end());
    return texts;
  }
};

TEST_F(FetchmailTest, KeepModeDownloadsOnceAndLeavesTheAccount) {
  TProcessResult r = Fetch(true);
  ASSERT_TRUE(r.Finished);
  ASSERT_EQ(r.ExitCode, 0) << r.Err << r.Out;
  EXPECT_TRUE(Stored() == Expected());
  WaitGone();
  EXPECT_TRUE(Mailbox.DeleteCalls().empty());
  EXPECT_EQ(Mailbox.Messages().size(), 3u);

  // A second run finds nothing new (exit code 1: no mail).
  fs::remove_all(FDir / "mda");
  r = Fetch(true);
  ASSERT_TRUE(r.Finished);
  EXPECT_EQ(r.ExitCode, 1) << r.Err << r.Out;
  EXPECT_FALSE(fs::exists(FDir / "mda") && !fs::is_empty(FDir / "mda"));
}

TEST_F(FetchmailTest, DeleteModeDeletesWhatItStored) {
  Server->UnreadOnly = false;  // so the account's state alone decides what is listed
  TProcessResult r = Fetch(false);
  ASSERT_TRUE(r.Finished);
  ASSERT_EQ(r.ExitCode, 0) << r.Err << r.Out;
  EXPECT_TRUE(Stored() == Expected());
  WaitGone();
  ASSERT_EQ(Mailbox.DeleteCalls().size(), 1u);
  EXPECT_EQ(Mailbox.DeleteCalls()[0].size(), 3u);
  EXPECT_TRUE(Mailbox.Messages().empty());
}

// mpop delivers into a maildir with LF line ends; its Received line is off.
TEST_F(Pop3RealClientsTest, MpopDeliversIntoAMaildir) {
  fs::path maildir = FDir / "Maildir";
  for (const char *sub : {"cur", "new", "tmp"}) fs::create_directories(maildir / sub);
  TProcessResult r =
      RunClient("mpop",
                {"--host=127.0.0.1", "--port=" + QString::number(Port), "--auth=user",
                 "--user=jdoe@hotmail.com", "--passwordeval=echo secret", "--tls=off",
                 "--received-header=off", "--keep=off",
                 "--uidls-file=" + QString::fromStdString((FDir / "uidls").string()),
                 "--delivery=maildir," + QString::fromStdString(maildir.string())},
                FDir);
  ASSERT_TRUE(r.Finished);
  ASSERT_EQ(r.ExitCode, 0) << r.Err << r.Out;
  std::vector<std::string> stored, expected;
  for (const auto &entry : fs::directory_iterator(maildir / "new"))
    stored.push_back(ReadFile(entry.path()));
  for (const TStringList &m : Messages) expected.push_back(WithLf(m));
  std::sort(stored.begin(), stored.end());
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(stored.size(), expected.size());
  for (size_t i = 0; i < stored.size(); ++i)
    EXPECT_TRUE(stored[i] == expected[i]) << "message " << i << " differs; sizes "
                                          << stored[i].size() << " vs " << expected[i].size();
  WaitGone();
  ASSERT_EQ(Mailbox.DeleteCalls().size(), 1u);
  EXPECT_EQ(Mailbox.DeleteCalls()[0].size(), 3u);
}

}  // namespace
