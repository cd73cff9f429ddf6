#include "net/linux/PacketSocket.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/linux/EchoSocket.h"

namespace zn7qx::linuxnet {

namespace {
constexpr std::size_t kFrameBytes = 2048;  // an Ethernet frame, with room
}

PacketSocket::~PacketSocket() { Close(); }

PacketSocket::PacketSocket(PacketSocket&& other) noexcept
    : fd_(other.fd_), ifindex_(other.ifindex_), error_(other.error_), buffer_(std::move(other.buffer_)) {
  other.fd_ = -1;
}

PacketSocket& PacketSocket::operator=(PacketSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    ifindex_ = other.ifindex_;
    error_ = other.error_;
    buffer_ = std::move(other.buffer_);
    other.fd_ = -1;
  }
  return *this;
}

void PacketSocket::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

PacketSocket PacketSocket::Open(int ifindex, const LinkSelf& self, std::uint16_t identifier) {
  // Protocol 0 receives nothing: the filter is in place before the bind
  // lets the first frame in.
  const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  const auto code = LinkFilter(self, identifier);
  sock_fprog program{static_cast<unsigned short>(code.size()), const_cast<sock_filter*>(code.data())};
  const int on = 1;
  sockaddr_ll bound{};
  bound.sll_family = AF_PACKET;
  bound.sll_protocol = htons(ETH_P_ALL);
  bound.sll_ifindex = ifindex;
  if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return {};
  }
  // Our own frames stay out where the kernel can keep them so (the filter drops them anyway).
  (void)setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
  (void)setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  PacketSocket s;
  s.fd_ = fd;
  s.ifindex_ = ifindex;
  s.buffer_.resize(kFrameBytes);
  return s;
}

int PacketSocket::Send(std::span<const unsigned char> frame) {
  if (fd_ < 0) return EBADF;
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = ifindex_;
  to.sll_halen = 6;
  std::memcpy(to.sll_addr, frame.data(), 6);
  ssize_t sent;
  do {
    sent = sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) return errno;
  return static_cast<std::size_t>(sent) == frame.size() ? 0 : EMSGSIZE;
}

std::optional<std::span<const unsigned char>> PacketSocket::Read(std::chrono::steady_clock::time_point& arrived) {
  if (fd_ < 0 || error_ != 0) return std::nullopt;
  iovec io{buffer_.data(), buffer_.size()};
  alignas(cmsghdr) unsigned char control[128];
  msghdr header{};
  header.msg_iov = &io;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(fd_, &header, MSG_DONTWAIT);
  if (got < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) error_ = errno;
    return std::nullopt;
  }
  const auto wall = std::chrono::system_clock::now();
  arrived = std::chrono::steady_clock::now();
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS || c->cmsg_len < CMSG_LEN(sizeof(timespec)))
      continue;
    timespec stamp{};
    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
    arrived = ArrivalTime(stamp, wall, arrived);
  }
  // A frame cut short reads as what it is: a parser refuses it.
  return std::span<const unsigned char>(buffer_.data(), static_cast<std::size_t>(got));
}

}  // namespace zn7qx::linuxnet
