#include "app/HeadlessRunner.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>

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
  FSignals = std::make_unique<TTerminationSignals>([this] {
    Stop();
    QCoreApplication::quit();
  });
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
