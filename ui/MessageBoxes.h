#pragma once
// How the window shows the controller's modal boxes.

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "ui/ScanView.h"

namespace zn7qx {

// The texts carry CRLF between lines; on screen a line feed alone breaks the
// line. Bytes that are not UTF-8 become U+FFFD.
QString MessageDisplayText(const std::string& text);

QMessageBox::Icon MessageBoxIcon(MessageIcon icon);

// A modal box with one OK button; returns when it is dismissed.
void ShowModalMessageBox(QWidget* parent, const MessageBoxRequest& request);

using MessagePresenter = std::function<void(QWidget* parent, const MessageBoxRequest& request)>;

}  // namespace zn7qx
