#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "net/linux/AdaptersSource.h"
#include "net/mdlGetIPInfo.h"

namespace zn7qx {
namespace {

using linuxnet::AdapterListing;
using linuxnet::AdapterRecord;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

AdapterRecord Adapter(const char* address, const char* mask) {
  AdapterRecord record;
  record.Name = "scripted";
  record.IpAddress = address;
  record.IpMask = mask;
  return record;
}

// Scripts the adapter list and collects the messages shown, for one test.
class IPInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    SetIPInfoMessageSink([this](const std::string& text) { messages.push_back(text); });
  }
  void TearDown() override {
    linuxnet::SetAdapterSource({});
    SetIPInfoMessageSink({});
  }

  void Script(AdapterListing listing) {
    linuxnet::SetAdapterSource([this, listing]() {
      ++fetches;
      return listing;
    });
  }
  void Script(std::initializer_list<AdapterRecord> adapters) {
    Script(AdapterListing{0, std::vector<AdapterRecord>(adapters)});
  }

  std::vector<std::string> messages;
  int fetches = 0;
};

TEST_F(IPInfo, OneAdapterGivesItsMaskAndAddress) {
  Script({Adapter("192.168.1.37", "255.255.255.0")});
  EXPECT_EQ(GetLocalSubnetMask(), 4294967040);
  EXPECT_EQ(GetLocalIPAddress(), 3232235813);
  EXPECT_THAT(messages, IsEmpty());
}

TEST_F(IPInfo, AdapterWithoutAddressIsPassedOver) {
  Script({Adapter("0.0.0.0", "0.0.0.0"), Adapter("10.0.2.15", "255.255.254.0")});
  EXPECT_EQ(GetLocalSubnetMask(), 4294966784);
  EXPECT_EQ(GetLocalIPAddress(), 167772687);
  EXPECT_THAT(messages, IsEmpty());
}

TEST_F(IPInfo, FirstAddressedAdapterWinsOverLaterOnes) {
  Script({Adapter("172.16.5.4", "255.255.255.255"), Adapter("10.0.2.15", "255.255.254.0")});
  EXPECT_EQ(GetLocalSubnetMask(), 4294967295);
  EXPECT_EQ(GetLocalIPAddress(), 2886731012);
}

TEST_F(IPInfo, NoAdapterWithAnAddressGivesZeroSilently) {
  Script({Adapter("0.0.0.0", "0.0.0.0"), Adapter("0.0.0.0", "255.255.255.0"),
          Adapter("0.0.0.0", "0.0.0.0")});
  EXPECT_EQ(GetLocalSubnetMask(), 0);
  EXPECT_EQ(GetLocalIPAddress(), 0);
  EXPECT_THAT(messages, IsEmpty());
}

TEST_F(IPInfo, NoAdaptersAtAllShowsTheSizingMessageEachCall) {
  Script({});
  EXPECT_EQ(GetLocalSubnetMask(), 0);
  EXPECT_EQ(GetLocalIPAddress(), 0);
  EXPECT_THAT(messages, ElementsAre("GetAdaptersInfo sizing failed with error 232",
                                    "GetAdaptersInfo sizing failed with error 232"));
}

TEST_F(IPInfo, FailedListingShowsItsErrorNumber) {
  // The address list is ignored once the listing has failed.
  Script(AdapterListing{24, {Adapter("10.0.2.15", "255.255.254.0")}});
  EXPECT_EQ(GetLocalSubnetMask(), 0);
  EXPECT_EQ(GetLocalIPAddress(), 0);
  EXPECT_THAT(messages, ElementsAre("GetAdaptersInfo failed with error 24",
                                    "GetAdaptersInfo failed with error 24"));
}

TEST_F(IPInfo, ListThatChangedWhileReadShowsTheListingMessageWith111) {
  Script(AdapterListing{111, {}});
  EXPECT_EQ(GetLocalIPAddress(), 0);
  EXPECT_THAT(messages, ElementsAre("GetAdaptersInfo failed with error 111"));
}

TEST_F(IPInfo, TenAdaptersOnlyTheLastAddressed) {
  AdapterListing listing;
  for (int i = 0; i < 9; ++i) listing.adapters.push_back(Adapter("0.0.0.0", "0.0.0.0"));
  listing.adapters.push_back(Adapter("198.18.40.9", "255.255.248.0"));
  Script(listing);
  EXPECT_EQ(GetLocalSubnetMask(), 4294965248);
  EXPECT_EQ(GetLocalIPAddress(), 3323078665);
  EXPECT_THAT(messages, IsEmpty());
}

TEST_F(IPInfo, UnparsableAddressIsSelectedAndConvertsFromAllOnes) {
  Script({Adapter("0.0.0.0", "0.0.0.0"), Adapter("not an address", "255.255.0.0"),
          Adapter("10.0.2.15", "255.255.254.0")});
  EXPECT_EQ(GetLocalSubnetMask(), 4294901760);
  EXPECT_EQ(GetLocalIPAddress(), 4294967295);
  EXPECT_THAT(messages, IsEmpty());
}

TEST_F(IPInfo, UnparsableMaskOfTheSelectedAdapterConvertsFromAllOnes) {
  Script({Adapter("198.18.0.7", "garbage")});
  EXPECT_EQ(GetLocalSubnetMask(), 4294967295);
  EXPECT_EQ(GetLocalIPAddress(), 3323068423);
}

TEST_F(IPInfo, EmptyAddressTextIsSelected) {
  // inet_addr refuses the empty text, so it parses to all ones like any other bad text.
  Script({Adapter("", "255.255.255.0"), Adapter("10.0.2.15", "255.255.254.0")});
  EXPECT_EQ(GetLocalSubnetMask(), 4294967040);
  EXPECT_EQ(GetLocalIPAddress(), 4294967295);
}

TEST_F(IPInfo, FieldTextEndsAtItsFirstNul) {
  AdapterRecord record;
  record.IpAddress = std::string("10.0.2.15\0" "99", 12);
  record.IpMask = std::string("255.255.254.0\0" "x", 15);
  Script({record});
  EXPECT_EQ(GetLocalSubnetMask(), 4294966784);
  EXPECT_EQ(GetLocalIPAddress(), 167772687);
}

TEST_F(IPInfo, EachCallFetchesTheListAfresh) {
  Script({Adapter("192.168.1.37", "255.255.255.0")});
  GetLocalSubnetMask();
  GetLocalIPAddress();
  EXPECT_EQ(fetches, 2);
  // A list that changes between the calls is seen by the later call.
  Script({Adapter("10.0.2.15", "255.255.254.0")});
  EXPECT_EQ(GetLocalIPAddress(), 167772687);
}

TEST(IPInfoSink, WithoutSinkMessagesGoToStandardError) {
  linuxnet::SetAdapterSource([] { return AdapterListing{}; });
  SetIPInfoMessageSink({});
  ::testing::internal::CaptureStderr();
  const NumericAddress mask = GetLocalSubnetMask();
  const std::string written = ::testing::internal::GetCapturedStderr();
  linuxnet::SetAdapterSource({});
  EXPECT_EQ(mask, 0);
  EXPECT_EQ(written, "GetAdaptersInfo sizing failed with error 232\n");
}

}  // namespace
}  // namespace zn7qx
