#include "scan/SocketTransport.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <span>

#include "net/ICMPPing.h"

namespace zn7qx::scan {

namespace {
const std::span<const unsigned char> kPayload(reinterpret_cast<const unsigned char*>(ProbePayload.data()),
                                               ProbePayload.size());
}  // namespace

SocketTransport::SocketTransport(linuxnet::EchoSocket socket, const sigset_t* waitMask)
    : socket_(std::move(socket)), waitMask_(waitMask) {}

std::int32_t SocketTransport::Send(std::uint32_t destNetworkOrder, std::uint16_t sequence) {
  // The socket itself tries again, or defers, when an earlier request's
  // error was pending on it. A failed send leaves its reason in errno.
  errno = 0;
  const std::int32_t status = socket_.Send(destNetworkOrder, sequence, kPayload);
  lastSendErrno_ = status == IP_SUCCESS ? 0 : errno;
  return status;
}

bool SocketTransport::Readable() {
  pollfd watch{socket_.fd(), POLLIN, 0};
  return poll(&watch, 1, 0) > 0 && (watch.revents & (POLLIN | POLLERR)) != 0;
}

void SocketTransport::Wait(Clock::time_point until) {
  // A time already past still looks: a signal waiting to be let through ends
  // the sweep even while it has no time to wait.
  const auto left = std::max(std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()),
                             std::chrono::nanoseconds(0));
  timespec timeout{static_cast<time_t>(left.count() / 1'000'000'000),
                   static_cast<long>(left.count() % 1'000'000'000)};
  pollfd watch{socket_.fd(), POLLIN, 0};
  (void)ppoll(&watch, 1, &timeout, waitMask_);  // EINTR: the caller looks at its stop flag
}

void EnlargeSocketBuffers(int fd) {
  constexpr int kWanted = 8 << 20;
  // FORCE needs CAP_NET_ADMIN and lifts the system's cap; without it the
  // plain option gives what net.core.[rw]mem_max allows.
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kWanted, sizeof kWanted) != 0)
    (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kWanted, sizeof kWanted);
  constexpr int kSend = 2 << 20;
  if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &kSend, sizeof kSend) != 0)
    (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSend, sizeof kSend);
}

}  // namespace zn7qx::scan
