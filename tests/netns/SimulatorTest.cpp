// The simulator sends what site.json says, seen through a raw socket of our
// own, where the product's tests would pass just as well if it sent nothing:
// late, repeated, and broken answers.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "net/ICMPPing.h"
#include "tests/support/Addresses.h"
#include "tests/support/Isolation.h"
#include "tests/support/Packets.h"

namespace zn7qx::test {
namespace {

using Clock = std::chrono::steady_clock;

TEST(Simulator, SendsTheAnswersTheProductMustIgnore) {
  ZN7QX_ASSERT_ISOLATED();
  const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  ASSERT_GE(fd, 0) << "the harness runs us with CAP_NET_RAW";
  const std::string payload(ProbePayload);
  const struct {
    const char *to, *from;
    int count;  // echo replies
    bool soundChecksum, ourIdentifier, ourSequence;
    std::string data;
    long atLeastMs, atMostMs;  // of the first
  } rows[] = {
      {"198.18.0.30", "198.18.0.30", 1, true, true, true, payload, 440, 600},
      {"198.18.0.31", "198.18.0.31", 3, true, true, true, payload, 0, 100},
      {"198.18.0.41", "198.18.0.41", 1, false, true, true, "Found.Bad-checksum", 0, 100},
      {"198.18.0.42", "198.18.0.42", 1, true, false, true, "Found.Wrong-identifier", 0, 100},
      {"198.18.0.43", "198.18.0.43", 1, true, true, false, "Found.Wrong-sequence", 0, 100},
      {"198.18.0.44", "198.18.0.99", 1, true, true, true, "Found.Wrong-source", 0, 100},
  };
  std::uint16_t sequence = 1;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.to);
    const Bytes request = Icmp(8, 0, 0x5a5a, ++sequence, payload);
    sockaddr_in dst{AF_INET, 0, {Net(row.to)}, {}};
    const auto sent = Clock::now();
    EXPECT_EQ(sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst), 106);
    std::vector<std::pair<long, Bytes>> replies;  // ms after the request, ICMP message
    for (const auto end = sent + std::chrono::milliseconds(row.atMostMs + 150); Clock::now() < end;) {
      pollfd p{fd, POLLIN, 0};
      unsigned char b[2048];
      const ssize_t n = poll(&p, 1, 10) > 0 ? recv(fd, b, sizeof b, 0) : 0;
      const std::size_t ihl = n < 28 ? 0 : static_cast<std::size_t>(b[0] & 15) * 4;
      if (ihl < 20 || static_cast<std::size_t>(n) < ihl + 8 || b[ihl] != 0) continue;
      const std::uint32_t from = Net(row.from);
      if (std::memcmp(b + 12, &from, 4) != 0) continue;
      replies.emplace_back(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count(),
                           Bytes(b + ihl, b + n));
    }
    EXPECT_EQ(static_cast<int>(replies.size()), row.count);
    if (replies.empty()) continue;
    const auto& [ms, icmp] = replies[0];
    EXPECT_TRUE(ms >= row.atLeastMs && ms <= row.atMostMs) << ms << " ms";
    Bytes sound = icmp;
    FixChecksum(sound, 0, 2);
    EXPECT_EQ(sound == icmp, row.soundChecksum);
    EXPECT_EQ((icmp[4] << 8 | icmp[5]) == 0x5a5a, row.ourIdentifier);
    EXPECT_EQ((icmp[6] << 8 | icmp[7]) == sequence, row.ourSequence);
    EXPECT_EQ(std::string(icmp.begin() + 8, icmp.end()), row.data);
  }
  close(fd);
}

}  // namespace
}  // namespace zn7qx::test
