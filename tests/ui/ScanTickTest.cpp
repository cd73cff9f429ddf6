// PingTick on a fake view with scripted probes: filing, errors, summaries,
// the sockets pairing and the timer re-enable.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FakeView.h"
#include "tests/ui/ScriptedNetwork.h"
#include "ui/ScanController.h"

namespace zn7qx::test {
namespace {

using testsupport::FakeView;

using Items = std::vector<std::string>;

class ScanTick : public ::testing::Test {
 protected:
  void Queue(Items addresses) { view.queue.items = std::move(addresses); }
  void Tick() { controller.PingTick(0); }

  FakeView view;
  ScriptedNetwork net;
  ScanController controller{view, net.Seams()};
};

TEST_F(ScanTick, IdleTickOnlyReenablesItsTimer) {
  view.status = "Waiting to begin scan...";
  view.lastError = "Last ping error: x";
  Tick();
  EXPECT_EQ(net.initializeCalls, 0);
  EXPECT_TRUE(net.pinged.empty());
  EXPECT_EQ(view.status, "Waiting to begin scan...");
  EXPECT_EQ(view.lastError, "Last ping error: x");
  EXPECT_EQ(view.timersEnabled, std::vector<int>{0});
}

TEST_F(ScanTick, ReenablesTheElementThatFired) {
  controller.PingTick(3);
  Queue({"198.18.0.1"});
  controller.PingTick(2);
  EXPECT_EQ(view.timersEnabled, (std::vector<int>{3, 2}));
}

TEST_F(ScanTick, ProbesOneAddressPerTickAndCountsDown) {
  Queue({"198.18.0.1", "198.18.0.2", "198.18.0.3"});
  Tick();
  EXPECT_EQ(net.pinged, Items{"198.18.0.1"});
  EXPECT_EQ(view.status, "Pinging 198.18.0.1. Addresses remaining: 2");
  EXPECT_EQ(view.queue.items, (Items{"198.18.0.2", "198.18.0.3"}));
  Tick();
  EXPECT_EQ(view.status, "Pinging 198.18.0.2. Addresses remaining: 1");
  net.Unit("198.18.0.3", "Unit-7");
  Tick();
  EXPECT_EQ(net.pinged, (Items{"198.18.0.1", "198.18.0.2", "198.18.0.3"}));
  EXPECT_EQ(view.status, "Completed scanning. 1 ZN7QX unit(s) found.");
  EXPECT_EQ(net.initializeCalls, 3);
  EXPECT_EQ(net.cleanupCalls, 3);
  EXPECT_EQ(net.socketsOpen, 0);
}

TEST_F(ScanTick, FilesUnitsHostsAndSilence) {
  net.Unit("198.18.0.20", std::string("Unit-7\0\0\0", 9));
  net.Host("198.18.0.21");
  net.Unit("198.18.0.23", "");
  net.Script("198.18.0.24", {IP_SUCCESS, "found.lower"});
  net.Script("198.18.0.25", {IP_SUCCESS, "Found"});
  net.Script("198.18.0.26", {IP_SUCCESS, "Found.two\0hidden"});
  Queue({"198.18.0.20", "198.18.0.21", "198.18.0.22", "198.18.0.23", "198.18.0.24", "198.18.0.25", "198.18.0.26"});
  for (int i = 0; i < 7; ++i) Tick();
  EXPECT_EQ(view.units.items, (Items{"198.18.0.20: Unit-7", "198.18.0.23: ", "198.18.0.26: two"}));
  EXPECT_EQ(view.others.items, (Items{"198.18.0.21", "198.18.0.24", "198.18.0.25"}));
  EXPECT_EQ(view.status, "Completed scanning. 3 ZN7QX unit(s) found.");
  EXPECT_EQ(view.lastError, "");
}

TEST_F(ScanTick, UnitTextFillsTheDataAreaAtMost) {
  net.Unit("198.18.0.1", std::string(400, 'x'));
  net.Unit("198.18.0.2", "\x01\x7F\xFF\xE9\r\n<b>bold</b>");
  Queue({"198.18.0.1", "198.18.0.2"});
  Tick();
  Tick();
  ASSERT_EQ(view.units.items.size(), 2u);
  EXPECT_EQ(view.units.items[0], "198.18.0.1: " + std::string(244, 'x'));
  EXPECT_EQ(view.units.items[1], "198.18.0.2: \x01\x7F\xFF\xE9\r\n<b>bold</b>") << "bytes passed through unchanged";
}

TEST_F(ScanTick, ErrorsShowInLastErrorAndTheScanGoesOn) {
  net.Script("198.18.0.1", {IP_DEST_HOST_UNREACHABLE, ""});
  net.Script("198.18.0.3", {-1, ""});
  net.Unit("198.18.0.4", "U");
  Queue({"198.18.0.1", "198.18.0.2", "198.18.0.3", "198.18.0.4"});
  Tick();
  EXPECT_EQ(view.lastError, "Last ping error: Destination Host Unreachable");
  Tick();
  EXPECT_EQ(view.lastError, "") << "every probing tick clears the error first; a time-out is not reported";
  Tick();
  EXPECT_EQ(view.lastError, "Last ping error: Unknown Response");
  Tick();
  EXPECT_EQ(view.lastError, "");
  EXPECT_EQ(view.units.items, Items{"198.18.0.4: U"});
  EXPECT_TRUE(view.others.items.empty()) << "an error reply is not a host";
}

TEST_F(ScanTick, ErrorOnTheLastProbeStaysAfterTheSummary) {
  net.Script("198.18.0.1", {IP_DEST_HOST_UNREACHABLE, "Found.not-a-unit"});
  Queue({"198.18.0.1"});
  Tick();
  EXPECT_EQ(view.lastError, "Last ping error: Destination Host Unreachable");
  EXPECT_EQ(view.status, "Completed scanning. No ZN7QX units found.");
  EXPECT_EQ(view.units.items, Items{"No units found."});
  Tick();
  EXPECT_EQ(view.lastError, "Last ping error: Destination Host Unreachable") << "idle ticks leave it";
}

TEST_F(ScanTick, SummaryCountsTwoUnits) {
  net.Unit("198.18.0.1", "A");
  net.Host("198.18.0.2");
  net.Unit("198.18.0.3", "B");
  Queue({"198.18.0.1", "198.18.0.2", "198.18.0.3"});
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(view.status, "Completed scanning. 2 ZN7QX unit(s) found.");
  EXPECT_EQ(view.units.items, (Items{"198.18.0.1: A", "198.18.0.3: B"}));
}

TEST_F(ScanTick, NoUnitsSummaryAppendsThePlaceholder) {
  net.Host("198.18.0.1");
  Queue({"198.18.0.1", "198.18.0.2"});
  Tick();
  Tick();
  EXPECT_EQ(view.status, "Completed scanning. No ZN7QX units found.");
  EXPECT_EQ(view.units.items, Items{"No units found."});
  EXPECT_EQ(view.others.items, Items{"198.18.0.1"});
  Tick();
  EXPECT_EQ(view.units.items, Items{"No units found."}) << "the idle tick adds nothing";
}

TEST_F(ScanTick, UnitsAreListedInProbeOrder) {
  net.Unit("198.18.0.9", "nine");
  net.Unit("198.18.0.10", "ten");
  Queue({"198.18.0.9", "198.18.0.10"});
  Tick();
  Tick();
  EXPECT_EQ(view.units.items, (Items{"198.18.0.9: nine", "198.18.0.10: ten"}));
}

TEST_F(ScanTick, SocketsFailureDropsTheQueueAndSaysSo) {
  net.socketsWork = false;
  view.lastError = "Last ping error: old";
  Queue({"198.18.0.1", "198.18.0.2"});
  Tick();
  EXPECT_TRUE(net.pinged.empty());
  EXPECT_TRUE(view.queue.items.empty());
  EXPECT_EQ(net.cleanupCalls, 0) << "no release for a start-up that failed";
  EXPECT_EQ(view.lastError, "");
  EXPECT_EQ(view.status, "Windows Sockets not responding correctly.")
      << "nothing was probed, so no completion summary";
  EXPECT_TRUE(view.units.items.empty());
  EXPECT_EQ(view.timersEnabled, std::vector<int>{0});
  Tick();
  EXPECT_EQ(view.status, "Windows Sockets not responding correctly.");
  EXPECT_EQ(net.initializeCalls, 1);
}

TEST_F(ScanTick, AfterCancelTheNextTickChangesNothing) {
  net.Unit("198.18.0.1", "A");
  Queue({"198.18.0.1", "198.18.0.2", "198.18.0.3"});
  Tick();
  controller.CancelScan();
  const std::string status = view.status;
  const Items units = view.units.items;
  Tick();
  EXPECT_EQ(view.status, status);
  EXPECT_EQ(view.status, "Scan canceled. Found 1 ZN7QX unit(s).");
  EXPECT_EQ(view.units.items, units);
  EXPECT_EQ(net.pinged.size(), 1u);
}

TEST_F(ScanTick, ABeginScanRunsToTheEndOfItsRange) {
  view.start = "198.18.0.1";
  view.end = "198.18.0.254";
  net.Unit("198.18.0.200", "Z");
  controller.BeginScan();
  for (int i = 0; i < 300; ++i) Tick();
  ASSERT_EQ(net.pinged.size(), 254u);
  EXPECT_EQ(net.pinged.front(), "198.18.0.1");
  EXPECT_EQ(net.pinged.back(), "198.18.0.254");
  EXPECT_EQ(view.units.items, Items{"198.18.0.200: Z"});
  EXPECT_EQ(view.status, "Completed scanning. 1 ZN7QX unit(s) found.");
  EXPECT_EQ(net.socketsOpen, 0);
}

}  // namespace
}  // namespace zn7qx::test
