#pragma once
// A real frmMain over scripted seams, its message boxes recorded, and a wait
// that keeps the event loop turning.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <memory>

#include "tests/support/ScriptedNetwork.h"
#include "ui/frmMain.h"

namespace zn7qx::test {

template <typename Predicate>
bool WaitFor(Predicate done, int timeoutMs = 5000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QTest::qWait(5);
  }
  return true;
}

inline std::string Text(const QLabel* label) { return label->text().toStdString(); }

inline std::vector<std::string> Shown(const QListWidget* list) {
  std::vector<std::string> items;
  for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
  return items;
}

class WindowTest : public ::testing::Test {
 protected:
  void TearDown() override { window.reset(); }

  // Creates and shows the window, as the program does; the boxes are
  // recorded unless real ones are wanted.
  void Open(bool realBoxes = false, ScanSeams seams = {}) {
    window = std::make_unique<frmMain>(seams.ping ? std::move(seams) : net.Seams());
    if (!realBoxes) window->SetMessagePresenter([this](QWidget*, const MessageBoxRequest& r) { boxes.push_back(r); });
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  void Scan(const char* start, const char* end) {
    window->txtIpAddrStart->setText(start);
    window->txtIpAddrEnd->setText(end);
    QTest::mouseClick(window->cmdBeginScan, Qt::LeftButton);
  }

  ScriptedNetwork net;
  std::vector<MessageBoxRequest> boxes;
  std::unique_ptr<frmMain> window;
};

}  // namespace zn7qx::test
