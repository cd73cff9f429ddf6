// The real window under Qt's offscreen platform: layout invariants a real
// fault would break, a scan on its timer, its boxes, its closing.

#include <QAccessible>
#include <QFontInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QPainter>
#include <QStyleOptionButton>
#include <QTimer>
#include <tuple>

#include "tests/ui/WindowFixture.h"
#include "ui/AppInfo.h"

namespace zn7qx::test {
namespace {

// The room a widget gives its text and the flags it draws it with: a label
// wraps it in its contents, a button centres it in its contents, a box starts
// it at its cursor's place at 0 (and scrolls it when it is wider than that).
std::pair<QRect, int> HowDrawn(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w))
    return {label->contentsRect(), int(label->alignment()) | (label->wordWrap() ? int(Qt::TextWordWrap) : 0)};
  if (auto* button = qobject_cast<QPushButton*>(w)) {
    QStyleOptionButton option;
    option.initFrom(button);
    return {button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button),
            Qt::AlignCenter | Qt::TextShowMnemonic};
  }
  auto* box = static_cast<QLineEdit*>(w);
  const auto cursorX = [box](qsizetype position) {
    box->setCursorPosition(static_cast<int>(position));
    box->repaint();  // where the box scrolls to is settled as it paints
    return box->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
  };
  const int start = cursorX(0);
  EXPECT_EQ(cursorX(box->text().size()) - start, box->fontMetrics().horizontalAdvance(box->text()))
      << box->objectName().toStdString() << " scrolls its text";
  return {box->rect().adjusted(start, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter};
}

// The pixels the text inks when drawn so in the widget's font, with nothing
// clipped, in the widget's coordinates.
QRect Ink(const QWidget* w, const QRect& room, int flags) {
  const QPoint margin(600, 100);
  QImage canvas(w->size() + 2 * QSize(margin.x(), margin.y()), QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  painter.setFont(w->font());
  painter.drawText(room.translated(margin), flags | Qt::TextDontClip, w->property("text").toString());
  painter.end();
  QRect ink;
  for (int y = 0; y < canvas.height(); ++y)
    for (int x = 0; x < canvas.width(); ++x)
      if (qAlpha(canvas.pixel(x, y)) != 0) ink |= QRect(x, y, 1, 1);
  return ink.translated(-margin);
}

// Every widget shown lies inside the window and shows itself: a label, a
// button or a box its whole text (the longest it is given), in the font it
// actually has, where no widget stacked above covers it; a list its middle.
TEST_F(WindowTest, EveryShownWidgetLiesInsideTheWindowAndShowsItsWholeText) {
  Open();
  window->SetLastErrorText("Last ping error: TimeToLive Expired Reassembly");
  window->SetStatusText("Pinging 255.255.255.255. Addresses remaining: 511");
  for (QLineEdit* box : {window->txtIpAddrStart, window->txtIpAddrEnd}) box->setText("255.255.255.255");
  const QObjectList& stack = window->children();  // a later one is drawn above
  std::vector<QObject*> shown;
  for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const std::string name = w->objectName().toStdString();
    if (!w->isVisible()) {
      EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << name;
      EXPECT_FALSE(window->rect().intersects(w->geometry())) << name;
      continue;
    }
    EXPECT_TRUE(window->rect().contains(w->geometry())) << name;
    shown.push_back(w);
    if (qobject_cast<QListWidget*>(w) != nullptr) {
      QWidget* hit = window->childAt(w->geometry().center());
      EXPECT_TRUE(hit != nullptr && (hit == w || w->isAncestorOf(hit))) << name;
      continue;
    }
    const auto [room, flags] = HowDrawn(w);
    QRegion uncovered(room.translated(w->pos()));
    for (qsizetype i = stack.indexOf(w) + 1; i < stack.size(); ++i) {
      if (auto* above = qobject_cast<QWidget*>(stack[i]); above != nullptr && above->isVisible())
        uncovered -= above->geometry();
    }
    const QRect ink = Ink(w, room, flags).translated(w->pos());
    EXPECT_TRUE(QRegion(ink).subtracted(uncovered).isEmpty())
        << name << ": " << ink.width() << "x" << ink.height() << " pixels of text in "
        << QFontInfo(w->font()).family().toStdString() << ", " << uncovered.boundingRect().width() << "x"
        << uncovered.boundingRect().height() << " shown";
  }
  // A screen reader meets what the window shows, and only that.
  QAccessibleInterface* read = QAccessible::queryAccessibleInterface(window.get());
  std::vector<QObject*> readable;
  for (int i = 0; i < read->childCount(); ++i)
    readable.push_back(read->child(read->indexOfChild(read->child(i)))->object());
  EXPECT_EQ(readable, shown);
  // Neither resized nor maximised: the hidden lists stay out of view.
  const QSize size = window->size();
  window->resize(900, 700);
  window->showMaximized();
  EXPECT_TRUE(WaitFor([&] { return !window->isMaximized() && window->size() == size; }));
  window->Queue().Append("198.18.0.1");
  window->Others().Append("198.18.0.2");
  for (QWidget* hidden : std::initializer_list<QWidget*>{window->lstIpToScan, window->lstIpOther}) {
    EXPECT_FALSE(hidden->isVisible());
    EXPECT_GE(hidden->x(), window->width());
  }
}

