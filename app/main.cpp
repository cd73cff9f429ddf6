// Starts the program: the window is the program, closing it ends it.

#include <QApplication>
#include <QString>

#include "ui/AppInfo.h"
#include "ui/ScanSeams.h"
#include "ui/frmMain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(
      QString::fromUtf8(zn7qx::kApplicationName.data(), static_cast<qsizetype>(zn7qx::kApplicationName.size())));
  zn7qx::frmMain window(zn7qx::RealSeams());
  window.show();
  return QApplication::exec();
}
