// Many sweeps in one process, each on a fresh socket as the program opens
// one, in the simulated network of longrun-network.json: every sweep must
// list the same units, and no descriptor or memory may stay behind. Prints
// the descriptors, resident set and live heap before and after.
// Run it through longrun.sh, which builds the isolated network around it.

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "net/linux/EchoSocket.h"
#include "scan/Metrics.h"
#include "scan/ScanRange.h"
#include "scan/SocketTransport.h"
#include "scan/Sweep.h"
#include "scan/Watch.h"
#include "tools/bench-common/ProcessFigures.h"
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

// A standing watch with its metrics, sweeps back to back (each with a short
// time-out, so that many fit in minutes; RANGE holds no silent address, whose
// requests would wait for address resolution for seconds): the descriptors,
// resident set and live heap, and the metrics file's size and series, every
// 1000 sweeps.
int Watch(const std::vector<AddressRange>& ranges, std::int64_t sweeps, const std::string& metricsPath) {
  linuxnet::EchoSocket socket = linuxnet::EchoSocket::Open();
  if (!socket) return std::fprintf(stderr, "no echo socket\n"), 1;
  EnlargeSocketBuffers(socket.fd());
  SocketTransport transport(std::move(socket));
  SweepOptions sweep;
  sweep.timeout = std::chrono::milliseconds(20);
  WatchOptions watch;
  watch.interval = std::chrono::microseconds(1);
  watch.sweeps = sweeps;
  // Silent units leave the file after a minute here, not an hour, so that
  // the run shows the bound.
  WatchMetrics metrics("", std::chrono::seconds(60));
  std::int64_t changes = 0;
  int fds = 0;
  long rss = 0;
  std::size_t heap = 0, largest = 0;
  bool failed = false;
  watch.afterSweep = [&](const SweepDone& done) {
    changes += static_cast<std::int64_t>(done.changes.size());
    metrics.Update(done, transport.Now(), 0);
    const std::string text = metrics.Text();
    largest = std::max(largest, text.size());
    if (const std::string problem = ReplaceFile(metricsPath, text); !problem.empty())
      return std::fprintf(stderr, "%s\n", problem.c_str()), failed = true, false;
    if (done.number == 10) fds = bench::OpenDescriptors(), rss = bench::VmRssKiB(), heap = bench::LiveHeapBytes();
    if (done.number % 1000 == 0 || done.number == 10) {
      std::size_t series = 0;
      for (std::size_t at = 0; (at = text.find("\nzn7qx_unit_up{", at)) != std::string::npos; ++at) ++series;
      std::printf("%6lld sweeps: descriptors %d, VmRSS %ld KiB, live heap %zu bytes, %lld changes, %zu units, "
                  "metrics %zu bytes (%zu unit series, largest file %zu bytes)\n",
                  static_cast<long long>(done.number), bench::OpenDescriptors(), bench::VmRssKiB(),
                  bench::LiveHeapBytes(), static_cast<long long>(changes), done.state.Count(), text.size(), series,
                  largest);
      std::fflush(stdout);
    }
    return true;
  };
  RunWatch(ranges, transport, sweep, watch);
  std::printf("after sweep 10 -> %lld: descriptors %d -> %d, VmRSS %ld -> %ld KiB, live heap %zu -> %zu bytes\n",
              static_cast<long long>(sweeps), fds, bench::OpenDescriptors(), rss, bench::VmRssKiB(), heap,
              bench::LiveHeapBytes());
  return failed || bench::OpenDescriptors() != fds ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  // zn7qx-scan-longrun --watch SWEEPS RANGE METRICS_FILE
  if (argc == 5 && std::string(argv[1]) == "--watch") {
    sim::ExitUnlessIsolated("zn7qx-scan-longrun");
    const RangeParse parsed = ParseRanges({argv[3]});
    const long long sweeps = std::atoll(argv[2]);
    if (!parsed.error.empty() || sweeps < 10) return std::fprintf(stderr, "bad range or sweeps\n"), 2;
    return Watch(MergeRanges(parsed.ranges), sweeps, argv[4]);
  }
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
