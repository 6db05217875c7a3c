#include "http/WatchTimer.h"

#include <mutex>

namespace {
std::mutex gFactoryMutex;
TTimerDriverFactory gFactory;
}  // namespace

void SetTimerDriverFactory(TTimerDriverFactory factory) {
  std::lock_guard<std::mutex> lock(gFactoryMutex);
  gFactory = std::move(factory);
}

TWatchTimer::TWatchTimer(int intervalMs, std::function<void()> onTick)
    : FInterval(intervalMs), FOnTick(std::move(onTick)) {
  TTimerDriverFactory factory;
  {
    std::lock_guard<std::mutex> lock(gFactoryMutex);
    factory = gFactory;
  }
  if (factory) FDriver = factory([this] { Tick(); });
}

TWatchTimer::~TWatchTimer() {
  if (FDriver) FDriver->Stop();
}

void TWatchTimer::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  if (FDriver) {
    if (enabled)
      FDriver->Start(FInterval);
    else
      FDriver->Stop();
  }
}

void TWatchTimer::Tick() {
  if (FEnabled && FOnTick) FOnTick();
}
