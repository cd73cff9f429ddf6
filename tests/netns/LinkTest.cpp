// The sweep resolving the link itself, on with-layout.sh's Link: n0
// (198.18.9.1/24), its far end p-n0 held by a peer here that answers ARP and
// echo for some addresses and sends frames no sweep asked for, and a flood.

#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "net/ICMPPing.h"
#include "net/linux/EchoSocket.h"
#include "net/linux/OnLink.h"
#include "scan/LinkTransport.h"
#include "scan/Sweep.h"
#include "tests/support/Addresses.h"
#include "tests/support/Packets.h"

namespace zn7qx::test {
namespace {

using namespace std::chrono_literals;
using linuxnet::Mac;

const Mac kPeerMac{0x02, 0x00, 0x5e, 0x10, 0x09, 0x05};
const Mac kForger{0x02, 0x00, 0x5e, 0x66, 0x66, 0x66};

Bytes Ether(const Mac& to, const Mac& from, unsigned type, const Bytes& body) {
  Bytes b(to.begin(), to.end());
  b.insert(b.end(), from.begin(), from.end());
  b.resize(14);
  Put16(b, 12, type);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes Arp(unsigned op, const Mac& sha, std::uint32_t spa, const Mac& tha, std::uint32_t tpa) {
  Bytes b{0, 1, 8, 0, 6, 4, 0, static_cast<unsigned char>(op)};  // Ethernet, IPv4
  b.insert(b.end(), sha.begin(), sha.end());
  b.resize(28);
  std::memcpy(b.data() + 14, &spa, 4);
  std::copy(tha.begin(), tha.end(), b.begin() + 18);
  std::memcpy(b.data() + 24, &tpa, 4);
  return b;
}

// The far end of the link: answers ARP for 198.18.9.5 and .6 (whose echo
// it drops), echoes for .5 as a unit, and counts what it was asked. Under
// the flood an answer may be lost, and the question asked again.
class Peer {
 public:
  Peer(const Mac& sweeper) : sweeper_(sweeper) {
    fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_ALL);
    at.sll_ifindex = static_cast<int>(if_nametoindex("p-n0"));
    const int on = 1;  // what it sends itself is not a question to it
    bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
             setsockopt(fd_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on) == 0;
    thread_ = std::thread([this] { Serve(); });
  }
  ~Peer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  bool bound() const { return bound_; }
  void Send(const Bytes& frame) { (void)send(fd_, frame.data(), frame.size(), 0); }
  std::map<std::uint32_t, int> arps() { std::lock_guard lock(mutex_); return arps_; }

 private:
  void Serve() {
    unsigned char frame[2048];
    while (!stop_) {
      pollfd watch{fd_, POLLIN, 0};
      if (poll(&watch, 1, 10) <= 0) continue;
      const ssize_t got = recv(fd_, frame, sizeof frame, 0);
      if (got < 42) continue;
      const Bytes f(frame, frame + got);
      std::uint32_t target;
      if (f[12] == 0x08 && f[13] == 0x06 && f[21] == 1) {
        std::memcpy(&target, f.data() + 38, 4);
        {
          std::lock_guard lock(mutex_);
          ++arps_[target];
        }
        if (target == Net("198.18.9.5") || target == Net("198.18.9.6"))
          Send(Ether(sweeper_, kPeerMac, 0x0806, Arp(2, kPeerMac, target, sweeper_, Net("198.18.9.1"))));
      } else if (f[12] == 0x08 && f[13] == 0x00 && f[14 + 9] == 1 && f[14 + 20] == 8) {
        std::memcpy(&target, f.data() + 30, 4);
        if (target != Net("198.18.9.5")) continue;
        const unsigned id = f[38] * 256u + f[39], seq = f[40] * 256u + f[41];
        Send(Ether(sweeper_, kPeerMac, 0x0800, Ip(target, Net("198.18.9.1"), Icmp(0, 0, id, seq, "Found.Peer"))));
      }
    }
  }

  Mac sweeper_;
  int fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::uint32_t, int> arps_;
  std::thread thread_;
};

struct Sweeper {
  linuxnet::OnLinkSubnet subnet;
  std::optional<scan::SocketTransport> kernel;
  std::optional<scan::LinkTransport> link;

  Sweeper() {
    for (auto& s : linuxnet::OnLinkSubnets())
      if (s.interface == "n0") subnet = s;
    kernel.emplace(linuxnet::EchoSocket::Open());
    auto socket = linuxnet::PacketSocket::Open(subnet.ifindex, subnet.self, kernel->Identifier());
    std::vector<scan::LinkTransport::Link> links;
    if (socket) links.push_back({subnet, std::move(socket)});
    link.emplace(*kernel, std::move(links), 300ms);
  }
};

int NeighbourEntriesOnN0() {
  std::ifstream arp("/proc/net/arp");
  std::string line;
  int n = 0;
  while (std::getline(arp, line)) n += line.ends_with(" n0");
  return n;
}

class Link : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STREQ(std::getenv("ZN7QX_DISCOVERY_LAYOUT"), "Link") << "run through with-layout.sh Link -- ...";
  }
};

