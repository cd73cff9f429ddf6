#include "Packets.h"

#include <algorithm>
#include <atomic>

namespace zn7qx::sim {

namespace {

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) |
         b[at + 3];
}

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::atomic<std::uint16_t> nextIpId{0x2a00};

}  // namespace

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes) {
  std::uint64_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += static_cast<std::uint32_t>((bytes[i] << 8) | bytes[i + 1]);
  if (i < bytes.size()) sum += static_cast<std::uint32_t>(bytes[i] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

RequestProblem ParseEchoRequest(std::span<const std::uint8_t> packet, EchoRequest& out) {
  if (packet.size() < IpHeaderBytes) return RequestProblem::Short;
  if ((packet[0] >> 4) != 4) return RequestProblem::NotIpv4;
  const std::size_t ihl = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  if (ihl < IpHeaderBytes || packet.size() < ihl) return RequestProblem::Short;
  // Read off the link, nothing has checked the header yet.
  if (InternetChecksum(packet.subspan(0, ihl)) != 0) return RequestProblem::BadChecksum;
  if (packet[9] != 1) return RequestProblem::NotIcmp;
  // The kernel reassembles before raw delivery; a fragment here is odd.
  if ((Get16(packet, 6) & 0x3FFF) != 0) return RequestProblem::Fragment;
  const std::size_t total = std::min<std::size_t>(Get16(packet, 2), packet.size());
  if (total < ihl + IcmpHeaderBytes) return RequestProblem::Short;
  std::span<const std::uint8_t> icmp = packet.subspan(ihl, total - ihl);
  if (icmp[0] != IcmpEchoRequest || icmp[1] != 0) return RequestProblem::NotEchoRequest;
  if (InternetChecksum(icmp) != 0) return RequestProblem::BadChecksum;
  out.source = Get32(packet, 12);
  out.destination = Get32(packet, 16);
  out.identifier = Get16(icmp, 4);
  out.sequence = Get16(icmp, 6);
  out.ipHeader = packet.subspan(0, ihl);
  out.icmp = icmp;
  out.data = icmp.subspan(IcmpHeaderBytes);
  return RequestProblem::None;
}

Ip4 DestinationOf(std::span<const std::uint8_t> packet) { return Get32(packet, 16); }

std::vector<std::uint8_t> IpHeader(Ip4 source, Ip4 destination, std::uint8_t protocol, std::uint8_t ttl,
                                   std::size_t payloadBytes) {
  std::vector<std::uint8_t> h(IpHeaderBytes, 0);
  h[0] = 0x45;
  Put16(h, 2, static_cast<std::uint16_t>(std::min<std::size_t>(IpHeaderBytes + payloadBytes, 0xFFFF)));
  Put16(h, 4, nextIpId.fetch_add(1, std::memory_order_relaxed));
  h[8] = ttl;
  h[9] = protocol;
  Put32(h, 12, source);
  Put32(h, 16, destination);
  Put16(h, 10, InternetChecksum(h));
  return h;
}

OutPacket BuildIcmpPacket(Ip4 source, Ip4 destination, std::uint8_t ttl, std::span<const std::uint8_t> icmp) {
  OutPacket p;
  p.source = source;
  p.destination = destination;
  p.bytes = IpHeader(source, destination, 1, ttl, icmp.size());
  p.bytes.insert(p.bytes.end(), icmp.begin(), icmp.end());
  return p;
}

std::vector<std::uint8_t> EchoMessage(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence,
                                      std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> m(IcmpHeaderBytes, 0);
  m[0] = type;
  Put16(m, 4, identifier);
  Put16(m, 6, sequence);
  m.insert(m.end(), data.begin(), data.end());
  SetChecksum(m);
  return m;
}

void SetChecksum(std::vector<std::uint8_t>& icmp) {
  if (icmp.size() < 4) return;
  icmp[2] = icmp[3] = 0;
  Put16(icmp, 2, InternetChecksum(icmp));
}

namespace {

// Cut, then checksum what is left, then break it if asked: the modifiers
// combine (a truncated reply may still carry a valid checksum).
void ApplyFinish(std::vector<std::uint8_t>& icmp, const Behaviour& b) {
  if (b.truncateTo && *b.truncateTo < icmp.size()) icmp.resize(*b.truncateTo);
  SetChecksum(icmp);
  if (b.badChecksum && icmp.size() >= 4) icmp[3] ^= 0x5A;
}

}  // namespace

OutPacket BuildEchoReply(const EchoRequest& request, const Behaviour& b) {
  std::span<const std::uint8_t> data =
      b.kind == Kind::Host ? request.data : Bytes(b.data);
  std::vector<std::uint8_t> icmp =
      EchoMessage(IcmpEchoReply, static_cast<std::uint16_t>(request.identifier + b.identifierOffset),
                  static_cast<std::uint16_t>(request.sequence + b.sequenceOffset), data);
  ApplyFinish(icmp, b);
  return BuildIcmpPacket(b.source.value_or(request.destination), request.source, b.ttl, icmp);
}

OutPacket BuildErrorReply(const EchoRequest& request, const Behaviour& b) {
  std::vector<std::uint8_t> icmp(IcmpHeaderBytes, 0);
  icmp[0] = b.icmpType;
  icmp[1] = b.icmpCode;
  Put32(icmp, 4, b.errorWord);
  icmp.insert(icmp.end(), request.ipHeader.begin(), request.ipHeader.end());
  const std::size_t quoted = std::min<std::size_t>(b.quoteBytes, request.icmp.size());
  icmp.insert(icmp.end(), request.icmp.begin(), request.icmp.begin() + static_cast<std::ptrdiff_t>(quoted));
  ApplyFinish(icmp, b);
  return BuildIcmpPacket(b.source.value_or(request.destination), request.source, b.ttl, icmp);
}

std::optional<Frame> ParseFrame(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < EthernetHeaderBytes) return std::nullopt;
  Frame f;
  std::copy_n(bytes.begin(), 6, f.destination.begin());
  std::copy_n(bytes.begin() + 6, 6, f.source.begin());
  f.type = Get16(bytes, 12);
  f.payload = bytes.subspan(EthernetHeaderBytes);
  return f;
}

std::vector<std::uint8_t> BuildFrame(const Mac& destination, const Mac& source, std::uint16_t type,
                                     std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> f(destination.begin(), destination.end());
  f.insert(f.end(), source.begin(), source.end());
  f.push_back(static_cast<std::uint8_t>(type >> 8));
  f.push_back(static_cast<std::uint8_t>(type));
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

namespace {

constexpr std::uint8_t ArpHeader[] = {0, 1, 8, 0, 6, 4};  // Ethernet, IPv4, their lengths
constexpr std::size_t ArpBytes = 28;

std::vector<std::uint8_t> Arp(std::uint16_t operation, const Mac& senderMac, Ip4 senderIp, const Mac& targetMac,
                              Ip4 targetIp) {
  std::vector<std::uint8_t> a(std::begin(ArpHeader), std::end(ArpHeader));
  a.resize(ArpBytes);
  Put16(a, 6, operation);
  std::copy(senderMac.begin(), senderMac.end(), a.begin() + 8);
  Put32(a, 14, senderIp);
  std::copy(targetMac.begin(), targetMac.end(), a.begin() + 18);
  Put32(a, 24, targetIp);
  return a;
}

}  // namespace

std::optional<ArpRequest> ParseArpRequest(std::span<const std::uint8_t> a) {
  if (a.size() < ArpBytes || !std::equal(std::begin(ArpHeader), std::end(ArpHeader), a.begin()) || Get16(a, 6) != 1)
    return std::nullopt;
  ArpRequest r;
  std::copy_n(a.begin() + 8, 6, r.senderMac.begin());
  r.senderIp = Get32(a, 14);
  r.targetIp = Get32(a, 24);
  return r;
}

std::vector<std::uint8_t> BuildArpReply(const ArpRequest& request, const Mac& mac) {
  const auto arp = Arp(2, mac, request.targetIp, request.senderMac, request.senderIp);
  return BuildFrame(request.senderMac, mac, EtherTypeArp, arp);
}

std::vector<std::uint8_t> BuildArpRequest(Ip4 sender, const Mac& mac, Ip4 target) {
  const auto arp = Arp(1, mac, sender, Mac{}, target);
  return BuildFrame(BroadcastMac, mac, EtherTypeArp, arp);
}

}  // namespace zn7qx::sim
