// BeginScan and CancelScan on a fake view: queue contents, refusals, summaries.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FakeView.h"
#include "tests/ui/ScriptedNetwork.h"
#include "ui/ScanController.h"

namespace zn7qx::test {
namespace {

using testsupport::FakeView;

const std::string kStartError =
    "The format of the start address is incorrect.\r\nFormat should be like: 192.168.1.1\r\n"
    "Also, the address cannot be 0.0.0.0 or 255.255.255.255";
const std::string kEndError =
    "The format of the end address is incorrect.\r\nFormat should be like: 192.168.1.255\r\n"
    "Also, the address cannot be 0.0.0.0 or 255.255.255.255";

std::string TooMany(long long n) {
  return "Please select a range containing no more than 512 addresses.\r\n(The range selected contains " +
         std::to_string(n) + " addresses.)";
}
std::string TooFew(long long n) {
  return "Please select a range containing at least one address.\r\n(The range selected contains " +
         std::to_string(n) + " addresses.)";
}

class ScanCommands : public ::testing::Test {
 protected:
  void Begin(const std::string& start, const std::string& end) {
    view.start = start;
    view.end = end;
    controller.BeginScan();
  }
  void ExpectRefused(const std::string& title, const std::string& text) {
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].title, title);
    EXPECT_EQ(view.messages[0].text, text);
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Critical);
    EXPECT_TRUE(view.queue.items.empty());
    EXPECT_TRUE(view.units.items.empty());
    EXPECT_TRUE(view.others.items.empty());
    EXPECT_EQ(view.status, "Beginning Scan...");
  }

  FakeView view;
  ScriptedNetwork net;
  ScanController controller{view, net.Seams()};
};

TEST_F(ScanCommands, QueuesTheWholeRangeInAscendingOrder) {
  Begin("192.168.1.1", "192.168.1.254");
  ASSERT_EQ(view.queue.items.size(), 254u);
  for (int i = 0; i < 254; ++i) EXPECT_EQ(view.queue.items[static_cast<std::size_t>(i)], "192.168.1." + std::to_string(i + 1));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.status, "Beginning Scan...");
  EXPECT_TRUE(net.pinged.empty()) << "commands never probe";
}

TEST_F(ScanCommands, AcceptsExactly512AndRefuses513) {
  Begin("198.18.0.0", "198.18.1.255");
  EXPECT_TRUE(view.messages.empty());
  ASSERT_EQ(view.queue.items.size(), 512u);
  EXPECT_EQ(view.queue.items.front(), "198.18.0.0");
  EXPECT_EQ(view.queue.items.back(), "198.18.1.255");

  Begin("198.18.0.0", "198.18.2.0");
  ExpectRefused("Too Many Addresses", TooMany(513));
}

TEST_F(ScanCommands, StartEqualToEndQueuesOneAddress) {
  Begin("198.18.3.7", "198.18.3.7");
  EXPECT_EQ(view.queue.items, std::vector<std::string>{"198.18.3.7"});
}

TEST_F(ScanCommands, EndBeforeStartIsTooFewWithItsCount) {
  Begin("198.18.0.10", "198.18.0.9");
  ExpectRefused("Too Many Addresses", TooFew(0));
  view.messages.clear();
  Begin("198.18.0.10", "198.18.0.0");
  ExpectRefused("Too Many Addresses", TooFew(-9));
}

TEST_F(ScanCommands, HugeRangesCountInSixtyFourBits) {
  Begin("0.0.0.1", "255.255.255.254");
  ExpectRefused("Too Many Addresses", TooMany(4294967294LL));
  view.messages.clear();
  Begin("255.255.255.254", "0.0.0.1");
  ExpectRefused("Too Many Addresses", TooFew(-4294967292LL));
}

TEST_F(ScanCommands, BadStartIsReportedWithoutReadingTheEnd) {
  for (const char* bad : {"255.255.255.255", "0.0.0.0", "abc", "", "0", "1.2.3.4.5", "256.1.1.1"}) {
    view.messages.clear();
    view.endReads = 0;
    Begin(bad, "also bad");
    SCOPED_TRACE(bad);
    ExpectRefused("Start Address Incorrect", kStartError);
    EXPECT_EQ(view.endReads, 0);
  }
}

TEST_F(ScanCommands, BadEndIsReported) {
  for (const char* bad : {"255.255.255.255", "0.0.0.0", "abc", "", "198.18.0.1x"}) {
    view.messages.clear();
    Begin("198.18.0.1", bad);
    SCOPED_TRACE(bad);
    ExpectRefused("End Address Incorrect", kEndError);
  }
}

