// The real Ping, and the echo socket beneath it, against the simulated
// network of echo-network.json. The harness runs this binary in the probe
// namespace twice: with ping sockets allowed (datagram path) and without
// (raw path); ZN7QX_ECHO_PATH says which one this run must be using.

#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/ICMPPing.h"
#include "net/UnitReply.h"
#include "net/linux/EchoSocket.h"
#include "net/mdlConvertIPForms.h"
#include "tests/support/Isolation.h"

namespace zn7qx {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Probe {
  std::int32_t status = 0;
  ICMP_ECHO_REPLY reply{};
  milliseconds took{0};
};

Probe PingTimed(const std::string& address) {
  Probe p;
  const auto start = Clock::now();
  p.status = Ping(address, p.reply);
  p.took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  return p;
}

std::string DataText(const ICMP_ECHO_REPLY& r) { return std::string(r.Data, r.DataSize); }
bool ZeroAfterData(const ICMP_ECHO_REPLY& r) {
  for (std::size_t i = r.DataSize; i < sizeof r.Data; ++i)
    if (r.Data[i] != 0) return false;
  return true;
}

std::uint32_t Net(const char* dotted) { return static_cast<std::uint32_t>(DottedToNetwork(dotted)); }

// Room for opening and closing the socket around the 300 ms wait, on a busy
// two-core machine.
constexpr milliseconds Slack{100};

void QuietWait(milliseconds span) {
  const auto until = Clock::now() + span;
  while (Clock::now() < until) poll(nullptr, 0, 5);
}
constexpr milliseconds Deadline = milliseconds(PingTimeoutMs) + Slack;

class EchoE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ZN7QX_ASSERT_ISOLATED();
    if (HasFatalFailure()) return;
    const char* path = std::getenv("ZN7QX_ECHO_PATH");
    const auto kind = linuxnet::EchoSocket::Open().kind();
    ASSERT_NE(kind, linuxnet::SocketKind::None) << "no echo socket in the probe namespace";
    const std::string expected = path != nullptr ? path : "";
    if (expected == "datagram") {
      ASSERT_EQ(kind, linuxnet::SocketKind::Datagram);
    } else if (expected == "raw") {
      ASSERT_EQ(kind, linuxnet::SocketKind::Raw);
    }
  }
};

TEST_F(EchoE2e, UnitAnswersFoundAndItsText) {
  const auto p = PingTimed("198.18.0.10");
  ASSERT_EQ(p.status, IP_SUCCESS);
  EXPECT_EQ(p.reply.Status, IP_SUCCESS);
  EXPECT_EQ(DataText(p.reply), "Found.Unit-7");
  EXPECT_TRUE(ZeroAfterData(p.reply));
  EXPECT_EQ(p.reply.Address, Net("198.18.0.10"));
  EXPECT_EQ(p.reply.Options.Ttl, 64);
  EXPECT_LT(p.reply.RoundTripTime, 300u);
  EXPECT_EQ(UnitTextFromReply(std::string_view(p.reply.Data, sizeof p.reply.Data)), "Unit-7");
}

TEST_F(EchoE2e, HostEchoesThePayloadFollowedByZeros) {
  for (const char* address : {"198.18.0.20", "198.18.0.25", "198.18.0.29"}) {
    const auto p = PingTimed(address);
    ASSERT_EQ(p.status, IP_SUCCESS) << address;
    EXPECT_EQ(p.reply.DataSize, 98);
    EXPECT_EQ(std::string(p.reply.Data, 98), ProbePayload);
    EXPECT_EQ(std::string(p.reply.Data + 98, 152), std::string(152, '\0'));
    EXPECT_FALSE(UnitTextFromReply(std::string_view(p.reply.Data, sizeof p.reply.Data)));
  }
}

