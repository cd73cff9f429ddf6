#pragma once
// The simulator's socket loop: one packet socket on its link, where it
// answers address resolution for every host it simulates with that host's
// own hardware address, and echo requests sent to those addresses; batched
// receive and send, delayed answers on a timer heap, and the bounded flood.

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <unordered_set>

#include "SimConfig.h"

namespace zn7qx::sim {

struct Counters {
  std::uint64_t received = 0;       // frames read from the link
  std::uint64_t arpRequests = 0;
  std::uint64_t notOurs = 0;        // to no simulated host, or of no kind we answer
  std::uint64_t echoRequests = 0;   // well-formed echo requests
  std::uint64_t badRequests = 0;    // short, fragmented or bad checksum
  std::uint64_t otherIcmp = 0;      // not an echo request
  std::uint64_t excluded = 0;       // to an address told never to answer
  std::uint64_t silent = 0;
  std::uint64_t asUnit = 0, asHost = 0, asData = 0, asError = 0;
  std::uint64_t repliesSent = 0;    // echo replies on the wire
  std::uint64_t errorsSent = 0;     // ICMP errors on the wire
  std::uint64_t sendFailures = 0;
  std::uint64_t delayedDropped = 0;  // too many answers waiting
  std::uint64_t floodSent = 0;
  std::uint64_t arpSent = 0;        // answers and questions

  void Print(std::ostream& out) const;
};

struct SimOptions {
  std::string link;  // the interface whose frames it answers
  double maxSeconds = 600;
  std::string readyFile;
  std::unordered_set<Ip4> exclude;
  bool setSysctl = true;
};

class Simulator {
 public:
  Simulator(SimConfig config, SimOptions options);
  // Runs until SIGTERM/SIGINT/SIGHUP or maxSeconds; returns the exit status.
  int Run(std::ostream& out, std::ostream& err);

 private:
  SimConfig config_;
  SimOptions options_;
};

}  // namespace zn7qx::sim