TEST_F(Link, OnlyAnswersToItsOwnQuestionsCountAndNothingEntersTheNeighbourTable) {
  Sweeper sweeper;
  ASSERT_EQ(sweeper.subnet.self.address, Net("198.18.9.1"));
  Peer peer(sweeper.subnet.self.mac);
  ASSERT_TRUE(peer.bound());
  const Mac& us = sweeper.subnet.self.mac;
  const std::uint32_t self = Net("198.18.9.1");
  // Sent before the sweep asks anything, and again while it runs. ARP not
  // addressed to us (others' answers, gratuitous broadcasts) the fuzz target holds.
  const Bytes hostile[] = {
      // A forged answer to us naming an address nobody asked for.
      Ether(us, kForger, 0x0806, Arp(2, kForger, Net("198.18.9.200"), us, self)),
      // An echo reply as a unit's from a silent address, with the sequence
      // its request carries (198.18.9.N's first is N).
      Ether(us, kForger, 0x0800, Ip(Net("198.18.9.9"), self, Icmp(0, 0, sweeper.kernel->Identifier(), 9, "Found.Forged"))),
      // A unit's reply from the right address but another hardware address.
      Ether(us, kForger, 0x0800, Ip(Net("198.18.9.5"), self, Icmp(0, 0, sweeper.kernel->Identifier(), 5, "Found.Forged"))),
  };
  for (const Bytes& frame : hostile) peer.Send(frame);
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    Bytes junk = Ether(us, kForger, 0x0800, Ip(Net("198.18.9.10"), self, Icmp(0, 0, sweeper.kernel->Identifier(), 2, "Found.Junk")));
    for (int i = 0; flooding && i < 20000; ++i) {
      junk[40] = static_cast<unsigned char>(i);  // its sequence
      peer.Send(junk);
      if (i % 500 == 0) for (const Bytes& frame : hostile) peer.Send(frame);
    }
  });
  scan::SweepOptions options;
  options.rate = 2000;
  options.retries = 3;
  const scan::SweepResult r = RunSweep({{Num("198.18.9.0"), Num("198.18.9.15")}}, *sweeper.link, options);
  flooding = false;
  flood.join();

  ASSERT_EQ(r.answered.size(), 2u);  // our own address, through the kernel, and the unit
  EXPECT_EQ(r.answered[0].address, Num("198.18.9.1"));
  EXPECT_EQ(r.answered[1].address, Num("198.18.9.5"));
  EXPECT_EQ(r.answered[1].unitText, "Peer");
  EXPECT_EQ(r.answered[1].mac, "02:00:5e:10:09:05");
  EXPECT_GT(r.counts.ignored, 2) << "forged frames are counted";
  // Each silent address asked twice at most whatever the retries; nothing
  // outside the range, nor our own address; the count is the peer's.
  const auto arps = peer.arps();
  int total = 0;
  for (const auto& [address, count] : arps) {
    EXPECT_NE(address, Net("198.18.9.1"));
    EXPECT_LE(ntohl(address), ntohl(Net("198.18.9.15")));
    EXPECT_LE(count, scan::kArpRequestsPerAddress);
    total += count;
  }
  EXPECT_EQ(arps.size(), 15u);  // the network address too: the kernel would ask for it
  EXPECT_EQ(r.counts.arpSent, total);
  EXPECT_EQ(NeighbourEntriesOnN0(), 0) << "the sweep resolved nothing through the kernel";
}

TEST_F(Link, ALinkGoneMidSweepEndsItWithTheResultsSoFar) {
  Sweeper sweeper;
  Peer peer(sweeper.subnet.self.mac);
  std::thread down([] {
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(std::system("ip link set n0 down"), 0);
  });
  scan::SweepOptions options;
  options.rate = 100;  // 2.5 s for the /24
  options.burst = 1;
  const scan::SweepResult r = RunSweep({{Num("198.18.9.2"), Num("198.18.9.254")}}, *sweeper.link, options);
  down.join();
  EXPECT_NE(r.failure.find("n0"), std::string::npos) << r.failure;
  EXPECT_LT(r.counts.elapsed, 1500ms);
  ASSERT_EQ(r.counts.units, 1);
  EXPECT_EQ(r.answered.front().unitText, "Peer");
}

}  // namespace
}  // namespace zn7qx::test
