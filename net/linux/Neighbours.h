#pragma once
// The hardware (link-layer) address of a host that has just answered, as
// the kernel's neighbour table holds it, read over rtnetlink.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct mnl_socket;
struct nlmsghdr;

namespace zn7qx::linuxnet {

// One entry of the table for an address, as the kernel lists it.
struct NeighbourEntry {
  int ifindex = 0;
  std::uint16_t state = 0;  // NUD_*
  std::vector<std::uint8_t> hardware;
};

// How the kernel sends to an address: straight onto a link (a unicast route
// without a gateway) through ifindex, or otherwise.
struct RouteToAddress {
  bool onLink = false;
  int ifindex = 0;
};

// The address to report, "aa:bb:cc:dd:ee:ff", or "" when there is none that
// can be trusted: only an entry on the route's own link, in a state that
// holds an address the kernel has confirmed or has just sent to.
std::string HardwareAddressOf(const std::vector<NeighbourEntry>& entries, const RouteToAddress& route);

class NeighbourTable {
 public:
  // Opens its rtnetlink socket; when that fails, every look-up fails.
  NeighbourTable();
  ~NeighbourTable();
  NeighbourTable(const NeighbourTable&) = delete;
  NeighbourTable& operator=(const NeighbourTable&) = delete;

  // The hardware address of each address (network order), "" for none;
  // nothing, with error() saying why, when the table cannot be read.
  std::optional<std::vector<std::string>> LookUp(std::span<const std::uint32_t> addresses);
  const std::string& error() const { return error_; }

 private:
  bool Request(void* buffer, std::size_t size, int (*take)(const ::nlmsghdr*, void*), void* into);

  mnl_socket* socket_ = nullptr;
  unsigned portId_ = 0;
  unsigned sequence_ = 0;
  std::string error_;
};

}  // namespace zn7qx::linuxnet
