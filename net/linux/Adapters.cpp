#include "net/linux/Adapters.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "net/mdlConvertIPForms.h"

namespace zn7qx::linuxnet {

AddressText::AddressText(std::string_view text) {
  const std::size_t n = std::min(text.size(), String.size() - 1);
  std::memcpy(String.data(), text.data(), n);
}

std::string_view AddressText::Text() const {
  const auto end = std::find(String.begin(), String.end(), '\0');
  return std::string_view(String.data(), static_cast<std::size_t>(end - String.begin()));
}

namespace {

struct Link {
  int index = 0;
  AdapterRecord record;
  bool connected = false;
  bool hasAddress = false;
};

struct IfaddrsFree {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

std::string DottedOf(const sockaddr* address) {
  if (address == nullptr || address->sa_family != AF_INET) return "0.0.0.0";
  sockaddr_in in{};
  std::memcpy(&in, address, sizeof in);
  return NetworkToDotted(static_cast<NetworkAddress>(in.sin_addr.s_addr));
}

// An IPv4 entry carries its address label as its name; a label other than
// the interface's own name ("eth1:2") begins with that name and a colon.
Link* LinkOfLabel(std::vector<Link>& links, std::string_view label) {
  for (auto& link : links)
    if (link.record.Name == label) return &link;
  const auto colon = label.find(':');
  if (colon == std::string_view::npos) return nullptr;
  for (auto& link : links)
    if (link.record.Name == label.substr(0, colon)) return &link;
  return nullptr;
}

}  // namespace

AdapterListing ListAdapters() {
  AdapterListing listing;
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) {
    // A failure without an errno would otherwise pass for success.
    listing.status = errno != 0 ? errno : EIO;
    return listing;
  }
  const std::unique_ptr<ifaddrs, IfaddrsFree> owned(raw);

  // One AF_PACKET entry per link, whatever its addresses.
  std::vector<Link> links;
  for (const ifaddrs* entry = raw; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    sockaddr_ll ll{};
    std::memcpy(&ll, entry->ifa_addr, sizeof ll);
    Link link;
    link.index = ll.sll_ifindex;
    link.record.Name = entry->ifa_name != nullptr ? entry->ifa_name : "";
    // Up and running: a link without carrier (cable out, a bridge with
    // nothing attached) is not running, while one whose state the kernel
    // does not know (tunnels, point-to-point) is.
    link.connected = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
    links.push_back(std::move(link));
  }
  std::stable_sort(links.begin(), links.end(),
                   [](const Link& a, const Link& b) { return a.index < b.index; });

  // The first IPv4 address of each link; an interface that is down or has no
  // carrier keeps 0.0.0.0 even when an address is configured on it, as a
  // disconnected adapter has no address.
  for (const ifaddrs* entry = raw; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (entry->ifa_name == nullptr) continue;
    Link* link = LinkOfLabel(links, entry->ifa_name);
    if (link == nullptr || link->hasAddress) continue;
    link->hasAddress = true;
    if (!link->connected) continue;
    link->record.IpAddress = AddressText(DottedOf(entry->ifa_addr));
    link->record.IpMask = AddressText(DottedOf(entry->ifa_netmask));
  }

  listing.adapters.reserve(links.size());
  for (auto& link : links) listing.adapters.push_back(std::move(link.record));
  return listing;
}

}  // namespace zn7qx::linuxnet
