// The window as it first appears: captions, geometry, colours, fonts, the
// off-screen widgets, plain-text labels and the self-sizing error label.

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QListWidgetItem>

#include "tests/ui/WindowFixture.h"

namespace zn7qx::test {
namespace {

QRect Px(int left, int top, int width, int height) { return {left / 15, top / 15, width / 15, height / 15}; }

TEST_F(WindowTest, ShowsItsCaptionsAndTheComputedRange) {
  Open();
  EXPECT_EQ(window->windowTitle(), "Morvalent ZN7QX IP Address Finder");
  EXPECT_EQ(Text(window->Label4), "Morvalent ZN7QX IP Address Finder");
  EXPECT_EQ(Text(window->Label9), "Tool version July 24, 2007");
  EXPECT_FALSE(window->Label7->text().isEmpty());
  EXPECT_FALSE(window->Label8->text().isEmpty());
  EXPECT_EQ(Text(window->Label1), "Start Address:");
  EXPECT_EQ(Text(window->Label2), "End Address:");
  EXPECT_EQ(window->cmdDefaultRange->text(), "Default Range");
  EXPECT_EQ(window->cmdBeginScan->text(), "Begin Scan");
  EXPECT_EQ(window->cmdCancelScan->text(), "Cancel Scan");
  EXPECT_EQ(Text(window->Label6), "ZN7QX Devices");
  EXPECT_EQ(Text(window->lblStatus), "Waiting to begin scan...");
  EXPECT_EQ(Text(window->lblLastError), "");
  EXPECT_EQ(window->lstIpZN7QX->count(), 0);
  EXPECT_EQ(Text(window->Label3), "IP Addersses To Scan");
  EXPECT_EQ(Text(window->Label5), "Other Devices / Computers");
  // The design-time texts are replaced while the window opens.
  EXPECT_EQ(window->txtIpAddrStart->text(), "198.18.0.0");
  EXPECT_EQ(window->txtIpAddrEnd->text(), "198.18.0.255");
  EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, DesignTimeTextsBeforeOpening) {
  frmMain unopened(net.Seams());
  EXPECT_EQ(unopened.txtIpAddrStart->text(), "192.168.1.1");
  EXPECT_EQ(unopened.txtIpAddrEnd->text(), "192.168.1.254");
  EXPECT_EQ(net.initializeCalls, 0);
}

TEST_F(WindowTest, WidgetsSitWhereTheLayoutPutsThem) {
  Open();
  EXPECT_EQ(window->size(), QSize(457, 355));
  const std::vector<std::pair<QWidget*, QRect>> expected{
      {window->Label4, Px(120, 0, 6615, 375)},          {window->Label7, Px(120, 480, 1695, 255)},
      {window->Label8, Px(2520, 480, 1455, 375)},       {window->Label9, Px(4440, 480, 2295, 255)},
      {window->Label1, Px(120, 960, 1335, 255)},        {window->txtIpAddrStart, Px(1200, 930, 1695, 285)},
      {window->Label2, Px(3600, 960, 1215, 255)},       {window->txtIpAddrEnd, Px(4920, 930, 1695, 285)},
      {window->cmdDefaultRange, Px(120, 1320, 1335, 375)}, {window->cmdBeginScan, Px(3240, 1320, 1575, 375)},
      {window->cmdCancelScan, Px(4920, 1320, 1695, 375)}, {window->Label6, Px(120, 1920, 2655, 255)},
      {window->lblLastError, Px(6540, 1920, 75, 195)},  {window->lstIpZN7QX, Px(120, 2160, 6495, 2400)},
      {window->lblStatus, Px(120, 4680, 5295, 375)},    {window->Label3, Px(6960, 360, 2535, 255)},
      {window->lstIpToScan, Px(6960, 720, 3255, 3765)}, {window->Label5, Px(10200, 480, 2175, 255)},
      {window->lstIpOther, Px(10200, 720, 2175, 2400)}};
  for (const auto& [widget, rect] : expected) {
    EXPECT_EQ(widget->geometry(), rect) << widget->objectName().toStdString();
    EXPECT_EQ(widget->parentWidget(), window.get());
  }
}

TEST_F(WindowTest, FrameCanBeNeitherResizedNorMaximised) {
  Open();
  EXPECT_EQ(window->minimumSize(), QSize(457, 355));
  EXPECT_EQ(window->maximumSize(), QSize(457, 355));
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
  window->resize(900, 700);
  EXPECT_EQ(window->size(), QSize(457, 355));
  // Some window systems maximise on request whatever the size hints say.
  window->showMaximized();
  EXPECT_TRUE(WaitFor([&] { return !window->isMaximized() && window->size() == QSize(457, 355); }));
  window->showFullScreen();
  EXPECT_TRUE(WaitFor([&] { return !window->isFullScreen() && window->size() == QSize(457, 355); }));
  EXPECT_EQ(window->lstIpZN7QX->geometry(), Px(120, 2160, 6495, 2400));
}

TEST_F(WindowTest, TextBoxesOverlapLabelsFromAbove) {
  Open();
  // Label1 runs under the left end of the start box; the box must be on top.
  const QPoint inBoth = window->txtIpAddrStart->geometry().topLeft() + QPoint(3, 3);
  ASSERT_TRUE(window->Label1->geometry().contains(inBoth));
  EXPECT_EQ(window->childAt(inBoth), window->txtIpAddrStart);
}

TEST_F(WindowTest, ColoursOfTheHeaderAndTheLists) {
  Open();
  EXPECT_EQ(window->Label4->palette().color(QPalette::WindowText), QColor(0, 0, 192));
  for (QLabel* label : {window->Label7, window->Label8, window->Label9}) {
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 128)) << label->objectName().toStdString();
  }
  EXPECT_EQ(window->lblLastError->palette().color(QPalette::WindowText), QColor(128, 0, 0));
  window->Units().Append("198.18.0.1: A");
  ASSERT_EQ(window->lstIpZN7QX->count(), 1);
  EXPECT_EQ(window->lstIpZN7QX->item(0)->foreground().color(), QColor(0, 0, 255));
  EXPECT_EQ(window->lstIpZN7QX->palette().color(QPalette::Text), QColor(0, 0, 255));
  // Drawn: some pixel of the list's first row is the item colour.
  QTest::qWait(20);
  const QImage shot = window->lstIpZN7QX->viewport()->grab().toImage();
  bool blue = false;
  for (int y = 0; y < 20 && !blue; ++y) {
    for (int x = 0; x < shot.width() && !blue; ++x) {
      const QColor c = shot.pixelColor(x, y);
      blue = c.blue() > 180 && c.red() < 90 && c.green() < 90;
    }
  }
  EXPECT_TRUE(blue);
}

