// Test entry for suites that need Qt's event loop: the servers, timers and
// the yield hook all expect a QCoreApplication on the main thread.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include "foundation/QuorUtil.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  InstallQtYieldHook();
  return RUN_ALL_TESTS();
}
