// RETR through the POP3 gateway to a loopback client, beside a plain socket
// server that writes the same bytes for the same requests (the gap is what
// the gateway's line machinery costs) and beside Dovecot's POP3 server on a
// throw-away configuration holding the same messages in a Maildir (a real
// server's figure for the same work). The same client code fetches from all
// three. NOOP round trips with 50 connections open at once compare the
// gateway's latency with Dovecot's. Peak memory is the process's maxrss.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>

#include "foundation/QuorUtil.h"
#include "servers/Pop3HotmailServer.h"

namespace {

// The whole mailbox in memory. GetMsgText hands over Ready when it holds the
// message asked for, as the HTTPMail session hands over the body it has
// read (fetching it is that session's cost, measured in bench_httpmail);
// otherwise it copies the message inside the timed RETR.
class TBenchMailbox : public TBasicWebMailSession {
 public:
  std::vector<std::string> Texts;
  std::string ReadyUrl, Ready;
  std::string UserId;
  std::string GetUserId() override { return UserId; }
  void SetUserId(const std::string &u) override { UserId = u; }
  std::string GetPassword() override { return {}; }
  void SetPassword(const std::string &) override {}
  void DoLogon(const std::string &u, const std::string &, std::string &error) override {
    UserId = u;
    error.clear();
  }
  void GetInboxList(TBasicMailMsgInfoList &list, std::string &) override {
    for (size_t i = 0; i < Texts.size(); ++i) {
      auto info = std::make_unique<TBasicMailMsgInfo>();
      info->Url = std::to_string(i);
      info->Uidl = info->Url;
      info->Size = static_cast<int64_t>(Texts[i].size());
      list.Add(std::move(info));
    }
  }
  void GetJunkMailList(TBasicMailMsgInfoList &, std::string &) override {}
  void GetMsg(const std::string &url, TStringList &lines, std::string &, int) override {
    lines = SplitLines(Texts[std::stoul(url)]);
  }
  void GetMsgText(const std::string &url, std::string &text, std::string &, int) override {
    if (url == ReadyUrl) {
      text = std::move(Ready);
      ReadyUrl.clear();
    } else {
      text = Texts[std::stoul(url)];
    }
  }
  void MarkMsgRead(const std::string &, int, std::string &) override {}
  void DeleteMsgs(const TStringList &, std::string &) override {}
  bool CheckLoggedOn() override { return true; }
  void SendMsg(const std::string &, bool, std::string &, int, const TStringList &,
               const TStringList &, bool) override {}
};

TStringList BigMessage() {
  TStringList lines = {"From: a@example.com", "Subject: big", ""};
  for (int i = 0; lines.size() < 270000; ++i) {
    std::string line = i % 997 == 0 ? "." : "";
    line += std::to_string(i);
    line += ' ';
    line.append(70, static_cast<char>('a' + i % 26));
    lines.push_back(std::move(line));
  }
  return lines;
}

TStringList SmallMessage(int i) {
  return {"From: a@example.com",
          "Subject: small " + std::to_string(i),
          "",
          "Hello,",
          "",
          "a short note number " + std::to_string(i),
          "-- ",
          "sender"};
}

// What RETR puts on the wire for a message.
std::string WireText(TStringList lines) {
  StuffForPop3(lines);
  return "+OK \r\n" + JoinLines(lines);
}

long MaxRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const std::string &field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, field.size() + 1, field + ":") == 0)
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  return -1;
}

// Starts a fresh peak: what the bench itself built before does not count.
void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads until Terminator has been seen at the end of what arrived; the
// bytes themselves are counted, not kept.
bool ReadUntil(int fd, const std::string &terminator, size_t &count) {
  std::string tail;
  char buf[65536];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    count += static_cast<size_t>(n);
    tail.append(buf, static_cast<size_t>(n));
    if (tail.size() > terminator.size()) tail.erase(0, tail.size() - terminator.size());
    if (tail == terminator) return true;
  }
}