TEST_F(WindowTest, LastErrorGrowsLeftwardsFromTheListsEdgeAndTextsFromOutsideShowAsPlainText) {
  Open();
  const int right = window->lstIpZN7QX->geometry().right();
  for (const char* text : {"Last ping error: Destination Protocol Unreachable", "<b>markup</b> is shown as it is"}) {
    window->SetLastErrorText(text);
    const QRect r = window->lblLastError->geometry();
    EXPECT_EQ(Text(window->lblLastError), text);
    EXPECT_EQ(r.right(), right) << text;
    EXPECT_EQ(r.top(), window->Label6->geometry().top());
    EXPECT_EQ(r.width(), window->lblLastError->fontMetrics().horizontalAdvance(text)) << "the tags are drawn";
  }
  window->SetLastErrorText("");
  EXPECT_EQ(window->lblLastError->geometry().right(), right);
  EXPECT_LT(window->lblLastError->width(), 10);
  for (QLabel* label : window->findChildren<QLabel*>()) EXPECT_EQ(label->textFormat(), Qt::PlainText);
  // A unit's text keeps its bytes, and shows no control character.
  const std::string unit = "198.18.0.7: A\tB\r\nC\x7F\x85\xE9\xFF<b>";
  window->Units().Append(unit);
  window->Units().Append("198.18.0.10: ten");
  EXPECT_EQ(window->Units().Item(0), unit);
  const QString shown = window->lstIpZN7QX->item(0)->text();
  for (const QChar c : shown) EXPECT_TRUE(c.isPrint()) << int{c.unicode()};
  EXPECT_TRUE(shown.endsWith(QString::fromUtf8("\xC3\xA9\xC3\xBF<b>"))) << "read as Latin-1";
  window->Units().Remove(0);
  EXPECT_EQ(Shown(window->lstIpZN7QX), std::vector<std::string>{"198.18.0.10: ten"});
}

// Real boxes: modal, one OK, their icon and lines; while one is open (here
// "Default Range"'s adapter failures in a scan, a box per query) the scan
// waits. A screen reader's press of a button behind a box does nothing.
TEST_F(WindowTest, ARealBoxIsModalAndHoldsTheScanWhileOpen) {
  Open(/*realBoxes=*/true);
  std::vector<std::tuple<QString, QString, QMessageBox::Icon, bool, qsizetype, std::size_t>> seen;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    if (box->property("seen").toBool()) {  // open a while, then dismissed
      box->button(QMessageBox::Ok)->click();
      return;
    }
    box->setProperty("seen", true);
    if (seen.empty()) {
      QAccessible::queryAccessibleInterface(window->cmdCancelScan)
          ->actionInterface()
          ->doAction(QAccessibleActionInterface::pressAction());
    }
    seen.emplace_back(box->windowTitle(), box->text(), box->icon(), box->isModal(), box->buttons().size(),
                      net.pinged.size());
  });
  closer.start(200);
  window->txtIpAddrStart->setText("abc");
  QTest::mouseClick(window->cmdBeginScan, Qt::LeftButton);  // returns once the box is dismissed
  EXPECT_EQ(Text(window->lblStatus), "Beginning Scan...") << "no cancel ran inside the box";
  Scan("198.18.0.1", "198.18.0.100");
  ASSERT_TRUE(WaitFor([&] { return net.pinged.size() >= 3; }));
  net.adapterMessage = "GetAdaptersInfo sizing failed with error 232";
  QTest::mouseClick(window->cmdDefaultRange, Qt::LeftButton);
  const std::size_t probedAfter = net.pinged.size();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], std::tuple(QString("Start Address Incorrect"),
                                QString("The format of the start address is incorrect.\nFormat should be like: "
                                        "192.168.1.1\nAlso, the address cannot be 0.0.0.0 or 255.255.255.255"),
                                QMessageBox::Critical, true, qsizetype{1}, std::size_t{0}));
  for (int i : {1, 2}) {
    EXPECT_EQ(std::get<0>(seen[i]), QString::fromUtf8(kApplicationName.data(), kApplicationName.size()));
    EXPECT_EQ(std::get<1>(seen[i]), "GetAdaptersInfo sizing failed with error 232");
    EXPECT_EQ(std::get<2>(seen[i]), QMessageBox::NoIcon);
    EXPECT_EQ(std::get<5>(seen[i]), probedAfter) << "no probe while the boxes were open (0.8 s)";
  }
  EXPECT_TRUE(WaitFor([&] { return net.pinged.size() > probedAfter; })) << "the scan goes on after them";
}

TEST_F(WindowTest, ClosingReleasesTheSocketsOnceAndTheNoticeComesOnceAfterOpening) {
  net.echoPermitted = false;
  Open();
  ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }));
  window->hide();
  window->show();
  QTest::qWait(50);
  ASSERT_EQ(boxes.size(), 1u) << "once per window";
  EXPECT_EQ(net.initializeCalls, 1) << "and the sockets started once";
  EXPECT_EQ(boxes[0].title, kApplicationName);
  EXPECT_EQ(boxes[0].text, "ICMP echo is not permitted for this user, so a scan could not reach any unit.\r\n"
                           "Allow it with sysctl net.ipv4.ping_group_range.");
  EXPECT_EQ(boxes[0].icon, MessageIcon::Warning);
  EXPECT_TRUE(window->close());
  EXPECT_EQ(net.cleanupCalls, 1);
  EXPECT_FALSE(net.messageSink) << "the adapter messages' box goes with the window";
  window.reset();
  EXPECT_EQ(net.cleanupCalls, 1);
}

}  // namespace
}  // namespace zn7qx::test
