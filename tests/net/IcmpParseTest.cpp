// Received ICMP bytes of every shape, read by the pure parsers of both socket
// paths. Packets are built by hand here, independently of BuildEchoRequest.

#include <time.h>

#include <linux/errqueue.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/ICMPPing.h"
#include "net/linux/IcmpPacket.h"

namespace zn7qx::linuxnet {
namespace {

using Bytes = std::vector<unsigned char>;

// 198.18.0.10 etc. in network order, as the bytes stand on the wire.
std::uint32_t Addr(unsigned a, unsigned b, unsigned c, unsigned d) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  std::uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

void Put16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<unsigned char>(v >> 8);
  b[at + 1] = static_cast<unsigned char>(v & 0xFF);
}

void PutAddr(Bytes& b, std::size_t at, std::uint32_t a) { std::memcpy(b.data() + at, &a, 4); }

// Ones' complement sum written out long-hand.
void FixChecksum(Bytes& b, std::size_t from, std::size_t at) {
  Put16(b, at, 0);
  unsigned long sum = 0;
  for (std::size_t i = from; i < b.size(); i += 2) {
    unsigned hi = b[i];
    unsigned lo = i + 1 < b.size() ? b[i + 1] : 0;
    sum += hi * 256 + lo;
  }
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  Put16(b, at, static_cast<unsigned>(~sum & 0xFFFF));
}

Bytes Icmp(unsigned type, unsigned code, unsigned id, unsigned seq, const Bytes& data) {
  Bytes b(8);
  b[0] = static_cast<unsigned char>(type);
  b[1] = static_cast<unsigned char>(code);
  Put16(b, 4, id);
  Put16(b, 6, seq);
  b.insert(b.end(), data.begin(), data.end());
  FixChecksum(b, 0, 2);
  return b;
}

Bytes Ip(std::uint32_t src, std::uint32_t dst, const Bytes& body, unsigned protocol = 1, unsigned ttl = 57,
         unsigned optionWords = 0) {
  const std::size_t ihl = 20 + optionWords * 4;
  Bytes b(ihl, 0);
  b[0] = static_cast<unsigned char>(0x40 | (ihl / 4));
  b[1] = 0x10;  // TOS
  Put16(b, 2, static_cast<unsigned>(ihl + body.size()));
  Put16(b, 6, 0x4000);  // don't fragment
  b[8] = static_cast<unsigned char>(ttl);
  b[9] = static_cast<unsigned char>(protocol);
  PutAddr(b, 12, src);
  PutAddr(b, 16, dst);
  for (std::size_t i = 20; i < ihl; ++i) b[i] = 1;  // NOP options
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Payload() { return Text(std::string(ProbePayload)); }

const std::uint32_t Me = Addr(198, 18, 0, 1);
const std::uint32_t Target = Addr(198, 18, 0, 10);
const std::uint32_t Router = Addr(198, 18, 0, 254);

// An ICMP error from the router that quotes our echo request to Target.
Bytes ErrorQuoting(unsigned type, unsigned code, const Bytes& quotedPacket) {
  Bytes icmp(8, 0);
  icmp[0] = static_cast<unsigned char>(type);
  icmp[1] = static_cast<unsigned char>(code);
  icmp.insert(icmp.end(), quotedPacket.begin(), quotedPacket.end());
  FixChecksum(icmp, 0, 2);
  return Ip(Router, Me, icmp);
}

Bytes OurRequestQuote(unsigned id = 0x1234, unsigned seq = 7, std::size_t dataBytes = 8) {
  Bytes request = Icmp(8, 0, id, seq, Payload());
  request.resize(8 + dataBytes);
  return Ip(Me, Target, request, 1, 64);
}

// ---- Building requests ------------------------------------------------------

TEST(IcmpEchoRequest, CarriesIdentifierSequencePayloadAndAValidChecksum) {
  const Bytes payload = Payload();
  const Bytes packet = BuildEchoRequest(0xBEEF, 0x0102, payload);
  ASSERT_EQ(packet.size(), 8u + 98u);
  EXPECT_EQ(packet[0], 8);
  EXPECT_EQ(packet[1], 0);
  EXPECT_EQ(packet[4], 0xBE);
  EXPECT_EQ(packet[5], 0xEF);
  EXPECT_EQ(packet[6], 0x01);
  EXPECT_EQ(packet[7], 0x02);
  EXPECT_EQ(Bytes(packet.begin() + 8, packet.end()), payload);
  EXPECT_EQ(InternetChecksum(packet), 0);
  EXPECT_EQ(Icmp(8, 0, 0xBEEF, 0x0102, payload), packet);
}

TEST(IcmpEchoRequest, ChecksumOfOddLengthMatchesLongHandSum) {
  const Bytes odd = Icmp(8, 0, 1, 2, Text("abc"));
  EXPECT_EQ(InternetChecksum(odd), 0);
  EXPECT_EQ(BuildEchoRequest(1, 2, Text("abc")), odd);
}

// ---- Datagram path: ICMP header and data ------------------------------------

TEST(DatagramReply, EchoReplyGivesItsIdentifierSequenceAndData) {
  const auto event = ParseDatagramReply(Icmp(0, 0, 0x4242, 99, Payload()), Target, 63, 0x10);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->kind, EchoEvent::Kind::Reply);
  EXPECT_EQ(event->peer, Target);
  EXPECT_EQ(event->from, Target);
  EXPECT_EQ(event->identifier, 0x4242);
  EXPECT_EQ(event->sequence, 99);
  EXPECT_EQ(event->status, 0);
  EXPECT_EQ(event->data, Payload());
  EXPECT_EQ(event->ttl, 63);
  EXPECT_EQ(event->tos, 0x10);
}

TEST(DatagramReply, HeaderAloneIsAReplyWithNoData) {
  const auto event = ParseDatagramReply(Icmp(0, 0, 1, 1, {}), Target);
  ASSERT_TRUE(event);
  EXPECT_TRUE(event->data.empty());
}

TEST(DatagramReply, TruncatedHeaderIsDropped) {
  const Bytes full = Icmp(0, 0, 1, 1, {});
  for (std::size_t n = 0; n < 8; ++n) {
    EXPECT_FALSE(ParseDatagramReply(Bytes(full.begin(), full.begin() + static_cast<long>(n)), Target)) << n;
  }
}

TEST(DatagramReply, BadChecksumIsDropped) {
  Bytes packet = Icmp(0, 0, 1, 1, Payload());
  packet[20] ^= 0x01;
  EXPECT_FALSE(ParseDatagramReply(packet, Target));
  packet = Icmp(0, 0, 1, 1, Payload());
  packet[2] ^= 0x80;
  EXPECT_FALSE(ParseDatagramReply(packet, Target));
}

TEST(DatagramReply, OtherTypesAndCodesAreDropped) {
  EXPECT_FALSE(ParseDatagramReply(Icmp(8, 0, 1, 1, Payload()), Target));
  EXPECT_FALSE(ParseDatagramReply(Icmp(3, 1, 1, 1, Payload()), Target));
  EXPECT_FALSE(ParseDatagramReply(Icmp(0, 1, 1, 1, Payload()), Target));
  EXPECT_FALSE(ParseDatagramReply(Icmp(13, 0, 1, 1, Payload()), Target));
}

TEST(DatagramReply, NulAndNonAsciiBytesAreKeptAsTheyCame) {
  Bytes data = Text("Found.");
  data.insert(data.end(), {0x00, 0xFF, 0x80, 0x1B, '\n', 0xE9});
  const auto event = ParseDatagramReply(Icmp(0, 0, 1, 1, data), Target);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->data, data);
}

