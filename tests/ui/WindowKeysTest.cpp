// Keys to commands on the real window, wherever the focus is.

#include "tests/ui/WindowFixture.h"

namespace zn7qx::test {
namespace {

enum class Command { Begin, Cancel, Default, None };

class WindowKeys : public WindowTest {
 protected:
  void SetUp() override { Open(); }

  // Which command ran: each leaves its own mark on the status line and boxes.
  Command Press(QWidget* focus, int key, Qt::KeyboardModifiers modifiers) {
    focus->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(QApplication::focusWidget(), focus);
    window->Queue().Clear();
    window->Queue().Append("198.18.0.99");
    window->lblStatus->setText("marker");
    window->txtIpAddrStart->setText("198.18.0.1");
    window->txtIpAddrEnd->setText("198.18.0.4");
    QTest::keyClick(focus, static_cast<Qt::Key>(key), modifiers);
    EXPECT_EQ(QApplication::focusWidget(), focus) << "the focus stays";
    EXPECT_TRUE(window->isVisible()) << "no key closes the window";
    const std::string status = Text(window->lblStatus);
    if (status == "Beginning Scan..." && window->lstIpToScan->count() == 4) return Command::Begin;
    if (status.starts_with("Scan canceled. Found ") && window->lstIpToScan->count() == 0) return Command::Cancel;
    if (status == "marker" && window->txtIpAddrStart->text() == "198.18.0.0" && window->lstIpToScan->count() == 1)
      return Command::Default;
    EXPECT_EQ(status, "marker");
    EXPECT_EQ(window->lstIpToScan->count(), 1);
    return Command::None;
  }
};

TEST_F(WindowKeys, EachKeyRunsItsCommandWhereverTheFocusIs) {
  frmMain& w = *window;
  const struct {
    QWidget* focus;
    int key;
    Qt::KeyboardModifiers modifiers;
    Command command;
  } rows[] = {
      {w.txtIpAddrStart, Qt::Key_Return, Qt::NoModifier, Command::Begin},
      {w.txtIpAddrEnd, Qt::Key_Enter, Qt::KeypadModifier, Command::Begin},
      {w.lstIpZN7QX, Qt::Key_Return, Qt::NoModifier, Command::Begin},
      {w.cmdBeginScan, Qt::Key_Space, Qt::NoModifier, Command::Begin},
      {w.cmdDefaultRange, Qt::Key_Return, Qt::NoModifier, Command::Default},
      {w.cmdCancelScan, Qt::Key_Return, Qt::NoModifier, Command::Cancel},
      {w.cmdBeginScan, Qt::Key_Escape, Qt::NoModifier, Command::Cancel},
      {w.txtIpAddrStart, Qt::Key_Return, Qt::ControlModifier, Command::None},
      {w.txtIpAddrStart, Qt::Key_A, Qt::NoModifier, Command::None},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Press(row.focus, row.key, row.modifiers), row.command)
        << row.focus->objectName().toStdString() << " key " << std::hex << row.key;
  }
  EXPECT_EQ(net.cleanupCalls, 0) << "the window did not close";
}

}  // namespace
}  // namespace zn7qx::test
