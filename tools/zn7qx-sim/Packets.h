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

// A whole IPv4 packet ready for a raw socket with IP_HDRINCL.
struct OutPacket {
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

inline std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace zn7qx::sim
