// The simulator's configuration, packet making and flood, without sockets.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "Flood.h"
#include "NamespaceCheck.h"
#include "Packets.h"
#include "SimConfig.h"

using namespace zn7qx::sim;

namespace {

Ip4 A(const char* text) { return *ParseIp4(text); }

// An echo request as the kernel hands it to a raw socket.
std::vector<std::uint8_t> RequestPacket(const char* from, const char* to, std::uint16_t id, std::uint16_t seq,
                                        std::string_view data) {
  OutPacket p = BuildIcmpPacket(A(from), A(to), 64, EchoMessage(IcmpEchoRequest, id, seq, Bytes(data)));
  return p.bytes;
}

std::string DataOf(const OutPacket& p) {
  return std::string(p.bytes.begin() + 28, p.bytes.end());
}

std::uint16_t Be16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

std::span<const std::uint8_t> IcmpOf(const OutPacket& p) {
  return std::span<const std::uint8_t>(p.bytes).subspan(20);
}

}  // namespace

TEST(SimAddresses, ParsesStrictDottedQuadsAndRanges) {
  EXPECT_EQ(A("198.18.0.10"), 0xC612000Au);
  EXPECT_EQ(FormatIp4(0xC612000Au), "198.18.0.10");
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "1..2.3", "a.b.c.d",
                          "1.2.3.0004", "1.2.3.-1"}) {
    EXPECT_FALSE(ParseIp4(bad)) << bad;
  }
  auto r = ParseIp4Range("198.19.0.0/16");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->first, A("198.19.0.0"));
  EXPECT_EQ(r->last, A("198.19.255.255"));
  EXPECT_EQ(ParseIp4Range("198.19.7.9/16")->first, A("198.19.0.0"));
  EXPECT_EQ(ParseIp4Range("0.0.0.0/0")->Size(), 1ull << 32);
  EXPECT_EQ(ParseIp4Range("198.18.0.20-198.18.0.29")->Size(), 10u);
  EXPECT_EQ(ParseIp4Range("198.18.0.7")->Size(), 1u);
  for (const char* bad : {"198.18.0.9-198.18.0.1", "198.18.0.0/33", "198.18.0.0/", "198.18.0.0/1x", "1.2.3.4-"}) {
    EXPECT_FALSE(ParseIp4Range(bad)) << bad;
  }
}

TEST(SimConfig, LooksUpAddressesRangesAndSilence) {
  SimConfig c = SimConfig::FromJsonText(R"({"replies":[
    {"range":"198.18.0.0/24","as":"host"},
    {"range":"198.18.0.16-198.18.0.31","as":"silent"},
    {"address":"198.18.0.20","as":"unit","text":"Unit-7"},
    {"address":"198.18.0.40","as":"late","delay_ms":450},
    {"address":"198.18.0.41","as":"duplicate"},
    {"address":"198.18.0.42","as":"duplicate","count":5,"interval_ms":10},
    {"address":"198.18.0.43","as":"error","icmp_type":11,"icmp_code":0,"from":"198.18.0.250"},
    {"address":"198.18.0.44","as":"data","data_hex":"46 6f:75-6e 64 2e 00 ff"}]})");
  EXPECT_EQ(c.Lookup(A("198.18.0.5")).kind, Kind::Host);
  EXPECT_EQ(c.Lookup(A("198.18.0.17")).kind, Kind::Silent);  // later range wins
  EXPECT_EQ(c.Lookup(A("198.18.0.20")).kind, Kind::Unit);    // an address beats ranges
  EXPECT_EQ(c.Lookup(A("198.18.0.20")).data, "Found.Unit-7");
  EXPECT_EQ(c.Lookup(A("198.18.1.1")).kind, Kind::Silent);
  EXPECT_EQ(c.Lookup(A("198.18.0.40")).delayMs, 450u);
  EXPECT_EQ(c.Lookup(A("198.18.0.41")).count, 2u);
  EXPECT_EQ(c.Lookup(A("198.18.0.42")).count, 5u);
  const Behaviour& e = c.Lookup(A("198.18.0.43"));
  EXPECT_EQ(e.kind, Kind::Error);
  EXPECT_EQ(e.icmpType, 11);
  EXPECT_EQ(*e.source, A("198.18.0.250"));
  EXPECT_EQ(c.Lookup(A("198.18.0.44")).data, std::string("Found.\0\xff", 8));
}

