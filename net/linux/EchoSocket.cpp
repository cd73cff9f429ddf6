#include "net/linux/EchoSocket.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "net/ICMPPing.h"

namespace zn7qx::linuxnet {

namespace {

// Largest IPv4 packet: nothing a socket hands over is ever cut.
constexpr std::size_t ReceiveBufferSize = 65536;
// Messages read per ReceiveOne call before giving the caller its turn.
constexpr int ReadsPerCall = 64;

void SetOption(int fd, int level, int name, int value) {
  // A missing TTL/TOS report only leaves those fields 0; nothing depends on it.
  (void)setsockopt(fd, level, name, &value, sizeof value);
}

std::uint16_t RandomIdentifier() {
  std::random_device device;
  std::uniform_int_distribution<unsigned> pick(1, 0xFFFF);
  return static_cast<std::uint16_t>(pick(device));
}

int OpenDatagram(std::uint16_t& identifier) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return -1;
  // Binding to port 0 makes the kernel choose the identifier now, so that
  // identifier() is right before the first send.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t length = sizeof local;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    close(fd);
    return -1;
  }
  identifier = ntohs(local.sin_port);
  SetOption(fd, IPPROTO_IP, IP_RECVERR, 1);
  SetOption(fd, IPPROTO_IP, IP_RECVTTL, 1);
  SetOption(fd, IPPROTO_IP, IP_RECVTOS, 1);
  return fd;
}

int OpenRaw(std::uint16_t& identifier) {
  const int fd = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return -1;
  // Let the kernel drop every ICMP type we never read, so that a busy
  // network costs us less.
  icmp_filter filter{};
  filter.data = ~((1u << IcmpEchoReplyType) | (1u << IcmpDestUnreachableType) |
                  (1u << IcmpSourceQuenchType) | (1u << IcmpTimeExceededType) |
                  (1u << IcmpParameterProblemType));
  (void)setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  identifier = RandomIdentifier();
  return fd;
}

constexpr int kSendAttempts = 4;

// One recvmsg into a buffer, with the sender's address and the control
// messages beside it. Lives where it is made: the header points into it.
struct Received {
  sockaddr_in name{};
  alignas(cmsghdr) unsigned char control[512];
  iovec io{};
  msghdr header{};

  ssize_t From(int fd, std::vector<unsigned char>& buffer, int flags) {
    io = {buffer.data(), buffer.size()};
    header = {};
    header.msg_name = &name;
    header.msg_namelen = sizeof name;
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    return recvmsg(fd, &header, flags);
  }
  bool HasName() const { return header.msg_namelen >= sizeof name && name.sin_family == AF_INET; }

  // When the packet reached this host, by the kernel's receive timestamp.
  std::chrono::steady_clock::time_point Arrived() {
    // The wall clock first: the moment between the two readings then makes
    // the arrival later, never earlier than the send it answers.
    const auto wall = std::chrono::system_clock::now();
    const auto now = std::chrono::steady_clock::now();
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS || c->cmsg_len < CMSG_LEN(sizeof(timespec)))
        continue;
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      return ArrivalTime(stamp, wall, now);
    }
    return now;
  }
};

// What an ICMP error about a request sets the socket's pending error to
// (the kernel's conversion of ICMP types and codes; source quench and
// redirect give EREMOTEIO); a read that fails with one of these delivered
// that error, and the socket still works.
bool IcmpErrno(int error) {
  switch (error) {
    case ECONNREFUSED: case EHOSTUNREACH: case ENETUNREACH: case EHOSTDOWN: case ENONET:
    case ENOPROTOOPT: case EMSGSIZE: case EOPNOTSUPP: case EPROTO: case EREMOTEIO:
      return true;
    default:
      return false;
  }
}

}  // namespace

EchoSocket::EchoSocket(int fd, SocketKind kind, std::uint16_t identifier)
    : fd_(fd), kind_(kind), identifier_(identifier), buffer_(ReceiveBufferSize) {
  SetOption(fd_, SOL_SOCKET, SO_TIMESTAMPNS, 1);
}

EchoSocket EchoSocket::Adopt(int fd, SocketKind kind, std::uint16_t identifier) {
  if (fd < 0 || kind == SocketKind::None) return EchoSocket();
  return EchoSocket(fd, kind, identifier);
}

EchoSocket::~EchoSocket() { Close(); }

EchoSocket::EchoSocket(EchoSocket&& other) noexcept
    : fd_(other.fd_), kind_(other.kind_), identifier_(other.identifier_), failed_(other.failed_),
      buffer_(std::move(other.buffer_)) {
  other.fd_ = -1;
  other.kind_ = SocketKind::None;
}

EchoSocket& EchoSocket::operator=(EchoSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    kind_ = other.kind_;
    identifier_ = other.identifier_;
    failed_ = other.failed_;
    buffer_ = std::move(other.buffer_);
    other.fd_ = -1;
    other.kind_ = SocketKind::None;
  }
  return *this;
}

