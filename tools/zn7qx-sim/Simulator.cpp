#include "Simulator.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
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
#include <unordered_map>
#include <vector>

#include "Flood.h"
#include "Packets.h"

namespace zn7qx::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t RecvBatch = 64;
constexpr std::size_t RecvBufferBytes = 2048;  // one frame of a 1500-byte link, and then some
constexpr std::size_t SendBatch = 64;
constexpr std::size_t MaxPending = 1'000'000;
constexpr std::size_t MaxPeers = 4096;
constexpr int SocketBufferBytes = 16 << 20;

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

enum class Sent : std::uint8_t { Reply, Error, Flood, Arp };

struct Delayed {
  Clock::time_point due;
  std::uint64_t order;  // keeps answers to one request in their order
  std::vector<std::uint8_t> frame;
  Sent kind;
};
struct LaterFirst {
  bool operator()(const Delayed& a, const Delayed& b) const {
    return a.due != b.due ? a.due > b.due : a.order > b.order;
  }
};

// Collects whole frames and writes them with sendmmsg on the link's socket.
class Sender {
 public:
  Sender(int fd, Counters& counters) : fd_(fd), counters_(counters) {}
  void Add(std::vector<std::uint8_t> frame, Sent kind) {
    queue_.push_back({std::move(frame), kind});
    if (queue_.size() >= SendBatch) Flush();
  }
  void Flush() {
    std::size_t done = 0;
    while (done < queue_.size()) {
      const std::size_t n = std::min(SendBatch, queue_.size() - done);
      std::array<mmsghdr, SendBatch> msgs{};
      std::array<iovec, SendBatch> iov{};
      for (std::size_t i = 0; i < n; ++i) {
        iov[i] = {queue_[done + i].frame.data(), queue_[done + i].frame.size()};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
      }
      int sent = sendmmsg(fd_, msgs.data(), static_cast<unsigned>(n), 0);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) {
        // The first one failed (too big, say): count it and go on.
        ++counters_.sendFailures;
        ++done;
        continue;
      }
      for (std::size_t i = done; i < done + static_cast<std::size_t>(sent); ++i) {
        switch (queue_[i].kind) {
          case Sent::Reply: ++counters_.repliesSent; break;
          case Sent::Error: ++counters_.errorsSent; break;
          case Sent::Flood: ++counters_.floodSent; break;
          case Sent::Arp: ++counters_.arpSent; break;
        }
      }
      done += static_cast<std::size_t>(sent);
    }
    queue_.clear();
  }

 private:
  struct Item {
    std::vector<std::uint8_t> frame;
    Sent kind;
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
  out << "zn7qx-sim counters: received=" << received << " arp_requests=" << arpRequests
      << " not_ours=" << notOurs << " echo_requests=" << echoRequests
      << " bad_requests=" << badRequests << " other_icmp=" << otherIcmp << " excluded=" << excluded
      << " silent=" << silent << " unit=" << asUnit << " host=" << asHost << " data=" << asData
      << " error=" << asError << " replies_sent=" << repliesSent << " errors_sent=" << errorsSent
      << " flood_sent=" << floodSent << " arp_sent=" << arpSent << " send_failures=" << sendFailures
      << " delayed_dropped=" << delayedDropped << "\n";
}

Simulator::Simulator(SimConfig config, SimOptions options)
    : config_(std::move(config)), options_(std::move(options)) {}