TEST(SimConfig, FloodSeedMayUseAll64Bits) {
  SimConfig c = SimConfig::FromJsonText(R"({"flood":{"count":10,"seed":18446744073709551615}})");
  EXPECT_EQ(c.Flood().seed, UINT64_MAX);
}

TEST(SimConfig, RouterIsTheDefaultSourceOfErrors) {
  SimConfig c = SimConfig::FromJsonText(R"({"router":"198.18.0.254","replies":[
    {"address":"198.18.0.2","as":"error"},
    {"address":"198.18.0.3","as":"error","from":"198.18.0.9"}]})");
  EXPECT_EQ(*c.Lookup(A("198.18.0.2")).source, A("198.18.0.254"));
  EXPECT_EQ(*c.Lookup(A("198.18.0.3")).source, A("198.18.0.9"));
  SimConfig d = SimConfig::FromJsonText(R"({"replies":[{"address":"198.18.0.2","as":"error"}]})");
  EXPECT_FALSE(d.Lookup(A("198.18.0.2")).source);
  d.SetDefaultErrorSource(A("198.18.0.1"));
  EXPECT_EQ(*d.Lookup(A("198.18.0.2")).source, A("198.18.0.1"));
}

TEST(SimConfig, RejectsBadConfigurationsWithTheEntryNamed) {
  struct Case {
    const char* json;
    const char* expected;
  } cases[] = {
      {"[", "not valid JSON"},
      {"[]", "must be a JSON object"},
      {R"({"replys":[]})", "unknown top-level key"},
      {R"({"replies":{}})", "must be a list"},
      {R"({"replies":[{"as":"host"}]})", "replies[0]: give exactly one"},
      {R"({"replies":[{"address":"1.2.3.4","range":"1.2.3.4","as":"host"}]})", "exactly one"},
      {R"({"replies":[{"address":"1.2.3.4"}]})", "\"as\" is missing"},
      {R"({"replies":[{"address":"1.2.3.4","as":"hots"}]})", "\"as\" must be"},
      {R"({"replies":[{"address":"1.2.3.400","as":"host"}]})", "not an IPv4 address"},
      {R"({"replies":[{"range":"1.2.3.9-1.2.3.1","as":"host"}]})", "\"range\" is not"},
      {R"({"replies":[{"address":"1.2.3.4","as":"host","colour":1}]})", "unknown key \"colour\""},
      {R"({"replies":[{"address":"1.2.3.4","as":"late"}]})", "needs \"delay_ms\""},
      {R"({"replies":[{"address":"1.2.3.4","as":"late","delay_ms":-5}]})", "\"delay_ms\" must be"},
      {R"({"replies":[{"address":"1.2.3.4","as":"late","delay_ms":999999}]})", "\"delay_ms\" must be"},
      {R"({"replies":[{"address":"1.2.3.4","as":"duplicate","count":0}]})", "at least 1"},
      {R"({"replies":[{"address":"1.2.3.4","as":"duplicate","count":100000}]})", "\"count\" must be"},
      {R"({"replies":[{"address":"1.2.3.4","as":"data"}]})", "exactly one of \"data_hex\""},
      {R"({"replies":[{"address":"1.2.3.4","as":"data","data_hex":"abc"}]})", "odd number"},
      {R"({"replies":[{"address":"1.2.3.4","as":"data","data_hex":"zz"}]})", "not a hex digit"},
      {R"({"replies":[{"address":"1.2.3.4","as":"host","text":"x"}]})", "belongs to \"as\": \"unit\""},
      {R"({"replies":[{"address":"1.2.3.4","as":"host","icmp_type":3}]})", "belong to \"as\": \"error\""},
      {R"({"replies":[{"address":"1.2.3.4","as":"error","icmp_type":256}]})", "\"icmp_type\" must be"},
      {R"({"replies":[{"address":"1.2.3.4","as":"host","wrong_sequence":0}]})", "\"wrong_sequence\" must be"},
      {R"({"replies":[{"address":"1.2.3.4","as":"host","bad_checksum":"yes"}]})", "\"bad_checksum\""},
      {R"({"flood":{"rate":10}})", "\"count\" is missing"},
      {R"({"flood":{"count":100000000}})", "\"count\" must be"},
      {R"({"flood":{"count":10,"rate":0}})", "at least 1"},
      {R"({"flood":{"count":10,"kinds":["storm"]}})", "unknown kind"},
      {R"({"flood":{"count":10,"seed":-1}})", "\"seed\" must be"},
      {R"({"flood":{"count":10,"seed":18446744073709551616}})", "\"seed\" must be"},
  };
  for (const Case& c : cases) {
    try {
      SimConfig::FromJsonText(c.json);
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const ConfigError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << c.json << " -> " << e.what();
    }
  }
  std::string longText(1500, 'x');
  EXPECT_THROW(SimConfig::FromJsonText(R"({"replies":[{"address":"1.2.3.4","as":"unit","text":")" + longText +
                                       "\"}]}"),
               ConfigError);
}