bool SendAll(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Runs Work on a client thread while this thread serves the loop, which
// sleeps until something arrives, as the application's does (a loop that
// polls without waiting would take the client's core on a small machine).
void Beside(const std::function<void()> &work) {
  std::atomic<bool> done{false};
  QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
  std::thread client([&] {
    work();
    done = true;
    dispatcher->wakeUp();
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  client.join();
}

// Reads the banner, logs on and checks that the server took the password.
bool LogOn(int fd, const std::string &user, const std::string &password) {
  size_t n = 0;
  if (fd < 0 || !ReadUntil(fd, "\r\n", n)) return false;  // banner
  if (!SendAll(fd, "USER " + user + "\r\n") || !ReadUntil(fd, "\r\n", n)) return false;
  if (!SendAll(fd, "PASS " + password + "\r\n")) return false;
  char reply[3] = {};
  if (recv(fd, reply, sizeof reply, MSG_PEEK | MSG_WAITALL) != 3) return false;
  if (std::string(reply, 3) != "+OK") return false;
  return ReadUntil(fd, "\r\n", n);
}

// A gateway with one logged-in connection for one mailbox; every further
// connection gets a mailbox of its own with the same texts.
struct TGateway {
  std::vector<std::string> Texts;
  std::deque<TBenchMailbox> Mailboxes;
  TPop3HotmailServer Server;
  int Fd = -1;
  std::vector<int> MoreFds;
  std::string Dir;

  explicit TGateway(const std::vector<TStringList> &messages) {
    for (const TStringList &lines : messages) Texts.push_back(JoinLines(lines));
    Dir = "/tmp/brelvane-bench-pop3-" + RandomText(8);
    Server.SetDownloadRecordPath(Dir + ".sqlite");
    Server.SetListenAddress("127.0.0.1");
    Server.SetPort(0);
    Server.SetBanner("+OK hello");
    Server.OnNeedSession = [this](const std::string &, const std::string &) {
      Mailboxes.emplace_back();
      Mailboxes.back().Texts = Texts;
      return &Mailboxes.back();
    };
    Server.SetOnLog([](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &, uint8_t,
                       bool) { return false; });
    Server.SetActive(true);
    Beside([&] {
      Fd = ConnectLoopback(Server.BoundPort());
      size_t n = 0;
      LogOn(Fd, "bench@hotmail.com", "pw");
      SendAll(Fd, "STAT\r\n");
      ReadUntil(Fd, "\r\n", n);
    });
  }
  // Count more logged-in connections; all connect first, so that their
  // banners (a second after connecting) are awaited together.
  bool OpenMore(int count) {
    bool ok = true;
    Beside([&] {
      for (int i = 0; i < count; ++i) MoreFds.push_back(ConnectLoopback(Server.BoundPort()));
      for (int fd : MoreFds) ok = LogOn(fd, "bench@hotmail.com", "pw") && ok;
    });
    return ok;
  }
  ~TGateway() {
    if (Fd >= 0) close(Fd);
    for (int fd : MoreFds)
      if (fd >= 0) close(fd);
    Server.SetActive(false);
    unlink((Dir + ".sqlite").c_str());
    unlink((Dir + ".sqlite-wal").c_str());
    unlink((Dir + ".sqlite-shm").c_str());
  }
};

// The plain comparison: a thread that answers each request line with the
// prepared bytes of the message it names.
struct TPlainServer {
  std::vector<std::string> Wire;
  int ListenFd = -1, Fd = -1;
  std::thread Thread;

  explicit TPlainServer(std::vector<std::string> wire) : Wire(std::move(wire)) {
    ListenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(ListenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    listen(ListenFd, 1);
    socklen_t len = sizeof addr;
    getsockname(ListenFd, reinterpret_cast<sockaddr *>(&addr), &len);
    int port = ntohs(addr.sin_port);
    Thread = std::thread([this] {
      int peer = accept(ListenFd, nullptr, nullptr);
      std::string pending;
      char buf[4096];
      for (;;) {
        ssize_t n = recv(peer, buf, sizeof buf, 0);
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        size_t eol;
        while ((eol = pending.find("\r\n")) != std::string::npos) {
          std::string line = pending.substr(0, eol);
          pending.erase(0, eol + 2);
          size_t index = std::stoul(line.substr(5)) - 1;  // "RETR n"
          SendAll(peer, Wire[index]);
        }
      }
      close(peer);
    });
    Fd = ConnectLoopback(port);
  }
  ~TPlainServer() {
    shutdown(Fd, SHUT_RDWR);
    close(Fd);
    Thread.join();
    close(ListenFd);
  }
};

// Dovecot's POP3 server on a configuration of its own in a temporary
// folder: two users, "big" and "small", whose Maildirs hold the same
// messages as the gateway's mailboxes (stored with LF line ends, as a
// Maildir keeps them). Run as root, the daemon's own users run it and the
// mail belongs to "dovecot"; otherwise everything runs as the caller.
struct TDovecot {
  std::string Dir;
  pid_t Pid = -1;
  int Port = 0;
  std::string Error;

  static constexpr const char *kBinary = "/usr/sbin/dovecot";

  TDovecot(const std::vector<TStringList> &big, const std::vector<TStringList> &small) {
    namespace fs = std::filesystem;
    if (!fs::exists(kBinary)) {
      Error = "dovecot is not installed (scripts/install-deps)";
      return;
    }
    Dir = (fs::temp_directory_path() / ("brelvane-bench-dovecot-" + RandomText(8))).string();
    fs::create_directories(Dir + "/run");
    const bool root = geteuid() == 0;
    uid_t mailUid = geteuid();
    gid_t mailGid = getegid();
    std::string internalUser, loginUser;
    if (root) {
      const passwd *daemon = getpwnam("dovecot");
      if (!daemon || !getpwnam("dovenull")) {
        Error = "the dovecot and dovenull users are missing";
        return;
      }
      mailUid = daemon->pw_uid;
      mailGid = daemon->pw_gid;
      internalUser = "dovecot";
      loginUser = "dovenull";
    } else {
      const passwd *self = getpwuid(geteuid());
      internalUser = loginUser = self ? self->pw_name : "nobody";
    }
    std::string passwd;
    for (const auto &[user, texts] : {std::pair{"big", &big}, std::pair{"small", &small}}) {
      const std::string home = Dir + "/" + user;
      for (const char *sub : {"cur", "new", "tmp"})
        fs::create_directories(home + "/Maildir/" + sub);
      for (size_t i = 0; i < texts->size(); ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/Maildir/cur/%06zu.bench:2,", i);
        std::ofstream(home + name, std::ios::binary) << JoinLines((*texts)[i], "\n") << "\n";
      }
      passwd += std::string(user) + ":{PLAIN}pw:" + std::to_string(mailUid) + ":" +
                std::to_string(mailGid) + "::" + home + "\n";
      if (root)
        for (const auto &entry : fs::recursive_directory_iterator(home))
          if (chown(entry.path().c_str(), mailUid, mailGid) != 0) Error = "chown failed";
      if (root && chown(home.c_str(), mailUid, mailGid) != 0) Error = "chown failed";
    }
    // The daemon's own users must reach the folder.
    fs::permissions(Dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    std::ofstream(Dir + "/passwd") << passwd;
    Port = FreeLoopbackPort();
    std::ofstream(Dir + "/dovecot.conf")
        << "base_dir = " << Dir << "/run\n"
        << "state_dir = " << Dir << "/run\n"
        << "log_path = " << Dir << "/log\n"
        << "protocols = pop3\n"
        << "listen = 127.0.0.1\n"
        << "ssl = no\n"
        << "disable_plaintext_auth = no\n"
        << "auth_mechanisms = plain\n"
        << "default_internal_user = " << internalUser << "\n"
        << "default_login_user = " << loginUser << "\n"
        << "first_valid_uid = 1\n"
        << "first_valid_gid = 1\n"
        << "mail_location = maildir:~/Maildir\n"
        << "mail_max_userip_connections = 200\n"
        << "passdb {\n  driver = passwd-file\n  args = " << Dir << "/passwd\n}\n"
        << "userdb {\n  driver = passwd-file\n  args = " << Dir << "/passwd\n}\n"
        << "service pop3-login {\n"
        << (root ? "" : "  chroot =\n")
        << "  inet_listener pop3 {\n    address = 127.0.0.1\n    port = " << Port << "\n  }\n}\n"
        << (root ? "" : "service anvil {\n  chroot =\n}\n");
    if (!Error.empty()) return;
    Pid = fork();
    if (Pid == 0) {
      const std::string conf = Dir + "/dovecot.conf";
      execl(kBinary, kBinary, "-F", "-c", conf.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    // Ready once it answers with its banner; gives up after ten seconds.
    for (int i = 0; i < 200; ++i) {
      int fd = ConnectLoopback(Port);
      if (fd >= 0) {
        size_t n = 0;
        const bool ready = ReadUntil(fd, "\r\n", n);
        SendAll(fd, "QUIT\r\n");
        close(fd);
        if (ready) return;
      }
      if (waitpid(Pid, nullptr, WNOHANG) == Pid) {
        Pid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Error = "dovecot did not start; see " + Dir + "/log";
  }
  ~TDovecot() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
    // A failed start keeps its folder, for the log.
    if (!Dir.empty() && Error.empty()) std::filesystem::remove_all(Dir);
  }
  bool Ok() const { return Error.empty(); }
  // A logged-on connection (with the mailbox listed once, as the gateway's
  // is, so that no first scan is timed).
  int Connect(const std::string &user) const {
    int fd = ConnectLoopback(Port);
    size_t n = 0;
    if (!LogOn(fd, user, "pw") || !SendAll(fd, "STAT\r\n") || !ReadUntil(fd, "\r\n", n)) {
      if (fd >= 0) close(fd);
      return -1;
    }
    return fd;
  }
  static int FreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
  }
};

// With HandOver the message is copied for the mailbox before each timed
// RETR, so only the gateway's passing it on is timed; without, the copy is
// part of the RETR.
void Retr20MB(benchmark::State &state, bool handOver) {
  std::vector<TStringList> texts(1);
  texts[0] = BigMessage();
  const size_t wireSize = WireText(texts[0]).size();
  TGateway gateway(texts);
  texts.clear();
  texts.shrink_to_fit();
  // Everything so far is the mailbox's (the service's) copy; from here on
  // the growth is what the gateway needs to pass the message on.
  malloc_trim(0);  // freed set-up memory would otherwise hide the growth
  const long baseKb = StatusKb("VmRSS");
  ResetPeakRss();
  size_t total = 0;
  TBenchMailbox &mailbox = gateway.Mailboxes.front();
  for (auto _ : state) {
    if (handOver) {
      state.PauseTiming();
      mailbox.Ready = mailbox.Texts[0];
      mailbox.ReadyUrl = "0";
      state.ResumeTiming();
    }
    Beside([&] {
      SendAll(gateway.Fd, "RETR 1\r\n");
      ReadUntil(gateway.Fd, "\r\n.\r\n", total);
    });
  }
  if (total != wireSize * state.iterations()) state.SkipWithError("short read");
  state.SetBytesProcessed(static_cast<int64_t>(total));
  state.counters["message_MB"] = static_cast<double>(wireSize) / 1e6;
  state.counters["maxrss_MB"] = static_cast<double>(MaxRssKb()) / 1024;
  state.counters["peak_growth_MB"] = static_cast<double>(StatusKb("VmHWM") - baseKb) / 1024;
}

void BM_Retr20MB_Gateway(benchmark::State &state) { Retr20MB(state, true); }
void BM_Retr20MB_GatewayCopying(benchmark::State &state) { Retr20MB(state, false); }

void BM_Retr20MB_PlainCopy(benchmark::State &state) {
  TPlainServer plain({WireText(BigMessage())});
  const size_t wireSize = plain.Wire[0].size();
  size_t total = 0;
  for (auto _ : state) {
    SendAll(plain.Fd, "RETR 1\r\n");
    ReadUntil(plain.Fd, "\r\n.\r\n", total);
  }
  if (total != wireSize * state.iterations()) state.SkipWithError("short read");
  state.SetBytesProcessed(static_cast<int64_t>(total));
}

constexpr int kSmallCount = 1000;

// The client side of fetching every small message, the same for all servers.
void RetrAll(int fd) {
  size_t n = 0;
  for (int i = 1; i <= kSmallCount; ++i) {
    SendAll(fd, "RETR " + std::to_string(i) + "\r\n");
    ReadUntil(fd, "\r\n.\r\n", n);
  }
}

void RetrAllSmall(TGateway &gateway) {
  Beside([&] { RetrAll(gateway.Fd); });
}

std::vector<TStringList> SmallTexts() {
  std::vector<TStringList> texts;
  for (int i = 0; i < kSmallCount; ++i) texts.push_back(SmallMessage(i));
  return texts;
}

// Steady state: the download record already holds every message, so no
// write (and no fsync) happens per RETR.
void BM_Retr1000Small_Gateway(benchmark::State &state) {
  TGateway gateway(SmallTexts());
  RetrAllSmall(gateway);
  for (auto _ : state) RetrAllSmall(gateway);
  state.SetItemsProcessed(state.iterations() * kSmallCount);
}

// A first download: each RETR adds a durable record entry.
void BM_Retr1000Small_GatewayFirstDownload(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto gateway = std::make_unique<TGateway>(SmallTexts());
    state.ResumeTiming();
    RetrAllSmall(*gateway);
    state.PauseTiming();
    gateway.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kSmallCount);
}

void BM_Retr1000Small_PlainCopy(benchmark::State &state) {
  std::vector<std::string> wire;
  for (int i = 0; i < kSmallCount; ++i) wire.push_back(WireText(SmallMessage(i)));
  TPlainServer plain(wire);
  for (auto _ : state) RetrAll(plain.Fd);
  state.SetItemsProcessed(state.iterations() * kSmallCount);
}

std::unique_ptr<TDovecot> GDovecot;

// Dovecot with the same mailboxes as the gateway benchmarks; started once.
TDovecot &Dovecot() {
  if (!GDovecot)
    GDovecot = std::make_unique<TDovecot>(std::vector<TStringList>{BigMessage()}, SmallTexts());
  return *GDovecot;
}

void StopDovecot() { GDovecot.reset(); }

void BM_Retr20MB_Dovecot(benchmark::State &state) {
  TDovecot &dovecot = Dovecot();
  if (!dovecot.Ok()) {
    state.SkipWithError(dovecot.Error.c_str());
    return;
  }
  const int fd = dovecot.Connect("big");
  const size_t wireSize = WireText(BigMessage()).size();
  size_t total = 0;
  for (auto _ : state) {
    SendAll(fd, "RETR 1\r\n");
    ReadUntil(fd, "\r\n.\r\n", total);
  }
  close(fd);
  // Dovecot's reply line names the size; the rest is the same text.
  if (total < (wireSize - 16) * state.iterations()) state.SkipWithError("short read");
  state.SetBytesProcessed(static_cast<int64_t>(total));
}

void BM_Retr1000Small_Dovecot(benchmark::State &state) {
  TDovecot &dovecot = Dovecot();
  if (!dovecot.Ok()) {
    state.SkipWithError(dovecot.Error.c_str());
    return;
  }
  const int fd = dovecot.Connect("small");
  RetrAll(fd);
  for (auto _ : state) RetrAll(fd);
  close(fd);
  state.SetItemsProcessed(state.iterations() * kSmallCount);
}

constexpr int kNoopConnections = 50;
constexpr int kNoopRounds = 40;

// Each round sends NOOP on every connection at once and takes each answer's
// round trip, so the server has 50 clients to serve in the same moment.
bool NoopRounds(const std::vector<int> &fds, int rounds, std::vector<double> &microseconds) {
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> sent(fds.size());
  std::vector<pollfd> waiting(fds.size());
  char buf[512];
  for (int round = 0; round < rounds; ++round) {
    for (size_t i = 0; i < fds.size(); ++i) {
      sent[i] = Clock::now();
      if (!SendAll(fds[i], "NOOP\r\n")) return false;
      waiting[i] = {fds[i], POLLIN, 0};
    }
    size_t left = fds.size();
    std::vector<std::string> got(fds.size());
    while (left > 0) {
      if (poll(waiting.data(), waiting.size(), 10000) <= 0) return false;
      for (size_t i = 0; i < waiting.size(); ++i) {
        if (waiting[i].fd < 0 || !(waiting[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = recv(waiting[i].fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        got[i].append(buf, static_cast<size_t>(n));
        if (got[i].size() >= 2 && got[i].compare(got[i].size() - 2, 2, "\r\n") == 0) {
          microseconds.push_back(
              std::chrono::duration<double, std::micro>(Clock::now() - sent[i]).count());
          waiting[i].fd = -1;
          --left;
        }
      }
    }
  }
  return true;
}

void ReportLatency(benchmark::State &state, std::vector<double> &microseconds) {
  if (microseconds.empty()) return;
  std::sort(microseconds.begin(), microseconds.end());
  auto at = [&](double q) {
    return microseconds[std::min(
        microseconds.size() - 1,
        static_cast<size_t>(q * static_cast<double>(microseconds.size())))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["samples"] = static_cast<double>(microseconds.size());
}

void BM_Noop50_Gateway(benchmark::State &state) {
  TGateway gateway(SmallTexts());
  if (!gateway.OpenMore(kNoopConnections - 1)) {
    state.SkipWithError("log-on failed");
    return;
  }
  std::vector<int> fds = gateway.MoreFds;
  fds.push_back(gateway.Fd);
  std::vector<double> microseconds;
  bool ok = true;
  Beside([&] { ok = NoopRounds(fds, 2, microseconds); });  // warm-up
  microseconds.clear();
  for (auto _ : state) Beside([&] { ok = ok && NoopRounds(fds, kNoopRounds, microseconds); });
  if (!ok) state.SkipWithError("NOOP failed");
  ReportLatency(state, microseconds);
}

void BM_Noop50_Dovecot(benchmark::State &state) {
  TDovecot &dovecot = Dovecot();
  if (!dovecot.Ok()) {
    state.SkipWithError(dovecot.Error.c_str());
    return;
  }
  std::vector<int> fds;
  for (int i = 0; i < kNoopConnections; ++i) fds.push_back(dovecot.Connect("small"));
  if (std::count(fds.begin(), fds.end(), -1) > 0) {
    state.SkipWithError("log-on failed");
  } else {
    std::vector<double> microseconds;
    bool ok = NoopRounds(fds, 2, microseconds);
    microseconds.clear();
    for (auto _ : state) ok = ok && NoopRounds(fds, kNoopRounds, microseconds);
    if (!ok) state.SkipWithError("NOOP failed");
    ReportLatency(state, microseconds);
  }
  for (int fd : fds)
    if (fd >= 0) close(fd);
}

// The gateway's run first, so that its peak memory is not the plain copy's.
BENCHMARK(BM_Retr20MB_Gateway)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Retr20MB_GatewayCopying)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Retr20MB_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Retr20MB_Dovecot)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Retr1000Small_Gateway)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Retr1000Small_GatewayFirstDownload)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_Retr1000Small_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Retr1000Small_Dovecot)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Noop50_Gateway)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Noop50_Dovecot)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  InstallQtYieldHook();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopDovecot();
  return 0;
}
