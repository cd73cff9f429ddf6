#pragma once
// What the simulated network answers, address by address, read from JSON.

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zn7qx::sim {

// IPv4 address as a host-order number (first octet most significant).
using Ip4 = std::uint32_t;

std::optional<Ip4> ParseIp4(std::string_view text);
std::string FormatIp4(Ip4 address);

struct Ip4Range {
  Ip4 first = 0;
  Ip4 last = 0;
  bool Contains(Ip4 a) const { return a >= first && a <= last; }
  std::uint64_t Size() const { return std::uint64_t{last} - first + 1; }
};

// "A.B.C.D", "A.B.C.D-E.F.G.H" or "A.B.C.D/N".
std::optional<Ip4Range> ParseIp4Range(std::string_view text);

// An Ethernet (hardware) address.
using Mac = std::array<std::uint8_t, 6>;
// "aa:bb:cc:dd:ee:ff"; only unicast addresses other than all zeros.
std::optional<Mac> ParseMac(std::string_view text);
std::string FormatMac(const Mac& mac);
// Each simulated address's own: locally administered, 02:5a and then the
// address's four bytes, so that a test can tell it from the address.
Mac DefaultMac(Ip4 address);

enum class Kind { Silent, Unit, Host, Data, Error };

struct Behaviour {
  Kind kind = Kind::Silent;
  std::string data;            // Unit: "Found."+text; Data: the exact bytes
  std::uint32_t delayMs = 0;   // before the first answer
  std::uint32_t count = 1;     // answers per request
  std::uint32_t intervalMs = 0;  // between repeated answers
  std::uint8_t icmpType = 3;   // Error
  std::uint8_t icmpCode = 1;
  std::uint32_t errorWord = 0;  // the 4 bytes after an error's checksum (MTU, pointer)
  std::uint32_t quoteBytes = 8;  // bytes of the request's ICMP message an error quotes
  std::optional<Ip4> source;   // answer from here instead of the target address
  bool badChecksum = false;
  std::uint16_t identifierOffset = 0;  // wrong_identifier
  std::uint16_t sequenceOffset = 0;    // wrong_sequence
  std::optional<std::uint32_t> truncateTo;  // ICMP message cut to this many bytes
  std::uint8_t ttl = 64;
  std::optional<Mac> mac;  // else the address's DefaultMac
  // In force from afterMs to untilMs after the first echo request the
  // simulator sees; with everyMs, that window comes again every everyMs.
  std::uint64_t afterMs = 0;
  std::uint64_t untilMs = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t everyMs = 0;

  bool InForceAt(std::uint64_t ms) const {
    if (everyMs > 0) ms %= everyMs;
    return ms >= afterMs && ms < untilMs;
  }
};

const char* KindName(Kind kind);

enum class FloodKind {
  ForgedReply,   // echo replies with a foreign identifier, "Found." data
  StaleReply,    // replies to requests long answered or timed out
  BadChecksum,   // a current request's reply with a broken checksum
  Truncated,     // echo replies cut inside the header or the data
  Malformed,     // other ICMP types and codes, garbage of any length
  ForeignError,  // ICMP errors quoting packets the prober did not send now
};
const char* FloodKindName(FloodKind kind);
std::optional<FloodKind> FloodKindFromName(std::string_view name);

struct FloodConfig {
  std::uint64_t count = 0;          // packets in all; 0 = no flood
  std::uint32_t rate = 1000;        // packets per second
  std::uint32_t startAfterMs = 0;   // after the first echo request seen
  std::uint32_t staleAfterMs = 1000;  // a request this old counts as stale
  std::uint64_t seed = 1;
  std::vector<FloodKind> kinds;     // empty = all
  std::optional<Ip4> to;            // default: whoever sent the echo requests
};

inline constexpr std::uint64_t MaxFloodCount = 10'000'000;
inline constexpr std::uint32_t MaxFloodRate = 1'000'000;

struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class SimConfig {
 public:
  // Throws ConfigError with a message that names the offending entry.
  static SimConfig FromJsonText(std::string_view text);
  // Each file laid over the ones before it: its replies are added (and win
  // over earlier entries for the same address), its router and flood replace
  // theirs.
  static SimConfig FromFiles(const std::vector<std::string>& paths);
  void Overlay(std::string_view text);

  // The behaviour for a target at a time (ms after the first echo request);
  // among the entries in force then, single addresses win over ranges, and
  // the one listed last wins. Unlisted addresses are silent.
  const Behaviour& Lookup(Ip4 target, std::uint64_t ms = 0) const;
  // The hardware address a host answers address resolution with at that
  // time: the router's always, any other only while it answers.
  std::optional<Mac> HostMac(Ip4 address, std::uint64_t ms) const;

  std::size_t AddressCount() const { return byAddress_.size(); }
  std::size_t RangeCount() const { return ranges_.size(); }
  const FloodConfig& Flood() const { return flood_; }
  // Addresses that answer in some way (for forged traffic to pretend to be).
  const std::vector<Ip4>& Answering() const { return answering_; }
  std::optional<Ip4> Router() const { return router_; }
  void SetDefaultErrorSource(Ip4 router);

 private:
  struct RangeEntry {
    Ip4Range range;
    std::size_t behaviour;
  };
  std::vector<Behaviour> behaviours_;
  std::unordered_map<Ip4, std::vector<std::size_t>> byAddress_;  // in config order
  std::vector<RangeEntry> ranges_;  // in config order
  std::vector<Ip4> answering_;
  FloodConfig flood_;
  std::optional<Ip4> router_;
  Behaviour silent_;
};

}  // namespace zn7qx::sim
