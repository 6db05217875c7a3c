// Test entry for suites that build windows: a QApplication on the main
// thread with the yield hook installed. Without a display the offscreen
// platform is used, so the suites run anywhere.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "foundation/QuorUtil.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  InstallQtYieldHook();
  return RUN_ALL_TESTS();
}