TEST_F(EchoE2e, UnitTextWithNulAndNonAsciiBytesArrivesUnchanged) {
  const auto p = PingTimed("198.18.0.11");
  ASSERT_EQ(p.status, IP_SUCCESS);
  EXPECT_EQ(DataText(p.reply), std::string("Found.Unit-7\0\xff\x80\xe9\r\nA", 19));
  EXPECT_EQ(UnitTextFromReply(std::string_view(p.reply.Data, sizeof p.reply.Data)), "Unit-7");
}

TEST_F(EchoE2e, LowerCaseFoundAndBareFound) {
  auto p = PingTimed("198.18.0.12");
  ASSERT_EQ(p.status, IP_SUCCESS);
  EXPECT_FALSE(UnitTextFromReply(std::string_view(p.reply.Data, sizeof p.reply.Data)));
  p = PingTimed("198.18.0.13");
  ASSERT_EQ(p.status, IP_SUCCESS);
  EXPECT_EQ(p.reply.DataSize, 6);
  EXPECT_EQ(UnitTextFromReply(std::string_view(p.reply.Data, sizeof p.reply.Data)), "");
}

TEST_F(EchoE2e, ReplyLongerThanTheDataAreaIsCutAt250) {
  const auto p = PingTimed("198.18.0.40");
  ASSERT_EQ(p.status, IP_SUCCESS);
  EXPECT_EQ(p.reply.DataSize, 250);
  EXPECT_EQ(std::string(p.reply.Data, 6), "Found.");
  const auto text = UnitTextFromReply(std::string_view(p.reply.Data, sizeof p.reply.Data));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size(), 244u);
}

TEST_F(EchoE2e, SilentAddressTimesOutWithinItsDeadline) {
  for (const char* address : {"198.18.0.50", "198.18.0.200"}) {
    const auto p = PingTimed(address);
    EXPECT_EQ(p.status, IP_REQ_TIMED_OUT) << address;
    EXPECT_GE(p.took, milliseconds(PingTimeoutMs - 5)) << address;
    EXPECT_LE(p.took, Deadline) << address;
    EXPECT_EQ(p.reply.DataSize, 0);
    EXPECT_TRUE(ZeroAfterData(p.reply));
  }
}

TEST_F(EchoE2e, AnswerInsideTheTimeOutCounts) {
  const auto p = PingTimed("198.18.0.45");
  ASSERT_EQ(p.status, IP_SUCCESS);
  EXPECT_GE(p.reply.RoundTripTime, 190u);
  EXPECT_LT(p.reply.RoundTripTime, 300u);
  EXPECT_EQ(std::string(p.reply.Data, p.reply.DataSize), ProbePayload);
}

// The answer to the first probe arrives 150 ms into the second one: it must
// not be taken for the second probe's answer.
TEST_F(EchoE2e, LateAnswerIsATimeOutAndNotTheNextProbesAnswer) {
  const auto first = PingTimed("198.18.0.30");
  EXPECT_EQ(first.status, IP_REQ_TIMED_OUT);
  EXPECT_LE(first.took, Deadline);
  const auto second = PingTimed("198.18.0.30");
  EXPECT_EQ(second.status, IP_REQ_TIMED_OUT);
  EXPECT_LE(second.took, Deadline);
  // And the next address still gets its own answer.
  const auto third = PingTimed("198.18.0.20");
  EXPECT_EQ(third.status, IP_SUCCESS);
  EXPECT_EQ(third.reply.Address, Net("198.18.0.20"));
}

TEST_F(EchoE2e, DuplicatesGiveOneAnswerAndDoNotSpillIntoTheNextProbe) {
  const auto p = PingTimed("198.18.0.31");
  ASSERT_EQ(p.status, IP_SUCCESS);
  EXPECT_EQ(std::string(p.reply.Data, p.reply.DataSize), ProbePayload);
  const auto next = PingTimed("198.18.0.50");
  EXPECT_EQ(next.status, IP_REQ_TIMED_OUT);
}