TEST_F(WindowTest, FontsAreSansSerifAtTheirSizes) {
  Open();
  const QFont base = window->font();
  EXPECT_EQ(base.families().value(0), "MS Sans Serif");
  EXPECT_GE(base.families().size(), 2);
  EXPECT_EQ(base.styleHint(), QFont::SansSerif);
  EXPECT_DOUBLE_EQ(base.pointSizeF(), 8.25);
  EXPECT_EQ(base.weight(), QFont::Normal);
  for (QWidget* w : std::initializer_list<QWidget*>{window->Label1, window->txtIpAddrStart, window->cmdBeginScan,
                                                    window->lstIpZN7QX, window->lblStatus}) {
    EXPECT_DOUBLE_EQ(w->font().pointSizeF(), 8.25) << w->objectName().toStdString();
  }
  EXPECT_DOUBLE_EQ(window->Label4->font().pointSizeF(), 18);
  EXPECT_EQ(window->Label4->font().weight(), QFont::Normal);
  EXPECT_DOUBLE_EQ(window->lblLastError->font().pointSizeF(), 8.25);
  EXPECT_EQ(window->lblLastError->font().weight(), QFont::Bold);
  // Whatever face stands in, the header fits its one line.
  EXPECT_LE(window->Label4->fontMetrics().horizontalAdvance(window->Label4->text()), window->Label4->width());
  EXPECT_LE(window->Label4->fontMetrics().height(), window->Label4->height() + 3);
  EXPECT_FALSE(QFontInfo(window->font()).family().isEmpty());
}

