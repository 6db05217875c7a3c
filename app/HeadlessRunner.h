#pragma once
// Runs the controller without window or tray: the window's log lines go to
// standard output, message boxes become log lines, and SIGINT or SIGTERM
// shut down exactly as closing the window does.
#include <QObject>
#include <memory>
#include <string>

#include "app/QuorHotController.h"
#include "app/TerminationSignals.h"
#include "sessions/Notifier.h"

class THeadlessRunner : public TNotifier {
 public:
  explicit THeadlessRunner(TControllerOptions options);
  ~THeadlessRunner() override;

  // Starts the controller; false when it reported a fault at start-up
  // (the fault is on standard error as well).
  bool Start(int argc, char **argv);
  // The shut-down that a signal triggers; also callable directly.
  void Stop();
  // After the loop has ended: lets connections that were inside a handler
  // when the stop came finish their clean-up, for at most LimitMs.
  void Drain(int limitMs);
  TQuorHotController &Controller() { return *FController; }

  void ShowMessage(const std::string &title, const std::string &text) override;

 private:
  std::unique_ptr<TQuorHotController> FController;
  std::unique_ptr<TTerminationSignals> FSignals;
  bool FStopped = false;
};
