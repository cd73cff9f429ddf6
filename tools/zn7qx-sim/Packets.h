#pragma once
// Reading echo requests and writing the IPv4 packets the simulator sends.
// Everything here works on byte buffers; no sockets.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "SimConfig.h"

namespace zn7qx::sim {

inline constexpr std::uint8_t IcmpEchoReply = 0;
inline constexpr std::uint8_t IcmpEchoRequest = 8;
inline constexpr std::size_t IpHeaderBytes = 20;
inline constexpr std::size_t IcmpHeaderBytes = 8;

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// An echo request as received on a raw socket (IP header included).
struct EchoRequest {
  Ip4 source = 0;
  Ip4 destination = 0;
  std::uint16_t identifier = 0;
  std::uint16_t sequence = 0;
  std::span<const std::uint8_t> ipHeader;  // as received, options included
  std::span<const std::uint8_t> icmp;      // the whole ICMP message
  std::span<const std::uint8_t> data;      // after the 8-byte echo header
};

enum class RequestProblem { None, NotIpv4, Short, NotIcmp, Fragment, NotEchoRequest, BadChecksum };

// Parses a datagram from a raw IPPROTO_ICMP socket. The spans point into
// packet, which must outlive the result.
RequestProblem ParseEchoRequest(std::span<const std::uint8_t> packet, EchoRequest& out);
// The destination of an IPv4 packet of at least a header's length.
Ip4 DestinationOf(std::span<const std::uint8_t> packet);

// A whole IPv4 packet ready for a raw socket with IP_HDRINCL.
struct OutPacket {
  Ip4 source = 0;
  Ip4 destination = 0;
  std::vector<std::uint8_t> bytes;
};

// IPv4 header (no options) + ICMP message. The ICMP checksum is computed
// over the message as given; the kernel fills the IP header checksum.
OutPacket BuildIcmpPacket(Ip4 source, Ip4 destination, std::uint8_t ttl,
                          std::span<const std::uint8_t> icmpMessage);

// The answer of a replying behaviour (Unit, Host, Data) to one request,
// modifiers applied.
OutPacket BuildEchoReply(const EchoRequest& request, const Behaviour& behaviour);

// An ICMP error of the behaviour's type and code, quoting the request's IP
// header and the first quoteBytes bytes of its ICMP message.
OutPacket BuildErrorReply(const EchoRequest& request, const Behaviour& behaviour);

// ICMP message helpers for the flood.
std::vector<std::uint8_t> EchoMessage(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence,
                                      std::span<const std::uint8_t> data);
void SetChecksum(std::vector<std::uint8_t>& icmp);
std::vector<std::uint8_t> IpHeader(Ip4 source, Ip4 destination, std::uint8_t protocol, std::uint8_t ttl,
                                   std::size_t payloadBytes);

// Ethernet: what the simulator reads and writes on its link.
inline constexpr std::size_t EthernetHeaderBytes = 14;
inline constexpr std::uint16_t EtherTypeIpv4 = 0x0800;
inline constexpr std::uint16_t EtherTypeArp = 0x0806;
inline constexpr Mac BroadcastMac = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

struct Frame {
  Mac destination{}, source{};
  std::uint16_t type = 0;
  std::span<const std::uint8_t> payload;
};
std::optional<Frame> ParseFrame(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> BuildFrame(const Mac& destination, const Mac& source, std::uint16_t type,
                                     std::span<const std::uint8_t> payload);

// An ARP request for an IPv4 address on Ethernet.
struct ArpRequest {
  Mac senderMac{};
  Ip4 senderIp = 0;  // 0 for a probe (RFC 5227)
  Ip4 targetIp = 0;
};
std::optional<ArpRequest> ParseArpRequest(std::span<const std::uint8_t> payload);
// The whole frame answering it: "targetIp is at mac", to the asker.
std::vector<std::uint8_t> BuildArpReply(const ArpRequest& request, const Mac& mac);
// A broadcast frame asking who has target, from sender at mac.
std::vector<std::uint8_t> BuildArpRequest(Ip4 sender, const Mac& mac, Ip4 target);

inline std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace zn7qx::sim
