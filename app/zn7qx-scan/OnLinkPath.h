#pragma once
// How the sweep reaches the addresses on the machine's own links: resolving
// them itself on packet sockets where it may open them (CAP_NET_RAW), else
// through the kernel, at the pace its neighbour table can take.

#include <cstdint>
#include <string>
#include <vector>

#include "app/zn7qx-scan/Console.h"
#include "app/zn7qx-scan/Plan.h"
#include "net/linux/OnLink.h"
#include "scan/LinkTransport.h"

namespace zn7qx::cli {

struct OnLinkPath {
  std::vector<scan::LinkTransport::Link> links;  // empty: the kernel resolves
  std::vector<scan::AddressRange> onLink;        // the ranges' on-link host addresses
  std::int64_t count = 0;
  std::string interface;  // the first such link's
  std::string refused;    // why no packet socket could be opened
};

// Finds the on-link part of the plan's ranges and opens a packet socket on
// each link it lies on; called while the process still holds its
// capabilities, before they are dropped.
OnLinkPath PrepareOnLinkPath(const Plan& plan, std::uint16_t identifier);

// The polite path: no more of the sweep's requests unresolved at once than
// a quarter of the neighbour table, and the cost said at the start.
void UseKernelResolution(const OnLinkPath& path, scan::SweepOptions& sweep, const Voice& voice);

}  // namespace zn7qx::cli
