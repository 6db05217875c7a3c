// RETR through the POP3 gateway to a loopback client, beside a plain socket
// server that writes the same bytes for the same requests: the gap is what
// the gateway's line machinery costs. Peak memory is the process's maxrss.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <fstream>
#include <thread>

#include "foundation/QuorUtil.h"
#include "servers/Pop3HotmailServer.h"

namespace {

// The whole mailbox in memory; GetMsg copies, as a real session hands over
// a fresh text.
class TBenchMailbox : public TBasicWebMailSession {
 public:
  std::vector<TStringList> Texts;
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
      int64_t size = 0;
      for (const std::string &line : Texts[i]) size += static_cast<int64_t>(line.size()) + 2;
      info->Size = size;
      list.Add(std::move(info));
    }
  }
  void GetJunkMailList(TBasicMailMsgInfoList &, std::string &) override {}
  void GetMsg(const std::string &url, TStringList &lines, std::string &, int) override {
    lines = Texts[std::stoul(url)];
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

// Runs Work on a client thread while this thread serves the loop.
void Beside(const std::function<void()> &work) {
  std::atomic<bool> done{false};
  std::thread client([&] {
    work();
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  client.join();
}

// A logged-in gateway connection for one mailbox.
struct TGateway {
  TBenchMailbox Mailbox;
  TPop3HotmailServer Server;
  int Fd = -1;
  std::string Dir;

  explicit TGateway(std::vector<TStringList> texts) {
    Mailbox.Texts = std::move(texts);
    Dir = "/tmp/brelvane-bench-pop3-" + RandomText(8);
    Server.SetDownloadRecordPath(Dir + ".sqlite");
    Server.SetListenAddress("127.0.0.1");
    Server.SetPort(0);
    Server.SetBanner("+OK hello");
    Server.OnNeedSession = [this](const std::string &, const std::string &) { return &Mailbox; };
    Server.SetOnLog([](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &, uint8_t,
                       bool) { return false; });
    Server.SetActive(true);
    int port = Server.BoundPort();
    Beside([&] {
      Fd = ConnectLoopback(port);
      size_t n = 0;
      ReadUntil(Fd, "\r\n", n);  // banner
      SendAll(Fd, "USER bench@hotmail.com\r\n");
      ReadUntil(Fd, "\r\n", n);
      SendAll(Fd, "PASS pw\r\n");
      ReadUntil(Fd, "\r\n", n);
      SendAll(Fd, "STAT\r\n");
      ReadUntil(Fd, "\r\n", n);
    });
  }
  ~TGateway() {
    if (Fd >= 0) close(Fd);
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

void BM_Retr20MB_Gateway(benchmark::State &state) {
  std::vector<TStringList> texts(1);
  texts[0] = BigMessage();
  const size_t wireSize = WireText(texts[0]).size();
  TGateway gateway(std::move(texts));
  // Everything so far is the mailbox's (the service's) copy; from here on
  // the growth is what the gateway needs to pass the message on.
  malloc_trim(0);  // freed set-up memory would otherwise hide the growth
  const long baseKb = StatusKb("VmRSS");
  ResetPeakRss();
  size_t total = 0;
  for (auto _ : state) {
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

void RetrAllSmall(TGateway &gateway) {
  Beside([&] {
    size_t n = 0;
    for (int i = 1; i <= kSmallCount; ++i) {
      SendAll(gateway.Fd, "RETR " + std::to_string(i) + "\r\n");
      ReadUntil(gateway.Fd, "\r\n.\r\n", n);
    }
  });
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
  for (auto _ : state) {
    size_t n = 0;
    for (int i = 1; i <= kSmallCount; ++i) {
      SendAll(plain.Fd, "RETR " + std::to_string(i) + "\r\n");
      ReadUntil(plain.Fd, "\r\n.\r\n", n);
    }
  }
  state.SetItemsProcessed(state.iterations() * kSmallCount);
}

// The gateway's run first, so that its peak memory is not the plain copy's.
BENCHMARK(BM_Retr20MB_Gateway)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Retr20MB_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Retr1000Small_Gateway)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Retr1000Small_GatewayFirstDownload)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_Retr1000Small_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  InstallQtYieldHook();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
