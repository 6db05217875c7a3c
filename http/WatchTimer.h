#pragma once
// A repeating timer for the lower, Qt-free layers. The ticks must arrive
// through the event loop of the thread that made the timer, so the Qt layer
// installs a driver factory at start-up (a QTimer); without one the timer
// keeps its state and only ticks when Tick() is called.
#include <functional>
#include <memory>

class TTimerDriver {
 public:
  virtual ~TTimerDriver() = default;
  virtual void Start(int intervalMs) = 0;
  virtual void Stop() = 0;
};

using TTimerDriverFactory =
    std::function<std::unique_ptr<TTimerDriver>(std::function<void()> onTick)>;
void SetTimerDriverFactory(TTimerDriverFactory factory);

class TWatchTimer {
 public:
  TWatchTimer(int intervalMs, std::function<void()> onTick);
  ~TWatchTimer();
  TWatchTimer(const TWatchTimer &) = delete;
  TWatchTimer &operator=(const TWatchTimer &) = delete;

  void SetEnabled(bool enabled);
  bool Enabled() const { return FEnabled; }
  int Interval() const { return FInterval; }
  // Fires the tick handler when enabled.
  void Tick();

 private:
  int FInterval;
  bool FEnabled = false;
  std::function<void()> FOnTick;
  std::unique_ptr<TTimerDriver> FDriver;
};
