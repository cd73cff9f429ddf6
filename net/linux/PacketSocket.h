#pragma once
// A packet socket on one interface, for ARP and echo frames of our own: the
// kernel filter (LinkFilter) lets only what may be ours through, and our
// own outgoing frames never come back. Opening it needs CAP_NET_RAW; using
// it afterwards needs nothing.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "net/linux/LinkFrames.h"

namespace zn7qx::linuxnet {

class PacketSocket {
 public:
  PacketSocket() = default;
  ~PacketSocket();
  PacketSocket(PacketSocket&& other) noexcept;
  PacketSocket& operator=(PacketSocket&& other) noexcept;
  PacketSocket(const PacketSocket&) = delete;
  PacketSocket& operator=(const PacketSocket&) = delete;

  // Non-blocking, bound to ifindex, filtered for self and our identifier;
  // an unopened socket with errno set when it cannot be.
  static PacketSocket Open(int ifindex, const LinkSelf& self, std::uint16_t identifier);

  explicit operator bool() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // 0 when the frame went out whole, else the errno.
  int Send(std::span<const unsigned char> frame);

  // One frame waiting, and when it arrived; nothing when none waits, or
  // when the socket failed (error() then says why).
  std::optional<std::span<const unsigned char>> Read(std::chrono::steady_clock::time_point& arrived);
  int error() const { return error_; }

 private:
  void Close();
  int fd_ = -1;
  int ifindex_ = 0;
  int error_ = 0;
  std::vector<unsigned char> buffer_;
};

}  // namespace zn7qx::linuxnet
