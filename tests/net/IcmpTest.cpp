// What comes off the wire, read by the pure parsers of both socket paths,
// and what becomes of an ICMP error: its status and the status's text.

#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>

#include "net/ICMPPing.h"
#include "net/linux/IcmpPacket.h"
#include "scan/ScanOutput.h"
#include "tests/support/Addresses.h"
#include "tests/support/Packets.h"

namespace zn7qx::test {
namespace {

using linuxnet::EchoEvent;

const std::uint32_t kMe = Net("198.18.0.1"), kTarget = Net("198.18.0.10"), kRouter = Net("198.18.0.254");
const std::string kPayload(ProbePayload);

Bytes Request(std::size_t dataBytes = 98) {
  Bytes r = Icmp(8, 0, 0x1234, 7, kPayload);
  r.resize(8 + dataBytes);
  return r;
}

// An ICMP message's type and code (-1: none gives this status), the status and
// its text in the window, and Linux's words for it in the sweep's CSV and JSON.
struct ErrorRow {
  int type, code;
  std::int32_t status;
  const char* text;
  const char* words;
};

const ErrorRow kErrors[] = {
    {3, 0, 11002, "Destination Net Unreachable", "Destination Net Unreachable"},
    {3, 1, 11003, "Destination Host Unreachable", "Destination Host Unreachable"},
    {3, 2, 11004, "Destination Protocol Unreachable", "Destination Protocol Unreachable"},
    {3, 3, 11005, "Destination Port Unreachable", "Destination Port Unreachable"},
    {3, 4, 11009, "Packet Too Big", "Frag needed and DF set"},
    {3, 5, 11012, "Bad Route", "Source Route Failed"},
    {3, 6, 11002, "Destination Net Unreachable", "Destination Net Unknown"},
    {3, 7, 11003, "Destination Host Unreachable", "Destination Host Unknown"},
    {3, 9, 11002, "Destination Net Unreachable", "Destination Net Prohibited"},
    {3, 10, 11003, "Destination Host Unreachable", "Destination Host Prohibited"},
    {3, 11, 11002, "Destination Net Unreachable", "Destination Net Unreachable for Type of Service"},
    {3, 13, 11003, "Destination Host Unreachable", "Packet filtered"},
    {3, 200, 11003, "Destination Host Unreachable", "Dest Unreachable, Bad Code: 200"},
    {4, 0, 11016, "Source Quench", "Source Quench"},
    {11, 0, 11013, "TimeToLive Expired Transit", "Time to live exceeded"},
    {11, 1, 11014, "TimeToLive Expired Reassembly", "Frag reassembly time exceeded"},
    {12, 0, 11015, "Parameter Problem", "Parameter problem"},
    // Statuses no ICMP message gives, as the window shows them: a send or a
    // read that failed, a text that was no address, and an unknown number.
    {-1, -1, 11006, "No Resources", ""}, {-1, -1, 11018, "Bad Destination", ""},
    {-1, -1, 11050, "General Failure", ""}, {-1, -1, 11019, "Unknown Response", ""},
};

TEST(IcmpErrors, BecomeTheirStatusOnBothPathsTheStatusItsTextAndLinuxItsWords) {
  for (const ErrorRow& row : kErrors) {
    SCOPED_TRACE(std::to_string(row.type) + "/" + std::to_string(row.code) + " " + row.text);
    EXPECT_EQ(GetStatusText(row.status), row.text);
    if (row.type < 0) continue;
    const auto type = static_cast<std::uint8_t>(row.type), code = static_cast<std::uint8_t>(row.code);
    EXPECT_EQ(linuxnet::StatusFromIcmp(type, code), row.status);
    const auto raw = linuxnet::ParseRawPacket(ErrorPacket(type, code, kRouter, kMe, Ip(kMe, kTarget, Request(8))));
    const auto queued = linuxnet::ParseErrorQueueMessage(
        ExtendedError(SO_EE_ORIGIN_ICMP, type, code, EHOSTUNREACH, kRouter), Request(), kTarget);
    for (const auto& event : {raw, queued}) {
      EXPECT_TRUE(event);
      if (!event) continue;
      EXPECT_EQ(event->kind, EchoEvent::Kind::Error);
      EXPECT_EQ(event->status, row.status);
      EXPECT_EQ(event->from, kRouter);  // the fuzz target holds the quote's destination, identifier and sequence
      EXPECT_EQ(event->icmpType, type);
      EXPECT_EQ(event->icmpCode, code);
    }
    scan::AddressResult filed;  // as the sweep files it
    std::tie(filed.outcome, filed.origin, filed.icmpType, filed.icmpCode) =
        std::tuple(scan::Outcome::Error, scan::ErrorOrigin::Icmp, type, code);
    EXPECT_EQ(scan::ErrorWords(filed), row.words);
  }
  for (std::uint8_t type : {0, 5, 8, 9, 13, 14, 255}) EXPECT_FALSE(linuxnet::StatusFromIcmp(type, 0)) << int(type);
}

TEST(IcmpErrors, LocalSendFailuresMapTheirErrno) {
  // Kernel refusals the simulated network cannot provoke (a full queue it can).
  EXPECT_EQ(linuxnet::StatusFromErrno(EIO), IP_GENERAL_FAILURE);
  const auto local = linuxnet::ParseErrorQueueMessage(ExtendedError(SO_EE_ORIGIN_LOCAL, 0, 0, EMSGSIZE, std::nullopt),
                                                      Request(0), kTarget);
  ASSERT_TRUE(local);
  EXPECT_EQ(local->status, IP_PACKET_TOO_BIG);
  EXPECT_EQ(local->localErrno, EMSGSIZE);
  EXPECT_EQ(local->from, 0u);
}

// A sound echo reply from the target, changed one way per row: taken or dropped.
struct PacketRow {
  const char* name;
  bool taken;
  std::function<Bytes()> packet;
};

const Bytes kReply = Icmp(0, 0, 0x4242, 99, kPayload);
Bytes Changed(Bytes b, std::size_t at, unsigned char value) {
  b.at(at) = value;
  return b;
}
Bytes Cut(Bytes b, std::size_t size) {
  b.resize(size);
  return b;
}

TEST(ReceivedPackets, RawPathChecksTheIpHeaderAndTheQuote) {
  const auto ours = [](unsigned type, unsigned code, const Bytes& quote) {
    return ErrorPacket(type, code, kRouter, kMe, quote);
  };
  const PacketRow rows[] = {
      {"echo reply", true, [] { return Ip(kTarget, kMe, kReply); }},
      {"options skipped", true, [] { return Ip(kTarget, kMe, kReply, 1, 3); }},
      {"bytes past the total length", true, [] { return Cut(Ip(kTarget, kMe, kReply), 20 + 106 + 4); }},
      {"IPv6 version", false, [] { return Changed(Ip(kTarget, kMe, kReply), 0, 0x65); }},
      {"UDP", false, [] { return Ip(kTarget, kMe, kReply, 17); }},
      {"first of several fragments", false, [] { return Changed(Ip(kTarget, kMe, kReply), 6, 0x20); }},
      {"later fragment", false, [] { return Changed(Ip(kTarget, kMe, kReply), 7, 0x10); }},
      {"error quoting the request header only", true, [=] { return ours(11, 0, Ip(kMe, kTarget, Request(0))); }},
      {"error quoting UDP", false, [=] { return ours(3, 3, Ip(kMe, kTarget, Request(), 17)); }},
      {"error quoting a later fragment", false, [=] { return ours(3, 1, Changed(Ip(kMe, kTarget, Request()), 6, 1)); }},
      {"error with a bad checksum", false, [=] { return Changed(ours(3, 1, Ip(kMe, kTarget, Request())), 22, 1); }},
  };
  for (const PacketRow& row : rows) {
    const auto event = linuxnet::ParseRawPacket(row.packet());
    EXPECT_EQ(event.has_value(), row.taken) << row.name;
    if (event && event->kind == EchoEvent::Kind::Reply) {
      EXPECT_EQ(event->data, Bytes(kPayload.begin(), kPayload.end())) << row.name;
      EXPECT_EQ(event->ttl, 57);
      EXPECT_EQ(event->tos, 0x10);
    }
  }
}

// The fuzz target holds what the error queue must quote; an offender cut
// short leaves the sender unknown, and the error still counts.
TEST(ReceivedPackets, AnErrorWithItsOffenderCutShortStillCounts) {
  const Bytes ee = ExtendedError(SO_EE_ORIGIN_ICMP, 3, 1, EHOSTUNREACH, kRouter);
  const auto event = linuxnet::ParseErrorQueueMessage(Cut(ee, ee.size() - 4), Request(), kTarget);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->from, 0u);
  EXPECT_FALSE(linuxnet::ParseErrorQueueMessage(ExtendedError(SO_EE_ORIGIN_NONE, 3, 1, 0, kRouter), Request(), kTarget));
}

}  // namespace
}  // namespace zn7qx::test