TEST(SimPackets, ChecksumMatchesTheInternetChecksum) {
  // RFC 1071's example words.
  const std::uint8_t words[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  EXPECT_EQ(InternetChecksum(words), static_cast<std::uint16_t>(~0xddf2 & 0xFFFF));
  const std::uint8_t odd[] = {0x12, 0x34, 0x56};
  EXPECT_EQ(InternetChecksum(odd), static_cast<std::uint16_t>(~(0x1234 + 0x5600) & 0xFFFF));
}

TEST(SimPackets, ParsesEchoRequestsAndRejectsTheRest) {
  auto pkt = RequestPacket("198.18.0.1", "198.18.0.10", 0x1234, 7, "Finding Morvalent");
  EchoRequest r;
  ASSERT_EQ(ParseEchoRequest(pkt, r), RequestProblem::None);
  EXPECT_EQ(r.source, A("198.18.0.1"));
  EXPECT_EQ(r.destination, A("198.18.0.10"));
  EXPECT_EQ(r.identifier, 0x1234);
  EXPECT_EQ(r.sequence, 7);
  EXPECT_EQ(std::string(r.data.begin(), r.data.end()), "Finding Morvalent");
  EXPECT_EQ(r.ipHeader.size(), 20u);

  auto bad = pkt;
  bad[30] ^= 1;
  EXPECT_EQ(ParseEchoRequest(bad, r), RequestProblem::BadChecksum);
  auto reply = BuildIcmpPacket(A("198.18.0.1"), A("198.18.0.10"), 64, EchoMessage(0, 1, 1, {})).bytes;
  EXPECT_EQ(ParseEchoRequest(reply, r), RequestProblem::NotEchoRequest);
  EXPECT_EQ(ParseEchoRequest(std::span(pkt).first(27), r), RequestProblem::Short);
  EXPECT_EQ(ParseEchoRequest(std::span(pkt).first(10), r), RequestProblem::Short);
  auto v6 = pkt;
  v6[0] = 0x65;
  EXPECT_EQ(ParseEchoRequest(v6, r), RequestProblem::NotIpv4);
  auto ihl = pkt;
  ihl[0] = 0x4F;  // 60-byte header, longer than what follows it
  EXPECT_NE(ParseEchoRequest(ihl, r), RequestProblem::None);
  auto frag = pkt;
  frag[6] = 0x20;  // more fragments
  EXPECT_EQ(ParseEchoRequest(frag, r), RequestProblem::Fragment);
  auto udp = pkt;
  udp[9] = 17;
  EXPECT_EQ(ParseEchoRequest(udp, r), RequestProblem::NotIcmp);
  // A total length longer than the datagram is cut to what arrived.
  auto longer = pkt;
  longer[2] = 0x10;
  EXPECT_EQ(ParseEchoRequest(longer, r), RequestProblem::None);
}

TEST(SimPackets, RepliesCarryTheBehavioursDataAndModifiers) {
  auto pkt = RequestPacket("198.18.0.1", "198.18.0.10", 0x1234, 7, "Finding Morvalent ZN7QX.");
  EchoRequest req;
  ASSERT_EQ(ParseEchoRequest(pkt, req), RequestProblem::None);

  Behaviour host;
  host.kind = Kind::Host;
  OutPacket p = BuildEchoReply(req, host);
  EXPECT_EQ(p.destination, A("198.18.0.1"));
  EXPECT_EQ(p.bytes[0], 0x45);
  EXPECT_EQ(Be16(p.bytes, 2), p.bytes.size());
  EXPECT_EQ(p.bytes[9], 1);
  EXPECT_EQ(std::vector<std::uint8_t>(p.bytes.begin() + 12, p.bytes.begin() + 16),
            (std::vector<std::uint8_t>{198, 18, 0, 10}));
  EXPECT_EQ(p.bytes[20], IcmpEchoReply);
  EXPECT_EQ(Be16(p.bytes, 24), 0x1234);
  EXPECT_EQ(Be16(p.bytes, 26), 7);
  EXPECT_EQ(InternetChecksum(IcmpOf(p)), 0);
  EXPECT_EQ(DataOf(p), "Finding Morvalent ZN7QX.");

  Behaviour unit;
  unit.kind = Kind::Unit;
  unit.data = "Found.Unit-7";
  EXPECT_EQ(DataOf(BuildEchoReply(req, unit)), "Found.Unit-7");

  Behaviour broken = unit;
  broken.badChecksum = true;
  broken.identifierOffset = 1;
  broken.sequenceOffset = 0x8000;
  broken.source = A("198.18.0.99");
  p = BuildEchoReply(req, broken);
  EXPECT_NE(InternetChecksum(IcmpOf(p)), 0);
  EXPECT_EQ(Be16(p.bytes, 24), 0x1235);
  EXPECT_EQ(Be16(p.bytes, 26), 0x8007);
  EXPECT_EQ(p.bytes[15], 99);

  Behaviour cut = host;
  cut.truncateTo = 12;  // header and 4 bytes of data, checksum still right
  p = BuildEchoReply(req, cut);
  EXPECT_EQ(p.bytes.size(), 32u);
  EXPECT_EQ(Be16(p.bytes, 2), 32);
  EXPECT_EQ(InternetChecksum(IcmpOf(p)), 0);
  cut.truncateTo = 3;  // not even a checksum field
  EXPECT_EQ(BuildEchoReply(req, cut).bytes.size(), 23u);
}

TEST(SimPackets, ErrorsQuoteTheRequestHeaderAndItsFirstEightBytes) {
  auto pkt = RequestPacket("198.18.0.1", "198.18.0.32", 0xBEEF, 3, "Finding Morvalent ZN7QX.");
  EchoRequest req;
  ASSERT_EQ(ParseEchoRequest(pkt, req), RequestProblem::None);
  Behaviour e;
  e.kind = Kind::Error;
  e.icmpType = 3;
  e.icmpCode = 1;
  OutPacket p = BuildErrorReply(req, e);
  ASSERT_EQ(p.bytes.size(), 20u + 8 + 20 + 8);
  EXPECT_EQ(p.bytes[20], 3);
  EXPECT_EQ(p.bytes[21], 1);
  EXPECT_EQ(InternetChecksum(IcmpOf(p)), 0);
  EXPECT_TRUE(std::equal(pkt.begin(), pkt.begin() + 28, p.bytes.begin() + 28));
  EXPECT_EQ(p.bytes[15], 32);  // from the target when no router is given
  e.source = A("198.18.0.254");
  e.quoteBytes = 1000;
  p = BuildErrorReply(req, e);
  EXPECT_EQ(p.bytes[15], 254);
  EXPECT_EQ(p.bytes.size(), 20u + 8 + pkt.size());  // never more than the request had
}

TEST(SimFlood, MakesEveryKindAndNeverAValidReplyToTheCurrentRequest) {
  auto pkt = RequestPacket("198.18.0.1", "198.18.0.10", 0x4242, 100, "Finding Morvalent ZN7QX.");
  EchoRequest req;
  ASSERT_EQ(ParseEchoRequest(pkt, req), RequestProblem::None);
  FloodConfig fc;
  fc.count = 1;
  fc.staleAfterMs = 1000;
  FloodMaker maker(fc, {A("198.18.0.10"), A("198.18.0.11")});
  auto t0 = FloodMaker::Clock::now();
  EXPECT_FALSE(maker.Next(t0));  // nobody to send to yet
  maker.Seen(req, t0);
  std::set<std::uint8_t> types;
  // While the request is fresh, nothing may pass for its answer: a reply that
  // names it is always broken (checksum, length or code) or from elsewhere.
  for (int i = 0; i < 3000; ++i) {
    auto p = maker.Next(t0 + std::chrono::milliseconds(i < 1500 ? 500 : 2000));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->destination, A("198.18.0.1"));
    ASSERT_GE(p->bytes.size(), 20u);
    EXPECT_EQ(Be16(p->bytes, 2), p->bytes.size());
    auto icmp = IcmpOf(*p);
    ASSERT_GE(icmp.size(), 8u) << "shorter ICMP never reaches a socket on Linux";
    types.insert(icmp[0]);
    const bool validReplyToCurrent = icmp.size() >= 8 && icmp[0] == 0 && icmp[1] == 0 &&
                                     InternetChecksum(icmp) == 0 && Be16(p->bytes, 24) == 0x4242 &&
                                     Be16(p->bytes, 26) == 100 && p->bytes[15] == 10;
    if (i < 1500) {
      EXPECT_FALSE(validReplyToCurrent) << "packet " << i;
    }
  }
  for (FloodKind k : {FloodKind::ForgedReply, FloodKind::StaleReply, FloodKind::BadChecksum, FloodKind::Truncated,
                      FloodKind::Malformed, FloodKind::ForeignError}) {
    EXPECT_GT(maker.MadeOf(k), 150u) << FloodKindName(k);
  }
  EXPECT_TRUE(types.count(0));
  EXPECT_TRUE(types.count(3));
  EXPECT_TRUE(types.count(11));
  EXPECT_FALSE(types.count(8)) << "never an echo request: the prober's kernel would answer it";
}

