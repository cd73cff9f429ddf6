#include "ui/MessageBoxes.h"

namespace zn7qx {

QString MessageDisplayText(const std::string& text) {
  QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

QMessageBox::Icon MessageBoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Critical:
      return QMessageBox::Critical;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

void ShowModalMessageBox(QWidget* parent, const MessageBoxRequest& request) {
  QMessageBox box(MessageBoxIcon(request.icon), MessageDisplayText(request.title), MessageDisplayText(request.text),
                  QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  box.exec();
}

}  // namespace zn7qx
