// The probe's parts that need no network: the start-up count, the status
// texts, the reply record, and the addresses Ping refuses before sending.

#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "net/EchoRecord.h"
#include "net/ICMPPing.h"

namespace zn7qx {
namespace {

TEST(SocketsStartup, CountsPairsAndNeverGoesBelowZero) {
  while (SocketsStartupCount() > 0) SocketsCleanup();
  EXPECT_EQ(SocketsStartupCount(), 0);
  SocketsCleanup();
  SocketsCleanup();
  EXPECT_EQ(SocketsStartupCount(), 0);
  EXPECT_TRUE(SocketsInitialize());
  EXPECT_TRUE(SocketsInitialize());
  EXPECT_EQ(SocketsStartupCount(), 2);
  SocketsCleanup();
  EXPECT_EQ(SocketsStartupCount(), 1);
  SocketsCleanup();
  SocketsCleanup();
  EXPECT_EQ(SocketsStartupCount(), 0);
  // An extra clean-up earlier must not swallow a later start-up.
  EXPECT_TRUE(SocketsInitialize());
  EXPECT_EQ(SocketsStartupCount(), 1);
  SocketsCleanup();
}

TEST(StatusText, WholeTable) {
  const std::vector<std::pair<std::int32_t, std::string>> table = {
      {0, "Success!"},
      {11001, "Buffer Too Small"},
      {11002, "Destination Net Unreachable"},
      {11003, "Destination Host Unreachable"},
      {11004, "Destination Protocol Unreachable"},
      {11005, "Destination Port Unreachable"},
      {11006, "No Resources"},
      {11007, "Bad Option"},
      {11008, "Hardware Error"},
      {11009, "Packet Too Big"},
      {11010, "Request Timed Out"},
      {11011, "Bad Request"},
      {11012, "Bad Route"},
      {11013, "TimeToLive Expired Transit"},
      {11014, "TimeToLive Expired Reassembly"},
      {11015, "Parameter Problem"},
      {11016, "Source Quench"},
      {11017, "Option Too Big"},
      {11018, "Bad Destination"},
      {11032, "Negotiating IPSEC"},
      {11050, "General Failure"},
  };
  for (const auto& [code, text] : table) EXPECT_EQ(GetStatusText(code), text) << code;
}

TEST(StatusText, EverythingElseIsUnknownResponse) {
  for (std::int32_t code : {-1, 1, 10999, 11000, 11019, 11020, 11031, 11033, 11049, 11051, 65535,
                            std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()}) {
    EXPECT_EQ(GetStatusText(code), "Unknown Response") << code;
  }
}

TEST(ReplyRecord, ProbePayloadIsFollowedByZeros) {
  ICMP_ECHO_REPLY reply{};
  linuxnet::EchoEvent event;
  event.from = 0x0A0012C6;
  event.data.assign(ProbePayload.begin(), ProbePayload.end());
  event.ttl = 64;
  FillEchoReply(reply, event, 3);
  EXPECT_EQ(reply.Status, 0);
  EXPECT_EQ(reply.Address, 0x0A0012C6u);
  EXPECT_EQ(reply.RoundTripTime, 3u);
  EXPECT_EQ(reply.DataSize, 98);
  EXPECT_EQ(reply.Options.Ttl, 64);
  EXPECT_EQ(std::string(reply.Data, 98), ProbePayload);
  EXPECT_EQ(std::string(reply.Data + 98, 152), std::string(152, '\0'));
}

TEST(ReplyRecord, LongDataIsCutAtTheDataAreaAndNothingBeyondIsTouched) {
  struct Guarded {
    ICMP_ECHO_REPLY reply;
    unsigned char after[64];
  } g;
  std::memset(&g, 0, sizeof g);
  std::memset(g.after, 0x5A, sizeof g.after);
  linuxnet::EchoEvent event;
  for (int i = 0; i < 1000; ++i) event.data.push_back(static_cast<unsigned char>('A' + i % 26));
  FillEchoReply(g.reply, event, 0);
  EXPECT_EQ(g.reply.DataSize, 250);
  EXPECT_EQ(std::memcmp(g.reply.Data, event.data.data(), 250), 0);
  for (unsigned char c : g.after) ASSERT_EQ(c, 0x5A);
}

TEST(ReplyRecord, ErrorCarriesItsStatusAndSenderAndNoData) {
  ICMP_ECHO_REPLY reply{};
  linuxnet::EchoEvent event;
  event.kind = linuxnet::EchoEvent::Kind::Error;
  event.status = IP_DEST_HOST_UNREACHABLE;
  event.from = 0xFE0012C6;
  event.peer = 0x0A0012C6;
  FillEchoReply(reply, event, 1);
  EXPECT_EQ(reply.Status, IP_DEST_HOST_UNREACHABLE);
  EXPECT_EQ(reply.Address, 0xFE0012C6u);
  EXPECT_EQ(reply.DataSize, 0);
  EXPECT_EQ(std::string(reply.Data, 250), std::string(250, '\0'));
}

// These are refused before any socket is opened: a send to 255.255.255.255
// would come back from the kernel as Bad Destination, and one to 0.0.0.0 as
// a reply from this host, so -1 shows that nothing went out. (This suite
// runs in the machine's own namespace: only texts that can never parse.)
TEST(PingRefuses, ZeroAllOnesAndUnparsableAddressesWithMinusOneAndAClearedRecord) {
  for (const std::string& address :
       {std::string("0.0.0.0"), std::string("255.255.255.255"), std::string(""), std::string("not an address"),
        std::string("198.18.0.300"), std::string("1.2.3.4.5")}) {
    ICMP_ECHO_REPLY reply;
    std::memset(&reply, 0xA5, sizeof reply);
    const std::string before = address;
    EXPECT_EQ(Ping(address, reply), -1) << address;
    EXPECT_EQ(address, before);
    const ICMP_ECHO_REPLY zero{};
    EXPECT_EQ(std::memcmp(&reply, &zero, sizeof reply), 0) << address;
    EXPECT_EQ(GetStatusText(-1), "Unknown Response");
  }
}

TEST(PermissionAdvice, NamesBothRemediesAndNotRoot) {
  const std::string advice(EchoPermissionAdvice());
  EXPECT_NE(advice.find("sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\""), std::string::npos);
  EXPECT_NE(advice.find("sudo setcap cap_net_raw+ep"), std::string::npos);
  EXPECT_EQ(advice.find("sudo ./"), std::string::npos);
  EXPECT_EQ(advice.find("sudo zn7qx"), std::string::npos);
}

}  // namespace
}  // namespace zn7qx
