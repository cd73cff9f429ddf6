// The window tests need a QApplication; they never open a window on a real
// display unless asked to through QT_QPA_PLATFORM.

#include <gtest/gtest.h>

#include <QApplication>

#include "ui/AppInfo.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(zn7qx::kApplicationName.data(),
                                                     static_cast<qsizetype>(zn7qx::kApplicationName.size())));
  return RUN_ALL_TESTS();
}
