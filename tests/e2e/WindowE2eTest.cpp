// The real window with the real probe, run offscreen in the probe namespace
// against the simulated network of window-network.json. The seams are the
// real ones; the test only looks over their shoulder (which address is
// probed, what the error line says around each probe).

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "net/linux/EchoSocket.h"
#include "tests/support/Isolation.h"
#include "ui/AppInfo.h"
#include "ui/frmMain.h"

namespace zn7qx {
namespace {

template <typename Predicate>
bool WaitUntil(Predicate done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QTest::qWait(5);
  }
  return true;
}

std::string Text(const QLabel* label) { return label->text().toStdString(); }

std::vector<std::string> Items(const QListWidget* list) {
  std::vector<std::string> items;
  for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
  return items;
}

struct ProbeSeen {
  std::string address;
  std::int32_t status = 0;
  std::string errorBefore;  // lblLastError as the probe starts
  std::string errorAfter;   // lblLastError as the tick releases the sockets
};

class WindowE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ZN7QX_ASSERT_ISOLATED();
    if (HasFatalFailure()) return;
    if (std::getenv("ZN7QX_EXPECT_NO_ECHO") != nullptr) {
      expectNoEcho = true;
      ASSERT_EQ(linuxnet::EchoSocket::Open().kind(), linuxnet::SocketKind::None);
      return;
    }
    const char* path = std::getenv("ZN7QX_ECHO_PATH");
    const auto kind = linuxnet::EchoSocket::Open().kind();
    const std::string expected = path != nullptr ? path : "";
    if (expected == "datagram") {
      ASSERT_EQ(kind, linuxnet::SocketKind::Datagram);
    } else if (expected == "raw") {
      ASSERT_EQ(kind, linuxnet::SocketKind::Raw);
    }
  }
  void TearDown() override {
    if (window) window->close();
    window.reset();
  }

  void Open() {
    ScanSeams seams = RealSeams();
    auto ping = seams.ping;
    seams.ping = [this, ping](const std::string& address, ICMP_ECHO_REPLY& reply) {
      ProbeSeen seen;
      seen.address = address;
      seen.errorBefore = Text(window->lblLastError);
      seen.status = ping(address, reply);
      probes.push_back(seen);
      return seen.status;
    };
    auto cleanup = seams.socketsCleanup;
    seams.socketsCleanup = [this, cleanup] {
      if (!probes.empty() && window) probes.back().errorAfter = Text(window->lblLastError);
      cleanup();
    };
    window = std::make_unique<frmMain>(std::move(seams));
    window->SetMessagePresenter([this](QWidget*, const MessageBoxRequest& request) { boxes.push_back(request); });
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::qWait(20);  // the echo-permission notice comes just after opening
  }

  void Scan(const char* start, const char* end) {
    window->txtIpAddrStart->setText(start);
    window->txtIpAddrEnd->setText(end);
    QTest::mouseClick(window->cmdBeginScan, Qt::LeftButton);
  }

  bool WaitForCompletion(int timeoutMs) {
    return WaitUntil([&] { return Text(window->lblStatus).rfind("Completed scanning.", 0) == 0; }, timeoutMs);
  }

  std::vector<std::string> ProbedAddresses() const {
    std::vector<std::string> a;
    for (const auto& p : probes) a.push_back(p.address);
    return a;
  }

  bool expectNoEcho = false;
  std::vector<ProbeSeen> probes;
  std::vector<MessageBoxRequest> boxes;
  std::unique_ptr<frmMain> window;
};

#define SKIP_WITHOUT_ECHO() \
  if (expectNoEcho) GTEST_SKIP() << "this run has no echo permission"

TEST_F(WindowE2e, OpensOnTheProbeSubnetWithoutANotice) {
  SKIP_WITHOUT_ECHO();
  Open();
  EXPECT_EQ(window->txtIpAddrStart->text().toStdString(), "198.18.0.0");
  EXPECT_EQ(window->txtIpAddrEnd->text().toStdString(), "198.18.0.255");
  EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowE2e, UnitsInProbeOrderOthersCollectedSilentSkippedErrorsShownAndCleared) {
  SKIP_WITHOUT_ECHO();
  Open();
  Scan("198.18.0.9", "198.18.0.19");
  EXPECT_EQ(window->lstIpToScan->count(), 11);
  ASSERT_TRUE(WaitForCompletion(11 * 500));

  EXPECT_EQ(Items(window->lstIpZN7QX).size(), 3u);
  const auto units = Items(window->lstIpZN7QX);
  ASSERT_GE(units.size(), 3u);
  EXPECT_EQ(units[0], "198.18.0.10: Unit-7");
  EXPECT_EQ(units[1], "198.18.0.12: Unit-B");
  EXPECT_EQ(units[2].rfind("198.18.0.19: <b>Unit 9</b> ", 0), 0u) << units[2];
  EXPECT_EQ(Items(window->lstIpOther),
            (std::vector<std::string>{"198.18.0.11", "198.18.0.13", "198.18.0.16", "198.18.0.17"}));
  EXPECT_EQ(Text(window->lblStatus), "Completed scanning. 3 ZN7QX unit(s) found.");
  EXPECT_EQ(window->lstIpToScan->count(), 0);

  EXPECT_EQ(ProbedAddresses(),
            (std::vector<std::string>{"198.18.0.9", "198.18.0.10", "198.18.0.11", "198.18.0.12", "198.18.0.13",
                                      "198.18.0.14", "198.18.0.15", "198.18.0.16", "198.18.0.17", "198.18.0.18",
                                      "198.18.0.19"}));
  for (const auto& p : probes) {
    EXPECT_EQ(p.errorBefore, "") << p.address;
    if (p.address == "198.18.0.14") {
      EXPECT_EQ(p.status, IP_DEST_HOST_UNREACHABLE);
      EXPECT_EQ(p.errorAfter, "Last ping error: Destination Host Unreachable");
    } else {
      EXPECT_EQ(p.errorAfter, "") << p.address << " status " << p.status;
    }
  }
  // Silent (.9, .18) and late (.15) addresses are in neither list.
  EXPECT_EQ(Text(window->lblLastError), "");
}