TEST(DatagramReply, LongDataIsHandedOverWhole) {
  const Bytes data(1400, 'x');
  const auto event = ParseDatagramReply(Icmp(0, 0, 1, 1, data), Target);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->data.size(), 1400u);
}

// ---- Raw path: whole IPv4 packets -------------------------------------------

TEST(RawPacket, EchoReplyGivesSourceTtlTosAndData) {
  const auto event = ParseRawPacket(Ip(Target, Me, Icmp(0, 0, 0xABCD, 5, Payload()), 1, 61));
  ASSERT_TRUE(event);
  EXPECT_EQ(event->kind, EchoEvent::Kind::Reply);
  EXPECT_EQ(event->peer, Target);
  EXPECT_EQ(event->from, Target);
  EXPECT_EQ(event->identifier, 0xABCD);
  EXPECT_EQ(event->sequence, 5);
  EXPECT_EQ(event->status, 0);
  EXPECT_EQ(event->data, Payload());
  EXPECT_EQ(event->ttl, 61);
  EXPECT_EQ(event->tos, 0x10);
  EXPECT_EQ(event->ipFlags, 0x2);  // DF
}

TEST(RawPacket, IpOptionsAreSkippedByHeaderLength) {
  const auto event = ParseRawPacket(Ip(Target, Me, Icmp(0, 0, 1, 2, Text("hi")), 1, 64, 3));
  ASSERT_TRUE(event);
  EXPECT_EQ(event->data, Text("hi"));
}

