// Costs of the helpers that run on every page, header and message: pattern
// search over a listing page, wildcard search over a response head, the
// lock's uncontended round trip, and lines through the connection's reader.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "foundation/QuorCriticalSections.h"
#include "foundation/QuorUtil.h"
#include "http/QuorClientSocket.h"

namespace {
std::string ListingPage(size_t rows) {
  std::string page = "<html><body><table>";
  for (size_t i = 0; i < rows; ++i)
    page += "<tr><td><a href=\"/cgi-bin/getmsg?msg=MSG" + std::to_string(i) +
            "&amp;a=token\">Subject number " + std::to_string(i) + "</a></td><td>1 KB</td></tr>\n";
  page += "</table><form name=\"hotmail\" action=\"/cgi-bin/dasp/hotmail\"></form></body></html>";
  return page;
}

void BM_PatternSearchLazyNearEnd(benchmark::State &state) {
  const std::string page = ListingPage(static_cast<size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(PatternSearch("<form name=\"hotmail\".*?>", page, pf_Caseless));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_PatternSearchLazyNearEnd)->Arg(100)->Arg(2000);

void BM_PatternSearchGreedyDotAll(benchmark::State &state) {
  const std::string page = ListingPage(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(PatternSearch("<table>.*</table>", page, 13));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_PatternSearchGreedyDotAll)->Arg(100)->Arg(2000);

void BM_WildcardPosInResponseHead(benchmark::State &state) {
  std::string head = "HTTP/1.1 207 Multi-Status\r\n";
  for (int i = 0; i < 20; ++i) head += "X-Header-" + std::to_string(i) + ": some value here\r\n";
  head += "Content-Length: 12345\r\n\r\n";
  for (auto _ : state) benchmark::DoNotOptimize(WildcardPos("content-length: ?", head));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(head.size()));
}
BENCHMARK(BM_WildcardPosInResponseHead);

void BM_LockEnterLeave(benchmark::State &state) {
  TMutexCriticalSection cs("Bench_CS");
  for (auto _ : state) {
    cs.Enter();
    cs.Leave();
  }
}
BENCHMARK(BM_LockEnterLeave);

void BM_ReadLnThroughSocketPair(benchmark::State &state) {
  const int lines = 2000;
  std::string data;
  for (int i = 0; i < lines; ++i)
    data += "+OK " + std::to_string(i) + " 4711 a-line-of-a-listing\r\n";
  for (auto _ : state) {
    state.PauseTiming();
    int fds[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    std::thread writer([&] {
      size_t off = 0;
      while (off < data.size()) {
        ssize_t n = ::write(fds[1], data.data() + off, data.size() - off);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
      }
      ::close(fds[1]);
    });
    TQuorClientSocket socket("Bench");
    socket.AttachSocket(fds[0]);
    state.ResumeTiming();
    std::string line;
    int got = 0;
    while (socket.ReadLn(line)) ++got;
    state.PauseTiming();
    writer.join();
    if (got != lines) state.SkipWithError("lines lost");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * lines);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_ReadLnThroughSocketPair)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
