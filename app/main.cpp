// Starts the program: the window is the program, closing it ends it.

#include <QApplication>
#include <QIcon>
#include <QString>

#include "net/linux/Privilege.h"
#include "ui/AppInfo.h"
#include "ui/ScanSeams.h"
#include "ui/frmMain.h"

int main(int argc, char** argv) {
  // Before Qt starts any thread: capabilities belong to the calling thread.
  zn7qx::linuxnet::EnforceLeastPrivilege("zn7qx-finder");
  QApplication app(argc, argv);
  QApplication::setApplicationName(
      QString::fromUtf8(zn7qx::kApplicationName.data(), static_cast<qsizetype>(zn7qx::kApplicationName.size())));
  // Matches the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("zn7qx-finder"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("zn7qx-finder")));
  zn7qx::frmMain window(zn7qx::RealSeams());
  window.show();
  return QApplication::exec();
}