void EchoSocket::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  kind_ = SocketKind::None;
}

EchoSocket EchoSocket::Open() {
  EchoSocket socket = Open(SocketKind::Datagram);
  if (socket) return socket;
  return Open(SocketKind::Raw);
}

EchoSocket EchoSocket::Open(SocketKind kind) {
  std::uint16_t identifier = 0;
  int fd = -1;
  if (kind == SocketKind::Datagram) fd = OpenDatagram(identifier);
  if (kind == SocketKind::Raw) fd = OpenRaw(identifier);
  if (fd < 0) return EchoSocket();
  return EchoSocket(fd, kind, identifier);
}

std::int32_t EchoSocket::Send(std::uint32_t destNetworkOrder, std::uint16_t sequence,
                              std::span<const unsigned char> payload) {
  if (kind_ == SocketKind::None) return IP_GENERAL_FAILURE;
  const auto packet = BuildEchoRequest(identifier_, sequence, payload);
  sockaddr_in dest{};
  dest.sin_family = AF_INET;
  dest.sin_addr.s_addr = destNetworkOrder;
  // An ICMP error about an earlier request (or a forged one) leaves a
  // pending socket error that fails the next send with that request's errno,
  // while the error itself waits on the error queue for ReceiveOne. So what
  // is pending is cleared before every try. A try can still meet an error
  // that arrived between the clear and the send; one that fails the same way
  // twice straight after a clear failed on its own (no route). If every try
  // met another error, the send is left for later ("no resources", EAGAIN)
  // rather than reported with another request's error.
  ssize_t sent = -1;
  int previous = 0;
  bool own = false;
  for (int attempt = 0; attempt < kSendAttempts && sent < 0 && !own; ++attempt) {
    int pending = 0;
    socklen_t length = sizeof pending;
    (void)getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &length);
    do {
      sent = sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest);
    } while (sent < 0 && errno == EINTR);
    own = sent < 0 && (!IcmpErrno(errno) || errno == previous);
    previous = sent < 0 ? errno : 0;
  }
  if (sent < 0 && !own) {
    errno = EAGAIN;
    return IP_NO_RESOURCES;
  }
  if (sent < 0) return StatusFromErrno(errno);
  if (static_cast<std::size_t>(sent) != packet.size()) return IP_GENERAL_FAILURE;
  return IP_SUCCESS;
}

std::optional<EchoEvent> EchoSocket::ReadErrorQueue() {
  Received r;
  const ssize_t got = r.From(fd_, buffer_, MSG_ERRQUEUE | MSG_DONTWAIT);
  if (got < 0) return std::nullopt;
  const auto arrived = Noted(r.Arrived());
  const auto quoted = std::span<const unsigned char>(buffer_.data(), static_cast<std::size_t>(got));
  for (cmsghdr* c = CMSG_FIRSTHDR(&r.header); c != nullptr; c = CMSG_NXTHDR(&r.header, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
    const std::size_t length = c->cmsg_len - CMSG_LEN(0);
    auto event = ParseErrorQueueMessage(std::span<const unsigned char>(CMSG_DATA(c), length), quoted,
                                        r.header.msg_namelen >= sizeof r.name ? r.name.sin_addr.s_addr : 0);
    if (event) event->received = arrived;
    return event;
  }
  return std::nullopt;
}

std::optional<EchoEvent> EchoSocket::ReadPacket(bool& empty) {
  empty = false;
  Received r;
  const ssize_t got = r.From(fd_, buffer_, MSG_DONTWAIT);
  if (got < 0) {
    // EAGAIN: nothing waits. An ICMP error's errno is a pending socket error
    // that the error queue also carries; reading it here cleared it. Any
    // other error means the socket cannot be read at all.
    empty = errno == EAGAIN || errno == EWOULDBLOCK;
    if (!empty && errno != EINTR && !IcmpErrno(errno)) failed_ = errno;
    return std::nullopt;
  }
  const auto arrived = Noted(r.Arrived());
  if ((r.header.msg_flags & MSG_TRUNC) != 0) return std::nullopt;
  const auto bytes = std::span<const unsigned char>(buffer_.data(), static_cast<std::size_t>(got));
  std::optional<EchoEvent> event;
  if (kind_ == SocketKind::Raw) {
    event = ParseRawPacket(bytes);
  } else {
    std::uint8_t ttl = 0, tos = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&r.header); c != nullptr; c = CMSG_NXTHDR(&r.header, c)) {
      if (c->cmsg_level != IPPROTO_IP) continue;
      if (c->cmsg_type == IP_TTL && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
        int value;
        std::memcpy(&value, CMSG_DATA(c), sizeof value);
        ttl = static_cast<std::uint8_t>(value);
      } else if (c->cmsg_type == IP_TOS && c->cmsg_len >= CMSG_LEN(1)) {
        tos = *CMSG_DATA(c);
      }
    }
    if (!r.HasName()) return std::nullopt;
    event = ParseDatagramReply(bytes, r.name.sin_addr.s_addr, ttl, tos);
  }
  if (event) event->received = arrived;
  return event;
}

