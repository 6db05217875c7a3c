// The seams the lower, Qt-free layers need from the event loop.
#include <QCoreApplication>

#include "foundation/QuorUtil.h"

namespace {
void QtYield() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}
}  // namespace

void InstallQtYieldHook() {
  SetMainThread();
  SetYieldHook(&QtYield);
}