TEST_F(WindowTest, AlignmentsOfTheLabels) {
  Open();
  EXPECT_TRUE(window->Label7->alignment() & Qt::AlignLeft);
  EXPECT_TRUE(window->Label8->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(window->Label9->alignment() & Qt::AlignRight);
  EXPECT_TRUE(window->lblLastError->alignment() & Qt::AlignRight);
  EXPECT_TRUE(window->Label1->alignment() & Qt::AlignLeft);
  EXPECT_TRUE(window->lblStatus->alignment() & Qt::AlignLeft);
}

TEST_F(WindowTest, OffScreenWidgetsAreOutOfReach) {
  Open();
  for (QWidget* w : std::initializer_list<QWidget*>{window->Label3, window->lstIpToScan, window->Label5,
                                                    window->lstIpOther}) {
    SCOPED_TRACE(w->objectName().toStdString());
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
    EXPECT_GE(w->x(), window->width());
    EXPECT_FALSE(w->visibleRegion().boundingRect().isValid());
  }
  window->Queue().Append("198.18.0.1");
  window->Others().Append("198.18.0.2");
  EXPECT_FALSE(window->lstIpToScan->isVisible());
  EXPECT_FALSE(window->lstIpOther->isVisible());
  // Nothing of them appears among the widgets a user can reach.
  for (QWidget* child : window->findChildren<QWidget*>()) {
    if (child->isVisible() && child->focusPolicy() != Qt::NoFocus) {
      EXPECT_NE(child, window->lstIpToScan);
      EXPECT_NE(child, window->lstIpOther);
    }
  }
}

TEST_F(WindowTest, LabelsShowMarkupAsPlainText) {
  Open();
  for (QLabel* label : window->findChildren<QLabel*>()) {
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
  }
  window->SetStatusText("<b>x</b>");
  EXPECT_EQ(Text(window->lblStatus), "<b>x</b>");
  const QFontMetrics fm(window->lblStatus->font());
  EXPECT_GE(window->lblStatus->sizeHint().width(), fm.horizontalAdvance("<b>x</b>"))
      << "the tags are drawn, not interpreted";
  window->SetLastErrorText("<i>err</i>");
  EXPECT_EQ(window->lblLastError->width(), window->lblLastError->fontMetrics().horizontalAdvance("<i>err</i>"));
}

TEST_F(WindowTest, LastErrorGrowsLeftFromItsRightEdge) {
  Open();
  const std::string shortText = "Last ping error: Unknown Response";
  const std::string longText = "Last ping error: Destination Protocol Unreachable";
  window->SetLastErrorText(shortText);
  const QRect a = window->lblLastError->geometry();
  EXPECT_EQ(a.x() + a.width(), 441);
  EXPECT_EQ(a.y(), 128);
  EXPECT_EQ(a.height(), 13);
  EXPECT_EQ(a.width(), window->lblLastError->fontMetrics().horizontalAdvance(QString::fromStdString(shortText)));
  window->SetLastErrorText(longText);
  const QRect b = window->lblLastError->geometry();
  EXPECT_EQ(b.x() + b.width(), 441);
  EXPECT_LT(b.x(), a.x());
  EXPECT_EQ(Text(window->lblLastError), longText);
  window->SetLastErrorText("");
  EXPECT_EQ(window->lblLastError->geometry(), Px(6540, 1920, 75, 195));
  EXPECT_EQ(Text(window->lblLastError), "");
}

TEST_F(WindowTest, TimerArrayAsDesigned) {
  Open();
  ASSERT_EQ(window->tmrPing.size(), 5u);
  EXPECT_TRUE(window->tmrPing[0]->isActive());
  EXPECT_EQ(window->tmrPing[0]->interval(), 100);
  for (std::size_t i = 1; i < 5; ++i) {
    EXPECT_FALSE(window->tmrPing[i]->isActive());
    EXPECT_EQ(window->tmrPing[i]->interval(), 200);
  }
}

TEST_F(WindowTest, ListItemsKeepTheirBytesAndShowControlsHarmlessly) {
  Open();
  const std::string unit = std::string("198.18.0.7: A\tB\r\nC\x7F\x85\xE9\xFF<b>");
  window->Units().Append(unit);
  window->Units().Append("198.18.0.9: nine");
  window->Units().Append("198.18.0.10: ten");
  EXPECT_EQ(window->Units().Item(0), unit);
  const QString shown = window->lstIpZN7QX->item(0)->text();
  EXPECT_FALSE(shown.contains(QChar('\n')));
  EXPECT_FALSE(shown.contains(QChar('\r')));
  EXPECT_FALSE(shown.contains(QChar('\t')));
  EXPECT_TRUE(shown.contains(QString::fromUtf8("\xC3\xA9\xC3\xBF<b>"))) << "Latin-1: é and ÿ";
  EXPECT_EQ(window->lstIpZN7QX->item(2)->text(), "198.18.0.10: ten") << "not sorted";
  window->Units().Remove(0);
  EXPECT_EQ(window->Units().Count(), 2);
  EXPECT_EQ(window->Units().Item(0), "198.18.0.9: nine");
  window->Units().Clear();
  EXPECT_EQ(window->lstIpZN7QX->count(), 0);
}

}  // namespace
}  // namespace zn7qx::test