TEST_F(ScanCommands, TypedTextOfAnyKindGetsAnOutcome) {
  Begin(std::string(1 << 20, '1'), "198.18.0.1");
  ExpectRefused("Start Address Incorrect", kStartError);
  view.messages.clear();
  Begin(std::string("198.18.0.1\0junk", 15), "198.18.0.1");
  ExpectRefused("Start Address Incorrect", kStartError);
  view.messages.clear();
  Begin("\xC3\xA9\xE2\x80\x8B", "198.18.0.1");
  ExpectRefused("Start Address Incorrect", kStartError);
}

TEST_F(ScanCommands, AcceptsWhatThePlatformParserAccepts) {
  // Shorter and hex forms, and trailing text after a blank, as inet_addr reads them.
  Begin("0xC6.0x12.0.1", "198.18.2");
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.queue.items, (std::vector<std::string>{"198.18.0.1", "198.18.0.2"}));
  Begin("198.18.0.1 junk", "198.18.0.1");
  EXPECT_EQ(view.queue.items, std::vector<std::string>{"198.18.0.1"});
}

TEST_F(ScanCommands, QueuesAcrossTheSignBoundary) {
  Begin("127.255.255.250", "128.0.0.5");
  const std::vector<std::string> expected{"127.255.255.250", "127.255.255.251", "127.255.255.252", "127.255.255.253",
                                          "127.255.255.254", "127.255.255.255", "128.0.0.0",       "128.0.0.1",
                                          "128.0.0.2",       "128.0.0.3",       "128.0.0.4",       "128.0.0.5"};
  EXPECT_EQ(view.queue.items, expected);
}

TEST_F(ScanCommands, QueuesUpToTheTopOfTheAddressSpace) {
  Begin("255.255.255.250", "255.255.255.254");
  EXPECT_EQ(view.queue.items.size(), 5u);
  EXPECT_EQ(view.queue.items.back(), "255.255.255.254");
}

TEST_F(ScanCommands, BeginClearsEveryListEvenWhenRefused) {
  view.queue.items = {"198.18.0.1"};
  view.units.items = {"198.18.0.2: Unit"};
  view.others.items = {"198.18.0.3"};
  Begin("abc", "198.18.0.1");
  ExpectRefused("Start Address Incorrect", kStartError);
}

TEST_F(ScanCommands, BeginDuringAScanRestartsIt) {
  Begin("198.18.0.1", "198.18.0.9");
  view.units.items = {"198.18.0.1: A"};
  Begin("198.18.0.20", "198.18.0.21");
  EXPECT_EQ(view.queue.items, (std::vector<std::string>{"198.18.0.20", "198.18.0.21"}));
  EXPECT_TRUE(view.units.items.empty());
}

TEST_F(ScanCommands, CancelWithNoUnitsCountsZeroThenCountsThePlaceholder) {
  Begin("198.18.0.1", "198.18.0.9");
  controller.CancelScan();
  EXPECT_TRUE(view.queue.items.empty());
  EXPECT_EQ(view.status, "Scan canceled. Found 0 ZN7QX unit(s).");
  EXPECT_EQ(view.units.items, std::vector<std::string>{"Scan canceled. No units found."});
  controller.CancelScan();
  EXPECT_EQ(view.status, "Scan canceled. Found 1 ZN7QX unit(s).");
  EXPECT_EQ(view.units.items.size(), 1u);
}

TEST_F(ScanCommands, CancelWithUnitsCountsThemAndAppendsNothing) {
  view.queue.items = {"198.18.0.5"};
  view.units.items = {"198.18.0.1: A", "198.18.0.2: B"};
  view.others.items = {"198.18.0.3"};
  controller.CancelScan();
  EXPECT_TRUE(view.queue.items.empty());
  EXPECT_EQ(view.status, "Scan canceled. Found 2 ZN7QX unit(s).");
  EXPECT_EQ(view.units.items.size(), 2u);
  EXPECT_EQ(view.others.items.size(), 1u) << "cancel leaves the other hosts alone";
}

TEST_F(ScanCommands, CancelAfterAnEmptyCompletedScanCountsTheNoUnitsItem) {
  Begin("198.18.0.1", "198.18.0.1");
  controller.PingTick(0);
  ASSERT_EQ(view.units.items, std::vector<std::string>{"No units found."});
  controller.CancelScan();
  EXPECT_EQ(view.status, "Scan canceled. Found 1 ZN7QX unit(s).");
  EXPECT_EQ(view.units.items, std::vector<std::string>{"No units found."});
}

}  // namespace
}  // namespace zn7qx::test
