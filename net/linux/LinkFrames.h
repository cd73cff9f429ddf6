#pragma once
// Ethernet frames for resolving the link ourselves: ARP requests and the
// answers to them, echo requests framed to a hardware address, and the
// frames that come back. Pure functions, no sockets, so that every shape of
// frame can be tested and fuzzed directly.

#include <linux/filter.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/linux/IcmpPacket.h"

namespace zn7qx::linuxnet {

using Mac = std::array<std::uint8_t, 6>;

inline constexpr std::size_t EthernetHeaderSize = 14;

// "aa:bb:cc:dd:ee:ff".
std::string MacText(std::span<const std::uint8_t> mac);

// Who we are on the link: our hardware and IPv4 address (network order).
struct LinkSelf {
  Mac mac{};
  std::uint32_t address = 0;
};

// A broadcast ARP request asking who has target (network order).
std::vector<unsigned char> BuildArpRequest(const LinkSelf& self, std::uint32_t target);

// An IPv4 packet with our echo request (identifier, sequence, payload) from
// self to dest, framed to the hardware address to. ipIdentification is the
// IP header's identification field.
std::vector<unsigned char> BuildEchoFrame(const LinkSelf& self, const Mac& to, std::uint32_t dest,
                                          std::uint16_t identifier, std::uint16_t sequence,
                                          std::span<const unsigned char> payload, std::uint16_t ipIdentification);

// An answer to one of our ARP requests: the address that answered and its
// hardware address.
struct ArpAnswer {
  std::uint32_t address = 0;  // network order
  Mac mac{};
};

// What a frame read from the link is to us.
struct LinkFrame {
  enum class Kind { Other, Arp, Echo };
  Kind kind = Kind::Other;
  ArpAnswer arp;    // Arp
  EchoEvent echo;   // Echo: a reply or an ICMP error, as ParseRawPacket reads it
  Mac source{};     // the frame's sender, for Arp and Echo
};

// Reads a whole Ethernet frame. Arp: an ARP reply (Ethernet, IPv4) to our
// own hardware and protocol address from a unicast hardware address, with
// the same sender in the frame and in the ARP message; a gratuitous one (it
// names itself as target) is Other. Echo: an IPv4 packet to our address,
// sent to our hardware address, that ParseRawPacket reads. Other for
// anything else.
LinkFrame ParseLinkFrame(std::span<const unsigned char> frame, const LinkSelf& self);

// The kernel filter of a packet socket that lets through only what may
// be ours: ARP replies to our address, and ICMP to our address that is an
// echo reply with our identifier or an error message; never our own
// outgoing frames.
std::vector<sock_filter> LinkFilter(const LinkSelf& self, std::uint16_t identifier);

}  // namespace zn7qx::linuxnet