int Simulator::Run(std::ostream& out, std::ostream& err) {
  // The kernel must not answer address resolution on the link as well, or
  // an address would have two hardware addresses.
  const std::string arpIgnore = "/proc/sys/net/ipv4/conf/" + options_.link + "/arp_ignore";
  std::string ignore;
  if (!ReadFlag(arpIgnore.c_str(), ignore)) {
    err << "zn7qx-sim: no link " << options_.link << " here (cannot read " << arpIgnore << ")\n";
    return 1;
  }
  if (ignore != "8") {
    if (options_.setSysctl) {
      std::ofstream w(arpIgnore);
      w << "8\n";
    }
    if (!ReadFlag(arpIgnore.c_str(), ignore) || ignore != "8") {
      err << "zn7qx-sim: the kernel may still answer ARP on " << options_.link << " (" << arpIgnore
          << " is not 8) and I cannot change that; run me as root of this network namespace, or set it first\n";
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
  Fd sock(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL)));
  if (sigfd.get() < 0 || sock.get() < 0) {
    err << "zn7qx-sim: cannot open a packet socket: " << std::strerror(errno)
        << " (needs CAP_NET_RAW in this network namespace)\n";
    return 1;
  }
  sockaddr_ll where{};
  where.sll_family = AF_PACKET;
  where.sll_protocol = htons(ETH_P_ALL);
  where.sll_ifindex = static_cast<int>(if_nametoindex(options_.link.c_str()));
  if (where.sll_ifindex == 0 || bind(sock.get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
    err << "zn7qx-sim: cannot serve the link " << options_.link << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  // Frames for the simulated hosts carry their addresses, not the link's:
  // the kernel would drop them, this socket takes them.
  packet_mreq promiscuous{};
  promiscuous.mr_ifindex = where.sll_ifindex;
  promiscuous.mr_type = PACKET_MR_PROMISC;
  setsockopt(sock.get(), SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof promiscuous);
  const int on = 1;
  setsockopt(sock.get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
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
  // Hardware addresses of the hosts that sent us something, for the flood.
  std::unordered_map<Ip4, Mac> peers;
  Clock::time_point lastAsked{};
  // The configuration's times count from the first echo request seen.
  std::optional<Clock::time_point> firstRequest;
  const auto msAt = [&](Clock::time_point t) -> std::uint64_t {
    if (!firstRequest) return 0;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(t - *firstRequest).count());
  };
  const auto hostMac = [&](Ip4 address, std::uint64_t ms) -> std::optional<Mac> {
    if (options_.exclude.count(address)) return std::nullopt;
    return config_.HostMac(address, ms);
  };

  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline =
      started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.maxSeconds));

  out << "zn7qx-sim: ready on " << options_.link << ", " << config_.AddressCount() << " addresses and "
      << config_.RangeCount() << " ranges configured, pid " << getpid() << std::endl;
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
  std::array<sockaddr_ll, RecvBatch> from{};
  std::string stopReason = "max-seconds";

  // Answers go back from the hardware address the request was sent to.
  auto answer = [&](const EchoRequest& req, const Frame& frame, Clock::time_point now) {
    const Behaviour& b = config_.Lookup(req.destination, msAt(now));
    switch (b.kind) {
      case Kind::Silent: ++counters.silent; return;
      case Kind::Unit: ++counters.asUnit; break;
      case Kind::Host: ++counters.asHost; break;
      case Kind::Data: ++counters.asData; break;
      case Kind::Error: ++counters.asError; break;
    }
    const Sent kind = b.kind == Kind::Error ? Sent::Error : Sent::Reply;
    const OutPacket p = kind == Sent::Error ? BuildErrorReply(req, b) : BuildEchoReply(req, b);
    const std::vector<std::uint8_t> reply = BuildFrame(frame.source, frame.destination, EtherTypeIpv4, p.bytes);
    for (std::uint32_t i = 0; i < b.count; ++i) {
      const auto due = now + std::chrono::milliseconds(b.delayMs + std::uint64_t{i} * b.intervalMs);
      if (due <= now) {
        sender.Add(reply, kind);
      } else if (pending.size() < MaxPending) {
        pending.push({due, order++, reply, kind});
      } else {
        ++counters.delayedDropped;
      }
    }
  };

  // A flood packet goes to a host we have heard from; any other is asked for.
  auto sendFlood = [&](const OutPacket& p, Clock::time_point now) {
    const Ip4 router = config_.Router().value_or(p.source);
    const Mac mac = hostMac(router, msAt(now)).value_or(DefaultMac(router));
    if (auto peer = peers.find(p.destination); peer != peers.end()) {
      sender.Add(BuildFrame(peer->second, mac, EtherTypeIpv4, p.bytes), Sent::Flood);
      return;
    }
    ++counters.sendFailures;
    if (now - lastAsked >= std::chrono::seconds(1)) {
      lastAsked = now;
      sender.Add(BuildArpRequest(router, mac, p.destination), Sent::Arp);
    }
  };

  auto take = [&](const Frame& frame, Clock::time_point now) {
    if (frame.type == EtherTypeArp) {
      const auto request = ParseArpRequest(frame.payload);
      if (!request) {
        ++counters.notOurs;
        return;
      }
      ++counters.arpRequests;
      if (request->senderIp != 0 && peers.size() < MaxPeers) peers[request->senderIp] = request->senderMac;
      // Only the host that has the address answers, and a question sent to
      // one hardware address only reaches that one.
      const auto mac = hostMac(request->targetIp, msAt(now));
      if (mac && (frame.destination == BroadcastMac || frame.destination == *mac))
        sender.Add(BuildArpReply(*request, *mac), Sent::Arp);
      return;
    }
    const std::uint64_t ms = msAt(now);
    const auto router = config_.Router() ? hostMac(*config_.Router(), ms) : std::nullopt;
    // For the router (it forwards whatever it is sent), or for the host
    // that has the destination address with that hardware address now.
    if (frame.type != EtherTypeIpv4 || frame.payload.size() < IpHeaderBytes ||
        (frame.destination != router && frame.destination != hostMac(DestinationOf(frame.payload), ms))) {
      ++counters.notOurs;
      return;
    }
    EchoRequest req;
    switch (ParseEchoRequest(frame.payload, req)) {
      case RequestProblem::None: break;
      case RequestProblem::NotEchoRequest:
      case RequestProblem::NotIcmp:
      case RequestProblem::NotIpv4: ++counters.otherIcmp; return;
      default: ++counters.badRequests; return;
    }
    ++counters.echoRequests;
    if (!firstRequest) firstRequest = now;
    if (peers.size() < MaxPeers) peers[req.source] = frame.source;
    if (options_.exclude.count(req.destination)) {
      ++counters.excluded;
      return;
    }
    if (floodConfig.count > 0) {
      flood.Seen(req, now);
      if (!floodStart) floodStart = now + std::chrono::milliseconds(floodConfig.startAfterMs);
    }
    answer(req, frame, now);
  };

  for (;;) {
    Clock::time_point now = Clock::now();
    if (now >= deadline) break;

    while (!pending.empty() && pending.top().due <= now) {
      sender.Add(pending.top().frame, pending.top().kind);
      pending.pop();
    }
    if (floodStart && now >= *floodStart && floodMade < floodConfig.count) {
      const double elapsed = std::chrono::duration<double>(now - *floodStart).count();
      const std::uint64_t allowed = std::min<std::uint64_t>(
          floodConfig.count, static_cast<std::uint64_t>(elapsed * floodConfig.rate) + 1);
      // Bounded per round so that requests keep being answered meanwhile.
      std::uint64_t burst = 0;
      for (; floodMade < allowed && burst < 1024; ++floodMade, ++burst) {
        if (auto p = flood.Next(now)) sendFlood(*p, now);
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
        msgs[i].msg_hdr.msg_name = &from[i];
        msgs[i].msg_hdr.msg_namelen = sizeof from[i];
      }
      const int got = recvmmsg(sock.get(), msgs.data(), RecvBatch, MSG_DONTWAIT, nullptr);
      if (got <= 0) break;
      now = Clock::now();
      for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
        if (from[i].sll_pkttype == PACKET_OUTGOING) continue;  // our own, where the kernel cannot leave them out
        ++counters.received;
        const auto frame = ParseFrame({buffers.data() + i * RecvBufferBytes, std::min<std::size_t>(msgs[i].msg_len, RecvBufferBytes)});
        if (frame) take(*frame, now);
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
