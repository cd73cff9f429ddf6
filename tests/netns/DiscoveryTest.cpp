// Interface discovery against real interface layouts, each built by
// with-layout.sh in a network namespace of its own. Nothing is sent.

#include <gtest/gtest.h>

#include <cstdlib>

#include "net/linux/Adapters.h"
#include "net/mdlGetIPInfo.h"
#include "tests/support/Addresses.h"

namespace zn7qx::test {
namespace {

struct Layout {
  const char* name;
  std::vector<std::string> listed;  // "name address/mask", in the kernel's order
  const char* mask;
  const char* address;
  const char* message;  // once per call, "" for none
};

const Layout kLayouts[] = {
    {"OnlyLoopback", {}, "0.0.0.0", "0.0.0.0", "GetAdaptersInfo sizing failed with error 232"},
    {"OneInterface", {"n0 10.0.2.15/255.255.254.0"}, "255.255.254.0", "10.0.2.15", ""},
    {"FirstWithoutAddress", {"n9 0.0.0.0/0.0.0.0", "n1 10.0.2.15/255.255.254.0"}, "255.255.254.0", "10.0.2.15", ""},
    // Created first, so listed first, although its name sorts last.
    {"IndexOrder", {"n9 198.18.9.1/255.255.255.0", "n1 10.0.2.15/255.255.254.0"}, "255.255.255.0", "198.18.9.1", ""},
    {"DownInterface", {"n0 0.0.0.0/0.0.0.0", "n1 198.18.4.20/255.255.252.0"}, "255.255.252.0", "198.18.4.20", ""},
    {"OnlyDown", {"n0 0.0.0.0/0.0.0.0"}, "0.0.0.0", "0.0.0.0", ""},
    // Without carrier an interface counts as one without an address.
    {"NoCarrier", {"n0 0.0.0.0/0.0.0.0"}, "0.0.0.0", "0.0.0.0", ""},
    {"NoCarrierFirst", {"n0 0.0.0.0/0.0.0.0", "n1 198.18.4.20/255.255.252.0"}, "255.255.252.0", "198.18.4.20", ""},
    {"EmptyBridge", {"br0 0.0.0.0/0.0.0.0", "n1 198.18.4.20/255.255.252.0"}, "255.255.252.0", "198.18.4.20", ""},
    {"UnknownState", {"br0 198.18.7.1/255.255.255.0"}, "255.255.255.0", "198.18.7.1", ""},
    {"HostRoutes", {"n0 198.18.3.4/255.255.255.255", "n1 198.18.5.6/255.255.255.254"}, "255.255.255.255", "198.18.3.4", ""},
    {"ManyAddresses", {"n0 198.18.8.9/255.255.252.0"}, "255.255.252.0", "198.18.8.9", ""},
    {"LabelledAddress", {"n0 10.0.2.15/255.255.254.0"}, "255.255.254.0", "10.0.2.15", ""},
};

TEST(Discovery, TheLayoutGivesItsListingAndDefaultRange) {
  const char* name = std::getenv("ZN7QX_DISCOVERY_LAYOUT");
  // In any other namespace the machine's own interfaces would be read.
  ASSERT_NE(name, nullptr) << "run through with-layout.sh LAYOUT -- ...";
  const Layout* layout = nullptr;
  for (const Layout& l : kLayouts) layout = std::string(l.name) == name ? &l : layout;
  ASSERT_NE(layout, nullptr) << name;

  const linuxnet::AdapterListing listing = linuxnet::ListAdapters();
  EXPECT_EQ(listing.status, 0);
  std::vector<std::string> listed;
  for (const auto& a : listing.adapters)
    listed.push_back(a.Name + " " + std::string(a.IpAddress.Text()) + "/" + std::string(a.IpMask.Text()));
  EXPECT_EQ(listed, layout->listed);

  std::vector<std::string> messages;
  SetIPInfoMessageSink([&](const std::string& text) { messages.push_back(text); });
  EXPECT_EQ(Dotted(GetLocalSubnetMask()), layout->mask);
  EXPECT_EQ(Dotted(GetLocalIPAddress()), layout->address);
  SetIPInfoMessageSink({});
  EXPECT_EQ(messages, std::vector<std::string>(*layout->message ? 2 : 0, layout->message));
}

}  // namespace
}  // namespace zn7qx::test
