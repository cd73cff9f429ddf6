// Focus order, Enter, Space, Esc and the mouse, driven as a user would.

#include "tests/ui/WindowFixture.h"

namespace zn7qx::test {
namespace {

class WindowKeys : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Open();
  }
  // A marker in the status line, so that every command shows whether it ran.
  void Mark() { window->lblStatus->setText("marker"); }
  bool BeginRan() const { return Text(window->lblStatus) == "Beginning Scan..." && QueueCount() == 256; }
  bool CancelRan() const { return Text(window->lblStatus).rfind("Scan canceled. Found ", 0) == 0; }
  bool Untouched() const { return Text(window->lblStatus) == "marker"; }
  void FocusOn(QWidget* w) {
    w->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(Focused(), w);
  }
};

TEST_F(WindowKeys, FocusStartsInTheStartBox) { EXPECT_EQ(Focused(), window->txtIpAddrStart); }

TEST_F(WindowKeys, TabWalksTheFocusOrderAndWraps) {
  const std::vector<QWidget*> order{window->txtIpAddrStart, window->txtIpAddrEnd, window->cmdDefaultRange,
                                    window->cmdBeginScan,   window->cmdCancelScan, window->lstIpZN7QX};
  for (int round = 0; round < 2; ++round) {
    for (std::size_t i = 0; i < order.size(); ++i) {
      EXPECT_EQ(Focused(), order[i]) << "step " << i;
      Key(Qt::Key_Tab);
    }
  }
  EXPECT_EQ(Focused(), window->txtIpAddrStart);
  for (std::size_t i = order.size(); i-- > 0;) {
    Key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(Focused(), order[i]) << "back step " << i;
  }
  EXPECT_EQ(Focused(), window->txtIpAddrStart);
}

TEST_F(WindowKeys, TabNeverReachesTheOffScreenLists) {
  window->Queue().Append("198.18.0.1");
  window->Others().Append("198.18.0.2");
  for (int i = 0; i < 20; ++i) {
    Key(Qt::Key_Tab);
    EXPECT_NE(Focused(), window->lstIpToScan);
    EXPECT_NE(Focused(), window->lstIpOther);
    EXPECT_NE(Focused(), nullptr);
  }
}

TEST_F(WindowKeys, EnterInEitherBoxOrTheListBeginsAScan) {
  for (QWidget* w : std::initializer_list<QWidget*>{window->txtIpAddrStart, window->txtIpAddrEnd, window->lstIpZN7QX}) {
    SCOPED_TRACE(w->objectName().toStdString());
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
      FocusOn(w);
      Mark();
      Key(key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
      EXPECT_TRUE(BeginRan());
      EXPECT_EQ(Focused(), w) << "the focus stays";
    }
  }
}

TEST_F(WindowKeys, EnterAndSpaceOnAButtonPressThatButton) {
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    SCOPED_TRACE(key);
    FocusOn(window->cmdBeginScan);
    Mark();
    Key(key);
    EXPECT_TRUE(BeginRan());

    FocusOn(window->cmdCancelScan);
    Key(key);
    EXPECT_TRUE(CancelRan());
    EXPECT_EQ(QueueCount(), 0);

    FocusOn(window->cmdDefaultRange);
    window->txtIpAddrStart->setText("edited");
    window->txtIpAddrEnd->setText("edited too");
    Mark();
    Key(key);
    EXPECT_EQ(window->txtIpAddrStart->text(), "198.18.0.0");
    EXPECT_EQ(window->txtIpAddrEnd->text(), "198.18.0.255");
    EXPECT_TRUE(Untouched()) << "Default Range does not begin a scan";
    EXPECT_EQ(QueueCount(), 0);
  }
}

TEST_F(WindowKeys, EscCancelsWhereverTheFocusIsAndNeverCloses) {
  for (QWidget* w : std::initializer_list<QWidget*>{window->txtIpAddrStart, window->txtIpAddrEnd,
                                                    window->cmdDefaultRange, window->cmdBeginScan,
                                                    window->cmdCancelScan, window->lstIpZN7QX}) {
    SCOPED_TRACE(w->objectName().toStdString());
    FocusOn(w);
    window->Queue().Append("198.18.0.1");
    Mark();
    Key(Qt::Key_Escape);
    EXPECT_TRUE(CancelRan());
    EXPECT_EQ(QueueCount(), 0);
    EXPECT_TRUE(window->isVisible());
  }
  window->lstIpZN7QX->clear();
  Key(Qt::Key_Escape);
  EXPECT_EQ(Text(window->lblStatus), "Scan canceled. Found 0 ZN7QX unit(s).") << "also when no scan runs";
  EXPECT_EQ(net.cleanupCalls, 0) << "the window did not close";
}

