// The simulator as a prober sees it: run under with-sim-network.sh with
// sim-test-network.json (and --routed 198.19.0.0/16), or with
// sim-test-flood.json when ZN7QX_SIM_TEST=flood. A raw socket sends each
// request and collects every ICMP message that comes back.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "net/ICMPPing.h"
#include "net/linux/IcmpPacket.h"
#include "tests/support/Isolation.h"

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t Be16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

// The prober's own checksum, not the simulator's: its packets are checked by
// code that does not share its faults.
std::uint16_t Checksum(const std::uint8_t* p, std::size_t n) {
  return zn7qx::linuxnet::InternetChecksum(std::span<const unsigned char>(p, n));
}

struct Arrival {
  std::string from;
  double ms = 0;                    // since the request went out
  std::vector<std::uint8_t> icmp;   // the whole ICMP message
  std::uint8_t type() const { return icmp.empty() ? 255 : icmp[0]; }
  std::uint8_t code() const { return icmp.size() < 2 ? 255 : icmp[1]; }
  std::uint16_t id() const { return Be16(icmp, 4); }
  std::uint16_t seq() const { return Be16(icmp, 6); }
  bool checksumOk() const { return Checksum(icmp.data(), icmp.size()) == 0; }
  std::string data() const { return icmp.size() < 8 ? "" : std::string(icmp.begin() + 8, icmp.end()); }
};

class RawProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    ZN7QX_SKIP_UNLESS_IN_TEST_NETNS();
    ZN7QX_ASSERT_ISOLATED();
    fd_ = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(fd_, 0) << "raw ICMP socket: " << std::strerror(errno) << " (the harness runs us with CAP_NET_RAW)";
    identifier_ = static_cast<std::uint16_t>(getpid() * 7 + 0x5100);
    // Room for a whole flood even if this thread falls behind for a moment.
    const int bytes = 8 << 20;
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
      setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
  }

  // One echo request to `to`; everything ICMP that arrives within windowMs.
  std::vector<Arrival> Exchange(const char* to, int windowMs, std::string_view payload = zn7qx::ProbePayload) {
    sequence_ = static_cast<std::uint16_t>(sequence_ + 1);
    std::vector<std::uint8_t> m(8, 0);
    m[0] = 8;
    m[4] = static_cast<std::uint8_t>(identifier_ >> 8);
    m[5] = static_cast<std::uint8_t>(identifier_);
    m[6] = static_cast<std::uint8_t>(sequence_ >> 8);
    m[7] = static_cast<std::uint8_t>(sequence_);
    m.insert(m.end(), payload.begin(), payload.end());
    const std::uint16_t sum = Checksum(m.data(), m.size());
    m[2] = static_cast<std::uint8_t>(sum >> 8);
    m[3] = static_cast<std::uint8_t>(sum);
    request_ = m;
    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    inet_pton(AF_INET, to, &dst.sin_addr);
    Drain();
    const auto sent = Clock::now();
    EXPECT_EQ(sendto(fd_, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst),
              static_cast<ssize_t>(m.size()));
    return Collect(sent, windowMs);
  }

  std::vector<Arrival> Collect(Clock::time_point since, int windowMs) {
    std::vector<Arrival> got;
    const auto end = since + std::chrono::milliseconds(windowMs);
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
      pollfd p{fd_, POLLIN, 0};
      const int wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count()) + 1;
      if (poll(&p, 1, wait) <= 0) continue;
      std::uint8_t buf[70000];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 20) continue;
      const std::size_t ihl = static_cast<std::size_t>(buf[0] & 15) * 4;
      if (static_cast<std::size_t>(n) < ihl) continue;
      Arrival a;
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
      a.from = text;
      a.ms = std::chrono::duration<double, std::milli>(Clock::now() - since).count();
      a.icmp.assign(buf + ihl, buf + n);
      got.push_back(std::move(a));
    }
    return got;
  }

  // Only what names this request: replies by identifier, errors by the quote.
  std::vector<Arrival> Ours(const std::vector<Arrival>& all) const {
    std::vector<Arrival> ours;
    for (const Arrival& a : all) {
      if (a.icmp.size() >= 8 && a.type() == 0) {
        ours.push_back(a);
      } else if (a.icmp.size() >= 8 + 20 + 8 && (a.type() == 3 || a.type() == 11 || a.type() == 12)) {
        const std::size_t inner = 8 + static_cast<std::size_t>(a.icmp[8] & 15) * 4;
        if (a.icmp.size() >= inner + 8 && Be16(a.icmp, inner + 4) == identifier_) ours.push_back(a);
      }
    }
    return ours;
  }

  void Drain() {
    std::uint8_t buf[2048];
    while (recv(fd_, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
  }

  int fd_ = -1;
  std::uint16_t identifier_ = 0, sequence_ = 0;
  std::vector<std::uint8_t> request_;
};

bool FloodRun() {
  const char* v = std::getenv("ZN7QX_SIM_TEST");
  return v && std::string(v) == "flood";
}

#define SKIP_IN_FLOOD_RUN() \
  if (FloodRun()) GTEST_SKIP() << "the flood run checks the flood only"

TEST_F(RawProbe, UnitAnswersFoundAndItsText) {
  SKIP_IN_FLOOD_RUN();
  auto got = Ours(Exchange("198.18.0.10", 300));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].from, "198.18.0.10");
  EXPECT_EQ(got[0].type(), 0);
  EXPECT_EQ(got[0].code(), 0);
  EXPECT_EQ(got[0].id(), identifier_);
  EXPECT_EQ(got[0].seq(), sequence_);
  EXPECT_TRUE(got[0].checksumOk());
  EXPECT_EQ(got[0].data(), "Found.Unit-7");
}

