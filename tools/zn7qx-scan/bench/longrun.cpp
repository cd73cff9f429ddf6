// Many sweeps in one process, each on a fresh socket as the program opens
// one, in the simulated network of longrun-network.json: every sweep must
// list the same units, and no descriptor or memory may stay behind. Prints
// the descriptors, resident set and live heap before and after.
// Run it through longrun.sh, which builds the isolated network around it.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/linux/EchoSocket.h"
#include "tools/bench-common/ProcessFigures.h"
#include "tools/zn7qx-scan/ScanRange.h"
#include "tools/zn7qx-scan/SocketTransport.h"
#include "tools/zn7qx-scan/Sweep.h"
#include "tools/zn7qx-sim/NamespaceCheck.h"

namespace {

using namespace zn7qx;
using namespace zn7qx::scan;

// Units, hosts and errors of one sweep.
std::string Tally(const std::vector<AddressRange>& ranges, std::int64_t& sent) {
  linuxnet::EchoSocket socket = linuxnet::EchoSocket::Open();
  if (!socket) return "no echo socket";
  EnlargeSocketBuffers(socket.fd());
  SocketTransport transport(std::move(socket));
  const SweepResult r = RunSweep(ranges, transport, SweepOptions{});
  sent += r.counts.sent;
  return std::to_string(r.counts.units) + " units, " + std::to_string(r.counts.hosts) + " hosts, " +
         std::to_string(r.counts.errors) + " errors";
}

}  // namespace

int main(int argc, char** argv) {
  const int sweeps = argc > 1 ? std::atoi(argv[1]) : 50;
  const char* range = argc > 2 ? argv[2] : "198.18.0.2-198.18.0.254";
  if (sweeps < 1 || sweeps > 100000) {
    std::fprintf(stderr, "usage: zn7qx-scan-longrun [SWEEPS (1-100000, default 50)] [RANGE]\n");
    return 2;
  }
  sim::ExitUnlessIsolated("zn7qx-scan-longrun");
  const RangeParse parsed = ParseRanges({range});
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "zn7qx-scan-longrun: %s\n", parsed.error.c_str());
    return 2;
  }
  const std::vector<AddressRange> ranges = MergeRanges(parsed.ranges);
  std::int64_t sent = 0;
  // Two sweeps first fill the caches that stay (allocator arenas).
  const std::string first = Tally(ranges, sent);
  (void)Tally(ranges, sent);
  sent = 0;
  const int fds = bench::OpenDescriptors();
  const long rss = bench::VmRssKiB();
  const std::size_t heap = bench::LiveHeapBytes();
  int differing = 0;
  for (int i = 0; i < sweeps; ++i) differing += Tally(ranges, sent) == first ? 0 : 1;
  std::printf("%d sweeps of %s (%lld requests), each %s: descriptors %d -> %d, VmRSS %ld -> %ld KiB, "
              "live heap %zu -> %zu bytes, %d sweeps differed\n",
              sweeps, range, static_cast<long long>(sent), first.c_str(), fds, bench::OpenDescriptors(), rss,
              bench::VmRssKiB(), heap, bench::LiveHeapBytes(), differing);
  return differing == 0 && bench::OpenDescriptors() == fds ? 0 : 1;
}
