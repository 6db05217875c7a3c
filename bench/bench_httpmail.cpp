// The HTTPMail session against the stand-in service: a 20 MB GetMsgText
// beside curl fetching the same URL (the ratio is what the exchange costs
// over a plain client), and a whole POP3 mail check of 1,000 small
// messages through the gateway (messages per second).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "../tests/common/StandinProcess.h"
#include "BuildConfig.h"
#include "foundation/QuorUtil.h"
#include "http/HttpRequest.h"
#include "servers/Pop3HotmailServer.h"
#include "sessions/HttpMailSession.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kBigUser = "big@hotmail.com";
constexpr const char *kSmallUser = "small@hotmail.com";
constexpr const char *kPassword = "bench-pass";
constexpr int kSmallCount = 1000;

fs::path GAccounts;
TStandinProcess *GStandin = nullptr;
size_t GBigSize = 0;

void WriteAccount(const fs::path &folder) {
  fs::create_directories(folder / "inbox");
  std::ofstream(folder / "account.json") << "{\"password\": \"" << kPassword << "\"}";
}

void MakeAccounts() {
  GAccounts = fs::temp_directory_path() / ("brelvane-bench-httpmail-" + RandomText(8));
  WriteAccount(GAccounts / kBigUser);
  {
    std::ofstream big(GAccounts / kBigUser / "inbox" / "big.eml", std::ios::binary);
    std::string text = "From: a@example.com\r\nSubject: big\r\n\r\n";
    for (int i = 0; text.size() < 20u * 1024 * 1024; ++i)
      text += std::to_string(i) + " " + std::string(70, char('a' + i % 26)) + "\r\n";
    GBigSize = text.size();
    big << text;
  }
  WriteAccount(GAccounts / kSmallUser);
  for (int i = 0; i < kSmallCount; ++i) {
    std::ofstream(GAccounts / kSmallUser / "inbox" / ("m" + std::to_string(i) + ".eml"),
                  std::ios::binary)
        << "From: a@example.com\r\nSubject: small " << i << "\r\n\r\nHello,\r\n\r\na short note "
        << i << "\r\n-- \r\nsender\r\n";
  }
}

std::string BigUrl() { return GStandin->Base() + "/svcs/hotmail/httpmail.asp/folders/inbox/big"; }

void BM_GetMsg20MB_Session(benchmark::State &state) {
  THttpMailSession session;
  std::string error;
  session.Logon(kBigUser, kPassword, error);
  if (!error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  // The form the POP3 gateway asks for: the message as one text.
  std::string text;
  for (auto _ : state) {
    session.GetMsgText(BigUrl(), text, error, 1);
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GBigSize));
}

void BM_GetMsg20MB_Curl(benchmark::State &state) {
  const std::string command = "curl -s -f -o /dev/null --digest -u '" + std::string(kBigUser) +
                              ":" + kPassword + "' '" + BigUrl() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("curl failed");
      return;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GBigSize));
}

int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends Command and reads until Terminator ends what arrived.
bool Ask(int fd, const std::string &command, const std::string &terminator) {
  if (!command.empty() &&
      send(fd, command.data(), command.size(), MSG_NOSIGNAL) != ssize_t(command.size()))
    return false;
  std::string tail;
  char buf[65536];
  for (;;) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    tail.append(buf, size_t(n));
    if (tail.size() > 4096) tail.erase(0, tail.size() - 4096);
    if (tail.size() >= terminator.size() &&
        tail.compare(tail.size() - terminator.size(), terminator.size(), terminator) == 0)
      return true;
  }
}

// One mail program's check: log on, list, fetch everything, quit. The client
// runs on a thread; this thread serves the gateway's loop meanwhile.
void BM_MailCheck1000_Pop3(benchmark::State &state) {
  THttpMailSession session;
  TPop3HotmailServer server;
  server.SetListenAddress("127.0.0.1");
  server.SetPort(0);
  server.SetBanner("+OK bench");
  server.SetMaxConnections(10);
  server.SetDownloadRecordPath((GAccounts / "record.sqlite").string());
  server.UnreadOnly = false;
  server.MarkRead = false;
  server.NoDups = false;
  server.GetBulkmail = false;
  server.OnNeedSession = [&](const std::string &, const std::string &) { return &session; };
  server.SetOnLog([](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &, uint8_t,
                     bool) { return false; });
  server.SetActive(true);
  const int port = server.BoundPort();
  for (auto _ : state) {
    std::atomic<bool> done{false}, ok{true};
    std::thread client([&] {
      const int fd = ConnectLoopback(port);
      bool good = fd >= 0 && Ask(fd, "", "\r\n") &&
                  Ask(fd, std::string("USER ") + kSmallUser + "\r\n", "\r\n") &&
                  Ask(fd, std::string("PASS ") + kPassword + "\r\n", "\r\n") &&
                  Ask(fd, "LIST\r\n", "\r\n.\r\n");
      for (int i = 1; good && i <= kSmallCount; ++i)
        good = Ask(fd, "RETR " + std::to_string(i) + "\r\n", "\r\n.\r\n");
      good = good && Ask(fd, "QUIT\r\n", "\r\n");
      if (fd >= 0) close(fd);
      ok = good;
      done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    client.join();
    if (!ok) {
      state.SkipWithError("mail check failed");
      break;
    }
    while (server.ActiveConnections() > 0)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  state.counters["messages_per_s"] =
      benchmark::Counter(double(state.iterations()) * kSmallCount, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_GetMsg20MB_Session)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);
BENCHMARK(BM_GetMsg20MB_Curl)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);
BENCHMARK(BM_MailCheck1000_Pop3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  InstallQtYieldHook();
  MakeAccounts();
  int status = 0;
  {
    TStandinProcess standin({}, GAccounts.string(), 900);
    if (!standin.Started()) {
      fprintf(stderr, "the stand-in service did not start\n");
      status = 1;
    } else {
      GStandin = &standin;
      SetServiceBaseOverride(standin.Base());
      benchmark::Initialize(&argc, argv);
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
      GStandin = nullptr;
    }
  }
  std::error_code ignored;
  fs::remove_all(GAccounts, ignored);
  return status;
}
