// Which adapter the default range comes from, and what the user is told when
// the adapters cannot be listed, for lists no real layout gives (those are
// in tests/netns/DiscoveryTest.cpp).

#include <gtest/gtest.h>


#include "net/linux/AdaptersSource.h"
#include "net/mdlGetIPInfo.h"
#include "tests/support/Addresses.h"

namespace zn7qx::test {
namespace {

using linuxnet::AdapterListing;
using linuxnet::AdapterRecord;

struct SelectionRow {
  const char* name;
  int status;  // of the listing
  std::vector<std::pair<std::string, std::string>> adapters;  // address and mask texts
  const char* mask;
  const char* address;
  const char* message;  // shown once per call, "" for none
};

const std::string k10 = "10.0.2.15", k23 = "255.255.254.0", kNoAddress = "0.0.0.0";

std::vector<std::pair<std::string, std::string>> TenOnlyTheLastAddressed() {
  std::vector<std::pair<std::string, std::string>> adapters(9, {kNoAddress, kNoAddress});
  adapters.emplace_back("198.18.40.9", "255.255.248.0");
  return adapters;
}

const SelectionRow kSelectionRows[] = {
    {"the first with an address wins", 0, {{"172.16.5.4", "255.255.255.255"}, {k10, k23}}, "255.255.255.255",
     "172.16.5.4", ""},
    {"ten, only the last addressed", 0, TenOnlyTheLastAddressed(), "255.255.248.0", "198.18.40.9", ""},
    // The parser's failure value is nonzero: such an adapter is taken.
    {"unparsable address", 0, {{"not an address", "255.255.0.0"}, {k10, k23}}, "255.255.0.0", "255.255.255.255", ""},
    {"empty address", 0, {{"", "255.255.255.0"}, {k10, k23}}, "255.255.255.0", "255.255.255.255", ""},
    {"unparsable mask", 0, {{"198.18.0.7", "garbage"}}, "255.255.255.255", "198.18.0.7", ""},
    {"text ends at its NUL", 0, {{std::string("10.0.2.15\0" "99", 12), std::string("255.255.254.0\0x", 15)}},
     "255.255.254.0", "10.0.2.15", ""},
    {"listing failed", 24, {{k10, k23}}, "0.0.0.0", "0.0.0.0", "GetAdaptersInfo failed with error 24"},
    {"list changed while read", 111, {}, "0.0.0.0", "0.0.0.0", "GetAdaptersInfo failed with error 111"},
};

class IPInfo : public ::testing::Test {
 protected:
  void SetUp() override { SetIPInfoMessageSink([this](const std::string& text) { messages.push_back(text); }); }
  void TearDown() override {
    linuxnet::SetAdapterSource({});
    SetIPInfoMessageSink({});
  }
  std::vector<std::string> messages;
};

TEST_F(IPInfo, SelectsTheFirstAdapterWithAnAddressAndFetchesAfreshEachCall) {
  for (const SelectionRow& row : kSelectionRows) {
    SCOPED_TRACE(row.name);
    AdapterListing listing{row.status, {}};
    for (const auto& [address, mask] : row.adapters) {
      AdapterRecord& record = listing.adapters.emplace_back();
      record.IpAddress = address;
      record.IpMask = mask;
    }
    int fetches = 0;
    linuxnet::SetAdapterSource([&] { ++fetches; return listing; });
    messages.clear();
    EXPECT_EQ(Dotted(GetLocalSubnetMask()), row.mask);
    EXPECT_EQ(Dotted(GetLocalIPAddress()), row.address);
    EXPECT_EQ(fetches, 2);
    const std::vector<std::string> shown(*row.message ? 2 : 0, row.message);
    EXPECT_EQ(messages, shown);
  }
}

}  // namespace
}  // namespace zn7qx::test
