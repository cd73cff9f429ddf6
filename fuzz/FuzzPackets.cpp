// Received packets on both socket paths, the first byte picking the path; two
// wrap the rest in sound outer headers, so that the fuzzer spends its time
// inside. Every event tells the truth about the bytes: identifier, sequence and
// data as in the packet, an error's destination as its quote's, and the reply
// record filled inside its 250 bytes, zeros after the data.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "net/EchoRecord.h"
#include "net/ICMPPing.h"
#include "net/UnitReply.h"
#include "net/linux/IcmpPacket.h"
#include "net/linux/LinkFrames.h"
#include "tests/support/Packets.h"

namespace {

using zn7qx::linuxnet::EchoEvent;
using Bytes = std::span<const unsigned char>;

constexpr std::uint32_t kFrom = 0x0A0012C6;  // 198.18.0.10, network order

std::uint16_t Read16(Bytes b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

bool KnownErrorStatus(std::int32_t s) {
  return (s >= zn7qx::IP_DEST_NET_UNREACHABLE && s <= zn7qx::IP_NO_RESOURCES) ||
         s == zn7qx::IP_PACKET_TOO_BIG || (s >= zn7qx::IP_BAD_ROUTE && s <= zn7qx::IP_SOURCE_QUENCH) ||
         s == zn7qx::IP_BAD_DESTINATION || s == zn7qx::IP_GENERAL_FAILURE;
}

// What every event must satisfy, whichever path made it. icmp is the ICMP
// message the event came from (header first).
void CheckEvent(const EchoEvent& event, Bytes icmp) {
  if (event.kind == EchoEvent::Kind::Reply) {
    ZN7QX_FUZZ_CHECK(event.status == zn7qx::IP_SUCCESS);
    ZN7QX_FUZZ_CHECK(icmp.size() >= zn7qx::linuxnet::IcmpHeaderSize);
    ZN7QX_FUZZ_CHECK(icmp[0] == zn7qx::linuxnet::IcmpEchoReplyType);
    ZN7QX_FUZZ_CHECK(event.identifier == Read16(icmp, 4));
    ZN7QX_FUZZ_CHECK(event.sequence == Read16(icmp, 6));
    ZN7QX_FUZZ_CHECK(event.data.size() == icmp.size() - zn7qx::linuxnet::IcmpHeaderSize);
    ZN7QX_FUZZ_CHECK(event.data.empty() ||
                     std::memcmp(event.data.data(), icmp.data() + 8, event.data.size()) == 0);
  } else {
    ZN7QX_FUZZ_CHECK(KnownErrorStatus(event.status));
    ZN7QX_FUZZ_CHECK(event.data.empty());
  }

  zn7qx::ICMP_ECHO_REPLY reply;
  std::memset(&reply, 0, sizeof reply);
  zn7qx::FillEchoReply(reply, event, 1);
  ZN7QX_FUZZ_CHECK(reply.Status == event.status);
  ZN7QX_FUZZ_CHECK(reply.DataSize <= sizeof reply.Data);
  ZN7QX_FUZZ_CHECK(reply.DataSize == std::min(event.data.size(), sizeof reply.Data));
  for (std::size_t i = reply.DataSize; i < sizeof reply.Data; ++i) ZN7QX_FUZZ_CHECK(reply.Data[i] == 0);

  // The window reads the 250-byte area as text; the unit's text never holds a
  // NUL and never runs past the area.
  const auto text = zn7qx::UnitTextFromReply(std::string_view(reply.Data, sizeof reply.Data));
  if (text) {
    ZN7QX_FUZZ_CHECK(text->size() <= 244);
    ZN7QX_FUZZ_CHECK(text->find('\0') == std::string::npos);
    ZN7QX_FUZZ_CHECK(std::string_view(reply.Data, 6) == zn7qx::UnitReplyPrefix);
  }
}

void Datagram(Bytes icmp) {
  const auto event = zn7qx::linuxnet::ParseDatagramReply(icmp, kFrom, 64, 0);
  if (!event) return;
  ZN7QX_FUZZ_CHECK(event->kind == EchoEvent::Kind::Reply);
  ZN7QX_FUZZ_CHECK(event->peer == kFrom && event->from == kFrom);
  ZN7QX_FUZZ_CHECK(zn7qx::linuxnet::InternetChecksum(icmp) == 0);
  CheckEvent(*event, icmp);
}

// The rest as an ICMP message with its checksum made right: an echo reply
// must then be taken, whatever its data.
void DatagramWithChecksum(Bytes rest) {
  if (rest.size() < zn7qx::linuxnet::IcmpHeaderSize) return Datagram(rest);
  zn7qx::test::Bytes icmp(rest.begin(), rest.end());
  zn7qx::test::FixChecksum(icmp, 0, 2);
  const auto event = zn7qx::linuxnet::ParseDatagramReply(icmp, kFrom, 64, 0);
  const bool echoReply = icmp[0] == zn7qx::linuxnet::IcmpEchoReplyType && icmp[1] == 0;
  ZN7QX_FUZZ_CHECK(event.has_value() == echoReply);
  if (event) CheckEvent(*event, icmp);
}

void Raw(Bytes packet) {
  const auto event = zn7qx::linuxnet::ParseRawPacket(packet);
  if (!event) return;
  ZN7QX_FUZZ_CHECK(packet.size() >= 28);
  const std::size_t ihl = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  const std::size_t total = Read16(packet, 2);
  ZN7QX_FUZZ_CHECK(ihl >= 20 && total <= packet.size() && total >= ihl + 8);
  const Bytes icmp = packet.subspan(ihl, total - ihl);
  std::uint32_t source;
  std::memcpy(&source, packet.data() + 12, sizeof source);
  ZN7QX_FUZZ_CHECK(event->from == source);
  if (event->kind == EchoEvent::Kind::Reply) {
    ZN7QX_FUZZ_CHECK(event->peer == source);
  } else {
    // Attributed to where the quoted request was going, never to the sender.
    const Bytes inner = icmp.subspan(8);
    ZN7QX_FUZZ_CHECK(inner.size() >= 28);
    std::uint32_t quotedDestination;
    std::memcpy(&quotedDestination, inner.data() + 16, sizeof quotedDestination);
    ZN7QX_FUZZ_CHECK(event->peer == quotedDestination);
    const std::size_t innerIhl = static_cast<std::size_t>(inner[0] & 0x0F) * 4;
    ZN7QX_FUZZ_CHECK(inner.size() >= innerIhl + 8);
    ZN7QX_FUZZ_CHECK(inner[innerIhl] == zn7qx::linuxnet::IcmpEchoRequestType);
    ZN7QX_FUZZ_CHECK(event->identifier == Read16(inner, innerIhl + 4));
    ZN7QX_FUZZ_CHECK(event->sequence == Read16(inner, innerIhl + 6));
  }
  CheckEvent(*event, icmp);
}

// The rest as the ICMP message of a sound IPv4 packet from 198.18.0.10.
void RawWrapped(Bytes rest) {
  if (20 + rest.size() > 0xFFFF) return;
  zn7qx::test::Bytes icmp(rest.begin(), rest.end());
  if (icmp.size() >= 8) zn7qx::test::FixChecksum(icmp, 0, 2);
  const auto packet = zn7qx::test::Ip(kFrom, 0x010012C6 /* 198.18.0.1 */, icmp);
  const auto event = zn7qx::linuxnet::ParseRawPacket(packet);
  if (rest.size() >= 8 && rest[0] == zn7qx::linuxnet::IcmpEchoReplyType && rest[1] == 0)
    ZN7QX_FUZZ_CHECK(event.has_value() && event->kind == EchoEvent::Kind::Reply);
  Raw(packet);
}

// [length of the extended error][extended error][quoted request]
void ErrorQueue(Bytes rest) {
  if (rest.empty()) return;
  const std::size_t eeLength = std::min<std::size_t>(rest[0], rest.size() - 1);
  const Bytes ee = rest.subspan(1, eeLength);
  const Bytes quoted = rest.subspan(1 + eeLength);
  const std::uint32_t destination = 0x140012C6;  // 198.18.0.20
  const auto event = zn7qx::linuxnet::ParseErrorQueueMessage(ee, quoted, destination);
  if (!event) return;
  ZN7QX_FUZZ_CHECK(event->kind == EchoEvent::Kind::Error);
  ZN7QX_FUZZ_CHECK(event->peer == destination);
  ZN7QX_FUZZ_CHECK(quoted.size() >= 8 && quoted[0] == zn7qx::linuxnet::IcmpEchoRequestType);
  ZN7QX_FUZZ_CHECK(event->identifier == Read16(quoted, 4));
  ZN7QX_FUZZ_CHECK(event->sequence == Read16(quoted, 6));
  CheckEvent(*event, quoted);
}

// A whole Ethernet frame off the link, read by the sweep that resolves the
// link itself: an ARP answer only from a unicast sender, to us, naming
// itself as the frame does; an echo event only to us, as the raw path
// reads its IPv4 packet.
void Frame(Bytes frame) {
  zn7qx::linuxnet::LinkSelf self;
  self.mac = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x01};
  self.address = 0x010012C6;  // 198.18.0.1
  const auto parsed = zn7qx::linuxnet::ParseLinkFrame(frame, self);
  using Kind = zn7qx::linuxnet::LinkFrame::Kind;
  if (parsed.kind == Kind::Other) return;
  ZN7QX_FUZZ_CHECK(std::equal(self.mac.begin(), self.mac.end(), frame.begin()));
  ZN7QX_FUZZ_CHECK(std::equal(parsed.source.begin(), parsed.source.end(), frame.begin() + 6));
  ZN7QX_FUZZ_CHECK((parsed.source[0] & 1) == 0);
  if (parsed.kind == Kind::Arp) {
    ZN7QX_FUZZ_CHECK(frame.size() >= 42 && Read16(frame, 12) == 0x0806 && Read16(frame, 20) == 2);
    ZN7QX_FUZZ_CHECK(parsed.arp.mac == parsed.source);
    ZN7QX_FUZZ_CHECK(std::memcmp(&parsed.arp.address, frame.data() + 28, 4) == 0);
    ZN7QX_FUZZ_CHECK(parsed.arp.address != self.address && parsed.arp.address != 0);
    ZN7QX_FUZZ_CHECK(std::memcmp(&self.address, frame.data() + 38, 4) == 0);
    return;
  }
  ZN7QX_FUZZ_CHECK(Read16(frame, 12) == 0x0800 && std::memcmp(&self.address, frame.data() + 30, 4) == 0);
  Raw(frame.subspan(zn7qx::linuxnet::EthernetHeaderSize));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Bytes rest(data + 1, size - 1);
  switch (data[0] % 6) {
    case 0: Datagram(rest); break;
    case 1: DatagramWithChecksum(rest); break;
    case 2: Raw(rest); break;
    case 3: RawWrapped(rest); break;
    case 4: ErrorQueue(rest); break;
    case 5: Frame(rest); break;
  }
  return 0;
}