TEST(RawPacket, BytesAfterTheTotalLengthAreNotData) {
  Bytes packet = Ip(Target, Me, Icmp(0, 0, 1, 2, Text("hi")));
  packet.insert(packet.end(), {0, 0, 0, 0});
  const auto event = ParseRawPacket(packet);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->data, Text("hi"));
}

TEST(RawPacket, BrokenIpHeadersAreDropped) {
  const Bytes good = Ip(Target, Me, Icmp(0, 0, 1, 2, Payload()));
  ASSERT_TRUE(ParseRawPacket(good));
  auto with = [&](auto change) {
    Bytes b = good;
    change(b);
    return ParseRawPacket(b);
  };
  EXPECT_FALSE(with([](Bytes& b) { b[0] = 0x65; })) << "IPv6 version";
  EXPECT_FALSE(with([](Bytes& b) { b[0] = 0x44; })) << "header length below 20";
  EXPECT_FALSE(with([](Bytes& b) { b[0] = 0x4F; b.resize(40); })) << "header longer than packet";
  EXPECT_FALSE(with([](Bytes& b) { b[9] = 17; })) << "UDP";
  EXPECT_FALSE(with([](Bytes& b) { Put16(b, 2, static_cast<unsigned>(b.size() + 1)); })) << "total beyond bytes";
  EXPECT_FALSE(with([](Bytes& b) { Put16(b, 2, 19); })) << "total below header";
  EXPECT_FALSE(with([](Bytes& b) { Put16(b, 6, 0x2000); })) << "first of several fragments";
  EXPECT_FALSE(with([](Bytes& b) { Put16(b, 6, 0x0010); })) << "later fragment";
  EXPECT_FALSE(with([](Bytes& b) { b.resize(27); Put16(b, 2, 27); })) << "ICMP header cut";
  for (std::size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(ParseRawPacket(Bytes(good.begin(), good.begin() + static_cast<long>(n)))) << n;
  }
}

TEST(RawPacket, BadChecksumIsDropped) {
  Bytes packet = Ip(Target, Me, Icmp(0, 0, 1, 2, Payload()));
  packet.back() ^= 0x40;
  EXPECT_FALSE(ParseRawPacket(packet));
}

TEST(RawPacket, OwnRequestsAndOtherTypesAreDropped) {
  EXPECT_FALSE(ParseRawPacket(Ip(Me, Target, Icmp(8, 0, 1, 2, Payload()))));
  EXPECT_FALSE(ParseRawPacket(Ip(Target, Me, Icmp(0, 3, 1, 2, Payload()))));
  EXPECT_FALSE(ParseRawPacket(Ip(Target, Me, Icmp(14, 0, 1, 2, Payload()))));  // timestamp reply
}

TEST(RawPacket, ErrorQuotingOurRequestNamesItsDestinationAndSender) {
  const auto event = ParseRawPacket(ErrorQuoting(3, 1, OurRequestQuote(0x1234, 7)));
  ASSERT_TRUE(event);
  EXPECT_EQ(event->kind, EchoEvent::Kind::Error);
  EXPECT_EQ(event->peer, Target);
  EXPECT_EQ(event->from, Router);
  EXPECT_EQ(event->identifier, 0x1234);
  EXPECT_EQ(event->sequence, 7);
  EXPECT_EQ(event->status, IP_DEST_HOST_UNREACHABLE);
  EXPECT_TRUE(event->data.empty());
}

