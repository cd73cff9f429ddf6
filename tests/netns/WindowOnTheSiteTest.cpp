// The real window with the real probe, offscreen, against the simulated site.
// ZN7QX_EXPECT_NO_ECHO marks the run where ICMP echo is not permitted.

#include <fstream>
#include <sstream>

#include "tests/support/Isolation.h"
#include "tests/ui/WindowFixture.h"
#include "ui/AppInfo.h"

namespace zn7qx::test {
namespace {

// Echo requests this namespace's stack has sent, whatever the socket.
long EchoRequestsSent() {
  std::ifstream snmp("/proc/self/net/snmp");
  std::string names, values;
  while (std::getline(snmp, names) && !names.starts_with("IcmpMsg:")) {
  }
  std::getline(snmp, values);
  std::istringstream n(names), v(values);
  for (std::string name, value; n >> name && v >> value;)
    if (name == "OutType8") return std::stol(value);
  return 0;
}

class WindowOnTheSite : public WindowTest {
 protected:
  void SetUp() override {
    ZN7QX_ASSERT_ISOLATED();
    ScanSeams seams = RealSeams();
    seams.ping = [this, ping = seams.ping](const std::string& address, ICMP_ECHO_REPLY& reply,
                                           const PingWaitHook& hook) {
      net.pinged.push_back(address);
      return ping(address, reply, [&] {
        if (duringWait) duringWait();
        return hook && hook();
      });
    };
    Open(false, seams);
    QTest::qWait(20);  // the permission notice comes just after opening
  }
  bool Completed(int ms) {
    return WaitFor([&] { return Text(window->lblStatus).starts_with("Completed scanning."); }, ms);
  }
  bool noEcho = std::getenv("ZN7QX_EXPECT_NO_ECHO") != nullptr;
  std::function<void()> duringWait;  // inside a probe's wait, where the window answers its reader
};

TEST_F(WindowOnTheSite, ListsUnitsInProbeOrderAndShowsTheLastError) {
  if (noEcho) GTEST_SKIP() << "this run may not send";
  EXPECT_EQ(window->txtIpAddrStart->text(), "198.18.0.0");
  EXPECT_EQ(window->txtIpAddrEnd->text(), "198.18.0.255");
  EXPECT_TRUE(boxes.empty());
  Scan("198.18.0.9", "198.18.0.14");
  ASSERT_TRUE(Completed(6 * 500));
  const std::vector<std::string> units{"198.18.0.10: Unit-7 (hall A)", "198.18.0.11: Unit-7", "198.18.0.13: ",
                                       "198.18.0.14: \x1b[31mRed\r\n\x07\xff\\\x9b\x85\x7f"};
  ASSERT_EQ(window->Units().Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(window->Units().Item(i), units[static_cast<std::size_t>(i)]);
  EXPECT_EQ(Shown(window->lstIpOther), std::vector<std::string>{"198.18.0.12"});
  EXPECT_EQ(Text(window->lblStatus), "Completed scanning. 4 ZN7QX unit(s) found.");

  Scan("198.18.0.30", "198.18.0.32");
  ASSERT_TRUE(Completed(3 * 500));
  EXPECT_EQ(Text(window->lblLastError), "Last ping error: Destination Host Unreachable");
  EXPECT_EQ(Shown(window->lstIpZN7QX), std::vector<std::string>{"No units found."});
  EXPECT_EQ(Shown(window->lstIpOther), std::vector<std::string>{"198.18.0.31"});
}

// Closed inside a probe's wait, as a close handled there would be (between
// probes is the controller's): no echo request after it, no timer runs again.
TEST_F(WindowOnTheSite, ClosedDuringAScanItSendsNothingMore) {
  if (noEcho) GTEST_SKIP() << "this run may not send";
  Scan("198.18.0.50", "198.18.0.99");  // silent: each probe takes its 300 ms
  EXPECT_TRUE(WaitFor([&] { return window->lstIpToScan->count() <= 48; }, 2000));
  long sent = -1;
  duringWait = [&] { if (sent < 0 && window->close()) sent = EchoRequestsSent(); };
  EXPECT_TRUE(WaitFor([&] { return sent >= 0; }, 1000)) << "not closed";
  QTest::qWait(700);
  duringWait = nullptr;
  EXPECT_EQ(EchoRequestsSent(), sent) << "an echo request went out after the close";
  EXPECT_EQ(window->lstIpToScan->count(), 0);
  for (QTimer* timer : window->tmrPing) EXPECT_FALSE(timer->isActive());
}

TEST_F(WindowOnTheSite, WithoutEchoPermissionTheWindowSaysWhatToDo) {
  if (!noEcho) GTEST_SKIP() << "this run may send";
  ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 2000));
  EXPECT_EQ(boxes[0].title, kApplicationName);
  EXPECT_NE(boxes[0].text.find("net.ipv4.ping_group_range"), std::string::npos);
  EXPECT_NE(boxes[0].text.find("setcap cap_net_raw+ep"), std::string::npos);
  Scan("198.18.0.10", "198.18.0.10");
  ASSERT_TRUE(Completed(2000));
  EXPECT_EQ(Text(window->lblLastError), "Last ping error: Unknown Response");
}

}  // namespace
}  // namespace zn7qx::test
