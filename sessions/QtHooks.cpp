// The seams the lower, Qt-free layers need from the event loop.
#include <QCoreApplication>
#include <QTimer>
#include <memory>

#include "foundation/QuorUtil.h"
#include "http/WatchTimer.h"

namespace {

void QtYield() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Drives the http layer's watch timers from the loop of the thread that made
// them, as the connection's drop detection expects.
class TQtTimerDriver : public TTimerDriver {
 public:
  explicit TQtTimerDriver(std::function<void()> onTick) {
    QObject::connect(&FTimer, &QTimer::timeout, [tick = std::move(onTick)] { tick(); });
  }
  void Start(int intervalMs) override { FTimer.start(intervalMs); }
  void Stop() override { FTimer.stop(); }

 private:
  QTimer FTimer;
};

}  // namespace

void InstallQtYieldHook() {
  SetMainThread();
  SetYieldHook(&QtYield);
  SetTimerDriverFactory([](std::function<void()> onTick) -> std::unique_ptr<TTimerDriver> {
    return std::make_unique<TQtTimerDriver>(std::move(onTick));
  });
}
