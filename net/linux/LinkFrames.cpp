#include "net/linux/LinkFrames.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>

#include <algorithm>
#include <cstring>

namespace zn7qx::linuxnet {

namespace {

constexpr std::uint16_t EtherTypeIpv4 = 0x0800;
constexpr std::uint16_t EtherTypeArp = 0x0806;
constexpr std::size_t ArpSize = 28;
constexpr std::size_t IpHeaderSize = 20;
constexpr Mac Broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

std::uint16_t Read16(std::span<const unsigned char> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

void Put16(std::vector<unsigned char>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<unsigned char>(v >> 8);
  b[at + 1] = static_cast<unsigned char>(v & 0xFF);
}

// Network-order addresses go onto the wire byte for byte.
void PutAddress(std::vector<unsigned char>& b, std::size_t at, std::uint32_t networkOrder) {
  std::memcpy(b.data() + at, &networkOrder, 4);
}

std::uint32_t ReadAddress(std::span<const unsigned char> b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

Mac ReadMac(std::span<const unsigned char> b, std::size_t at) {
  Mac m;
  std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at), 6, m.begin());
  return m;
}

std::vector<unsigned char> Frame(const Mac& to, const Mac& from, std::uint16_t type, std::size_t payload) {
  std::vector<unsigned char> f(EthernetHeaderSize + payload);
  std::copy(to.begin(), to.end(), f.begin());
  std::copy(from.begin(), from.end(), f.begin() + 6);
  Put16(f, 12, type);
  return f;
}

bool Unicast(const Mac& m) {
  return (m[0] & 1) == 0 && std::any_of(m.begin(), m.end(), [](std::uint8_t b) { return b != 0; });
}

}  // namespace

std::string MacText(std::span<const std::uint8_t> mac) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t b : mac) {
    if (!text.empty()) text += ':';
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::vector<unsigned char> BuildArpRequest(const LinkSelf& self, std::uint32_t target) {
  auto f = Frame(Broadcast, self.mac, EtherTypeArp, ArpSize);
  Put16(f, 14, 1);  // Ethernet
  Put16(f, 16, EtherTypeIpv4);
  f[18] = 6;
  f[19] = 4;
  Put16(f, 20, 1);  // request
  std::copy(self.mac.begin(), self.mac.end(), f.begin() + 22);
  PutAddress(f, 28, self.address);
  PutAddress(f, 38, target);  // target hardware address stays zero
  return f;
}

std::vector<unsigned char> BuildEchoFrame(const LinkSelf& self, const Mac& to, std::uint32_t dest,
                                          std::uint16_t identifier, std::uint16_t sequence,
                                          std::span<const unsigned char> payload, std::uint16_t ipIdentification) {
  const auto icmp = BuildEchoRequest(identifier, sequence, payload);
  auto f = Frame(to, self.mac, EtherTypeIpv4, IpHeaderSize + icmp.size());
  f[14] = 0x45;
  Put16(f, 16, static_cast<std::uint16_t>(IpHeaderSize + icmp.size()));
  Put16(f, 18, ipIdentification);
  Put16(f, 20, 0x4000);  // don't fragment, as the kernel sends ours
  f[22] = 64;            // time to live
  f[23] = 1;             // ICMP
  PutAddress(f, 26, self.address);
  PutAddress(f, 30, dest);
  Put16(f, 24, InternetChecksum(std::span<const unsigned char>(f).subspan(EthernetHeaderSize, IpHeaderSize)));
  std::copy(icmp.begin(), icmp.end(), f.begin() + EthernetHeaderSize + IpHeaderSize);
  return f;
}

LinkFrame ParseLinkFrame(std::span<const unsigned char> frame, const LinkSelf& self) {
  LinkFrame out;
  if (frame.size() < EthernetHeaderSize) return out;
  const Mac to = ReadMac(frame, 0);
  out.source = ReadMac(frame, 6);
  const std::uint16_t type = Read16(frame, 12);
  const auto body = frame.subspan(EthernetHeaderSize);
  if (type == EtherTypeArp) {
    if (body.size() < ArpSize || Read16(body, 0) != 1 || Read16(body, 2) != EtherTypeIpv4 || body[4] != 6 ||
        body[5] != 4 || Read16(body, 6) != 2)
      return out;
    const Mac sender = ReadMac(body, 8);
    const std::uint32_t senderAddress = ReadAddress(body, 14);
    // To us by both addresses, from the host it names, which is not itself the target.
    if (ReadMac(body, 18) != self.mac || ReadAddress(body, 24) != self.address || to != self.mac ||
        sender != out.source || !Unicast(sender) || senderAddress == self.address || senderAddress == 0)
      return out;
    out.kind = LinkFrame::Kind::Arp;
    out.arp = ArpAnswer{senderAddress, sender};
    return out;
  }
  if (type != EtherTypeIpv4 || to != self.mac || !Unicast(out.source) || body.size() < IpHeaderSize ||
      ReadAddress(body, 16) != self.address)
    return out;
  if (auto event = ParseRawPacket(body)) {
    out.kind = LinkFrame::Kind::Echo;
    out.echo = std::move(*event);
  }
  return out;
}

std::vector<sock_filter> LinkFilter(const LinkSelf& self, std::uint16_t identifier) {
  // Jump targets by name, resolved once the program is laid out.
  enum Label : std::uint8_t { Next, Ip, Echo, Accept, Drop };
  struct Step {
    sock_filter code;
    Label yes = Next, no = Next;
  };
  const auto statement = [](std::uint16_t code, std::uint32_t k) { return Step{BPF_STMT(code, k)}; };
  const auto test = [](std::uint16_t code, std::uint32_t k, Label yes, Label no) {
    return Step{BPF_JUMP(code, k, 0, 0), yes, no};
  };
  const std::uint32_t ours = ntohl(self.address);  // as the filter loads it
  const Step program[] = {
      statement(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
      test(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, Drop, Next),
      statement(BPF_LD | BPF_H | BPF_ABS, 12),
      test(BPF_JMP | BPF_JEQ | BPF_K, EtherTypeArp, Next, Ip),
      statement(BPF_LD | BPF_H | BPF_ABS, 20),  // the ARP operation
      test(BPF_JMP | BPF_JEQ | BPF_K, 2, Next, Drop),
      statement(BPF_LD | BPF_W | BPF_ABS, 38),  // its target address
      test(BPF_JMP | BPF_JEQ | BPF_K, ours, Accept, Drop),
      /* Ip: */ test(BPF_JMP | BPF_JEQ | BPF_K, EtherTypeIpv4, Next, Drop),
      statement(BPF_LD | BPF_W | BPF_ABS, 30),  // destination
      test(BPF_JMP | BPF_JEQ | BPF_K, ours, Next, Drop),
      statement(BPF_LD | BPF_B | BPF_ABS, 23),  // protocol
      test(BPF_JMP | BPF_JEQ | BPF_K, 1, Next, Drop),
      statement(BPF_LD | BPF_H | BPF_ABS, 20),  // a later fragment holds no ICMP header
      test(BPF_JMP | BPF_JSET | BPF_K, 0x1FFF, Drop, Next),
      statement(BPF_LDX | BPF_B | BPF_MSH, 14),  // X: the IP header's length
      statement(BPF_LD | BPF_B | BPF_IND, 14),   // ICMP type
      test(BPF_JMP | BPF_JEQ | BPF_K, IcmpEchoReplyType, Echo, Next),
      test(BPF_JMP | BPF_JEQ | BPF_K, IcmpDestUnreachableType, Accept, Next),
      test(BPF_JMP | BPF_JEQ | BPF_K, IcmpSourceQuenchType, Accept, Next),
      test(BPF_JMP | BPF_JEQ | BPF_K, IcmpTimeExceededType, Accept, Next),
      test(BPF_JMP | BPF_JEQ | BPF_K, IcmpParameterProblemType, Accept, Drop),
      /* Echo: */ statement(BPF_LD | BPF_H | BPF_IND, 18),  // identifier
      test(BPF_JMP | BPF_JEQ | BPF_K, identifier, Accept, Drop),
      /* Accept: */ statement(BPF_RET | BPF_K, 0x40000),
      /* Drop: */ statement(BPF_RET | BPF_K, 0),
  };
  constexpr std::size_t count = std::size(program);
  const std::size_t at[] = {0, 8, 22, count - 2, count - 1};  // Next unused
  std::vector<sock_filter> code;
  for (std::size_t i = 0; i < count; ++i) {
    sock_filter c = program[i].code;
    const auto jump = [&](Label l) { return static_cast<std::uint8_t>(l == Next ? 0 : at[l] - i - 1); };
    if (BPF_CLASS(c.code) == BPF_JMP) {
      c.jt = jump(program[i].yes);
      c.jf = jump(program[i].no);
    }
    code.push_back(c);
  }
  return code;
}

}  // namespace zn7qx::linuxnet
