// Interface discovery against real interface layouts, each built in a
// namespace of its own by with-layout.sh. Nothing is sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "net/linux/Adapters.h"
#include "net/mdlGetIPInfo.h"

namespace zn7qx {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Seen {
  std::string name, address, mask;
  bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& s, std::ostream* os) {
  *os << s.name << " " << s.address << "/" << s.mask;
}

class Layout : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* layout = std::getenv("ZN7QX_DISCOVERY_LAYOUT");
    const std::string wanted =
        ::testing::UnitTest::GetInstance()->current_test_suite()->name();
    // In any other namespace the machine's own interfaces would be read.
    ASSERT_TRUE(layout != nullptr && wanted == layout)
        << "run through with-layout.sh " << wanted << " -- ...";
    SetIPInfoMessageSink([this](const std::string& text) { messages.push_back(text); });
  }
  void TearDown() override { SetIPInfoMessageSink({}); }

  static std::vector<Seen> Listed() {
    const linuxnet::AdapterListing listing = linuxnet::ListAdapters();
    EXPECT_EQ(listing.status, 0);
    std::vector<Seen> seen;
    for (const auto& a : listing.adapters)
      seen.push_back({a.Name, std::string(a.IpAddress.Text()), std::string(a.IpMask.Text())});
    return seen;
  }

  std::vector<std::string> messages;
};

class OnlyLoopback : public Layout {};
TEST_F(OnlyLoopback, NoAdapterShowsTheSizingMessageOncePerCall) {
  EXPECT_THAT(Listed(), IsEmpty());
  EXPECT_EQ(GetLocalSubnetMask(), 0);
  EXPECT_EQ(GetLocalIPAddress(), 0);
  EXPECT_THAT(messages, ElementsAre("GetAdaptersInfo sizing failed with error 232",
                                    "GetAdaptersInfo sizing failed with error 232"));
}

class OneInterface : public Layout {};
TEST_F(OneInterface, GivesItsMaskAndAddress) {
  EXPECT_THAT(Listed(), ElementsAre(Seen{"n0", "10.0.2.15", "255.255.254.0"}));
  EXPECT_EQ(GetLocalSubnetMask(), 4294966784);
  EXPECT_EQ(GetLocalIPAddress(), 167772687);
  EXPECT_THAT(messages, IsEmpty());
}

class FirstWithoutAddress : public Layout {};
TEST_F(FirstWithoutAddress, SecondInterfaceIsSelected) {
  EXPECT_THAT(Listed(), ElementsAre(Seen{"n9", "0.0.0.0", "0.0.0.0"},
                                    Seen{"n1", "10.0.2.15", "255.255.254.0"}));
  EXPECT_EQ(GetLocalSubnetMask(), 4294966784);
  EXPECT_EQ(GetLocalIPAddress(), 167772687);
  EXPECT_THAT(messages, IsEmpty());
}

class IndexOrder : public Layout {};
TEST_F(IndexOrder, InterfacesComeInTheKernelsOrder) {
  EXPECT_THAT(Listed(), ElementsAre(Seen{"n9", "198.18.9.1", "255.255.255.0"},
                                    Seen{"n1", "10.0.2.15", "255.255.254.0"}));
  EXPECT_EQ(GetLocalSubnetMask(), 4294967040);
  EXPECT_EQ(GetLocalIPAddress(), 3323070721);
}

class DownInterface : public Layout {};
TEST_F(DownInterface, CountsAsAnAdapterWithoutAddress) {
  EXPECT_THAT(Listed(), ElementsAre(Seen{"n0", "0.0.0.0", "0.0.0.0"},
                                    Seen{"n1", "198.18.4.20", "255.255.252.0"}));
  EXPECT_EQ(GetLocalSubnetMask(), 4294966272);
  EXPECT_EQ(GetLocalIPAddress(), 3323069460);
  EXPECT_THAT(messages, IsEmpty());
}

class OnlyDown : public Layout {};
TEST_F(OnlyDown, GivesZeroWithoutMessage) {
  EXPECT_THAT(Listed(), ElementsAre(Seen{"n0", "0.0.0.0", "0.0.0.0"}));
  EXPECT_EQ(GetLocalSubnetMask(), 0);
  EXPECT_EQ(GetLocalIPAddress(), 0);
  EXPECT_THAT(messages, IsEmpty());
}

class NoCarrier : public Layout {};
TEST_F(NoCarrier, InterfaceThatIsUpIsTakenWithoutCarrier) {
  EXPECT_THAT(Listed(), ElementsAre(Seen{"n0", "10.0.2.15", "255.255.254.0"}));
  EXPECT_EQ(GetLocalIPAddress(), 167772687);
}

class TwoAddresses : public Layout {};
TEST_F(TwoAddresses, OnlyTheFirstAddressCounts) {
  EXPECT_THAT(Listed(), ElementsAre(Seen{"n0", "10.0.2.15", "255.255.254.0"}));
  EXPECT_EQ(GetLocalSubnetMask(), 4294966784);
  EXPECT_EQ(GetLocalIPAddress(), 167772687);
}

class LabelledAddress : public Layout {};
TEST_F(LabelledAddress, BelongsToItsInterface) {
  EXPECT_THAT(Listed(), ElementsAre(Seen{"n0", "10.0.2.15", "255.255.254.0"}));
  EXPECT_EQ(GetLocalIPAddress(), 167772687);
}

}  // namespace
}  // namespace zn7qx
