#pragma once
// Conversions among the three forms of an IPv4 address: dotted-quad text,
// NetworkAddress (what inet_addr returns and inet_ntoa takes) and
// NumericAddress (an unsigned number for range arithmetic).

#include <cstdint>
#include <string>
#include <string_view>

namespace zn7qx {

// 32-bit address in network byte order: the first octet in the lowest byte.
// All ones is both 255.255.255.255 and the parser's failure value.
using NetworkAddress = std::int32_t;
// First octet most significant, 0 to 4294967295; signed 64 bits so that range
// differences may go negative.
using NumericAddress = std::int64_t;

inline constexpr NetworkAddress kParseFailure = -1;  // INADDR_NONE

// Whether a parsed address may be probed: the parser's failure value (which
// is also 255.255.255.255) and 0.0.0.0 may not.
constexpr bool IsUsableAddress(NetworkAddress address) { return address != kParseFailure && address != 0; }

// What inet_addr gives for the text. Text the platform parser rejects, and text
// that holds a NUL byte (the parser would silently stop at it), gives -1.
NetworkAddress DottedToNetwork(std::string_view text);
// Dotted-quad text as inet_ntoa formats it.
std::string NetworkToDotted(NetworkAddress address);

namespace detail {
// Network order and numeric order are each other's byte reversal.
constexpr std::uint32_t ReverseOctets(std::uint32_t v) {
  return ((v & 0x000000FFu) << 24) | ((v & 0x0000FF00u) << 8) | ((v & 0x00FF0000u) >> 8) |
         ((v & 0xFF000000u) >> 24);
}
}  // namespace detail

constexpr NumericAddress NetworkToNumeric(NetworkAddress address) {
  return static_cast<NumericAddress>(detail::ReverseOctets(static_cast<std::uint32_t>(address)));
}

// Precondition: 0 <= number <= 4294967295.
constexpr NetworkAddress NumericToNetwork(NumericAddress number) {
  return static_cast<NetworkAddress>(detail::ReverseOctets(static_cast<std::uint32_t>(number)));
}

// The network and broadcast addresses of the subnet that holds address under
// mask: the default range's two ends. The bit operations work on the
// network-order forms, as the window's always have.
struct SubnetEnds {
  NetworkAddress network;
  NetworkAddress broadcast;
};
constexpr SubnetEnds SubnetOf(NumericAddress mask, NumericAddress address) {
  const auto m = static_cast<std::uint32_t>(NumericToNetwork(mask));
  const auto a = static_cast<std::uint32_t>(NumericToNetwork(address));
  return {static_cast<NetworkAddress>(a & m), static_cast<NetworkAddress>(~m | a)};
}

// Copy of a NUL-terminated 8-bit text; a null pointer gives the empty text.
std::string StringFromPointer(const char* pointer);

}  // namespace zn7qx
