#pragma once
// The subnets this machine reaches straight on a link that resolves
// addresses (ARP), and what the kernel's neighbour table, which holds one
// entry per address being resolved for the whole machine, can take.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/linux/LinkFrames.h"

namespace zn7qx::linuxnet {

// One subnet of an interface that is up and uses ARP (Ethernet). Addresses
// as numbers (first octet most significant): the addresses the kernel
// resolves on the link, the network address to the last host address (the
// broadcast address is never resolved).
struct OnLinkSubnet {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::string interface;
  int ifindex = 0;
  LinkSelf self;  // our hardware and IPv4 address there
};

// Every such subnet, in interface order; /31 and /32 are left out.
std::vector<OnLinkSubnet> OnLinkSubnets();

struct NeighbourCapacity {
  std::int64_t hardLimit = 1024;  // gc_thresh3: the table takes no more
  // How long a request to an address that never answers keeps its entry
  // unresolved: the kernel's tries (mcast_solicit) times their interval.
  std::chrono::milliseconds unresolvedHold{3000};
  // How long a failed entry may stay after that, until the kernel's
  // periodic clean-up (half of base_reachable_time) takes it away.
  std::chrono::milliseconds failedLinger{15000};
};

// As the kernel is set for this interface ("" for its defaults); the
// kernel's defaults where a setting cannot be read.
NeighbourCapacity ReadNeighbourCapacity(const std::string& interface);

// The entries the table holds now: machine-wide where the kernel tells
// (the first network namespace), else this namespace's own; nothing when
// neither can be read.
std::optional<std::int64_t> NeighbourEntries();

}  // namespace zn7qx::linuxnet
