// Parse + write-back throughput of the message model beside Python's email
// package on the same input, and the peak memory of a 20 MB message.
//
//   bench_message                  the benchmarks
//   bench_message --peak FILE M    (internal) load, parse and write FILE in a
//                                  fresh process; M is "text" or "lines"
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "mail/EmailDecoders.h"
#include "mail/EmailMsg.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBigMessageBytes = 20u << 20;

// A multipart/mixed message of about 20 MB: a text body and five base64
// attachments of random bytes.
const std::string &BigMessage() {
  static const std::string text = [] {
    std::mt19937 random(42);
    std::string m =
        "From: bench@example.com\r\nTo: someone@example.org\r\nSubject: big\r\n"
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XYZ\"\r\n\r\n"
        "preamble\r\n--XYZ\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n";
    for (int i = 0; i < 2000; ++i)
      m += "Some body text that goes on for a while, line " + std::to_string(i) + "\r\n";
    const size_t attachmentBytes = (kBigMessageBytes * 3 / 4) / 5;
    for (int a = 0; a < 5; ++a) {
      std::string bytes(attachmentBytes, '\0');
      for (char &c : bytes) c = char(random());
      TStringList lines;
      TBase64Decoder::Instance().Encode(bytes, lines);
      m += "--XYZ\r\nContent-Type: application/octet-stream; name=\"file" + std::to_string(a) +
           ".bin\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
           "filename=\"file" +
           std::to_string(a) + ".bin\"\r\n\r\n";
      m += JoinLines(lines);
    }
    m += "--XYZ--\r\n";
    return m;
  }();
  return text;
}

std::vector<std::string> CorpusTexts() {
  std::vector<std::string> texts;
  const char *dir = "/usr/lib/python3.11/test/test_email/data";
  if (!fs::is_directory(dir)) return texts;
  for (const auto &entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("msg_", 0) != 0) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    texts.push_back(s.str());
  }
  return texts;
}

std::string WriteTemp(const std::string &name, const std::string &text) {
  std::string path = (fs::temp_directory_path() / name).string();
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string RunCommand(const std::string &command) {
  std::string out;
  if (FILE *pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

void ParseAndWrite(const std::string &text, bool asLines) {
  TEmailMsg msg;
  msg.SetSaveOnDestroy(false);
  msg.SetAddBodyIfMissing(false);
  std::istringstream in(text);
  msg.LoadFromStream(in);
  msg.Header();
  if (asLines) {
    TStringList lines;
    msg.GetRawMail(lines, true);
    benchmark::DoNotOptimize(lines.data());
  } else {
    std::string out;
    msg.GetRawMailText(out, true);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Big_ParseAndWriteLines(benchmark::State &state) {
  const std::string &text = BigMessage();
  for (auto _ : state) ParseAndWrite(text, true);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Big_ParseAndWriteLines)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Big_ParseAndWriteText(benchmark::State &state) {
  const std::string &text = BigMessage();
  for (auto _ : state) ParseAndWrite(text, false);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Big_ParseAndWriteText)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Corpus_ParseAndWrite(benchmark::State &state) {
  static const std::vector<std::string> texts = CorpusTexts();
  int64_t bytes = 0;
  for (const auto &t : texts) bytes += int64_t(t.size());
  for (auto _ : state)
    for (const auto &t : texts) ParseAndWrite(t, true);
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}
BENCHMARK(BM_Corpus_ParseAndWrite)->Unit(benchmark::kMillisecond);

// Python's email package on the same input, timed inside the python3
// process (interpreter start-up excluded): message_from_bytes + as_bytes.
void PythonThroughput(benchmark::State &state, const std::vector<std::string> &paths, int repeats) {
  std::string command =
      "python3 -c \"import email,sys,time\n"
      "data=[open(p,'rb').read() for p in sys.argv[2:]]\n"
      "n=int(sys.argv[1]); t=time.perf_counter()\n"
      "for _ in range(n):\n"
      "  for d in data: email.message_from_bytes(d).as_bytes()\n"
      "print(time.perf_counter()-t, n*sum(len(d) for d in data))\" " +
      std::to_string(repeats);
  for (const auto &p : paths) command += " " + p;
  for (auto _ : state) {
    std::istringstream answer(RunCommand(command));
    double seconds = 0;
    int64_t bytes = 0;
    answer >> seconds >> bytes;
    if (seconds <= 0) {
      state.SkipWithError("python3 gave no timing");
      return;
    }
    state.SetIterationTime(seconds);
    state.counters["MB/s"] = double(bytes) / seconds / 1e6;
  }
}

void BM_Big_PythonEmail(benchmark::State &state) {
  std::string path = WriteTemp("brelvane-bench-big.eml", BigMessage());
  PythonThroughput(state, {path}, 3);
  fs::remove(path);
}
BENCHMARK(BM_Big_PythonEmail)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_Corpus_PythonEmail(benchmark::State &state) {
  std::vector<std::string> paths;
  for (const auto &entry : fs::directory_iterator("/usr/lib/python3.11/test/test_email/data"))
    if (entry.path().filename().string().rfind("msg_", 0) == 0)
      paths.push_back(entry.path().string());
  PythonThroughput(state, paths, 50);
}
BENCHMARK(BM_Corpus_PythonEmail)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

long MaxRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Peak memory above the process's start, in a fresh process so that
// nothing measured before counts.
void BM_Big_PeakMemory(benchmark::State &state) {
  std::string path = WriteTemp("brelvane-bench-peak.eml", BigMessage());
  const char *mode = state.range(0) ? "lines" : "text";
  for (auto _ : state) {
    std::string answer =
        RunCommand("/proc/" + std::to_string(getpid()) + "/exe --peak " + path + " " + mode);
    std::istringstream in(answer);
    double ratio = 0;
    in >> ratio;
    state.counters["peak/size"] = ratio;
  }
  fs::remove(path);
}
BENCHMARK(BM_Big_PeakMemory)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

int PeakMain(const std::string &path, const std::string &mode) {
  long before = MaxRssKb();
  uintmax_t size = fs::file_size(path);
  {
    TEmailMsg msg;
    msg.SetSaveOnDestroy(false);
    msg.SetAddBodyIfMissing(false);
    msg.ReadFromFile(path);
    msg.Header();
    if (mode == "lines") {
      TStringList lines;
      msg.GetRawMail(lines, true);
    } else {
      std::string out;
      msg.GetRawMailText(out, true);
    }
  }
  long after = MaxRssKb();
  std::printf("%.3f\n", double(after - before) * 1024.0 / double(size));
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == "--peak") return PeakMain(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
