#include "app/HeadlessRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

// The self-pipe: the handler only writes one byte; the loop does the work.
int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

THeadlessRunner::THeadlessRunner(TControllerOptions options) {
  options.OnLogLine = [](const std::string &line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  };
  FController = std::make_unique<TQuorHotController>(std::move(options));
  SetNotifier(this);
}

THeadlessRunner::~THeadlessRunner() {
  Stop();
  if (GetNotifier() == this) SetNotifier(nullptr);
  FController.reset();
}

void THeadlessRunner::ShowMessage(const std::string &title, const std::string &text) {
  // Nobody can click a box here: the text goes where the log goes.
  FController->AddLogLine(title + ": " + text);
}

bool THeadlessRunner::Start(int argc, char **argv) {
  InstallSignalHandlers();
  const bool ok = FController->FormCreate(argc, argv);
  if (!ok)
    std::fprintf(stderr, "Brelvane: program folder %s cannot be written\n",
                 FController->ProgramFolder().c_str());
  return ok;
}

void THeadlessRunner::Stop() {
  if (FStopped || !FController) return;
  FStopped = true;
  FController->FormDestroy();
}

void THeadlessRunner::Drain(int limitMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  auto live = [this] {
    return FController->Created() && (!FController->PopServer().Connections().empty() ||
                                      !FController->SmtpServer().Connections().empty());
  };
  while (live() && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void THeadlessRunner::InstallSignalHandlers() {
  if (gSignalPipe[0] < 0) {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      std::perror("Brelvane: signal pipe");
      return;
    }
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // Standard output may be a pipe whose reader goes away ("| head"); that
  // must not end the gateway.
  signal(SIGPIPE, SIG_IGN);
  FSignalNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
  QObject::connect(FSignalNotifier.get(), &QSocketNotifier::activated, [this] { SignalArrived(); });
}

void THeadlessRunner::SignalArrived() {
  char bytes[16];
  while (::read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
  }
  Stop();
  QCoreApplication::quit();
}
