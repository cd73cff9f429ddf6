#pragma once
// ICMP echo packets as bytes: building requests, and reading replies and the
// errors that quote our requests. Pure functions, no sockets, so that every
// shape of received packet can be tested and fuzzed directly.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zn7qx::linuxnet {

inline constexpr std::size_t IcmpHeaderSize = 8;
inline constexpr std::uint8_t IcmpEchoReplyType = 0;
inline constexpr std::uint8_t IcmpDestUnreachableType = 3;
inline constexpr std::uint8_t IcmpSourceQuenchType = 4;
inline constexpr std::uint8_t IcmpEchoRequestType = 8;
inline constexpr std::uint8_t IcmpTimeExceededType = 11;
inline constexpr std::uint8_t IcmpParameterProblemType = 12;

// What arrived for one of our echo requests.
struct EchoEvent {
  enum class Kind { Reply, Error };
  Kind kind = Kind::Reply;
  // Network order. Reply: the replier. Error: the destination of the quoted
  // request, i.e. the address the request was meant for.
  std::uint32_t peer = 0;
  // Network order: who sent the packet (the replier, or the router/host that
  // sent the ICMP error). Equal to peer for replies.
  std::uint32_t from = 0;
  std::uint16_t identifier = 0;  // host order, as read from the wire
  std::uint16_t sequence = 0;    // host order
  std::int32_t status = 0;       // 0 for a reply, else an IP status code
  std::vector<unsigned char> data;  // reply data (empty for errors)
  std::uint8_t ttl = 0;
  std::uint8_t tos = 0;
  std::uint8_t ipFlags = 0;  // top three bits of the fragment word (raw path only)
  std::chrono::steady_clock::time_point received{};
  // What the status stands for, for programs that name it as Linux does:
  // the ICMP message's type and code (an echo reply is 0 and 0), or for a
  // local failure queued by the kernel, its errno (type and code then 0).
  std::uint8_t icmpType = 0;
  std::uint8_t icmpCode = 0;
  int localErrno = 0;
  // The hardware address of the frame it came in, where it was read off
  // the link itself; none where the kernel's socket delivered it.
  std::optional<std::array<std::uint8_t, 6>> hardware;
};

// The Internet checksum (RFC 1071) of the bytes; 0 when a packet that carries
// its checksum is intact.
std::uint16_t InternetChecksum(std::span<const unsigned char> bytes);

// A complete echo request (header with checksum, then payload) for raw sockets.
// Datagram sockets take the same bytes; the kernel rewrites identifier and
// checksum there.
std::vector<unsigned char> BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                            std::span<const unsigned char> payload);

// The IP status code for an ICMP error message's type and code; nullopt when
// the type is not an error we report (echo reply, request, redirect, ...).
//   Destination unreachable: 0 net 11002, 1 host 11003, 2 protocol 11004,
//   3 port 11005, 4 fragmentation needed 11009, 5 source route failed 11012;
//   the net-flavoured codes 6 (net unknown), 9 (net prohibited) and 11 (net
//   unreachable for TOS) give 11002; the host-flavoured 7, 8, 10, 12, and the
//   filtering codes 13 (administratively prohibited), 14 and 15 give 11003,
//   because a filter in front of one host is what the user meets as "that
//   host is unreachable". Unknown codes give 11003 as well.
//   Time exceeded: 0 in transit 11013, 1 in reassembly 11014 (other codes 11013).
//   Parameter problem: 11015. Source quench: 11016.
std::optional<std::int32_t> StatusFromIcmp(std::uint8_t type, std::uint8_t code);

// The IP status code for a local send failure (errno of sendto):
//   ENETUNREACH 11002, EHOSTUNREACH/EHOSTDOWN 11003, ENOBUFS/ENOMEM 11006,
//   EMSGSIZE 11009, EACCES (broadcast refused)/EINVAL/EPERM/EADDRNOTAVAIL/
//   EDESTADDRREQ 11018, anything else 11050.
std::int32_t StatusFromErrno(int error);

// Datagram (ping) socket: bytes are the ICMP header and data, no IP header.
// An echo reply with a good checksum gives a Reply event; anything else
// (too short, wrong type or code, bad checksum) gives nothing. The caller
// supplies what the socket layer knew: sender address, TTL, TOS.
std::optional<EchoEvent> ParseDatagramReply(std::span<const unsigned char> icmp, std::uint32_t from,
                                            std::uint8_t ttl = 0, std::uint8_t tos = 0);

// Raw socket: bytes are a whole IPv4 packet. Gives a Reply for an echo reply,
// an Error for an ICMP error that quotes an ICMP echo request (identifier,
// sequence and destination read from the quote), nothing otherwise. Checks
// version, header length, total length, protocol, fragments and the ICMP
// checksum (errors: the outer checksum; the quote may be cut short by the
// router, so only its headers are required).
std::optional<EchoEvent> ParseRawPacket(std::span<const unsigned char> packet);

// What the kernel hands over for one error-queue message of a ping socket:
//   extendedError: the IP_RECVERR control data, a struct sock_extended_err
//     followed by the offender's struct sockaddr_in (as many bytes as came);
//   quoted: the message data, our own ICMP echo request as the error quoted
//     it (header first);
//   destination: the address in msg_name (network order), where the quoted
//     request was going.
// Gives an Error event for an ICMP-origin error quoting an echo request, and
// for a local-origin error (ee_errno mapped by StatusFromErrno) that quotes
// one; nothing otherwise.
std::optional<EchoEvent> ParseErrorQueueMessage(std::span<const unsigned char> extendedError,
                                                std::span<const unsigned char> quoted,
                                                std::uint32_t destination);

}  // namespace zn7qx::linuxnet
