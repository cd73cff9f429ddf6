// One flood rate, measured: probes alternate between an answering unit and
// a silent address while the simulator floods the probe side with forged,
// stale, broken and foreign ICMP. Prints one line of figures: the packets
// per second that arrived, whether the unit was heard each time with its text,
// and the slowest probe against the 300 ms time-out. run.sh calls it once
// per rate inside the simulated network and prints the table.
//   bench-flood --unit A --text T --silent A [--rounds N] [--offered N]

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "net/ICMPPing.h"
#include "net/UnitReply.h"
#include "tools/zn7qx-sim/NamespaceCheck.h"

namespace {

using Clock = std::chrono::steady_clock;

// Ping's own bookkeeping around its deadline, and a busy two-core machine.
constexpr double kKeptSlackMs = 10;

// CPU of this process, user and system (the kernel's receive work for our
// socket is mostly counted here too).
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Probe {
  std::int32_t status;
  double ms;
  std::string data;
};

Probe Timed(const std::string& address) {
  zn7qx::ICMP_ECHO_REPLY reply{};
  const auto start = Clock::now();
  const std::int32_t status = zn7qx::Ping(address, reply);
  const double ms = Ms(Clock::now() - start);
  return {status, ms, std::string(reply.Data, std::min<std::size_t>(reply.DataSize, sizeof reply.Data))};
}

int Usage() {
  std::fprintf(stderr, "usage: bench-flood --unit ADDRESS --text TEXT --silent ADDRESS [--rounds N] [--offered N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string unit, silent, unitText;
  long rounds = 10, offered = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--unit") unit = argv[++i];
    else if (arg == "--silent") silent = argv[++i];
    else if (arg == "--text") unitText = argv[++i];
    else if (arg == "--rounds") rounds = std::strtol(argv[++i], nullptr, 10);
    else if (arg == "--offered") offered = std::strtol(argv[++i], nullptr, 10);
    else return Usage();
  }
  if (unit.empty() || silent.empty() || rounds < 1 || rounds > 1000) return Usage();
  zn7qx::sim::ExitUnlessIsolated("bench-flood");
  if (!zn7qx::SocketsInitialize()) return 3;

  // The first request tells the simulator whom to flood; let the flood
  // reach its rate before measuring.
  const Probe first = Timed(unit);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  const auto before = zn7qx::sim::ProbeLinkCounters();
  const auto started = Clock::now();
  const double cpu0 = CpuSeconds();
  long unitsHeard = 0, silentRight = 0;
  double slowest = 0, silentTotal = 0, unitTotal = 0;
  for (long r = 0; r < rounds; ++r) {
    const Probe u = Timed(unit);
    const auto text = zn7qx::UnitTextFromReply(u.data);
    if (u.status == zn7qx::IP_SUCCESS && text && *text == unitText) ++unitsHeard;
    const Probe s = Timed(silent);
    if (s.status == zn7qx::IP_REQ_TIMED_OUT) ++silentRight;
    slowest = std::max({slowest, u.ms, s.ms});
    unitTotal += u.ms;
    silentTotal += s.ms;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const double cpu = CpuSeconds() - cpu0;
  const auto after = zn7qx::sim::ProbeLinkCounters();
  if (!before || !after) {
    std::fprintf(stderr, "bench-flood: no counters for the probe link (ZN7QX_PROBE_IF)\n");
    return 2;
  }
  const std::uint64_t packets = after->packets - before->packets, drops = after->drops - before->drops;
  zn7qx::SocketsCleanup();

  const double arrived = static_cast<double>(packets) / seconds;
  const double cpuShare = cpu / seconds;
  const double usPerPacket = packets > 0 ? cpu * 1e6 / static_cast<double>(packets) : 0;
  const bool kept = unitsHeard == rounds && silentRight == rounds &&
                    slowest <= zn7qx::PingTimeoutMs + kKeptSlackMs && first.status == zn7qx::IP_SUCCESS;
  std::printf(
      "offered=%ld arrived_pps=%.0f units_heard=%ld/%ld silent_timed_out=%ld/%ld unit_ms=%.1f silent_ms=%.1f "
      "slowest_ms=%.1f link_drops=%llu cpu_share=%.2f cpu_us_per_packet=%.2f kept=%s\n",
      offered, arrived, unitsHeard, rounds, silentRight, rounds, unitTotal / static_cast<double>(rounds),
      silentTotal / static_cast<double>(rounds), slowest, static_cast<unsigned long long>(drops), cpuShare, usPerPacket,
      kept ? "yes" : "no");
  return 0;
}
