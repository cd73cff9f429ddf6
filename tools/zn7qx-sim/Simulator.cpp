#include "Simulator.h"

#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <queue>
#include <vector>

#include "Flood.h"
#include "Packets.h"

namespace zn7qx::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t RecvBatch = 64;
constexpr std::size_t RecvBufferBytes = 65536;
constexpr std::size_t SendBatch = 64;
constexpr std::size_t MaxPending = 1'000'000;
constexpr int SocketBufferBytes = 16 << 20;
constexpr const char* EchoIgnoreAll = "/proc/sys/net/ipv4/icmp_echo_ignore_all";

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct Delayed {
  Clock::time_point due;
  std::uint64_t order;  // keeps answers to one request in their order
  OutPacket packet;
  bool isError;
};
struct LaterFirst {
  bool operator()(const Delayed& a, const Delayed& b) const {
    return a.due != b.due ? a.due > b.due : a.order > b.order;
  }
};

// Collects packets and writes them with sendmmsg.
class Sender {
 public:
  Sender(int fd, Counters& counters) : fd_(fd), counters_(counters) {}
  void Add(OutPacket p, bool isError) {
    queue_.push_back({std::move(p), isError});
    if (queue_.size() >= SendBatch) Flush();
  }
  void Flush() {
    std::size_t done = 0;
    while (done < queue_.size()) {
      const std::size_t n = std::min(SendBatch, queue_.size() - done);
      std::array<mmsghdr, SendBatch> msgs{};
      std::array<iovec, SendBatch> iov{};
      std::array<sockaddr_in, SendBatch> to{};
      for (std::size_t i = 0; i < n; ++i) {
        OutPacket& p = queue_[done + i].packet;
        iov[i] = {p.bytes.data(), p.bytes.size()};
        to[i].sin_family = AF_INET;
        to[i].sin_addr.s_addr = htonl(p.destination);
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_name = &to[i];
        msgs[i].msg_hdr.msg_namelen = sizeof to[i];
      }
      int sent = sendmmsg(fd_, msgs.data(), static_cast<unsigned>(n), 0);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) {
        // The first one failed (unroutable, too big): count it and go on.
        ++counters_.sendFailures;
        ++done;
        continue;
      }
      for (int i = 0; i < sent; ++i) {
        if (queue_[done + static_cast<std::size_t>(i)].isError) ++counters_.errorsSent;
        else if (queue_[done + static_cast<std::size_t>(i)].flood) ++counters_.floodSent;
        else ++counters_.repliesSent;
      }
      done += static_cast<std::size_t>(sent);
    }
    queue_.clear();
  }
  void AddFlood(OutPacket p) {
    queue_.push_back({std::move(p), false, true});
    if (queue_.size() >= SendBatch) Flush();
  }

 private:
  struct Item {
    OutPacket packet;
    bool isError = false;
    bool flood = false;
  };
  int fd_;
  Counters& counters_;
  std::vector<Item> queue_;
};

bool ReadFlag(const char* path, std::string& value) {
  std::ifstream in(path);
  return static_cast<bool>(in >> value);
}

}  // namespace

void Counters::Print(std::ostream& out) const {
  out << "zn7qx-sim counters: received=" << received << " echo_requests=" << echoRequests
      << " bad_requests=" << badRequests << " other_icmp=" << otherIcmp << " excluded=" << excluded
      << " silent=" << silent << " unit=" << asUnit << " host=" << asHost << " data=" << asData
      << " error=" << asError << " replies_sent=" << repliesSent << " errors_sent=" << errorsSent
      << " flood_sent=" << floodSent << " send_failures=" << sendFailures
      << " delayed_dropped=" << delayedDropped << "\n";
}

Simulator::Simulator(SimConfig config, SimOptions options)
    : config_(std::move(config)), options_(std::move(options)) {}