TEST(SimFlood, StaleRepliesOnlyForRequestsOlderThanTheLimit) {
  FloodConfig fc;
  fc.count = 1;
  fc.staleAfterMs = 1000;
  fc.kinds = {FloodKind::StaleReply};
  FloodMaker maker(fc, {});
  auto t0 = FloodMaker::Clock::now();
  auto old = RequestPacket("198.18.0.1", "198.18.0.10", 9, 1, "x");
  auto fresh = RequestPacket("198.18.0.1", "198.18.0.11", 9, 2, "x");
  EchoRequest r1, r2;
  ASSERT_EQ(ParseEchoRequest(old, r1), RequestProblem::None);
  ASSERT_EQ(ParseEchoRequest(fresh, r2), RequestProblem::None);
  maker.Seen(r1, t0);
  maker.Seen(r2, t0 + std::chrono::milliseconds(900));
  for (int i = 0; i < 50; ++i) {
    auto p = maker.Next(t0 + std::chrono::milliseconds(1500));
    ASSERT_TRUE(p);
    EXPECT_EQ(Be16(p->bytes, 26), 1) << "only the request 1.5 s old is stale";
    EXPECT_EQ(p->bytes[15], 10);
  }
  // Before anything is old enough, a forged reply stands in.
  FloodMaker young(fc, {});
  young.Seen(r2, t0);
  ASSERT_TRUE(young.Next(t0));
  EXPECT_EQ(young.MadeOf(FloodKind::StaleReply), 0u);
  EXPECT_EQ(young.MadeOf(FloodKind::ForgedReply), 1u);
}

TEST(SimNamespaceCheck, AcceptsOnlyLoopbackAndVethWithoutDefaultRoute) {
  const std::string header = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n";
  const std::string onLink = "zn7qx-net\t000012C6\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
  // Scripted listings only: nothing here opens a socket or sends.
  const std::string deflt = "uplink0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
  std::vector<LinkInfo> good = {{"lo", "", true}, {"zn7qx-net", "veth", false}};
  EXPECT_TRUE(IsolationProblems(good, header + onLink, "").empty());
  auto withNic = good;
  withNic.push_back({"uplink0", "virtio_net", false});
  auto p = IsolationProblems(withNic, header + onLink, "");
  ASSERT_EQ(p.size(), 1u);
  EXPECT_NE(p[0].find("uplink0"), std::string::npos);
  EXPECT_EQ(IsolationProblems(good, header + deflt, "").size(), 1u);
  EXPECT_EQ(IsolationProblems({{"dummy0", "dummy", false}}, header, "").size(), 1u);
  const std::string v6default =
      "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fe800000000000000000000000000001 "
      "00000400 00000001 00000000 00000003 zn7qx-net\n";
  EXPECT_EQ(IsolationProblems(good, header, v6default).size(), 1u);
}
