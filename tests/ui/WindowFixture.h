#pragma once
// A real frmMain over scripted network seams, with its message boxes captured.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <memory>
#include <vector>

#include "tests/ui/ScriptedNetwork.h"
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

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net.localAddress = 0xC6120025;  // 198.18.0.37/24
    net.localMask = 0xFFFFFF00;
  }
  void TearDown() override { window.reset(); }

  // Creates and shows the window, as the program does.
  void Open(bool capture = true) {
    window = std::make_unique<frmMain>(net.Seams());
    if (capture) {
      window->SetMessagePresenter(
          [this](QWidget* parent, const MessageBoxRequest& request) {
            EXPECT_EQ(parent, window.get());
            boxes.push_back(request);
          });
    }
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->activateWindow();
    // A bare X server without a window manager may never hand out activation.
    if (!QTest::qWaitForWindowActive(window.get(), 1000)) QApplication::setActiveWindow(window.get());
    ASSERT_EQ(QApplication::activeWindow(), window.get());
  }

  QWidget* Focused() const { return QApplication::focusWidget(); }

  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = Focused() != nullptr ? Focused() : window.get();
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
  }

  int QueueCount() const { return window->lstIpToScan->count(); }

  ScriptedNetwork net;
  std::vector<MessageBoxRequest> boxes;
  std::unique_ptr<frmMain> window;
};

}  // namespace zn7qx::test
