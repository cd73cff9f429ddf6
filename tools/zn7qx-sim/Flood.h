#pragma once
// Hostile traffic for the prober: forged, stale, broken and foreign ICMP,
// made from the echo requests the simulator has seen. Bounded by the
// caller (count and rate); this only makes packets.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include "Packets.h"
#include "SimConfig.h"

namespace zn7qx::sim {

class FloodMaker {
 public:
  using Clock = std::chrono::steady_clock;

  FloodMaker(const FloodConfig& config, std::vector<Ip4> answering);

  // Remember a request (only its headers and data are kept).
  void Seen(const EchoRequest& request, Clock::time_point when);
  bool HasTarget() const { return config_.to.has_value() || !recent_.empty(); }

  // One packet for the prober; nothing until a request has been seen
  // (unless the config names the prober's address).
  std::optional<OutPacket> Next(Clock::time_point now);

  std::uint64_t MadeOf(FloodKind kind) const { return made_[static_cast<std::size_t>(kind)]; }

 private:
  struct Recent {
    Ip4 source, destination;
    std::uint16_t identifier, sequence;
    std::vector<std::uint8_t> ipHeader, icmp;
    Clock::time_point when;
  };
  const Recent* Latest() const;
  const Recent* Stale(Clock::time_point now);
  Ip4 SomeAddress(const Recent& r);
  std::vector<std::uint8_t> Garbage(std::size_t maxBytes);
  std::uint16_t OtherThan(std::uint16_t v);

  FloodConfig config_;
  std::vector<Ip4> answering_;
  std::deque<Recent> recent_;
  std::mt19937_64 rng_;
  std::uint64_t made_[6] = {};
};

}  // namespace zn7qx::sim