TEST_F(RawProbe, HostsEchoTheDataAndOthersStaySilent) {
  SKIP_IN_FLOOD_RUN();
  for (const char* host : {"198.18.0.20", "198.18.0.24", "198.18.0.29"}) {
    auto got = Ours(Exchange(host, 300));
    ASSERT_EQ(got.size(), 1u) << host;
    EXPECT_EQ(got[0].from, host);
    EXPECT_EQ(got[0].data(), zn7qx::ProbePayload) << host;
    EXPECT_TRUE(got[0].checksumOk());
  }
  auto other = Ours(Exchange("198.18.0.21", 300, "any data at all \x01\x02"));
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0].data(), "any data at all \x01\x02");
  for (const char* silent : {"198.18.0.25", "198.18.0.19", "198.18.0.200", "198.18.0.254"}) {
    EXPECT_TRUE(Exchange(silent, 400).empty()) << silent << " should be silent";
  }
}

TEST_F(RawProbe, LateHostAnswersAfterItsDelay) {
  SKIP_IN_FLOOD_RUN();
  auto got = Ours(Exchange("198.18.0.30", 800));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_GE(got[0].ms, 445.0);
  EXPECT_LT(got[0].ms, 700.0);
  EXPECT_EQ(got[0].data(), zn7qx::ProbePayload);
}

TEST_F(RawProbe, DuplicateAnswersAsOftenAsConfigured) {
  SKIP_IN_FLOOD_RUN();
  auto got = Ours(Exchange("198.18.0.31", 400));
  ASSERT_EQ(got.size(), 3u);
  for (const Arrival& a : got) {
    EXPECT_EQ(a.seq(), sequence_);
    EXPECT_EQ(a.data(), zn7qx::ProbePayload);
  }
  auto spaced = Ours(Exchange("198.18.0.41", 600));
  ASSERT_EQ(spaced.size(), 2u);
  EXPECT_GE(spaced[1].ms - spaced[0].ms, 190.0);
}

TEST_F(RawProbe, ErrorsQuoteTheRequestAndComeFromTheRouterOrTheTarget) {
  SKIP_IN_FLOOD_RUN();
  const char* gateway = std::getenv("ZN7QX_SIM_GATEWAY");
  ASSERT_NE(gateway, nullptr);
  auto got = Ours(Exchange("198.18.0.32", 300));
  ASSERT_EQ(got.size(), 1u);
  const Arrival& e = got[0];
  EXPECT_EQ(e.from, gateway);
  EXPECT_EQ(e.type(), 3);
  EXPECT_EQ(e.code(), 1);
  EXPECT_TRUE(e.checksumOk());
  ASSERT_EQ(e.icmp.size(), 8u + 20 + 8) << "our IP header and the first 8 bytes of our request";
  EXPECT_EQ(e.icmp[8], 0x45);
  EXPECT_EQ(e.icmp[8 + 9], 1);
  char dst[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &e.icmp[8 + 16], dst, sizeof dst);
  EXPECT_EQ(std::string(dst), "198.18.0.32");
  EXPECT_TRUE(std::equal(request_.begin(), request_.begin() + 8, e.icmp.begin() + 28));

  auto te = Ours(Exchange("198.18.0.33", 300));
  ASSERT_EQ(te.size(), 1u);
  EXPECT_EQ(te[0].from, "198.18.0.33");
  EXPECT_EQ(te[0].type(), 11);
  EXPECT_EQ(te[0].code(), 0);
}

