// Scans driven through the real window and its timer over scripted probes;
// the message boxes, opening and closing.

#include <QMessageBox>
#include <algorithm>
#include <QPushButton>
#include <QTimer>

#include "tests/ui/WindowFixture.h"
#include "ui/AppInfo.h"

namespace zn7qx::test {
namespace {

std::vector<std::string> Shown(const QListWidget* list) {
  std::vector<std::string> items;
  for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
  return items;
}

TEST_F(WindowTest, AScanRunsOnTheTimerToItsSummary) {
  net.Unit("198.18.0.9", "Unit-9");
  net.Unit("198.18.0.10", std::string("Unit-10\0\0", 9));
  net.Host("198.18.0.11");
  net.Script("198.18.0.12", {IP_DEST_HOST_UNREACHABLE, ""});
  Open();
  window->txtIpAddrStart->setText("198.18.0.8");
  window->txtIpAddrEnd->setText("198.18.0.13");
  QTest::mouseClick(window->cmdBeginScan, Qt::LeftButton);
  EXPECT_EQ(QueueCount(), 6);
  EXPECT_EQ(Text(window->lblStatus), "Beginning Scan...");

  ASSERT_TRUE(WaitFor([&] { return net.pinged.size() >= 5; }));
  EXPECT_EQ(Text(window->lblLastError), "Last ping error: Destination Host Unreachable");
  EXPECT_EQ(window->lblLastError->x() + window->lblLastError->width(), 441);
  ASSERT_TRUE(WaitFor([&] { return Text(window->lblStatus).rfind("Completed", 0) == 0; }));
  EXPECT_EQ(Text(window->lblStatus), "Completed scanning. 2 ZN7QX unit(s) found.");
  EXPECT_EQ(Shown(window->lstIpZN7QX), (std::vector<std::string>{"198.18.0.9: Unit-9", "198.18.0.10: Unit-10"}));
  EXPECT_EQ(Shown(window->lstIpOther), std::vector<std::string>{"198.18.0.11"});
  EXPECT_EQ(Text(window->lblLastError), "") << "the last probe timed out after the error";
  EXPECT_EQ(net.pinged, (std::vector<std::string>{"198.18.0.8", "198.18.0.9", "198.18.0.10", "198.18.0.11",
                                                  "198.18.0.12", "198.18.0.13"}));
  EXPECT_EQ(net.socketsOpen, 1) << "only the opening's start-up remains";
  for (std::size_t i = 1; i < window->tmrPing.size(); ++i) EXPECT_FALSE(window->tmrPing[i]->isActive());
  EXPECT_TRUE(window->tmrPing[0]->isActive());
}

TEST_F(WindowTest, ScanWithNoUnitsSaysSo) {
  Open();
  window->txtIpAddrStart->setText("198.18.0.1");
  window->txtIpAddrEnd->setText("198.18.0.2");
  QTest::keyClick(window->txtIpAddrEnd, Qt::Key_Return);
  ASSERT_TRUE(WaitFor([&] { return QueueCount() == 0 && net.pinged.size() == 2; }));
  EXPECT_EQ(Text(window->lblStatus), "Completed scanning. No ZN7QX units found.");
  EXPECT_EQ(Shown(window->lstIpZN7QX), std::vector<std::string>{"No units found."});
}

TEST_F(WindowTest, CancelInMidScanStopsProbing) {
  Open();
  window->txtIpAddrStart->setText("198.18.0.1");
  window->txtIpAddrEnd->setText("198.18.0.200");
  QTest::keyClick(window->txtIpAddrStart, Qt::Key_Return);
  ASSERT_TRUE(WaitFor([&] { return net.pinged.size() >= 2; }));
  QTest::keyClick(window->txtIpAddrStart, Qt::Key_Escape);
  const std::size_t probed = net.pinged.size();
  EXPECT_EQ(Text(window->lblStatus), "Scan canceled. Found 0 ZN7QX unit(s).");
  QTest::qWait(350);
  EXPECT_EQ(net.pinged.size(), probed);
  EXPECT_EQ(Text(window->lblStatus), "Scan canceled. Found 0 ZN7QX unit(s).");
  EXPECT_EQ(Shown(window->lstIpZN7QX), std::vector<std::string>{"Scan canceled. No units found."});
}

TEST_F(WindowTest, TicksArriveAboutEveryHundredMilliseconds) {
  Open();
  window->txtIpAddrStart->setText("198.18.0.1");
  window->txtIpAddrEnd->setText("198.18.0.100");
  QTest::keyClick(window->txtIpAddrStart, Qt::Key_Return);
  QTest::qWait(1050);
  // Loose bounds: this only shows the element is the 100 ms one and not a busy loop.
  EXPECT_GE(net.pinged.size(), 4u);
  EXPECT_LE(net.pinged.size(), 11u);
}

TEST_F(WindowTest, TicksNeverOverlapEvenWhenAProbeLetsEventsThrough) {
  ScanSeams seams = net.Seams();
  auto ping = seams.ping;
  int depth = 0, deepest = 0, probes = 0;
  seams.ping = [&](const std::string& address, ICMP_ECHO_REPLY& reply) {
    ++probes;
    deepest = std::max(deepest, ++depth);
    QTest::qWait(250);  // timer events fall due meanwhile and are delivered here
    --depth;
    return ping(address, reply);
  };
  window = std::make_unique<frmMain>(seams);
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  window->txtIpAddrStart->setText("198.18.0.1");
  window->txtIpAddrEnd->setText("198.18.0.3");
  QTest::keyClick(window->txtIpAddrStart, Qt::Key_Return);
  ASSERT_TRUE(WaitFor([&] { return Text(window->lblStatus).rfind("Completed", 0) == 0; }));
  EXPECT_EQ(probes, 3);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(net.pinged, (std::vector<std::string>{"198.18.0.1", "198.18.0.2", "198.18.0.3"}));
}

TEST_F(WindowTest, RangeErrorsAreCriticalBoxes) {
  Open();
  window->txtIpAddrStart->setText("198.18.0.1");
  window->txtIpAddrEnd->setText("0.0.0.0");
  QTest::mouseClick(window->cmdBeginScan, Qt::LeftButton);
  window->txtIpAddrEnd->setText("198.18.2.1");
  QTest::mouseClick(window->cmdBeginScan, Qt::LeftButton);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, "End Address Incorrect");
  EXPECT_EQ(boxes[0].text,
            "The format of the end address is incorrect.\r\nFormat should be like: 192.168.1.255\r\n"
            "Also, the address cannot be 0.0.0.0 or 255.255.255.255");
  EXPECT_EQ(boxes[1].title, "Too Many Addresses");
  EXPECT_EQ(boxes[1].text,
            "Please select a range containing no more than 512 addresses.\r\n(The range selected contains 513 "
            "addresses.)");
  for (const auto& b : boxes) EXPECT_EQ(b.icon, MessageIcon::Critical);
  EXPECT_EQ(QueueCount(), 0);
  EXPECT_EQ(Text(window->lblStatus), "Beginning Scan...");
}

TEST_F(WindowTest, RealMessageBoxIsModalWithOneOkAndTheCriticalIcon) {
  Open(/*capture=*/false);
  window->txtIpAddrStart->setText("abc");
  bool seen = false;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title, text;
  int buttons = 0;
  bool modal = false, okDefault = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || seen) return;
    seen = true;
    icon = box->icon();
    title = box->windowTitle();
    text = box->text();
    buttons = static_cast<int>(box->buttons().size());
    modal = box->isModal();
    okDefault = box->defaultButton() == box->button(QMessageBox::Ok);
    box->button(QMessageBox::Ok)->click();
  });
  poll.start();
  QTest::mouseClick(window->cmdBeginScan, Qt::LeftButton);  // returns once the box is dismissed
  poll.stop();
  ASSERT_TRUE(seen);
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(title, "Start Address Incorrect");
  EXPECT_EQ(text,
            "The format of the start address is incorrect.\nFormat should be like: 192.168.1.1\n"
            "Also, the address cannot be 0.0.0.0 or 255.255.255.255");
  EXPECT_EQ(buttons, 1);
  EXPECT_TRUE(modal);
  EXPECT_TRUE(okDefault);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(QueueCount(), 0);
}

