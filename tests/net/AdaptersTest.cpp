#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "net/linux/Adapters.h"
#include "net/linux/AdaptersSource.h"
#include "net/mdlConvertIPForms.h"
#include "net/mdlGetIPInfo.h"

namespace zn7qx::linuxnet {
namespace {

TEST(AddressText, HoldsTextUpToTheFirstNul) {
  EXPECT_EQ(AddressText("10.0.2.15").Text(), "10.0.2.15");
  EXPECT_EQ(AddressText(std::string("1.2.3.4\0" "5", 9)).Text(), "1.2.3.4");
  EXPECT_EQ(AddressText().Text(), "");
}

TEST(AddressText, LongTextIsCutSoTheFieldStillEnds) {
  const AddressText field("255.255.255.255.255");
  EXPECT_EQ(field.Text(), "255.255.255.255");
  EXPECT_EQ(field.String.back(), '\0');
}

TEST(AdapterRecord, StartsAtZeroAddressAndMask) {
  const AdapterRecord record;
  EXPECT_EQ(record.IpAddress.Text(), "0.0.0.0");
  EXPECT_EQ(record.IpMask.Text(), "0.0.0.0");
}

// Reads this machine's own list: no packet is sent.
TEST(ListAdapters, LeavesOutLoopbackAndGivesDottedTexts) {
  const AdapterListing listing = ListAdapters();
  ASSERT_EQ(listing.status, 0);
  std::set<std::string> names;
  for (const AdapterRecord& adapter : listing.adapters) {
    EXPECT_NE(adapter.Name, "lo");
    EXPECT_TRUE(names.insert(adapter.Name).second) << adapter.Name << " listed twice";
    EXPECT_NE(DottedToNetwork(adapter.IpAddress.Text()), kParseFailure) << adapter.Name;
    if (DottedToNetwork(adapter.IpAddress.Text()) == 0) {
      EXPECT_EQ(adapter.IpMask.Text(), "0.0.0.0") << adapter.Name;
    }
  }
}

// Runs what with every descriptor the process may open in use, so that
// getifaddrs cannot open its netlink socket. Checks happen after the
// descriptors are back: the sanitizers' runtime needs some of its own.
template <typename What>
void WithoutDescriptors(What what) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> held;
  held.reserve(64);
  for (int fd = dup(STDERR_FILENO); fd >= 0; fd = dup(STDERR_FILENO)) held.push_back(fd);
  what();
  for (const int fd : held) close(fd);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
}

TEST(ListingFailure, GivesTheErrnoOfGetifaddrs) {
  AdapterListing listing{0, {AdapterRecord{}}};
  WithoutDescriptors([&] { listing = ListAdapters(); });
  EXPECT_EQ(listing.status, EMFILE);
  EXPECT_TRUE(listing.adapters.empty());
}

TEST(ListingFailure, DiscoveryShowsTheListingMessage) {
  std::vector<std::string> messages;
  messages.reserve(4);
  SetIPInfoMessageSink([&](const std::string& text) { messages.push_back(text); });
  NumericAddress address = -1;
  WithoutDescriptors([&] { address = GetLocalIPAddress(); });
  SetIPInfoMessageSink({});
  EXPECT_EQ(address, 0);
  EXPECT_THAT(messages,
              ::testing::ElementsAre("GetAdaptersInfo failed with error " + std::to_string(EMFILE)));
}

TEST(AdapterSource, EmptySourceRestoresTheRealListing) {
  SetAdapterSource([] { return AdapterListing{7, {}}; });
  EXPECT_EQ(FetchAdapters().status, 7);
  SetAdapterSource({});
  EXPECT_EQ(FetchAdapters().status, 0);
}

}  // namespace
}  // namespace zn7qx::linuxnet
