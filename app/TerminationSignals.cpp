#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
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

TTerminationSignals::TTerminationSignals(std::function<void()> onSignal)
    : FOnSignal(std::move(onSignal)) {
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
  FNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
  QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { Arrived(); });
}

TTerminationSignals::~TTerminationSignals() = default;

void TTerminationSignals::Arrived() {
  char bytes[16];
  while (::read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
  }
  if (FOnSignal) FOnSignal();
}
