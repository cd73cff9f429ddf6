// The real probe against the simulated site (site.json), run by the harness
// on both socket paths, and again under a flood (flood.json laid over it).
// ZN7QX_ECHO_PATH names the path the run must be on; ZN7QX_FLOOD_PACKETS the
// packets that must at least have arrived, so that a flood that failed to
// start cannot pass for a quiet run.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "net/ICMPPing.h"
#include "net/linux/EchoSocket.h"
#include "tests/support/Addresses.h"
#include "tests/support/FakeView.h"
#include "tests/support/Isolation.h"
#include "tools/bench-common/ProcessFigures.h"
#include "ui/ScanController.h"

namespace zn7qx::test {
namespace {

using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Room beyond the 300 ms for opening and closing the socket on a busy machine.
constexpr milliseconds kDeadline{PingTimeoutMs + 100};
const std::string kPayload(ProbePayload);

bool RawPath() { return linuxnet::EchoSocket::Open().kind() == linuxnet::SocketKind::Raw; }

class Echo : public ::testing::Test {
 protected:
  void SetUp() override {
    ZN7QX_ASSERT_ISOLATED();
    const auto kind = linuxnet::EchoSocket::Open().kind();
    const std::string path = std::getenv("ZN7QX_ECHO_PATH") ? std::getenv("ZN7QX_ECHO_PATH") : "";
    ASSERT_EQ(kind, path == "raw" ? linuxnet::SocketKind::Raw : linuxnet::SocketKind::Datagram) << path;
  }
};

// One probe: what comes back, from whom, and within which time.
struct ProbeRow {
  std::string address;
  std::int32_t status;
  std::string data;  // the reply's data; for errors, the sender
  // Packets at least on the link meanwhile (the address's resolution and
  // what the simulator sends), so that an answer ignored is one that came.
  std::uint64_t packets = 0;
};

TEST_F(Echo, EachAddressGetsItsOwnAnswerWithinTheDeadline) {
  const std::string host = kPayload, router = "198.18.0.254";
  const std::int32_t reassembly = RawPath() ? IP_TTL_EXPIRED_REASSEM : IP_REQ_TIMED_OUT;  // ping sockets never see it
  const ProbeRow rows[] = {
      {"198.18.0.10", 0, "Found.Unit-7 (hall A)"},
      {"198.18.0.30", IP_REQ_TIMED_OUT, ""},                 // answers at 450 ms, too late ...
      {"198.18.0.20", 0, host, 2},
      {"198.18.0.31", 0, host, 2},                           // three answers, none spilling over
      {"198.18.0.50", IP_REQ_TIMED_OUT, "", 1},              // ... into this probe, which keeps its own
      {"198.18.0.47", 0, host},                              // 200 ms: in time
      {"198.18.0.32", IP_DEST_HOST_UNREACHABLE, router},
      {"198.18.0.34", IP_DEST_PORT_UNREACHABLE, "198.18.0.22"},
      {"198.19.201.1", reassembly, reassembly == IP_REQ_TIMED_OUT ? "" : router},
      {"198.18.0.42", IP_REQ_TIMED_OUT, "", 2},  // another identifier
      {"198.18.0.43", IP_REQ_TIMED_OUT, "", 2},  // another sequence
      {"198.18.0.44", IP_REQ_TIMED_OUT, "", 2},  // from another address
      {"198.18.0.255", IP_BAD_DESTINATION, ""},   // the subnet's broadcast: refused by the kernel
      {"198.18.1.1", IP_DEST_NET_UNREACHABLE, ""},  // no route at all
      {"0.0.0.0", -1, ""},                           // refused before anything is sent
      {"198.18.0.10.5", -1, ""},
  };
  const auto before = sim::ProbeLinkCounters();
  for (const ProbeRow& row : rows) {
    SCOPED_TRACE(row.address);
    ICMP_ECHO_REPLY reply;
    const auto start = Clock::now();
    const auto linkBefore = sim::ProbeLinkCounters();
    const std::int32_t status = Ping(row.address, reply);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    const auto linkAfter = sim::ProbeLinkCounters();
    EXPECT_GE(linkAfter->packets - linkBefore->packets, row.packets) << "the simulator's answers did not come";
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(reply.Status, status == -1 ? 0 : row.status) << "a refused text leaves the record cleared";
    EXPECT_LE(took, status == -1 ? milliseconds(50) : kDeadline);
    EXPECT_GE(took, milliseconds(status == IP_REQ_TIMED_OUT ? PingTimeoutMs - 5 : 0));
    if (status == IP_SUCCESS) {
      EXPECT_EQ(std::string(reply.Data, reply.DataSize), row.data);
      EXPECT_EQ(std::string(reply.Data + reply.DataSize, 250 - reply.DataSize), std::string(250 - reply.DataSize, '\0'));
      EXPECT_EQ(reply.Address, Net(row.address));
      EXPECT_LT(reply.RoundTripTime, static_cast<unsigned>(PingTimeoutMs));
    } else {
      EXPECT_EQ(reply.DataSize, 0);
      if (!row.data.empty()) {
        EXPECT_EQ(reply.Address, Net(row.data)) << "the sender of the error";
      }
    }
  }
  if (const char* flood = std::getenv("ZN7QX_FLOOD_PACKETS")) {
    const auto after = sim::ProbeLinkCounters();
    ASSERT_TRUE(before && after);
    EXPECT_GE(after->packets - before->packets, std::strtoull(flood, nullptr, 10)) << "the flood did not arrive";
  }
}

// An earlier request's ICMP error leaves the socket's error pending for the
// next send, at times with nothing queued (the kernel sets it just after
// queueing; a connected socket without a queue is left so by hard errors).
// A send that fails on its own meanwhile is still reported as its own.
TEST_F(Echo, AnEarlierRequestsErrorNeverFailsTheNextSend) {
  if (RawPath()) GTEST_SKIP() << "ping sockets only";
  struct PendingRow { std::string address; bool errorQueue; std::string next = "198.18.0.10"; std::int32_t status = 0; };
  const PendingRow rows[] = {{"198.18.0.32", true}, {"198.18.0.33", true}, {"198.18.0.34", true},
                             {"198.18.0.35", true}, {"198.18.0.36", true}, {"198.18.0.38", true},
                             {"198.18.0.39", true} /* source quench */, {"198.18.0.40", true},
                             {"198.18.0.34", false}, {"198.18.0.38", false},
                             {"198.18.0.32", true, "198.18.1.1", IP_DEST_NET_UNREACHABLE} /* no route */};
  const std::span bytes(reinterpret_cast<const unsigned char*>(kPayload.data()), kPayload.size());
  for (const PendingRow& row : rows) {
    SCOPED_TRACE(row.address + (row.errorQueue ? " then " : ", nothing queued, then ") + row.next);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(fd, 0);
    sockaddr_in name{};
    name.sin_family = AF_INET;
    socklen_t length = sizeof name;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&name), sizeof name), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&name), &length), 0);
    auto socket = linuxnet::EchoSocket::Adopt(fd, linuxnet::SocketKind::Datagram, ntohs(name.sin_port));
    name.sin_addr.s_addr = Net(row.address);
    const int on = 1;
    ASSERT_EQ(0, row.errorQueue ? setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on)
                                : connect(fd, reinterpret_cast<sockaddr*>(&name), sizeof name));
    EXPECT_EQ(socket.Send(Net(row.address), 1, bytes), IP_SUCCESS);
    pollfd watch{fd, 0, 0};
    EXPECT_EQ(poll(&watch, 1, PingTimeoutMs), 1) << "the error did not come";
    EXPECT_EQ(socket.Send(Net(row.next), 2, bytes), row.status);
    if (row.status != IP_SUCCESS) continue;
    const auto event = socket.WaitFor(2, Net(row.next), Clock::now() + milliseconds(PingTimeoutMs));
    EXPECT_TRUE(event && event->kind == linuxnet::EchoEvent::Kind::Reply);
  }
}