std::chrono::steady_clock::time_point EchoSocket::Noted(std::chrono::steady_clock::time_point arrived) {
  turnArrival_ = std::min(turnArrival_, arrived);
  return arrived;
}

std::optional<EchoEvent> EchoSocket::ReceiveOne() {
  drained_ = false;
  if (kind_ == SocketKind::None || failed_ != 0) return std::nullopt;
  for (int i = 0; i < ReadsPerCall; ++i) {
    turnArrival_ = std::chrono::steady_clock::time_point::max();
    bool queued = false;
    if (kind_ == SocketKind::Datagram) {
      // Read the error queue first: it also clears the pending socket error
      // that would otherwise fail the next ordinary read.
      errno = 0;
      auto error = ReadErrorQueue();
      queued = error.has_value() || errno != EAGAIN;
      if (error && error->identifier == identifier_) return error;
    }
    bool empty = false;
    auto event = ReadPacket(empty);
    if (event && event->identifier == identifier_) return event;
    drained_ = empty && !queued;
    if (drained_ || failed_ != 0) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<EchoEvent> EchoSocket::WaitFor(std::uint16_t sequence, std::uint32_t destNetworkOrder,
                                             std::chrono::steady_clock::time_point deadline,
                                             const std::function<bool()>& whileWaiting) {
  using Clock = std::chrono::steady_clock;
  if (kind_ == SocketKind::None) return std::nullopt;
  // A wait that cannot go on is a failure of its own, not a silent address.
  const auto failure = [&](int error) {
    EchoEvent event;
    event.kind = EchoEvent::Kind::Error;
    event.peer = destNetworkOrder;
    event.sequence = sequence;
    event.status = IP_GENERAL_FAILURE;
    event.localErrno = error;
    event.received = Clock::now();
    return event;
  };
  // A reply must come from the address probed; an error must quote a
  // request that went there.
  const auto ours = [&](const EchoEvent& event) {
    return event.sequence == sequence && event.peer == destNetworkOrder;
  };
  auto hookDue = Clock::now(), busyUntil = hookDue;
  bool readable = true;  // a wait that ended on the hook's time read nothing
  for (;;) {
    // Whatever is waiting first, then the clock, so that a flood of
    // unrelated packets cannot keep us past the deadline.
    while (auto event = readable ? ReceiveOne() : std::nullopt) {
      if (ours(*event)) {
        if (event->received > deadline) return std::nullopt;
        return event;
      }
      if (Clock::now() >= deadline || (whileWaiting && Clock::now() >= hookDue)) break;
    }
    if (failed_ != 0) return failure(failed_);
    const auto now = Clock::now();
    if (now >= deadline) {
      // An answer counts by when it came, however late it is read (the hook
      // ran on past the deadline, the machine was busy): what is queued is
      // read in the order it came, up to what came after the deadline or an
      // empty socket, so that a flood cannot hold us here either.
      for (;;) {
        const auto event = ReceiveOne();
        if (event && ours(*event) && event->received <= deadline) return event;
        if (drained_ || failed_ != 0 || turnArrival_ > deadline) return std::nullopt;
      }
    }
    if (whileWaiting && now >= hookDue) {
      if (whileWaiting()) busyUntil = Clock::now() + WaitHookBusyFor;
      const auto after = Clock::now();
      const std::chrono::microseconds interval = after < busyUntil ? WaitHookBusyInterval : WaitHookInterval;
      hookDue = after + interval;
      continue;
    }
    const auto wake = whileWaiting ? std::min(deadline, hookDue) : deadline;
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now);
    timespec timeout{static_cast<time_t>(left.count() / 1'000'000'000),
                     static_cast<long>(left.count() % 1'000'000'000)};
    pollfd watch{fd_, POLLIN, 0};
    const int ready = ppoll(&watch, 1, &timeout, nullptr);
    readable = ready != 0;
    if (ready < 0 && errno != EINTR) return failure(errno);
    if (ready > 0 && (watch.revents & POLLNVAL) != 0) return failure(EBADF);
  }
}

bool CanOpenEchoSocket() { return static_cast<bool>(EchoSocket::Open()); }

std::chrono::steady_clock::time_point ArrivalTime(timespec stamp, std::chrono::system_clock::time_point wall,
                                                  std::chrono::steady_clock::time_point now) {
  const auto age = wall.time_since_epoch() - (std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec));
  // A clock set back meanwhile gives no sense of age: then it is now.
  if (age <= std::chrono::nanoseconds(0) || age >= std::chrono::seconds(60)) return now;
  return now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(age);
}

}  // namespace zn7qx::linuxnet
