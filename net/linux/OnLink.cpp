#include "net/linux/OnLink.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>

#include <algorithm>
#include <fstream>
#include <map>

namespace zn7qx::linuxnet {

namespace {

std::optional<std::int64_t> ReadNumber(const std::string& path) {
  std::ifstream in(path);
  std::int64_t value = 0;
  if (in >> value) return value;
  return std::nullopt;
}

}  // namespace

std::vector<OnLinkSubnet> OnLinkSubnets() {
  std::vector<OnLinkSubnet> subnets;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return subnets;
  std::map<std::string, Mac> macs;
  for (const ifaddrs* i = all; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
    if (link->sll_hatype != ARPHRD_ETHER || link->sll_halen != 6) continue;
    Mac mac;
    std::copy_n(link->sll_addr, 6, mac.begin());
    macs[i->ifa_name] = mac;
  }
  for (const ifaddrs* i = all; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if ((i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & (IFF_LOOPBACK | IFF_NOARP | IFF_POINTOPOINT)) != 0) continue;
    const auto mac = macs.find(i->ifa_name);
    if (mac == macs.end()) continue;
    const std::uint32_t address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    const std::uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
    const std::uint32_t host = ntohl(address);
    if (mask >= 0xFFFFFFFEu) continue;
    const std::int64_t network = host & mask, broadcast = (host & mask) | ~mask;
    subnets.push_back(OnLinkSubnet{network, broadcast - 1, i->ifa_name,
                                   static_cast<int>(if_nametoindex(i->ifa_name)), LinkSelf{mac->second, address}});
  }
  freeifaddrs(all);
  return subnets;
}

NeighbourCapacity ReadNeighbourCapacity(const std::string& interface) {
  NeighbourCapacity c;
  const std::string base = "/proc/sys/net/ipv4/neigh/";
  const std::string own = base + (interface.empty() ? "default" : interface) + "/";
  if (const auto v = ReadNumber(base + "default/gc_thresh3"); v && *v > 0) c.hardLimit = *v;
  const auto tries = ReadNumber(own + "mcast_solicit");
  const auto interval = ReadNumber(own + "retrans_time_ms");
  if (tries && interval && *tries > 0 && *interval > 0)
    c.unresolvedHold = std::chrono::milliseconds(*tries * *interval);
  if (const auto reachable = ReadNumber(own + "base_reachable_time_ms"); reachable && *reachable > 0)
    c.failedLinger = std::chrono::milliseconds(*reachable / 2);
  return c;
}

std::optional<std::int64_t> NeighbourEntries() {
  // The table's counters: a heading line, then one line of hexadecimal
  // numbers, entries first, for the whole table.
  std::ifstream in("/proc/net/stat/arp_cache");
  std::string line, entries;
  if (std::getline(in, line) && in >> entries) {
    try {
      return static_cast<std::int64_t>(std::stoll(entries, nullptr, 16));
    } catch (const std::exception&) {
    }
  }
  // This namespace's entries, a line each under a heading.
  std::ifstream arp("/proc/net/arp");
  if (!std::getline(arp, line)) return std::nullopt;
  std::int64_t count = 0;
  while (std::getline(arp, line)) ++count;
  return count;
}

}  // namespace zn7qx::linuxnet
