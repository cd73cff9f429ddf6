// How fast the simulator answers: a sweep of a whole range at a set rate
// from the probe side, counting the answers. Run through bench-sim.sh.
//   zn7qx-sim-bench --range 198.19.0.0/16 --rate 100000 [--rate ...]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "net/linux/IcmpPacket.h"
#include "tools/zn7qx-sim/NamespaceCheck.h"
#include "tools/zn7qx-sim/SimConfig.h"

namespace {

using Clock = std::chrono::steady_clock;

// The prober's own checksum, not the simulator's: its packets are checked by
// code that does not share its faults.
std::uint16_t Checksum(const std::uint8_t* p, std::size_t n) {
  return zn7qx::linuxnet::InternetChecksum(std::span<const unsigned char>(p, n));
}

struct Result {
  double sendSeconds = 0, totalSeconds = 0;
  std::size_t sent = 0, answered = 0, replies = 0;
};

Result Sweep(int fd, std::uint32_t first, std::uint32_t count, double rate, std::uint16_t id) {
  constexpr std::size_t Batch = 64;
  constexpr std::size_t PayloadBytes = 98;
  std::vector<std::uint8_t> seen(count, 0);
  std::vector<std::uint8_t> msgs(Batch * (8 + PayloadBytes));
  std::vector<sockaddr_in> to(Batch);
  std::vector<iovec> iov(Batch);
  std::vector<mmsghdr> hdr(Batch);
  std::vector<std::uint8_t> rbuf(Batch * 2048);
  std::vector<iovec> riov(Batch);
  std::vector<mmsghdr> rhdr(Batch);
  Result r;

  auto drain = [&] {
    for (;;) {
      for (std::size_t i = 0; i < Batch; ++i) {
        riov[i] = {rbuf.data() + i * 2048, 2048};
        rhdr[i] = {};
        rhdr[i].msg_hdr.msg_iov = &riov[i];
        rhdr[i].msg_hdr.msg_iovlen = 1;
      }
      const int got = recvmmsg(fd, rhdr.data(), Batch, MSG_DONTWAIT, nullptr);
      if (got <= 0) return;
      for (int i = 0; i < got; ++i) {
        const std::uint8_t* p = rbuf.data() + static_cast<std::size_t>(i) * 2048;
        const std::size_t n = rhdr[static_cast<std::size_t>(i)].msg_len;
        const std::size_t ihl = static_cast<std::size_t>(p[0] & 15) * 4;
        if (n < ihl + 8 || p[ihl] != 0) continue;
        if (((p[ihl + 4] << 8) | p[ihl + 5]) != id) continue;
        const std::uint32_t src = (std::uint32_t{p[12]} << 24) | (std::uint32_t{p[13]} << 16) |
                                  (std::uint32_t{p[14]} << 8) | p[15];
        ++r.replies;
        if (src - first < count && !seen[src - first]) {
          seen[src - first] = 1;
          ++r.answered;
        }
      }
    }
  };

  const auto start = Clock::now();
  std::uint32_t next = 0;
  while (next < count) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const std::uint64_t due = rate > 0 ? std::min<std::uint64_t>(count, static_cast<std::uint64_t>(elapsed * rate) + 1) : count;
    while (next < due) {
      const std::size_t n = std::min<std::size_t>(Batch, due - next);
      for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t* m = msgs.data() + i * (8 + PayloadBytes);
        std::memset(m, 0, 8);
        m[0] = 8;
        m[4] = static_cast<std::uint8_t>(id >> 8);
        m[5] = static_cast<std::uint8_t>(id);
        m[6] = static_cast<std::uint8_t>((next + i) >> 8);
        m[7] = static_cast<std::uint8_t>(next + i);
        std::memset(m + 8, 'x', PayloadBytes);
        const std::uint16_t sum = Checksum(m, 8 + PayloadBytes);
        m[2] = static_cast<std::uint8_t>(sum >> 8);
        m[3] = static_cast<std::uint8_t>(sum);
        to[i] = {};
        to[i].sin_family = AF_INET;
        to[i].sin_addr.s_addr = htonl(first + next + static_cast<std::uint32_t>(i));
        iov[i] = {m, 8 + PayloadBytes};
        hdr[i] = {};
        hdr[i].msg_hdr.msg_iov = &iov[i];
        hdr[i].msg_hdr.msg_iovlen = 1;
        hdr[i].msg_hdr.msg_name = &to[i];
        hdr[i].msg_hdr.msg_namelen = sizeof to[i];
      }
      const int sent = sendmmsg(fd, hdr.data(), static_cast<unsigned>(n), 0);
      if (sent < 0 && errno != ENOBUFS && errno != EAGAIN && errno != EINTR) {
        std::fprintf(stderr, "zn7qx-sim-bench: send failed: %s\n", std::strerror(errno));
        break;  // another failure would repeat for ever
      }
      if (sent <= 0) {
        // Queue full: let replies in, then try again.
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 1);
        drain();
        continue;
      }
      next += static_cast<std::uint32_t>(sent);
      r.sent += static_cast<std::size_t>(sent);
      drain();
    }
    drain();
    if (rate > 0 && next < count) {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 0);
    }
  }
  r.sendSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  // Answers still on their way.
  const auto end = Clock::now() + std::chrono::milliseconds(500);
  while (Clock::now() < end && r.answered < count) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, 10);
    drain();
  }
  r.totalSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::string range = "198.19.0.0/16";
  std::vector<double> rates;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--range" && i + 1 < argc) range = argv[++i];
    else if (a == "--rate" && i + 1 < argc) rates.push_back(std::atof(argv[++i]));
    else {
      std::fprintf(stderr, "usage: zn7qx-sim-bench [--range CIDR] [--rate N]... (0 = as fast as it goes)\n");
      return 2;
    }
  }
  if (rates.empty()) rates = {10000, 50000, 100000, 0};
  zn7qx::sim::ExitUnlessIsolated("zn7qx-sim-bench");
  const auto parsed = zn7qx::sim::ParseIp4Range(range);
  const std::uint32_t first = parsed ? parsed->first : 0, last = parsed ? parsed->last : 0;
  if (!parsed || last - first > 0x3FFFF) {
    std::fprintf(stderr, "zn7qx-sim-bench: --range must be a CIDR of at most 2^18 addresses\n");
    return 2;
  }
  const std::uint32_t count = last - first + 1;
  const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    std::perror("zn7qx-sim-bench: raw ICMP socket");
    return 1;
  }
  const int bytes = 32 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &bytes, sizeof bytes);

  std::printf("%-12s %10s %12s %12s %10s %10s\n", "rate asked", "requests", "sent/s", "answered", "answered%",
              "wall s");
  std::uint16_t id = static_cast<std::uint16_t>(getpid());
  for (double rate : rates) {
    Result r = Sweep(fd, first, count, rate, ++id);
    std::printf("%-12s %10zu %12.0f %12zu %9.2f%% %10.3f\n",
                rate > 0 ? std::to_string(static_cast<long>(rate)).c_str() : "max", r.sent, r.sent / r.sendSeconds,
                r.answered, 100.0 * static_cast<double>(r.answered) / count, r.totalSeconds);
    std::fflush(stdout);
    usleep(300000);
  }
  close(fd);
  return 0;
}