TEST_F(RawProbe, DataAndModifiersAreSentAsConfigured) {
  SKIP_IN_FLOOD_RUN();
  auto data = Ours(Exchange("198.18.0.34", 300));
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].data(), std::string("Found.A\0\xff" "B", 10));
  EXPECT_TRUE(data[0].checksumOk());

  auto bad = Ours(Exchange("198.18.0.35", 300));
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_FALSE(bad[0].checksumOk());
  EXPECT_EQ(bad[0].data(), "Found.Broken");

  // A reply under another identifier is not "ours" by identifier: look at all.
  auto wrongId = Exchange("198.18.0.36", 300);
  ASSERT_EQ(wrongId.size(), 1u);
  EXPECT_EQ(wrongId[0].id(), static_cast<std::uint16_t>(identifier_ + 0x1357));
  EXPECT_EQ(wrongId[0].seq(), sequence_);
  EXPECT_TRUE(wrongId[0].checksumOk());

  auto wrongSeq = Ours(Exchange("198.18.0.37", 300));
  ASSERT_EQ(wrongSeq.size(), 1u);
  EXPECT_EQ(wrongSeq[0].seq(), static_cast<std::uint16_t>(sequence_ + 1));

  auto cut = Ours(Exchange("198.18.0.38", 300));
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].icmp.size(), 20u);
  EXPECT_EQ(cut[0].data(), zn7qx::ProbePayload.substr(0, 12));
  EXPECT_TRUE(cut[0].checksumOk());

  auto elsewhere = Ours(Exchange("198.18.0.39", 300));
  ASSERT_EQ(elsewhere.size(), 1u);
  EXPECT_EQ(elsewhere[0].from, "198.18.0.99");
  EXPECT_EQ(elsewhere[0].data(), "Found.Elsewhere");
}

TEST_F(RawProbe, RoutedRangeAnswersThroughTheGateway) {
  SKIP_IN_FLOOD_RUN();
  auto host = Ours(Exchange("198.19.3.4", 300));
  ASSERT_EQ(host.size(), 1u);
  EXPECT_EQ(host[0].from, "198.19.3.4");
  auto unit = Ours(Exchange("198.19.200.1", 300));
  ASSERT_EQ(unit.size(), 1u);
  EXPECT_EQ(unit[0].data(), "Found.Far");
  // Outside every test range there is no route at all.
  sockaddr_in far{};
  far.sin_family = AF_INET;
  inet_pton(AF_INET, "198.20.0.1", &far.sin_addr);
  const std::uint8_t echo[8] = {8, 0, 0xf7, 0xff, 0, 0, 0, 0};
  EXPECT_LT(sendto(fd_, echo, sizeof echo, 0, reinterpret_cast<sockaddr*>(&far), sizeof far), 0);
  EXPECT_EQ(errno, ENETUNREACH);
}

TEST_F(RawProbe, FloodIsHostileBoundedAndStopsByItself) {
  if (!FloodRun()) GTEST_SKIP() << "needs sim-test-flood.json";
  const auto start = Clock::now();
  auto first = Exchange("198.18.0.10", 20);
  auto rest = Collect(start, 1500);  // 600 packets at 2000/s take 0.3 s
  first.insert(first.end(), rest.begin(), rest.end());
  std::map<std::uint8_t, int> byType;
  int units = 0, brokenOurs = 0;
  for (const Arrival& a : first) {
    ++byType[a.type()];
    if (a.type() == 0 && a.icmp.size() >= 8 && a.id() == identifier_ && a.seq() == sequence_) {
      if (a.checksumOk() && a.code() == 0 && a.from == "198.18.0.10" && a.data() == "Found.Unit-7") ++units;
      else if (!a.checksumOk() || a.code() != 0 || a.icmp.size() < 8) ++brokenOurs;
    }
  }
  EXPECT_EQ(units, 1) << "the real answer gets through";
  EXPECT_EQ(static_cast<int>(first.size()), 601) << "exactly the configured 600 flood packets, plus the answer";
  EXPECT_GT(brokenOurs, 0) << "replies naming our request but broken";
  EXPECT_GT(byType[0], 100);
  EXPECT_GT(byType[3] + byType[11], 20);
  EXPECT_GT(static_cast<int>(byType.size()), 4) << "malformed ones of other types too";
  EXPECT_EQ(byType.count(8), 0u);
  EXPECT_TRUE(Collect(Clock::now(), 500).empty()) << "the flood has stopped";
}

}  // namespace
