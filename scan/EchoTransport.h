#pragma once
// What the sweep needs from the network: send one request, take what has
// arrived, wait for the socket or a moment. The real one stands on
// linuxnet::EchoSocket; tests drive the sweep through a scripted one.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "net/linux/IcmpPacket.h"

namespace zn7qx::scan {

using Clock = std::chrono::steady_clock;

class EchoTransport {
 public:
  virtual ~EchoTransport() = default;
  virtual Clock::time_point Now() = 0;
  // The identifier our requests carry (host order).
  virtual std::uint16_t Identifier() const = 0;
  // 0, or the IP status code of a local failure.
  virtual std::int32_t Send(std::uint32_t destNetworkOrder, std::uint16_t sequence) = 0;
  // The errno behind the last failed Send; 0 when not known.
  virtual int LastSendErrno() const { return 0; }
  // An event of ours, or nothing when the reads found none (there may still
  // be packets waiting: ask Readable).
  virtual std::optional<linuxnet::EchoEvent> Receive() = 0;
  // Whether a packet waits right now.
  virtual bool Readable() = 0;
  // Returns when a packet waits, the time is reached, or a signal came;
  // looks once when the time is already past.
  virtual void Wait(Clock::time_point until) = 0;
  // Called as a sweep starts.
  virtual void BeginSweep() {}
  // ARP requests sent so far by a transport that resolves the link itself;
  // -1 where the kernel resolves it, unseen.
  virtual std::int64_t ArpRequestsSent() const { return -1; }
  // Frames read and dropped as not ours (foreign, forged, malformed).
  virtual std::int64_t FramesIgnored() const { return 0; }
  // Why the transport can no longer work (its link went away, say), or "".
  virtual std::string Failure() const { return {}; }
};

}  // namespace zn7qx::scan