TEST_F(WindowTest, OpeningStartsSocketsAndClosingReleasesThemOnce) {
  Open();
  EXPECT_EQ(net.initializeCalls, 1);
  EXPECT_EQ(net.maskCalls, 1);
  EXPECT_EQ(net.addressCalls, 1);
  EXPECT_TRUE(net.messageSink);
  window->Queue().Append("198.18.0.1");
  window->Queue().Append("198.18.0.2");
  EXPECT_TRUE(window->close()) << "nothing refuses the close, also during a scan";
  EXPECT_EQ(net.cleanupCalls, 1);
  EXPECT_FALSE(net.messageSink);
  window.reset();
  EXPECT_EQ(net.cleanupCalls, 1);
}

TEST_F(WindowTest, AdapterFailuresShowPlainBoxesWhileOpening) {
  ScanSeams seams = net.Seams();
  auto failing = [this] {
    if (net.messageSink) net.messageSink("Error getting adapter info");
    return NumericAddress{0};
  };
  seams.localSubnetMask = failing;
  seams.localIPAddress = failing;
  window = std::make_unique<frmMain>(seams);
  window->SetMessagePresenter([this](QWidget*, const MessageBoxRequest& r) { boxes.push_back(r); });
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, std::string(kApplicationName));
  EXPECT_EQ(boxes[0].icon, MessageIcon::None);
  EXPECT_EQ(window->txtIpAddrStart->text(), "0.0.0.0");
  EXPECT_EQ(window->txtIpAddrEnd->text(), "255.255.255.255");
  QTest::keyClick(window->txtIpAddrStart, Qt::Key_Return);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[2].title, "Start Address Incorrect");
}

TEST_F(WindowTest, NoticeWhenEchoIsNotPermittedOnceAfterOpening) {
  net.echoPermitted = false;
  Open();
  ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }));
  QTest::qWait(50);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, std::string(kApplicationName));
  EXPECT_NE(boxes[0].text.find("ICMP echo is not permitted for this user"), std::string::npos);
  EXPECT_NE(boxes[0].text.find("ping_group_range"), std::string::npos);
  window->hide();
  window->show();
  QTest::qWait(50);
  EXPECT_EQ(boxes.size(), 1u) << "once per window";
}

TEST_F(WindowTest, NoNoticeWhenEchoIsPermitted) {
  Open();
  QTest::qWait(50);
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace zn7qx::test
