#pragma once
// What the simulated network answers, address by address, read from JSON.

#include <cstdint>
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

  // The behaviour for a target; single addresses win over ranges, and among
  // ranges the one listed last wins. Unlisted addresses are silent.
  const Behaviour& Lookup(Ip4 target) const;

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
  std::unordered_map<Ip4, std::size_t> byAddress_;
  std::vector<RangeEntry> ranges_;  // in config order
  std::vector<Ip4> answering_;
  FloodConfig flood_;
  std::optional<Ip4> router_;
  Behaviour silent_;
};

}  // namespace zn7qx::sim
