// Line throughput of the connection server over loopback TCP, each beside a
// plain Qt socket loop moving the same bytes over the same kind of socket.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <atomic>
#include <chrono>
#include <thread>

#include "protocol/LineSplitter.h"
#include "servers/QuorServer.h"

namespace {

constexpr int kLineBytes = 80;  // 78 characters and CR LF
constexpr size_t kTotalBytes = 16 * 1024 * 1024;
constexpr size_t kLines = kTotalBytes / kLineBytes;

std::string LineBlock() {
  std::string line(kLineBytes - 2, 'm');
  line += "\r\n";
  std::string block;
  for (size_t i = 0; i < kLines; ++i) block += line;
  return block;
}

// False when Done did not come true within a minute: a connection that was
// refused or closed would otherwise leave the benchmark waiting for ever.
bool Pump(const std::function<bool()> &done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  return true;
}

int ConnectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  return fd;
}

void WriteAll(int fd, const std::string &data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

size_t ReadCount(int fd, size_t want) {
  char buf[65536];
  size_t got = 0;
  while (got < want) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

// ---- A protocol that counts lines, or sends lines on request ---------------

struct TCounters {
  size_t lines = 0;
  bool sent = false;
};

class TBenchConnection : public TQuorServerSpawnedSocket {
 public:
  TBenchConnection(TQuorServer *server, std::unique_ptr<TByteTransport> transport, TCounters *c)
      : TQuorServerSpawnedSocket(server, std::move(transport)), FC(c) {}
  void HandleLine(const std::string &line) override {
    if (line == "SEND") {
      TStringList lines(kLines, std::string(kLineBytes - 2, 's'));
      SendLines(lines);
      FC->sent = true;
      return;
    }
    ++FC->lines;
  }
  // Measured as a message's text is taken: in bulk, with no command-line
  // limit on what one read may bring (as an SMTP connection in DATA).
  size_t PendingLineLimit() const override { return kLines * kLineBytes; }

 private:
  TCounters *FC;
};

class TBenchServer : public TQuorServer {
 public:
  explicit TBenchServer(TCounters *c) : FC(c) {
    SetListenAddress("127.0.0.1");
    SetPort(0);
    SetMaxConnections(100);
    SetOnLog([](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &, uint8_t, bool) {
      return false;
    });
  }

 protected:
  TQuorServerSpawnedSocket *CreateSpawnedSocket(
      std::unique_ptr<TByteTransport> transport) override {
    return new TBenchConnection(this, std::move(transport), FC);
  }

 private:
  TCounters *FC;
};

// ---- Input ----------------------------------------------------------------

void BM_SplitterInMemory(benchmark::State &state) {
  std::string block = LineBlock();
  for (auto _ : state) {
    TLineSplitter splitter;
    TStringList lines;
    lines.reserve(kLines);
    for (size_t pos = 0; pos < block.size(); pos += 16384)
      splitter.Append(std::string_view(block).substr(pos, 16384), lines);
    benchmark::DoNotOptimize(lines.data());
    if (lines.size() != kLines) state.SkipWithError("lines lost");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_SplitterInMemory)->Unit(benchmark::kMillisecond);

void BM_ServerReceivesLines(benchmark::State &state) {
  std::string block = LineBlock();
  for (auto _ : state) {
    TCounters c;
    TBenchServer server(&c);
    server.SetActive(true);
    int fd = ConnectTo(server.BoundPort());
    std::thread writer([&] { WriteAll(fd, block); });
    const bool complete = Pump([&] { return c.lines >= kLines; });
    writer.join();
    if (!complete) state.SkipWithError("the server did not take every line");
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_ServerReceivesLines)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainQtReceive(benchmark::State &state) {
  std::string block = LineBlock();
  for (auto _ : state) {
    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost, 0);
    int fd = ConnectTo(listener.serverPort());
    std::thread writer([&] { WriteAll(fd, block); });
    Pump([&] { return listener.hasPendingConnections(); });
    std::unique_ptr<QTcpSocket> socket(listener.nextPendingConnection());
    size_t got = 0;
    Pump([&] {
      got += static_cast<size_t>(socket->readAll().size());
      return got >= block.size();
    });
    writer.join();
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_PlainQtReceive)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Output ---------------------------------------------------------------

void BM_ServerSendsLines(benchmark::State &state) {
  for (auto _ : state) {
    TCounters c;
    TBenchServer server(&c);
    server.SetActive(true);
    int fd = ConnectTo(server.BoundPort());
    std::atomic<size_t> got{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
      got = ReadCount(fd, kLines * kLineBytes);
      done = true;
    });
    WriteAll(fd, "SEND\r\n");
    // The tail of the output leaves Qt's buffer only while the loop runs.
    Pump([&] { return c.sent && done; });
    reader.join();
    ::close(fd);
    if (got != kLines * kLineBytes) state.SkipWithError("bytes lost");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLines * kLineBytes));
}
BENCHMARK(BM_ServerSendsLines)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainQtSend(benchmark::State &state) {
  std::string block = LineBlock();
  for (auto _ : state) {
    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost, 0);
    int fd = ConnectTo(listener.serverPort());
    Pump([&] { return listener.hasPendingConnections(); });
    std::unique_ptr<QTcpSocket> socket(listener.nextPendingConnection());
    std::atomic<size_t> got{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
      got = ReadCount(fd, block.size());
      done = true;
    });
    socket->write(block.data(), static_cast<qint64>(block.size()));
    Pump([&] { return done.load(); });
    reader.join();
    ::close(fd);
    if (got != block.size()) state.SkipWithError("bytes lost");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_PlainQtSend)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
