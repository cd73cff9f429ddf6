// The command-line sweep's own code, run again and again in one process in
// the simulated network, each sweep on a fresh socket as the program opens
// one: no descriptor, memory or socket may stay behind. Run by the harness
// (see CMakeLists.txt); skipped outside it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "net/ICMPPing.h"
#include "net/linux/EchoSocket.h"
#include "net/mdlConvertIPForms.h"
#include "tests/support/Isolation.h"
#include "tests/support/ProcessFigures.h"
#include "tools/zn7qx-scan/ScanRange.h"
#include "tools/zn7qx-scan/SocketTransport.h"
#include "tools/zn7qx-scan/Sweep.h"

namespace {

using namespace zn7qx;
using namespace zn7qx::scan;
using testsupport::LiveHeapBytes;
using testsupport::OpenDescriptors;
using testsupport::VmRssKiB;

// One line per answering address, so that a failure shows what differed.
std::vector<std::string> Lines(const SweepResult& result) {
  std::vector<std::string> lines;
  for (const AddressResult& r : result.answered) {
    const char* kind = r.outcome == Outcome::Unit ? "unit" : r.outcome == Outcome::Host ? "host" : "error";
    lines.push_back(NetworkToDotted(NumericToNetwork(r.address)) + " " + kind + " " + std::to_string(r.status) +
                    " " + r.unitText);
  }
  return lines;
}

SweepResult SweepOnce(const std::vector<AddressRange>& ranges) {
  linuxnet::EchoSocket socket = linuxnet::EchoSocket::Open();
  if (!socket) {
    ADD_FAILURE() << "no echo socket could be opened";
    return {};
  }
  EnlargeSocketBuffers(socket.fd());
  SocketTransport transport(std::move(socket));
  SweepOptions options;  // the program's defaults: 20000/s after a burst, 300 ms, no retries
  return RunSweep(ranges, transport, options);
}

TEST(SweepLongRun, ManySweepsInARowLeaveNoDescriptorsOrMemoryBehind) {
  ZN7QX_SKIP_UNLESS_IN_TEST_NETNS();
  ZN7QX_ASSERT_ISOLATED();
  const char* sweepsText = std::getenv("ZN7QX_LONG_RUN_SWEEPS");
  const int sweeps = sweepsText ? std::atoi(sweepsText) : 50;

  const RangeParse parsed = ParseRanges({"198.18.0.2-198.18.0.254"});
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  const std::vector<AddressRange> ranges = MergeRanges(parsed.ranges);
  const std::vector<std::string> expected{
      "198.18.0.10 unit 0 Unit-1",  "198.18.0.11 unit 0 Unit-2",  "198.18.0.12 host 0 ",
      "198.18.0.13 host 0 ",        "198.18.0.14 host 0 ",        "198.18.0.15 host 0 ",
      "198.18.0.16 error " + std::to_string(IP_DEST_HOST_UNREACHABLE) + " "};

  // Warm-up: the first sweeps fill caches that stay (allocator arenas).
  for (int i = 0; i < 2; ++i) ASSERT_EQ(Lines(SweepOnce(ranges)), expected);
  const int fdsBefore = OpenDescriptors();
  const long rssBefore = VmRssKiB();
  const std::size_t heapBefore = LiveHeapBytes();

  std::int64_t sent = 0;
  for (int i = 0; i < sweeps; ++i) {
    const SweepResult result = SweepOnce(ranges);
    ASSERT_EQ(Lines(result), expected) << "sweep " << i;
    ASSERT_EQ(result.counts.sent, 253) << "sweep " << i;
    sent += result.counts.sent;
  }
  const int fdsAfter = OpenDescriptors();
  const long rssAfter = VmRssKiB();
  const std::size_t heapAfter = LiveHeapBytes();

  std::cout << sweeps << " sweeps of 253 addresses (" << sent << " requests): descriptors " << fdsBefore << " -> "
            << fdsAfter << ", VmRSS " << rssBefore << " -> " << rssAfter << " KiB, live heap " << heapBefore
            << " -> " << heapAfter << " bytes\n";
  RecordProperty("fds_before", fdsBefore);
  RecordProperty("fds_after", fdsAfter);
  RecordProperty("rss_kib_before", static_cast<int>(rssBefore));
  RecordProperty("rss_kib_after", static_cast<int>(rssAfter));
  EXPECT_EQ(fdsAfter, fdsBefore);
  // 12650 requests: anything kept per request, or a sweep's tables kept
  // once, would pass this bound.
  EXPECT_LE(static_cast<long long>(heapAfter) - static_cast<long long>(heapBefore), 1024);
  // The resident set also holds the allocator's pages; a leak per probe
  // would still show at this bound.
  if (zn7qx::testsupport::kResidentSetTracksHeap) {
    EXPECT_LE(rssAfter - rssBefore, 2048);
  }
}

}  // namespace
