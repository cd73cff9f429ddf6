// Opening, closing, the default range and the ICMP permission notice.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FakeView.h"
#include "tests/ui/ScriptedNetwork.h"
#include "ui/AppInfo.h"
#include "ui/ScanController.h"

namespace zn7qx::test {
namespace {

using testsupport::FakeView;

constexpr NumericAddress Quad(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return static_cast<NumericAddress>((a << 24) | (b << 16) | (c << 8) | d);
}

struct RangeCase {
  NumericAddress address, mask;
  const char* start;
  const char* end;
};

class DefaultRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(DefaultRange, IsTheSubnetWithItsNetworkAndBroadcastAddresses) {
  FakeView view;
  ScriptedNetwork net;
  net.localAddress = GetParam().address;
  net.localMask = GetParam().mask;
  ScanController controller(view, net.Seams());
  controller.SetDefaultRange();
  EXPECT_EQ(view.start, GetParam().start);
  EXPECT_EQ(view.end, GetParam().end);
  EXPECT_EQ(net.maskCalls, 1);
  EXPECT_EQ(net.addressCalls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Subnets, DefaultRange,
    ::testing::Values(RangeCase{Quad(192, 168, 1, 37), Quad(255, 255, 255, 0), "192.168.1.0", "192.168.1.255"},
                      RangeCase{Quad(10, 0, 2, 15), Quad(255, 255, 254, 0), "10.0.2.0", "10.0.3.255"},
                      RangeCase{Quad(198, 18, 5, 9), Quad(255, 255, 252, 0), "198.18.4.0", "198.18.7.255"},
                      RangeCase{Quad(172, 16, 5, 4), Quad(255, 255, 255, 255), "172.16.5.4", "172.16.5.4"},
                      RangeCase{Quad(198, 19, 200, 1), Quad(255, 254, 0, 0), "198.18.0.0", "198.19.255.255"},
                      RangeCase{0, 0, "0.0.0.0", "255.255.255.255"}));

class Startup : public ::testing::Test {
 protected:
  FakeView view;
  ScriptedNetwork net;
};

TEST_F(Startup, DefaultRangeSizesMeetTheScanLimit) {
  ScanController controller(view, net.Seams());
  net.localAddress = Quad(10, 0, 2, 15);
  net.localMask = Quad(255, 255, 254, 0);
  controller.SetDefaultRange();
  controller.BeginScan();
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.queue.Count(), 512);

  net.localMask = Quad(255, 255, 252, 0);
  controller.SetDefaultRange();
  controller.BeginScan();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, "Too Many Addresses");
  EXPECT_NE(view.messages[0].text.find("contains 1024 addresses"), std::string::npos);

  view.messages.clear();
  net.localAddress = 0;
  net.localMask = 0;
  controller.SetDefaultRange();
  controller.BeginScan();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, "Start Address Incorrect");
}

TEST_F(Startup, DefaultRangeReplacesEditedText) {
  ScanController controller(view, net.Seams());
  view.start = "edited";
  view.end = "";
  controller.SetDefaultRange();
  EXPECT_EQ(view.start, "198.18.0.0");
  EXPECT_EQ(view.end, "198.18.0.255");
}

TEST_F(Startup, OpeningStartsSocketsThenFillsTheBoxes) {
  ScanController controller(view, net.Seams());
  controller.OnOpen();
  EXPECT_EQ(net.initializeCalls, 1);
  EXPECT_EQ(view.start, "198.18.0.0");
  EXPECT_EQ(view.end, "198.18.0.255");
  EXPECT_TRUE(view.messages.empty());
  controller.OnOpen();
  EXPECT_EQ(net.initializeCalls, 1) << "opening happens once";
}

TEST_F(Startup, OpeningIgnoresASocketsFailure) {
  net.socketsWork = false;
  ScanController controller(view, net.Seams());
  controller.OnOpen();
  EXPECT_EQ(view.start, "198.18.0.0");
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Startup, ClosingReleasesSocketsOnce) {
  {
    ScanController controller(view, net.Seams());
    controller.OnOpen();
    controller.OnClose();
    EXPECT_EQ(net.cleanupCalls, 1);
    EXPECT_FALSE(net.messageSink) << "the sink is taken down with the window";
    controller.OnClose();
  }
  EXPECT_EQ(net.cleanupCalls, 1) << "a second close and the destructor add nothing";
  EXPECT_EQ(net.socketsOpen, 0);
}

TEST_F(Startup, DestroyingAnOpenWindowReleasesSockets) {
  {
    ScanController controller(view, net.Seams());
    controller.OnOpen();
  }
  EXPECT_EQ(net.cleanupCalls, 1);
  EXPECT_EQ(net.socketsOpen, 0);
}

TEST_F(Startup, NeverOpenedNeverReleases) {
  { ScanController controller(view, net.Seams()); }
  EXPECT_EQ(net.cleanupCalls, 0);
}

TEST_F(Startup, AdapterMessagesBecomePlainBoxesTitledWithTheProgramName) {
  ScriptedNetwork failing;
  ScanSeams seams = failing.Seams();
  // The discovery reports its failures through the sink while it is asked.
  seams.localSubnetMask = [&failing] {
    if (failing.messageSink) failing.messageSink("Error 232 getting adapter info");
    return NumericAddress{0};
  };
  seams.localIPAddress = [&failing] {
    if (failing.messageSink) failing.messageSink("Error 232 getting adapter info");
    return NumericAddress{0};
  };
  ScanController controller(view, seams);
  controller.OnOpen();
  ASSERT_EQ(view.messages.size(), 2u) << "one box per query";
  for (const MessageBoxRequest& m : view.messages) {
    EXPECT_EQ(m.title, std::string(kApplicationName));
    EXPECT_EQ(m.text, "Error 232 getting adapter info");
    EXPECT_EQ(m.icon, MessageIcon::None);
  }
  EXPECT_EQ(view.start, "0.0.0.0");
  EXPECT_EQ(view.end, "255.255.255.255");
}

TEST_F(Startup, NoNoticeWhenEchoIsPermitted) {
  ScanController controller(view, net.Seams());
  controller.OnOpen();
  controller.NotifyIfEchoNotPermitted();
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Startup, NoticeWhenEchoIsNotPermitted) {
  net.echoPermitted = false;
  ScanController controller(view, net.Seams());
  controller.OnOpen();
  controller.NotifyIfEchoNotPermitted();
  ASSERT_EQ(view.messages.size(), 1u);
  const MessageBoxRequest& m = view.messages[0];
  EXPECT_EQ(m.title, std::string(kApplicationName));
  EXPECT_NE(m.text.find("ICMP echo is not permitted for this user"), std::string::npos);
  EXPECT_NE(m.text.find("Allow it with sysctl net.ipv4.ping_group_range."), std::string::npos);
  EXPECT_EQ(m.icon, MessageIcon::Warning);
  EXPECT_EQ(view.start, "198.18.0.0") << "the window still opens with its range";
}

}  // namespace
}  // namespace zn7qx::test
