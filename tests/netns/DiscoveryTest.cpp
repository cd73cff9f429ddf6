// Interface discovery against the real layouts with-layout.sh builds, each in
// a namespace of its own with what it must find. Nothing is sent.

#include <gtest/gtest.h>

#include <cstdlib>

#include "net/linux/Adapters.h"
#include "net/mdlGetIPInfo.h"
#include "tests/support/Addresses.h"

namespace zn7qx::test {
namespace {

// What with-layout.sh's layout says discovery must find there.
TEST(Discovery, TheLayoutGivesItsListingAndDefaultRange) {
  const char* listedText = std::getenv("ZN7QX_EXPECT_LISTED");
  // In any other namespace the machine's own interfaces would be read.
  ASSERT_NE(listedText, nullptr) << "run through with-layout.sh LAYOUT -- ...";
  const linuxnet::AdapterListing listing = linuxnet::ListAdapters();
  EXPECT_EQ(listing.status, 0);
  std::string listed;
  for (const auto& a : listing.adapters)
    listed += a.Name + " " + std::string(a.IpAddress.Text()) + "/" + std::string(a.IpMask.Text()) + ";";
  EXPECT_EQ(listed, listedText);

  std::vector<std::string> messages;
  SetIPInfoMessageSink([&](const std::string& text) { messages.push_back(text); });
  const std::string range = Dotted(GetLocalSubnetMask()) + " " + Dotted(GetLocalIPAddress());
  SetIPInfoMessageSink({});
  EXPECT_EQ(range, std::getenv("ZN7QX_EXPECT_RANGE"));
  const std::string message = std::getenv("ZN7QX_EXPECT_MESSAGE");
  EXPECT_EQ(messages, std::vector<std::string>(message.empty() ? 0 : 2, message));
}

}  // namespace
}  // namespace zn7qx::test