TEST_F(WindowKeys, OtherKeysAreTheWidgetsOwn) {
  window->txtIpAddrStart->clear();
  QTest::keyClicks(window->txtIpAddrStart, "198.18.0.5");
  EXPECT_EQ(window->txtIpAddrStart->text(), "198.18.0.5");
  Mark();
  QTest::keyClick(window->txtIpAddrStart, Qt::Key_Return, Qt::ControlModifier);
  QTest::keyClick(window->txtIpAddrStart, Qt::Key_A);
  EXPECT_TRUE(Untouched());
}

TEST_F(WindowKeys, TypedRangeRunsThroughTheKeyboardAlone) {
  window->txtIpAddrStart->selectAll();
  QTest::keyClicks(window->txtIpAddrStart, "198.18.0.250");
  Key(Qt::Key_Tab);
  window->txtIpAddrEnd->selectAll();
  QTest::keyClicks(window->txtIpAddrEnd, "198.18.0.251");
  Key(Qt::Key_Return);
  EXPECT_EQ(QueueCount(), 2);
  EXPECT_EQ(window->Queue().Item(0), "198.18.0.250");
}

TEST_F(WindowKeys, BadTypedTextGetsTheStartBox) {
  window->txtIpAddrStart->selectAll();
  // Typed characters that have no key of their own arrive as key events with text.
  for (const QString& typed : {QString::fromUtf8("\xC3\xA9"), QString::fromUtf8("\xE4\xB8\xAD")}) {
    QTest::sendKeyEvent(QTest::Press, window->txtIpAddrStart, Qt::Key_unknown, typed, Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, window->txtIpAddrStart, Qt::Key_unknown, typed, Qt::NoModifier);
  }
  QTest::keyClicks(window->txtIpAddrStart, " 1.2.3.4");
  EXPECT_EQ(window->txtIpAddrStart->text(), QString::fromUtf8("\xC3\xA9\xE4\xB8\xAD 1.2.3.4"));
  Key(Qt::Key_Return);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "Start Address Incorrect");
  EXPECT_EQ(boxes[0].icon, MessageIcon::Critical);
  EXPECT_EQ(Text(window->lblStatus), "Beginning Scan...");
  EXPECT_EQ(QueueCount(), 0);

  window->txtIpAddrStart->setText(QString(200000, QChar('9')));
  EXPECT_EQ(window->txtIpAddrStart->text().size(), 200000) << "no limit on length";
  FocusOn(window->txtIpAddrStart);
  Key(Qt::Key_Return);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].title, "Start Address Incorrect");

  window->txtIpAddrStart->setText(QString(QChar(0)) + "198.18.0.1");
  Key(Qt::Key_Return);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[2].title, "Start Address Incorrect");

  window->txtIpAddrStart->setText("198.18.0.1");
  window->txtIpAddrEnd->setText("198.18.0.1 \xF0\x9F\x98\x80");
  Key(Qt::Key_Return);
  EXPECT_EQ(boxes.size(), 3u) << "text after a blank is the platform parser's business";
  EXPECT_EQ(QueueCount(), 1);
}

TEST_F(WindowKeys, MouseClicksPressTheButtons) {
  Mark();
  QTest::mouseClick(window->cmdBeginScan, Qt::LeftButton);
  EXPECT_TRUE(BeginRan());
  QTest::mouseClick(window->cmdCancelScan, Qt::LeftButton);
  EXPECT_TRUE(CancelRan());
  window->txtIpAddrStart->setText("x");
  QTest::mouseClick(window->cmdDefaultRange, Qt::LeftButton);
  EXPECT_EQ(window->txtIpAddrStart->text(), "198.18.0.0");
}

TEST_F(WindowKeys, SelectingAUnitDoesNothing) {
  window->Units().Append("198.18.0.1: A");
  window->Units().Append("198.18.0.2: B");
  Mark();
  FocusOn(window->lstIpZN7QX);
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  QTest::mouseClick(window->lstIpZN7QX->viewport(), Qt::LeftButton, {},
                    window->lstIpZN7QX->visualItemRect(window->lstIpZN7QX->item(0)).center());
  QTest::mouseDClick(window->lstIpZN7QX->viewport(), Qt::LeftButton, {},
                     window->lstIpZN7QX->visualItemRect(window->lstIpZN7QX->item(0)).center());
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(window->lstIpZN7QX->count(), 2);
  EXPECT_EQ(window->lstIpZN7QX->selectionMode(), QAbstractItemView::SingleSelection);
}

}  // namespace
}  // namespace zn7qx::test