TEST_F(WindowE2e, ScanEndingOnAnErrorWithNoUnits) {
  SKIP_WITHOUT_ECHO();
  Open();
  Scan("198.18.0.13", "198.18.0.14");
  ASSERT_TRUE(WaitForCompletion(3000));
  EXPECT_EQ(Text(window->lblStatus), "Completed scanning. No ZN7QX units found.");
  EXPECT_EQ(Items(window->lstIpZN7QX), std::vector<std::string>{"No units found."});
  EXPECT_EQ(Items(window->lstIpOther), std::vector<std::string>{"198.18.0.13"});
  EXPECT_EQ(Text(window->lblLastError), "Last ping error: Destination Host Unreachable");
}

TEST_F(WindowE2e, BroadcastAddressIsShownAsBadDestination) {
  SKIP_WITHOUT_ECHO();
  Open();
  Scan("198.18.0.255", "198.18.0.255");
  ASSERT_TRUE(WaitForCompletion(2000));
  EXPECT_EQ(Text(window->lblLastError), "Last ping error: Bad Destination");
  EXPECT_EQ(Items(window->lstIpZN7QX), std::vector<std::string>{"No units found."});
}

TEST_F(WindowE2e, CancelInMidScanStopsProbingAndKeepsTheCancelSummary) {
  SKIP_WITHOUT_ECHO();
  Open();
  Scan("198.18.0.140", "198.18.0.199");
  ASSERT_TRUE(WaitUntil([&] { return probes.size() >= 12; }, 12 * 400));
  QTest::mouseClick(window->cmdCancelScan, Qt::LeftButton);
  const std::size_t probedAtCancel = probes.size();
  EXPECT_EQ(window->lstIpToScan->count(), 0);
  EXPECT_EQ(Text(window->lblStatus), "Scan canceled. Found 1 ZN7QX unit(s).");
  const auto units = Items(window->lstIpZN7QX);
  const auto others = Items(window->lstIpOther);
  const std::string status = Text(window->lblStatus);
  QTest::qWait(600);
  EXPECT_EQ(probes.size(), probedAtCancel);
  EXPECT_EQ(Items(window->lstIpZN7QX), units);
  EXPECT_EQ(Items(window->lstIpOther), others);
  EXPECT_EQ(Text(window->lblStatus), status) << "the next tick writes no summary";
  // Hosts from .140 on and the unit at .150: everything answered.
  EXPECT_EQ(others.size() + units.size(), probedAtCancel);
  EXPECT_EQ(units, std::vector<std::string>{"198.18.0.150: Unit-150"});
}

TEST_F(WindowE2e, DefaultRangeScanOfTheWholeSubnetCanBeCancelled) {
  SKIP_WITHOUT_ECHO();
  Open();
  QTest::mouseClick(window->cmdBeginScan, Qt::LeftButton);
  EXPECT_EQ(window->lstIpToScan->count(), 256);
  ASSERT_TRUE(WaitUntil([&] { return probes.size() >= 3; }, 3000));
  QTest::mouseClick(window->cmdCancelScan, Qt::LeftButton);
  EXPECT_EQ(window->lstIpToScan->count(), 0);
  EXPECT_EQ(Items(window->lstIpZN7QX), std::vector<std::string>{"Scan canceled. No units found."});
  // The subnet's network address is silent here (the simulator does not
  // answer for it); the probe's own address answers from its own kernel.
  ASSERT_GE(probes.size(), 2u);
  EXPECT_EQ(probes[0].address, "198.18.0.0");
  EXPECT_EQ(probes[0].status, IP_REQ_TIMED_OUT);
  EXPECT_EQ(probes[1].address, "198.18.0.1");
  EXPECT_EQ(probes[1].status, IP_SUCCESS);
}

TEST_F(WindowE2e, WithoutEchoPermissionTheWindowSaysWhatToDo) {
  if (!expectNoEcho) GTEST_SKIP() << "this run may send echo requests";
  Open();
  ASSERT_TRUE(WaitUntil([&] { return !boxes.empty(); }, 2000));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].text.find("net.ipv4.ping_group_range"), std::string::npos);
  EXPECT_NE(boxes[0].text.find("setcap cap_net_raw+ep"), std::string::npos);
  // A scan then shows every probe's failure instead of an empty network.
  Scan("198.18.0.10", "198.18.0.10");
  ASSERT_TRUE(WaitForCompletion(2000));
  EXPECT_EQ(Text(window->lblLastError), "Last ping error: Unknown Response");
  EXPECT_EQ(Items(window->lstIpZN7QX), std::vector<std::string>{"No units found."});
}

}  // namespace
}  // namespace zn7qx