TEST_F(EchoE2e, IcmpErrorsBecomeTheirStatusCodes) {
  const struct {
    const char* address;
    std::int32_t status;
  } cases[] = {
      {"198.18.0.32", IP_DEST_HOST_UNREACHABLE}, {"198.18.0.33", IP_DEST_NET_UNREACHABLE},
      {"198.18.0.34", IP_DEST_PORT_UNREACHABLE}, {"198.18.0.35", IP_PACKET_TOO_BIG},
      {"198.18.0.36", IP_TTL_EXPIRED_TRANSIT},   {"198.18.0.38", IP_PARAM_PROBLEM},
      {"198.18.0.39", IP_SOURCE_QUENCH},
      {"198.18.0.47", IP_DEST_HOST_UNREACHABLE},
  };
  for (const auto& c : cases) {
    const auto p = PingTimed(c.address);
    EXPECT_EQ(p.status, c.status) << c.address;
    EXPECT_EQ(p.reply.Status, c.status) << c.address;
    EXPECT_EQ(p.reply.DataSize, 0) << c.address;
    EXPECT_LE(p.took, Deadline) << c.address;
    // The record names who sent the error: the router.
    EXPECT_EQ(p.reply.Address, Net("198.18.0.254")) << c.address;
  }
}

// Linux drops "fragment reassembly time exceeded" before it reaches ping
// sockets (only raw sockets see the packet): there it is a time-out.
TEST_F(EchoE2e, ReassemblyTimeExceeded) {
  const auto p = PingTimed("198.18.0.37");
  if (linuxnet::EchoSocket::Open().kind() == linuxnet::SocketKind::Raw) {
    EXPECT_EQ(p.status, IP_TTL_EXPIRED_REASSEM);
    EXPECT_EQ(p.reply.Address, Net("198.18.0.254"));
  } else {
    EXPECT_EQ(p.status, IP_REQ_TIMED_OUT);
  }
  EXPECT_LE(p.took, Deadline);
}

TEST_F(EchoE2e, ErrorThatDoesNotQuoteOurRequestHeaderIsATimeOut) {
  EXPECT_EQ(PingTimed("198.18.0.48").status, IP_REQ_TIMED_OUT);
}

TEST_F(EchoE2e, BrokenAndForeignAnswersAreNotTaken) {
  for (const char* address : {"198.18.0.41", "198.18.0.42", "198.18.0.43", "198.18.0.44", "198.18.0.46"}) {
    const auto p = PingTimed(address);
    EXPECT_EQ(p.status, IP_REQ_TIMED_OUT) << address;
    EXPECT_LE(p.took, Deadline) << address;
    EXPECT_EQ(p.reply.DataSize, 0) << address;
  }
}

TEST_F(EchoE2e, LocalRefusalsAreStatusCodesNotSilence) {
  // The subnet's broadcast address: the kernel refuses to send there.
  EXPECT_EQ(PingTimed("198.18.0.255").status, IP_BAD_DESTINATION);
  // Off the probe's subnet, with no route at all.
  const auto p = PingTimed("198.19.255.1");
  EXPECT_EQ(p.status, IP_DEST_NET_UNREACHABLE);
  EXPECT_LE(p.took, Deadline);
}

TEST_F(EchoE2e, RefusedTextsSendNothing) {
  for (const std::string& text : {std::string("0.0.0.0"), std::string("255.255.255.255"),
                                  std::string("198.18.0.10\0", 12), std::string("198.18.0.10.5")}) {
    const auto p = PingTimed(text);
    EXPECT_EQ(p.status, -1);
    EXPECT_LT(p.took, milliseconds(50));
  }
}

