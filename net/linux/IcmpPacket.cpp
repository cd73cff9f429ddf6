#include "net/linux/IcmpPacket.h"

// errqueue.h uses struct timespec without declaring it.
#include <time.h>

#include <linux/errqueue.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "net/ICMPPing.h"

namespace zn7qx::linuxnet {

namespace {

constexpr std::size_t IpMinHeader = 20;
constexpr std::uint8_t ProtocolIcmp = 1;

std::uint16_t Read16(std::span<const unsigned char> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

// Addresses stay in network order: the bytes as they stand on the wire.
std::uint32_t ReadAddress(std::span<const unsigned char> b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

bool IsErrorType(std::uint8_t type) {
  return type == IcmpDestUnreachableType || type == IcmpSourceQuenchType ||
         type == IcmpTimeExceededType || type == IcmpParameterProblemType;
}

// The IPv4 header at the front of the bytes: its length when it is a sound,
// unfragmented (or first-fragment, for quotes) ICMP packet, else 0.
struct IpView {
  std::size_t headerLength = 0;
  std::size_t totalLength = 0;
};

std::optional<IpView> ReadIpHeader(std::span<const unsigned char> b, bool quoted) {
  if (b.size() < IpMinHeader) return std::nullopt;
  if ((b[0] >> 4) != 4) return std::nullopt;
  const std::size_t ihl = static_cast<std::size_t>(b[0] & 0x0F) * 4;
  if (ihl < IpMinHeader || ihl > b.size()) return std::nullopt;
  if (b[9] != ProtocolIcmp) return std::nullopt;
  const std::size_t total = Read16(b, 2);
  if (total < ihl) return std::nullopt;
  const std::uint16_t fragment = Read16(b, 6);
  const bool moreFragments = (fragment & 0x2000) != 0;
  const std::uint16_t offset = fragment & 0x1FFF;
  if (offset != 0) return std::nullopt;  // no ICMP header in a later fragment
  if (!quoted) {
    if (moreFragments) return std::nullopt;  // the kernel reassembles; a part is no reply
    if (total > b.size()) return std::nullopt;  // cut short
  }
  return IpView{ihl, quoted ? b.size() : total};
}

}  // namespace

std::uint16_t InternetChecksum(std::span<const unsigned char> bytes) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += static_cast<std::uint32_t>((bytes[i] << 8) | bytes[i + 1]);
  if (i < bytes.size()) sum += static_cast<std::uint32_t>(bytes[i] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::vector<unsigned char> BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                            std::span<const unsigned char> payload) {
  std::vector<unsigned char> packet(IcmpHeaderSize + payload.size());
  packet[0] = IcmpEchoRequestType;
  packet[1] = 0;
  packet[4] = static_cast<unsigned char>(identifier >> 8);
  packet[5] = static_cast<unsigned char>(identifier & 0xFF);
  packet[6] = static_cast<unsigned char>(sequence >> 8);
  packet[7] = static_cast<unsigned char>(sequence & 0xFF);
  if (!payload.empty()) std::memcpy(packet.data() + IcmpHeaderSize, payload.data(), payload.size());
  const std::uint16_t sum = InternetChecksum(packet);
  packet[2] = static_cast<unsigned char>(sum >> 8);
  packet[3] = static_cast<unsigned char>(sum & 0xFF);
  return packet;
}

std::optional<std::int32_t> StatusFromIcmp(std::uint8_t type, std::uint8_t code) {
  switch (type) {
    case IcmpDestUnreachableType:
      switch (code) {
        case 0:
        case 6:
        case 9:
        case 11:
          return IP_DEST_NET_UNREACHABLE;
        case 2:
          return IP_DEST_PROT_UNREACHABLE;
        case 3:
          return IP_DEST_PORT_UNREACHABLE;
        case 4:
          return IP_PACKET_TOO_BIG;
        case 5:
          return IP_BAD_ROUTE;
        default:
          return IP_DEST_HOST_UNREACHABLE;
      }
    case IcmpSourceQuenchType:
      return IP_SOURCE_QUENCH;
    case IcmpTimeExceededType:
      return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case IcmpParameterProblemType:
      return IP_PARAM_PROBLEM;
    default:
      return std::nullopt;
  }
}

std::int32_t StatusFromErrno(int error) {
  switch (error) {
    case ENETUNREACH:
    case ENETDOWN:
      return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return IP_DEST_HOST_UNREACHABLE;
    case ENOBUFS:
    case ENOMEM:
    case EAGAIN:
      return IP_NO_RESOURCES;
    case EMSGSIZE:
      return IP_PACKET_TOO_BIG;
    case EACCES:
    case EPERM:
    case EINVAL:
    case EADDRNOTAVAIL:
    case EDESTADDRREQ:
      return IP_BAD_DESTINATION;
    default:
      return IP_GENERAL_FAILURE;
  }
}

std::optional<EchoEvent> ParseDatagramReply(std::span<const unsigned char> icmp, std::uint32_t from,
                                            std::uint8_t ttl, std::uint8_t tos) {
  if (icmp.size() < IcmpHeaderSize) return std::nullopt;
  if (icmp[0] != IcmpEchoReplyType || icmp[1] != 0) return std::nullopt;
  if (InternetChecksum(icmp) != 0) return std::nullopt;
  EchoEvent event;
  event.kind = EchoEvent::Kind::Reply;
  event.peer = from;
  event.from = from;
  event.identifier = Read16(icmp, 4);
  event.sequence = Read16(icmp, 6);
  event.status = IP_SUCCESS;
  event.data.assign(icmp.begin() + IcmpHeaderSize, icmp.end());
  event.ttl = ttl;
  event.tos = tos;
  return event;
}

std::optional<EchoEvent> ParseRawPacket(std::span<const unsigned char> packet) {
  const auto ip = ReadIpHeader(packet, false);
  if (!ip) return std::nullopt;
  const auto icmp = packet.subspan(ip->headerLength, ip->totalLength - ip->headerLength);
  if (icmp.size() < IcmpHeaderSize) return std::nullopt;
  if (InternetChecksum(icmp) != 0) return std::nullopt;
  const std::uint32_t source = ReadAddress(packet, 12);
  const std::uint8_t type = icmp[0];
  const std::uint8_t code = icmp[1];

  EchoEvent event;
  event.from = source;
  event.ttl = packet[8];
  event.tos = packet[1];
  event.ipFlags = static_cast<std::uint8_t>(packet[6] >> 5);

  if (type == IcmpEchoReplyType) {
    if (code != 0) return std::nullopt;
    event.kind = EchoEvent::Kind::Reply;
    event.peer = source;
    event.identifier = Read16(icmp, 4);
    event.sequence = Read16(icmp, 6);
    event.status = IP_SUCCESS;
    event.data.assign(icmp.begin() + IcmpHeaderSize, icmp.end());
    return event;
  }
  if (!IsErrorType(type)) return std::nullopt;
  const auto status = StatusFromIcmp(type, code);
  if (!status) return std::nullopt;

  // The quote: the request's IP header and at least the first 8 bytes of it.
  const auto inner = icmp.subspan(IcmpHeaderSize);
  const auto innerIp = ReadIpHeader(inner, true);
  if (!innerIp) return std::nullopt;
  const auto request = inner.subspan(innerIp->headerLength);
  if (request.size() < IcmpHeaderSize) return std::nullopt;
  if (request[0] != IcmpEchoRequestType || request[1] != 0) return std::nullopt;

  event.kind = EchoEvent::Kind::Error;
  event.peer = ReadAddress(inner, 16);
  event.identifier = Read16(request, 4);
  event.sequence = Read16(request, 6);
  event.status = *status;
  event.icmpType = type;
  event.icmpCode = code;
  return event;
}

std::optional<EchoEvent> ParseErrorQueueMessage(std::span<const unsigned char> extendedError,
                                                std::span<const unsigned char> quoted,
                                                std::uint32_t destination) {
  sock_extended_err ee;
  if (extendedError.size() < sizeof ee) return std::nullopt;
  std::memcpy(&ee, extendedError.data(), sizeof ee);

  std::int32_t status;
  const bool local = ee.ee_origin == SO_EE_ORIGIN_LOCAL;
  if (ee.ee_origin == SO_EE_ORIGIN_ICMP) {
    const auto mapped = StatusFromIcmp(ee.ee_type, ee.ee_code);
    if (!mapped) return std::nullopt;
    status = *mapped;
  } else if (ee.ee_origin == SO_EE_ORIGIN_LOCAL) {
    status = StatusFromErrno(static_cast<int>(ee.ee_errno));
  } else {
    return std::nullopt;
  }

  if (quoted.size() < IcmpHeaderSize) return std::nullopt;
  if (quoted[0] != IcmpEchoRequestType || quoted[1] != 0) return std::nullopt;

  EchoEvent event;
  event.kind = EchoEvent::Kind::Error;
  event.peer = destination;
  event.identifier = Read16(quoted, 4);
  event.sequence = Read16(quoted, 6);
  event.status = status;
  if (local) {
    event.localErrno = static_cast<int>(ee.ee_errno);
  } else {
    event.icmpType = ee.ee_type;
    event.icmpCode = ee.ee_code;
  }

  // The offender (who sent the ICMP error) follows the extended error.
  const auto offender = extendedError.subspan(sizeof ee);
  sockaddr_in address;
  if (offender.size() >= sizeof address) {
    std::memcpy(&address, offender.data(), sizeof address);
    if (address.sin_family == AF_INET) event.from = address.sin_addr.s_addr;
  }
  return event;
}

}  // namespace zn7qx::linuxnet
