#pragma once
// The sweep: echo requests to every address of the ranges at a steady pace,
// many in flight, each given its own time-out; replies matched to their
// address by identifier and sequence and checked against the address probed.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "net/mdlConvertIPForms.h"
#include "scan/EchoTransport.h"
#include "scan/ScanRange.h"

namespace zn7qx::scan {

enum class Outcome : std::uint8_t { Unit, Host, Error };

// Where an error came from, so that it can be named as Linux names it.
enum class ErrorOrigin : std::uint8_t {
  None,     // not an error
  Icmp,     // an ICMP error message: icmpType, icmpCode
  Local,    // the kernel's own failure (sending, or queued): errorNumber
  Unknown,  // only the status number is known
};

// One address that answered (Unit, Host) or drew an error. Silent addresses
// have no entry.
struct AddressResult {
  NumericAddress address = 0;
  Outcome outcome = Outcome::Host;
  std::int32_t status = 0;  // 0 for replies, else an IP status code
  std::string unitText;     // bytes as the unit sent them, cut as the window cuts
  std::uint32_t roundTripMicros = 0;
  ErrorOrigin origin = ErrorOrigin::None;
  std::uint8_t icmpType = 0;
  std::uint8_t icmpCode = 0;
  int errorNumber = 0;  // errno
  std::string mac{};    // of a unit or host on the link, "" when none is known
};

struct SweepCounts {
  std::int64_t addresses = 0;
  std::int64_t sent = 0;       // requests, retries included
  std::int64_t units = 0;
  std::int64_t hosts = 0;
  std::int64_t errors = 0;
  std::int64_t silent = 0;     // filled at the end
  std::int64_t ignored = 0;    // late, duplicate, foreign or mismatched events
  std::int64_t arpSent = -1;   // ARP requests of our own; -1 where the kernel resolved the link
  std::int64_t deferred = 0;   // sends the kernel refused for want of room, made again later
  std::chrono::microseconds elapsed{0};
  bool interrupted = false;
};

// The program's defaults. The pace: on the local link each request starts
// with an ARP broadcast that every device there must take in, small units on
// 10 Mbit/s links among them; 2000 of the smallest frames a second are about
// 1.3 Mbit/s, an eighth of such a link, where 20000 would be more than all of
// it. A first burst that fills the time-out of the first addresses.
inline constexpr double kDefaultRate = 2000;
inline constexpr std::int64_t kDefaultBurst = 512;

struct SweepOptions {
  double rate = kDefaultRate;  // requests per second
  // Requests that may go out at once at the start before the pace applies
  // (a token bucket of this depth, full at the start); 1 = paced throughout.
  std::int64_t burst = kDefaultBurst;
  std::chrono::microseconds timeout{300000};
  int retries = 0;
  // Called about ten times a second while the sweep runs, and once at the end.
  std::function<void(const SweepCounts&)> progress;
  // Set (from a signal handler, say) to end the sweep early.
  const std::atomic<bool>* stop = nullptr;
  // Fills in the hardware addresses of new answers, about ten times a second
  // while they come and once at the end, so soon after each answer.
  using Hardware = std::function<void(std::span<AddressResult>)>;
  Hardware hardware;
  // The first request's sequence: a sweep that follows another goes on from
  // where it ended, so that a late answer to the one is not taken for the other.
  std::uint16_t firstSequence = 0;
  // Addresses the kernel has to resolve on the link (ARP) before it sends
  // to them, merged. Each request to one holds an entry of the machine-wide
  // neighbour table for about neighbourHold, answered or not; no more than
  // neighbourBudget such requests go out in any neighbourHold (0: no limit),
  // so that the table keeps room for every other program.
  std::vector<AddressRange> onLink;
  std::int64_t neighbourBudget = 0;
  std::chrono::microseconds neighbourHold{3'000'000};
  // The table's entries now (failed ones linger after the hold); on-link
  // requests also wait while it holds neighbourCeiling or more.
  std::function<std::optional<std::int64_t>()> neighbourEntries;
  std::int64_t neighbourCeiling = 0;
};

struct SweepResult {
  std::vector<AddressResult> answered;  // in address order
  SweepCounts counts;
  std::uint16_t nextSequence = 0;  // for a sweep that follows
  std::string failure;  // why the sweep stopped short ("" when it did not)
};

// The unit's text when the reply data is a unit's answer, judged exactly as
// the window judges the probe's reply record (whose data area holds 250
// bytes).
std::optional<std::string> UnitTextOfReplyData(std::string_view data);

SweepResult RunSweep(const std::vector<AddressRange>& merged, EchoTransport& transport,
                     const SweepOptions& options);

}  // namespace zn7qx::scan
