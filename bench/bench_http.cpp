// Costs of the HTTP exchange: the digest, the line-list work on a large
// answer, and whole exchanges against a loopback server that answers at once;
// a 20 MB message answer taken as text and as lines beside curl fetching the
// same URL from the same server.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "http/HttpRequest.h"
#include "http/Md5.h"
#include "mail/Rfc822Date.h"

namespace {

void BM_Md5(benchmark::State &state) {
  const std::string data(size_t(state.range(0)), 'x');
  for (auto _ : state) benchmark::DoNotOptimize(Md5Hex(data));
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5)->Arg(64)->Arg(4096)->Arg(1 << 20);

// A folder listing of N lines put into a response, as the body reader does.
void BM_ResponseBody(benchmark::State &state) {
  std::string buffer;
  for (int i = 0; i < state.range(0); ++i)
    buffer += "<D:response><D:href>http://h/folders/inbox/msg" + std::to_string(i) +
              "</D:href></D:response>\r\n";
  const TStringList headers = {"HTTP/1.1 207 Multi-Status", "Content-Type: text/xml",
                               "Content-Length: " + std::to_string(buffer.size())};
  for (auto _ : state) {
    THttpResponse response;
    response.MergeHeaders(headers);
    response.PutBody(SplitLines(buffer));
    benchmark::DoNotOptimize(response.Count());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer.size()));
}
BENCHMARK(BM_ResponseBody)->Arg(1000)->Arg(100000);

// Answers every request with a 207 whose body has the requested size, or
// with the given body.
class TQuickServer {
 public:
  explicit TQuickServer(size_t bodySize) : TQuickServer(std::string(bodySize, 'b')) {}
  explicit TQuickServer(std::string body) : FBody(std::move(body)) {
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FListen, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::listen(FListen, 16);
    socklen_t len = sizeof addr;
    ::getsockname(FListen, reinterpret_cast<sockaddr *>(&addr), &len);
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this] { Run(); });
  }
  ~TQuickServer() {
    FStop = true;
    FThread.join();
    ::close(FListen);
  }
  int Port() const { return FPort; }

 private:
  void Run() {
    const std::string head =
        "HTTP/1.1 207 Multi-Status\r\nContent-Length: " + std::to_string(FBody.size()) + "\r\n\r\n";
    while (!FStop) {
      pollfd p{FListen, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept(FListen, nullptr, nullptr);
      if (fd < 0) continue;
      std::string in;
      char buf[4096];
      while (in.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        in.append(buf, size_t(n));
      }
      const std::string answer = head + FBody;
      size_t sent = 0;
      while (sent < answer.size()) {
        const ssize_t n = ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += size_t(n);
      }
      ::close(fd);
    }
  }

  std::string FBody;
  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

void BM_Exchange(benchmark::State &state) {
  TQuickServer server(size_t(state.range(0)));
  THttpRequest request;
  THttpResponse response;
  for (auto _ : state) {
    request.Clear();
    request.Add("GET blah HTTP/1.1");
    request.Add("Host: blah");
    request.Add("");
    request.SetUrl("http://127.0.0.1:" + std::to_string(server.Port()) + "/msg");
    response.Clear();
    std::string error;
    request.PerformRequest(response, nullptr, error, Now() + SecondsToDays(10));
    if (!error.empty()) state.SkipWithError(error.c_str());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Exchange)->Arg(1000)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// A message of 20 MB in lines of about 75 bytes, as a GetMsg answer brings.
const std::string &BigMessage() {
  static const std::string text = [] {
    std::string t = "From: a@example.com\r\nSubject: big\r\n\r\n";
    for (int i = 0; t.size() < 20u * 1024 * 1024; ++i)
      t += std::to_string(i) + " " + std::string(70, char('a' + i % 26)) + "\r\n";
    return t;
  }();
  return text;
}

std::string ServerUrl(const TQuickServer &server) {
  return "http://127.0.0.1:" + std::to_string(server.Port()) + "/msg";
}

// The exchange with the body taken whole (asLines false) or as a line list.
void BigExchange(benchmark::State &state, bool asLines) {
  TQuickServer server(BigMessage());
  THttpRequest request;
  THttpResponse response;
  for (auto _ : state) {
    request.Clear();
    request.Add("GET blah HTTP/1.1");
    request.Add("Host: blah");
    request.Add("");
    request.SetUrl(ServerUrl(server));
    response.Clear();
    std::string error;
    request.PerformRequest(response, nullptr, error, Now() + SecondsToDays(30));
    if (!error.empty()) state.SkipWithError(error.c_str());
    if (asLines) {
      TStringList lines = response.TakeBody();
      benchmark::DoNotOptimize(lines.data());
    } else {
      std::string text = response.TakeBodyText();
      if (text.size() != BigMessage().size()) state.SkipWithError("short body");
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BigMessage().size()));
}

void BM_Exchange20MB_Text(benchmark::State &state) { BigExchange(state, false); }
void BM_Exchange20MB_Lines(benchmark::State &state) { BigExchange(state, true); }

void BM_Exchange20MB_Curl(benchmark::State &state) {
  TQuickServer server(BigMessage());
  const std::string command = "curl -s -f -o /dev/null '" + ServerUrl(server) + "'";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BigMessage().size()));
}

BENCHMARK(BM_Exchange20MB_Text)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Exchange20MB_Lines)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Exchange20MB_Curl)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