// A send refused for want of room (a full neighbour table, full buffers;
// here a queue that drops all it is given for a moment) is tried again
// within the probe's time-out, not shown as "No Resources" at once.
TEST_F(Echo, ASendRefusedForWantOfRoomIsTriedAgainWithinTheTimeOut) {
  // A raw socket without IP_RECVERR is told nothing: the request is lost.
  if (RawPath()) GTEST_SKIP() << "ping sockets only";
  const std::string link = std::getenv("ZN7QX_PROBE_IF"), router = "198.18.0.254 dev " + link;
  const auto run = [](const std::string& command) { return std::system(command.c_str()); };
  // Behind the router, whose hardware address is learnt and then held: the
  // queue refuses at once, and no resolution lost in it delays the answer.
  ICMP_ECHO_REPLY reply;
  ASSERT_EQ(Ping("198.19.0.1", reply), IP_SUCCESS);
  ASSERT_EQ(run("ip neigh change " + router + " nud permanent"), 0);
  for (const auto refused : {milliseconds(100), milliseconds(PingTimeoutMs + 100)}) {
    SCOPED_TRACE(refused.count());
    ASSERT_EQ(run("tc qdisc add dev " + link + " root pfifo limit 0"), 0);
    // Room made by a change, not a removal: a removal swaps in for a moment
    // a queue that drops what it is given yet reports it sent.
    std::thread clear([&] {
      std::this_thread::sleep_for(refused);
      EXPECT_EQ(run("tc qdisc change dev " + link + " root pfifo limit 100"), 0);
    });
    const std::int32_t status = Ping("198.19.0.1", reply);
    clear.join();
    EXPECT_EQ(run("tc qdisc del dev " + link + " root"), 0);
    EXPECT_EQ(status, refused < milliseconds(PingTimeoutMs) ? IP_SUCCESS : IP_NO_RESOURCES);
  }
  EXPECT_EQ(run("ip neigh change " + router + " nud stale"), 0);
}

TEST_F(Echo, AScanLeavesNoDescriptorBehind) {
  const int before = bench::OpenDescriptors();
  FakeView view;
  ScanController controller(view, RealSeams());
  controller.OnOpen();
  view.start = "198.18.0.9";
  view.end = "198.18.0.13";
  controller.BeginScan();
  while (view.queue.Count() > 0) controller.PingTick(0);
  EXPECT_EQ(view.units.items.size(), 3u);
  controller.OnClose();
  EXPECT_EQ(bench::OpenDescriptors(), before);
}

}  // namespace
}  // namespace zn7qx::test