TEST(RawPacket, ErrorQuotingOnlyTheRequestHeaderIsEnough) {
  const auto event = ParseRawPacket(ErrorQuoting(11, 0, OurRequestQuote(0x1234, 7, 0)));
  ASSERT_TRUE(event);
  EXPECT_EQ(event->status, IP_TTL_EXPIRED_TRANSIT);
}

TEST(RawPacket, ErrorQuotingAnythingButAnEchoRequestIsDropped) {
  EXPECT_FALSE(ParseRawPacket(ErrorQuoting(3, 3, Ip(Me, Target, Text("udp-header-8"), 17))));
  EXPECT_FALSE(ParseRawPacket(ErrorQuoting(3, 1, Ip(Me, Target, Icmp(0, 0, 0x1234, 7, Payload())))));
  EXPECT_FALSE(ParseRawPacket(ErrorQuoting(3, 1, Ip(Me, Target, Icmp(13, 0, 0x1234, 7, {})))));
}

TEST(RawPacket, ErrorWithAShortOrBrokenQuoteIsDropped) {
  Bytes quote = OurRequestQuote();
  EXPECT_FALSE(ParseRawPacket(ErrorQuoting(3, 1, Bytes(quote.begin(), quote.begin() + 27))));
  EXPECT_FALSE(ParseRawPacket(ErrorQuoting(3, 1, Bytes(quote.begin(), quote.begin() + 12))));
  EXPECT_FALSE(ParseRawPacket(ErrorQuoting(3, 1, {})));
  quote[0] = 0x4F;  // inner header claims 60 bytes
  EXPECT_FALSE(ParseRawPacket(ErrorQuoting(3, 1, quote)));
  quote = OurRequestQuote();
  Put16(quote, 6, 0x0100);  // the quote is of a later fragment: no ICMP header in it
  EXPECT_FALSE(ParseRawPacket(ErrorQuoting(3, 1, quote)));
}

TEST(RawPacket, ErrorWithBadOuterChecksumIsDropped) {
  Bytes packet = ErrorQuoting(3, 1, OurRequestQuote());
  packet[22] ^= 0x01;
  EXPECT_FALSE(ParseRawPacket(packet));
}

TEST(RawPacket, RedirectIsNotAnError) {
  EXPECT_FALSE(ParseRawPacket(ErrorQuoting(5, 1, OurRequestQuote())));
}

// ---- Error queue of ping sockets --------------------------------------------

Bytes Extended(std::uint8_t origin, std::uint8_t type, std::uint8_t code, std::uint32_t error,
               std::optional<std::uint32_t> offender) {
  sock_extended_err ee{};
  ee.ee_errno = error;
  ee.ee_origin = origin;
  ee.ee_type = type;
  ee.ee_code = code;
  Bytes b(sizeof ee);
  std::memcpy(b.data(), &ee, sizeof ee);
  if (offender) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = *offender;
    Bytes s(sizeof sin);
    std::memcpy(s.data(), &sin, sizeof sin);
    b.insert(b.end(), s.begin(), s.end());
  }
  return b;
}

TEST(ErrorQueue, IcmpErrorQuotingOurRequest) {
  const auto event = ParseErrorQueueMessage(Extended(SO_EE_ORIGIN_ICMP, 3, 3, ECONNREFUSED, Router),
                                            Icmp(8, 0, 0x0777, 12, Payload()), Target);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->kind, EchoEvent::Kind::Error);
  EXPECT_EQ(event->peer, Target);
  EXPECT_EQ(event->from, Router);
  EXPECT_EQ(event->identifier, 0x0777);
  EXPECT_EQ(event->sequence, 12);
  EXPECT_EQ(event->status, IP_DEST_PORT_UNREACHABLE);
}

TEST(ErrorQueue, LocalErrorMapsItsErrno) {
  const auto event = ParseErrorQueueMessage(Extended(SO_EE_ORIGIN_LOCAL, 0, 0, EMSGSIZE, std::nullopt),
                                            Icmp(8, 0, 1, 2, {}), Target);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->status, IP_PACKET_TOO_BIG);
  EXPECT_EQ(event->from, 0u);
}

