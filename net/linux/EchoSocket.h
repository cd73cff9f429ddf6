#pragma once
// One ICMP echo socket: an unprivileged ping socket where the kernel allows
// it (net.ipv4.ping_group_range), else a raw socket where the process holds
// CAP_NET_RAW. Usable for one probe at a time (WaitFor) or for many probes in
// flight on one socket (Send + poll(fd()) + ReceiveOne).

#include <time.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "net/linux/IcmpPacket.h"

namespace zn7qx::linuxnet {

enum class SocketKind { None, Datagram, Raw };

// How often WaitFor calls its hook: now and then, and often for a while
// after a call that found work, since more of it tends to follow.
inline constexpr std::chrono::milliseconds WaitHookInterval{5};
inline constexpr std::chrono::microseconds WaitHookBusyInterval{100};
inline constexpr std::chrono::milliseconds WaitHookBusyFor{20};

class EchoSocket {
 public:
  EchoSocket() = default;  // kind() None
  ~EchoSocket();
  EchoSocket(EchoSocket&& other) noexcept;
  EchoSocket& operator=(EchoSocket&& other) noexcept;
  EchoSocket(const EchoSocket&) = delete;
  EchoSocket& operator=(const EchoSocket&) = delete;

  // Ping socket first, raw socket second; kind() None when neither opens.
  // The socket is non-blocking.
  static EchoSocket Open();
  // Only the given kind (tests and benchmarks of one path).
  static EchoSocket Open(SocketKind kind);
  // A descriptor opened elsewhere, read as a socket of this kind; it is
  // closed with the EchoSocket.
  static EchoSocket Adopt(int fd, SocketKind kind, std::uint16_t identifier);

  SocketKind kind() const { return kind_; }
  explicit operator bool() const { return kind_ != SocketKind::None; }
  // For poll(): readable when a packet or an error-queue message waits.
  int fd() const { return fd_; }
  // The identifier our requests carry (host order). For ping sockets it is
  // the socket's port, given by the kernel at open.
  std::uint16_t identifier() const { return identifier_; }

  // Sends one echo request with this sequence and data, no IP options.
  // 0, or the IP status code of a local failure (see StatusFromErrno), errno
  // telling its cause; IP_NO_RESOURCES with EAGAIN when other requests' ICMP
  // errors kept failing it (send again later); IP_GENERAL_FAILURE when there
  // is no socket.
  std::int32_t Send(std::uint32_t destNetworkOrder, std::uint16_t sequence,
                    std::span<const unsigned char> payload);

  // Reads what is waiting, without blocking, until it finds a reply or an
  // error that belongs to this socket's identifier; packets of other
  // identifiers, malformed packets, bad checksums and other types are
  // dropped. Nothing: no event of ours among what was read (it reads at most
  // a bounded number of messages per call, so a flood cannot hold the
  // caller; poll again and call again).
  std::optional<EchoEvent> ReceiveOne();

  // Waits until the reply or error for this sequence and destination arrives,
  // or the deadline passes (nothing). Events for other sequences, and
  // replies from any other address than dest, are dropped. When the socket
  // can no longer be waited on or read, an error event with
  // IP_GENERAL_FAILURE (and the errno in localErrno). Events carry the time
  // the kernel received them: one that arrived after the deadline counts as
  // none, one that arrived before counts however late it is read.
  // whileWaiting, when given, is called on this thread while the
  // wait goes on, also under a flood (see WaitHookInterval): the caller's
  // chance to do what must not wait for the reply. It tells whether it
  // found anything to do.
  std::optional<EchoEvent> WaitFor(std::uint16_t sequence, std::uint32_t destNetworkOrder,
                                   std::chrono::steady_clock::time_point deadline,
                                   const std::function<bool()>& whileWaiting = {});

 private:
  EchoSocket(int fd, SocketKind kind, std::uint16_t identifier);
  void Close();
  std::optional<EchoEvent> ReadErrorQueue();
  std::optional<EchoEvent> ReadPacket(bool& empty);
  // The arrival of a message just read, noted in turnArrival_.
  std::chrono::steady_clock::time_point Noted(std::chrono::steady_clock::time_point arrived);

  int fd_ = -1;
  SocketKind kind_ = SocketKind::None;
  std::uint16_t identifier_ = 0;
  int failed_ = 0;  // the errno of a read that failed other than for a pending ICMP error
  // Of ReceiveOne's last turn (one read of each queue): whether both were
  // empty, and the earliest arrival among what it read.
  bool drained_ = false;
  std::chrono::steady_clock::time_point turnArrival_{};
  std::vector<unsigned char> buffer_;
};

// Whether a ping socket or a raw socket can be opened by this process now.
bool CanOpenEchoSocket();

// When a packet stamped (wall clock) by the kernel at stamp arrived, on the
// steady clock, read at wall and now: a busy process reads late, and an
// answer must not count late for that. A stamp from the future (the clock
// was set back) or a minute old or more says nothing: then it is now.
std::chrono::steady_clock::time_point ArrivalTime(timespec stamp, std::chrono::system_clock::time_point wall,
                                                  std::chrono::steady_clock::time_point now);

}  // namespace zn7qx::linuxnet
