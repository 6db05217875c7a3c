#pragma once
// SIGINT and SIGTERM (Ctrl+C, a service manager's stop, a desktop session
// ending without a session manager) become one call on the main thread's
// loop, so the program shuts down exactly as its own exit command does. The
// handler itself only writes a byte to a pipe.
#include <functional>
#include <memory>

class QSocketNotifier;

class TTerminationSignals {
 public:
  explicit TTerminationSignals(std::function<void()> onSignal);
  ~TTerminationSignals();
  TTerminationSignals(const TTerminationSignals &) = delete;
  TTerminationSignals &operator=(const TTerminationSignals &) = delete;

 private:
  void Arrived();

  std::function<void()> FOnSignal;
  std::unique_ptr<QSocketNotifier> FNotifier;
};
