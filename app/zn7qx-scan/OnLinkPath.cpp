#include "app/zn7qx-scan/OnLinkPath.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace zn7qx::cli {

using namespace zn7qx::scan;

OnLinkPath PrepareOnLinkPath(const Plan& plan, std::uint16_t identifier) {
  OnLinkPath path;
  for (linuxnet::OnLinkSubnet& subnet : linuxnet::OnLinkSubnets()) {
    std::int64_t here = 0;
    for (const AddressRange& r : plan.merged) {
      const std::int64_t first = std::max<std::int64_t>(r.first, subnet.first);
      const std::int64_t last = std::min<std::int64_t>(r.last, subnet.last);
      if (first > last) continue;
      path.onLink.push_back({first, last});
      here += last - first + 1;
    }
    if (here == 0) continue;
    path.count += here;
    if (path.interface.empty()) path.interface = subnet.interface;
    if (!path.refused.empty()) continue;
    errno = 0;
    linuxnet::PacketSocket socket = linuxnet::PacketSocket::Open(subnet.ifindex, subnet.self, identifier);
    if (!socket) {
      path.refused = std::strerror(errno);
      continue;
    }
    EnlargeSocketBuffers(socket.fd());
    path.links.push_back({std::move(subnet), std::move(socket)});
  }
  if (!path.refused.empty()) path.links.clear();  // all the link resolved one way
  path.onLink = MergeRanges(std::move(path.onLink));
  return path;
}

void UseKernelResolution(const OnLinkPath& path, SweepOptions& sweep, const Voice& voice) {
  if (path.count == 0) return;
  const linuxnet::NeighbourCapacity capacity = linuxnet::ReadNeighbourCapacity(path.interface);
  sweep.onLink = path.onLink;
  // A quarter: the table stays well under half full with room for every
  // other program on the machine, whose entries it holds too.
  sweep.neighbourBudget = std::max<std::int64_t>(capacity.hardLimit / 4, 1);
  // Its entries outlive the time-out: the kernel keeps asking for a while.
  sweep.neighbourHold = std::max<std::chrono::microseconds>(capacity.unresolvedHold, sweep.timeout);
  // Failed entries stay until the kernel's clean-up: the whole table (as
  // far as it can be seen) is kept under three eighths, below the half at
  // which the kernel starts clearing by force.
  sweep.neighbourEntries = linuxnet::NeighbourEntries;
  sweep.neighbourCeiling = std::max<std::int64_t>(capacity.hardLimit * 3 / 8, 1);
  const auto inSeconds = [](auto d) { return std::chrono::duration<double>(d).count(); };
  const double perSecond =
      std::min(static_cast<double>(sweep.neighbourBudget) / inSeconds(sweep.neighbourHold),
               static_cast<double>(sweep.neighbourCeiling) / inSeconds(capacity.unresolvedHold + capacity.failedLinger));
  // The budget's first go out at once; the rest wait for room.
  const double seconds = static_cast<double>(std::max<std::int64_t>(path.count - sweep.neighbourCeiling, 0)) / perSecond +
                         static_cast<double>(path.count) / sweep.rate;
  // Said even with --quiet (a watch's journal): it is why the run is slow.
  if (seconds < 2 * static_cast<double>(path.count) / sweep.rate + 1) return;
  char text[480];
  std::snprintf(text, sizeof text,
                "%lld on-link addresses, each resolved by the kernel (ARP) before its request: to leave its "
                "neighbour table room for other programs, at most %lld of them at once, about %.0f a second, "
                "so this takes about %.0f s. Given CAP_NET_RAW (sudo setcap cap_net_raw+ep on the program) "
                "the sweep resolves the link itself at --rate%s%s",
                static_cast<long long>(path.count), static_cast<long long>(sweep.neighbourBudget), perSecond,
                std::ceil(seconds), path.refused.empty() ? "" : "; here: ",
                path.refused.c_str());
  voice.Say(text, 4);  // a warning: slow, not failed
}

}  // namespace zn7qx::cli