TEST_F(EchoE2e, ManyProbesInARowEachGetTheirOwnAnswer) {
  const char* order[] = {"198.18.0.10", "198.18.0.30", "198.18.0.20", "198.18.0.31", "198.18.0.32",
                         "198.18.0.21", "198.18.0.50", "198.18.0.10"};
  const std::int32_t expected[] = {0, IP_REQ_TIMED_OUT, 0, 0, IP_DEST_HOST_UNREACHABLE, 0, IP_REQ_TIMED_OUT, 0};
  for (std::size_t i = 0; i < std::size(order); ++i) {
    const auto p = PingTimed(order[i]);
    EXPECT_EQ(p.status, expected[i]) << i << " " << order[i];
    if (p.status == 0) {
      EXPECT_EQ(p.reply.Address, Net(order[i])) << order[i];
    }
    EXPECT_LE(p.took, Deadline) << order[i];
  }
}

// Many requests in flight on one socket, matched by sequence.
TEST_F(EchoE2e, OneSocketWithManyProbesInFlight) {
  auto socket = linuxnet::EchoSocket::Open();
  ASSERT_TRUE(socket);
  const std::span<const unsigned char> payload(reinterpret_cast<const unsigned char*>(ProbePayload.data()),
                                               ProbePayload.size());
  const char* targets[] = {"198.18.0.10", "198.18.0.20", "198.18.0.32", "198.18.0.50", "198.18.0.31"};
  for (std::uint16_t i = 0; i < std::size(targets); ++i) ASSERT_EQ(socket.Send(Net(targets[i]), i + 100, payload), 0);
  std::vector<int> replies(std::size(targets)), errors(std::size(targets));
  const auto deadline = Clock::now() + milliseconds(400);
  while (Clock::now() < deadline) {
    pollfd watch{socket.fd(), POLLIN, 0};
    poll(&watch, 1, 20);
    while (auto event = socket.ReceiveOne()) {
      ASSERT_EQ(event->identifier, socket.identifier());
      // Under a flood, stale traffic may carry this identifier: a sequence
      // that is not one of ours is the caller's to ignore.
      const int index = event->sequence - 100;
      if (index < 0 || index >= static_cast<int>(std::size(targets))) continue;
      if (event->peer != Net(targets[index])) continue;
      (event->kind == linuxnet::EchoEvent::Kind::Reply ? replies : errors)[static_cast<std::size_t>(index)]++;
    }
  }
  EXPECT_EQ(replies, (std::vector<int>{1, 1, 0, 0, 3}));
  EXPECT_EQ(errors, (std::vector<int>{0, 0, 1, 0, 0}));
}

// An ICMP error for one request must neither fail the next send on the same
// socket nor get lost.
TEST_F(EchoE2e, ErrorForOneRequestDoesNotFailTheNextSend) {
  auto socket = linuxnet::EchoSocket::Open();
  ASSERT_TRUE(socket);
  const std::span<const unsigned char> payload(reinterpret_cast<const unsigned char*>(ProbePayload.data()),
                                               ProbePayload.size());
  ASSERT_EQ(socket.Send(Net("198.18.0.32"), 2, payload), 0);
  QuietWait(milliseconds(100));  // its error is pending now
  EXPECT_EQ(socket.Send(Net("198.18.0.10"), 3, payload), 0);
  bool error2 = false, reply3 = false;
  const auto deadline = Clock::now() + milliseconds(300);
  while (Clock::now() < deadline && !(error2 && reply3)) {
    pollfd watch{socket.fd(), POLLIN, 0};
    poll(&watch, 1, 10);
    while (auto event = socket.ReceiveOne()) {
      error2 = error2 || (event->sequence == 2 && event->kind == linuxnet::EchoEvent::Kind::Error &&
                          event->status == IP_DEST_HOST_UNREACHABLE && event->peer == Net("198.18.0.32"));
      reply3 = reply3 || (event->sequence == 3 && event->kind == linuxnet::EchoEvent::Kind::Reply &&
                          event->peer == Net("198.18.0.10"));
    }
  }
  EXPECT_TRUE(error2);
  EXPECT_TRUE(reply3);
}

TEST_F(EchoE2e, EchoIsPermittedHere) { EXPECT_TRUE(EchoPermitted()); }

}  // namespace
}  // namespace zn7qx
