#include "sessions/Notifier.h"

#include <atomic>

namespace {
std::atomic<TNotifier *> GNotifier{nullptr};
}

void SetNotifier(TNotifier *notifier) { GNotifier.store(notifier); }

TNotifier *GetNotifier() { return GNotifier.load(); }

void NotifyUser(const std::string &title, const std::string &text) {
  if (TNotifier *notifier = GNotifier.load()) notifier->ShowMessage(title, text);
}
