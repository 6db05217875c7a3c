// The site road's cost: log on, list three listing pages, read ten messages
// (two with attachments) from the stand-in site in the real engine. Reports
// the wall time, the page loads, the lower bound the quiet rule sets (a
// second of quiet per page plus what the stand-in itself takes to serve a
// page), the ratio to it, and the peak memory of this program and of the
// engine's helper processes.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "http/HttpRequest.h"
#include "mail/EmailMsg.h"
#include "scraping/HotmailScraper.h"
#include "scraping/HotmailScraperFactory.h"
#include "scraping/MessageAddress.h"
#include "tests/common/StandinProcess.h"

namespace {

// Peak resident size (VmHWM) of one process in KiB; 0 when unreadable.
long PeakKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

int ParentOf(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(text.substr(close + 2));
  std::string state;
  int parent = -1;
  rest >> state >> parent;
  return parent;
}

std::string NameOf(int pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// This program's peak plus the peaks of its engine helpers (every
// QtWebEngineProcess below it). The sum of peaks bounds the joint peak.
void Memory(long &own, long &helpers) {
  own = PeakKiB(getpid());
  helpers = 0;
  std::vector<int> pids;
  if (DIR *proc = opendir("/proc")) {
    while (dirent *entry = readdir(proc)) {
      const int pid = std::atoi(entry->d_name);
      if (pid > 0) pids.push_back(pid);
    }
    closedir(proc);
  }
  for (int pid : pids) {
    if (NameOf(pid).find("QtWebEngine") == std::string::npos) continue;
    for (int up = ParentOf(pid); up > 1; up = ParentOf(up))
      if (up == getpid()) {
        helpers += PeakKiB(pid);
        break;
      }
  }
}

TStandinProcess *gStandin = nullptr;

void BM_ScrapeMailCheck(benchmark::State &state) {
  const char *const kRead[] = {"01-welcome", "03-archive", "04-eight-bit", "05-newsletter",
                               "06-minutes", "07-lunch",   "08-invoice",   "09-trip",
                               "10-meeting", "11-reminder"};
  for (auto _ : state) {
    state.PauseTiming();
    gStandin->Order({{"reload", true}});
    // What the stand-in alone takes to serve a site page.
    const auto serveStart = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) gStandin->Exchange("GET", "/");
    const double servePage =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - serveStart).count() / 10;
    std::unique_ptr<TSiteScraper> made = CreateHotmailScraper();
    auto *scraper = dynamic_cast<THotmailScraper *>(made.get());
    state.ResumeTiming();

    const auto start = std::chrono::steady_clock::now();
    const int loadsBefore = scraper->NavigationCount();
    std::string error;
    scraper->Login("site@hotmail.com", "site-pass", error);
    TStringList addresses;
    if (error.empty()) scraper->ReadInbox(addresses, error);
    int read = 0;
    for (const char *id : kRead)
      for (const std::string &address : addresses)
        if (MessageIdOf(address) == id) {
          std::string readError;
          read += scraper->ReadMessage(address, readError) != nullptr;
        }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int loads = scraper->NavigationCount() - loadsBefore;

    state.PauseTiming();
    long own = 0, helpers = 0;
    Memory(own, helpers);
    const double bound = loads * (1.0 + servePage);
    state.counters["seconds"] = seconds;
    state.counters["page_loads"] = loads;
    state.counters["listed"] = double(addresses.size());
    state.counters["messages_read"] = read;
    state.counters["quiet_bound_s"] = bound;
    state.counters["ratio_to_bound"] = bound > 0 ? seconds / bound : 0;
    state.counters["peak_MiB_program"] = own / 1024.0;
    state.counters["peak_MiB_helpers"] = helpers / 1024.0;
    state.counters["peak_MiB_total"] = (own + helpers) / 1024.0;
    if (!error.empty()) state.SkipWithError(error.c_str());
    made.reset();
    state.ResumeTiming();
  }
}

}  // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking", 0);
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  TStandinProcess standin({}, "", 900);
  if (!standin.Started()) return 1;
  gStandin = &standin;
  SetServiceBaseOverride(standin.Base());
  benchmark::RegisterBenchmark("ScrapeMailCheck/logon+3pages+10messages", BM_ScrapeMailCheck)
      ->Iterations(1)
      ->Unit(benchmark::kSecond)
      ->UseRealTime();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
