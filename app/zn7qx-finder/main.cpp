// Starts the program: the window is the program, closing it ends it.

#include <QApplication>
#include <QIcon>
#include <QString>
#include <cstdio>
#include <cstring>

#include "net/linux/Privilege.h"
#include "ui/AppInfo.h"
#include "ui/ScanSeams.h"
#include "ui/frmMain.h"

int main(int argc, char** argv) {
  // Before Qt starts any thread: capabilities belong to the calling thread.
  zn7qx::linuxnet::EnforceLeastPrivilege("zn7qx-finder");
  // Answered before Qt starts, so that it needs no display. Any other
  // argument is left to Qt, as before: the window takes none of its own.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("zn7qx-finder " ZN7QX_VERSION);
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(
      QString::fromUtf8(zn7qx::kApplicationName.data(), static_cast<qsizetype>(zn7qx::kApplicationName.size())));
  // Matches the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("com.morvalent.zn7qx_finder"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("zn7qx-finder")));
  zn7qx::frmMain window(zn7qx::RealSeams());
  window.show();
  return QApplication::exec();
}