int Simulator::Run(std::ostream& out, std::ostream& err) {
  // The kernel must not answer as well, or every address would be a host.
  std::string ignore;
  if (!ReadFlag(EchoIgnoreAll, ignore)) {
    err << "zn7qx-sim: cannot read " << EchoIgnoreAll << "\n";
    return 1;
  }
  if (ignore != "1") {
    if (options_.setSysctl) {
      std::ofstream w(EchoIgnoreAll);
      w << "1\n";
    }
    if (!ReadFlag(EchoIgnoreAll, ignore) || ignore != "1") {
      err << "zn7qx-sim: the kernel still answers echo requests here (net.ipv4.icmp_echo_ignore_all=0) "
             "and I cannot turn that off; run me as root of this network namespace, or set it first\n";
      return 1;
    }
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
    err << "zn7qx-sim: cannot block signals: " << std::strerror(errno) << "\n";
    return 1;
  }
  Fd sigfd(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  Fd sock(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (sigfd.get() < 0 || sock.get() < 0) {
    err << "zn7qx-sim: cannot open a raw ICMP socket: " << std::strerror(errno)
        << " (needs CAP_NET_RAW in this network namespace)\n";
    return 1;
  }
  const int on = 1;
  if (setsockopt(sock.get(), IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0) {
    err << "zn7qx-sim: IP_HDRINCL: " << std::strerror(errno) << "\n";
    return 1;
  }
  // Only echo requests are of interest; the kernel drops the rest for us.
  icmp_filter filter{~(1u << ICMP_ECHO)};
  setsockopt(sock.get(), SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  for (int opt : {SO_RCVBUFFORCE, SO_SNDBUFFORCE}) {
    if (setsockopt(sock.get(), SOL_SOCKET, opt, &SocketBufferBytes, sizeof SocketBufferBytes) != 0) {
      setsockopt(sock.get(), SOL_SOCKET, opt == SO_RCVBUFFORCE ? SO_RCVBUF : SO_SNDBUF, &SocketBufferBytes,
                 sizeof SocketBufferBytes);
    }
  }

  Counters counters;
  Sender sender(sock.get(), counters);
  std::priority_queue<Delayed, std::vector<Delayed>, LaterFirst> pending;
  std::uint64_t order = 0;
  const FloodConfig& floodConfig = config_.Flood();
  FloodMaker flood(floodConfig, config_.Answering());
  std::optional<Clock::time_point> floodStart;
  std::uint64_t floodMade = 0;  // attempts, so failed sends also count against the bound
  if (floodConfig.to) floodStart = Clock::now() + std::chrono::milliseconds(floodConfig.startAfterMs);

  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline =
      started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.maxSeconds));

  out << "zn7qx-sim: ready, " << config_.AddressCount() << " addresses and " << config_.RangeCount()
      << " ranges configured, pid " << getpid() << std::endl;
  if (!options_.readyFile.empty()) {
    const std::string tmp = options_.readyFile + ".tmp";
    {
      std::ofstream f(tmp);
      f << getpid() << "\n";
    }
    if (std::rename(tmp.c_str(), options_.readyFile.c_str()) != 0) {
      err << "zn7qx-sim: cannot write " << options_.readyFile << "\n";
      return 1;
    }
  }

  std::vector<std::uint8_t> buffers(RecvBatch * RecvBufferBytes);
  std::array<mmsghdr, RecvBatch> msgs{};
  std::array<iovec, RecvBatch> iov{};
  std::string stopReason = "max-seconds";

  auto answer = [&](const EchoRequest& req, Clock::time_point now) {
    const Behaviour& b = config_.Lookup(req.destination);
    switch (b.kind) {
      case Kind::Silent: ++counters.silent; return;
      case Kind::Unit: ++counters.asUnit; break;
      case Kind::Host: ++counters.asHost; break;
      case Kind::Data: ++counters.asData; break;
      case Kind::Error: ++counters.asError; break;
    }
    const bool isError = b.kind == Kind::Error;
    OutPacket p = isError ? BuildErrorReply(req, b) : BuildEchoReply(req, b);
    for (std::uint32_t i = 0; i < b.count; ++i) {
      const auto due = now + std::chrono::milliseconds(b.delayMs + std::uint64_t{i} * b.intervalMs);
      if (due <= now) {
        sender.Add(p, isError);
      } else if (pending.size() < MaxPending) {
        pending.push({due, order++, p, isError});
      } else {
        ++counters.delayedDropped;
      }
    }
  };

  for (;;) {
    Clock::time_point now = Clock::now();
    if (now >= deadline) break;

    while (!pending.empty() && pending.top().due <= now) {
      sender.Add(pending.top().packet, pending.top().isError);
      pending.pop();
    }
    if (floodStart && now >= *floodStart && floodMade < floodConfig.count) {
      const double elapsed = std::chrono::duration<double>(now - *floodStart).count();
      const std::uint64_t allowed = std::min<std::uint64_t>(
          floodConfig.count, static_cast<std::uint64_t>(elapsed * floodConfig.rate) + 1);
      // Bounded per round so that requests keep being answered meanwhile.
      std::uint64_t burst = 0;
      for (; floodMade < allowed && burst < 1024; ++floodMade, ++burst) {
        if (auto p = flood.Next(now)) sender.AddFlood(std::move(*p));
      }
      sender.Flush();
    }
    sender.Flush();

    // Sleep until a packet, a signal, the next delayed answer or flood slot.
    Clock::time_point wake = deadline;
    if (!pending.empty()) wake = std::min(wake, pending.top().due);
    if (floodStart && floodMade < floodConfig.count) {
      const auto next = *floodStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                          static_cast<double>(floodMade) / floodConfig.rate));
      wake = std::min(wake, std::max(next, now));
    }
    const auto waitMs = std::chrono::duration_cast<std::chrono::microseconds>(wake - now).count();
    const int timeout = static_cast<int>(std::clamp<long long>((waitMs + 999) / 1000, 0, 1000));
    pollfd fds[2] = {{sock.get(), POLLIN, 0}, {sigfd.get(), POLLIN, 0}};
    if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
      err << "zn7qx-sim: poll: " << std::strerror(errno) << "\n";
      break;
    }
    if (fds[1].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(sigfd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        stopReason = strsignal(static_cast<int>(info.ssi_signo));
      }
      break;
    }
    if (!(fds[0].revents & POLLIN)) continue;

    // Drain a bounded number of batches, then look at timers again.
    for (int round = 0; round < 16; ++round) {
      for (std::size_t i = 0; i < RecvBatch; ++i) {
        iov[i] = {buffers.data() + i * RecvBufferBytes, RecvBufferBytes};
        msgs[i] = {};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
      }
      const int got = recvmmsg(sock.get(), msgs.data(), RecvBatch, MSG_DONTWAIT, nullptr);
      if (got <= 0) break;
      now = Clock::now();
      for (int i = 0; i < got; ++i) {
        ++counters.received;
        const std::span<const std::uint8_t> packet(buffers.data() + static_cast<std::size_t>(i) * RecvBufferBytes,
                                                   msgs[static_cast<std::size_t>(i)].msg_len);
        EchoRequest req;
        switch (ParseEchoRequest(packet, req)) {
          case RequestProblem::None: break;
          case RequestProblem::NotEchoRequest:
          case RequestProblem::NotIcmp:
          case RequestProblem::NotIpv4: ++counters.otherIcmp; continue;
          default: ++counters.badRequests; continue;
        }
        ++counters.echoRequests;
        if (options_.exclude.count(req.destination)) {
          ++counters.excluded;
          continue;
        }
        if (floodConfig.count > 0) {
          flood.Seen(req, now);
          if (!floodStart) floodStart = now + std::chrono::milliseconds(floodConfig.startAfterMs);
        }
        answer(req, now);
      }
      sender.Flush();
      if (static_cast<std::size_t>(got) < RecvBatch) break;
    }
  }
  sender.Flush();

  const double ran = std::chrono::duration<double>(Clock::now() - started).count();
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  const double cpu = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                     static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  out << "zn7qx-sim: stopped (" << stopReason << ") after " << std::round(ran * 10) / 10 << " s, "
      << std::round(cpu * 100) / 100 << " s CPU, peak memory " << use.ru_maxrss / 1024 << " MiB";
  if (!pending.empty()) out << ", " << pending.size() << " delayed answers not sent";
  out << "\n";
  counters.Print(out);
  if (floodConfig.count > 0) {
    out << "zn7qx-sim flood:";
    for (FloodKind k : {FloodKind::ForgedReply, FloodKind::StaleReply, FloodKind::BadChecksum,
                        FloodKind::Truncated, FloodKind::Malformed, FloodKind::ForeignError}) {
      out << " " << FloodKindName(k) << "=" << flood.MadeOf(k);
    }
    out << "\n";
  }
  out.flush();
  return 0;
}

}  // namespace zn7qx::sim