TEST(ErrorQueue, WhatCannotBeTiedToAnEchoRequestIsDropped) {
  const Bytes quote = Icmp(8, 0, 1, 2, Payload());
  const Bytes ee = Extended(SO_EE_ORIGIN_ICMP, 3, 1, EHOSTUNREACH, Router);
  EXPECT_FALSE(ParseErrorQueueMessage(Bytes(ee.begin(), ee.begin() + 10), quote, Target));
  EXPECT_FALSE(ParseErrorQueueMessage({}, quote, Target));
  EXPECT_FALSE(ParseErrorQueueMessage(ee, Bytes(quote.begin(), quote.begin() + 7), Target));
  EXPECT_FALSE(ParseErrorQueueMessage(ee, Icmp(0, 0, 1, 2, {}), Target));
  EXPECT_FALSE(ParseErrorQueueMessage(Extended(SO_EE_ORIGIN_NONE, 3, 1, 0, Router), quote, Target));
  EXPECT_FALSE(ParseErrorQueueMessage(Extended(SO_EE_ORIGIN_ICMP6, 1, 0, 0, Router), quote, Target));
  EXPECT_FALSE(ParseErrorQueueMessage(Extended(SO_EE_ORIGIN_ICMP, 5, 0, 0, Router), quote, Target));
}

TEST(ErrorQueue, ShortOffenderLeavesSenderUnknown) {
  Bytes ee = Extended(SO_EE_ORIGIN_ICMP, 11, 1, EHOSTUNREACH, Router);
  ee.resize(ee.size() - 4);
  const auto event = ParseErrorQueueMessage(ee, Icmp(8, 0, 1, 2, {}), Target);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->from, 0u);
  EXPECT_EQ(event->status, IP_TTL_EXPIRED_REASSEM);
}

// ---- Status mapping ---------------------------------------------------------

TEST(IcmpStatus, DestinationUnreachableCodes) {
  const std::int32_t expected[16] = {11002, 11003, 11004, 11005, 11009, 11012, 11002, 11003,
                                     11003, 11002, 11003, 11002, 11003, 11003, 11003, 11003};
  for (unsigned code = 0; code < 16; ++code) {
    EXPECT_EQ(StatusFromIcmp(3, static_cast<std::uint8_t>(code)), expected[code]) << code;
  }
  EXPECT_EQ(StatusFromIcmp(3, 200), IP_DEST_HOST_UNREACHABLE);
}

TEST(IcmpStatus, OtherErrorTypes) {
  EXPECT_EQ(StatusFromIcmp(11, 0), IP_TTL_EXPIRED_TRANSIT);
  EXPECT_EQ(StatusFromIcmp(11, 1), IP_TTL_EXPIRED_REASSEM);
  EXPECT_EQ(StatusFromIcmp(12, 0), IP_PARAM_PROBLEM);
  EXPECT_EQ(StatusFromIcmp(12, 2), IP_PARAM_PROBLEM);
  EXPECT_EQ(StatusFromIcmp(4, 0), IP_SOURCE_QUENCH);
  for (std::uint8_t type : {0, 5, 8, 9, 10, 13, 14, 42, 255}) EXPECT_FALSE(StatusFromIcmp(type, 0)) << int(type);
}

TEST(IcmpStatus, LocalSendFailures) {
  EXPECT_EQ(StatusFromErrno(ENETUNREACH), IP_DEST_NET_UNREACHABLE);
  EXPECT_EQ(StatusFromErrno(EHOSTUNREACH), IP_DEST_HOST_UNREACHABLE);
  EXPECT_EQ(StatusFromErrno(ENOBUFS), IP_NO_RESOURCES);
  EXPECT_EQ(StatusFromErrno(ENOMEM), IP_NO_RESOURCES);
  EXPECT_EQ(StatusFromErrno(EAGAIN), IP_NO_RESOURCES);
  EXPECT_EQ(StatusFromErrno(EMSGSIZE), IP_PACKET_TOO_BIG);
  EXPECT_EQ(StatusFromErrno(EACCES), IP_BAD_DESTINATION);
  EXPECT_EQ(StatusFromErrno(EINVAL), IP_BAD_DESTINATION);
  EXPECT_EQ(StatusFromErrno(EPERM), IP_BAD_DESTINATION);
  EXPECT_EQ(StatusFromErrno(EIO), IP_GENERAL_FAILURE);
  EXPECT_EQ(StatusFromErrno(0), IP_GENERAL_FAILURE);
}

}  // namespace
}  // namespace zn7qx::linuxnet
