#pragma once
// The sweep's transport where it may resolve the link itself: requests to
// the host addresses of an on-link subnet start with an ARP request of our
// own on a packet socket, and the echo request goes, framed to the hardware
// address that answered, only to hosts that did; the kernel's neighbour
// table is never asked. Every other address (routed, our own, a subnet's
// network and broadcast addresses) goes through the kernel's echo socket.

#include <signal.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "net/linux/OnLink.h"
#include "net/linux/PacketSocket.h"
#include "scan/SocketTransport.h"

namespace zn7qx::scan {

class LinkTransport final : public EchoTransport {
 public:
  struct Link {
    linuxnet::OnLinkSubnet subnet;
    linuxnet::PacketSocket socket;  // opened with the kernel socket's identifier
  };

  // An ARP answer later than timeout after its request draws no echo.
  LinkTransport(SocketTransport& kernel, std::vector<Link> links, std::chrono::microseconds timeout);

  Clock::time_point Now() override { return Clock::now(); }
  std::uint16_t Identifier() const override { return kernel_.Identifier(); }
  std::int32_t Send(std::uint32_t destNetworkOrder, std::uint16_t sequence) override;
  int LastSendErrno() const override { return lastSendErrno_; }
  std::optional<linuxnet::EchoEvent> Receive() override;
  bool Readable() override;
  void Wait(Clock::time_point until) override;
  void BeginSweep() override { asked_.clear(); }
  std::int64_t ArpRequestsSent() const override { return arpSent_; }
  std::int64_t FramesIgnored() const override { return ignored_; }
  std::string Failure() const override { return failure_; }

 private:
  // What this sweep knows of an on-link address.
  struct Asked {
    std::uint8_t arps = 0;  // ARP requests sent to it
    bool answered = false;  // its hardware address is in mac
    linuxnet::Mac mac{};
    bool waiting = false;   // an echo waits for its ARP answer
    std::uint16_t sequence = 0;
    Clock::time_point askedAt{};
    std::size_t link = 0;
  };

  // The link whose host addresses hold dest, or none.
  Link* LinkOf(std::uint32_t destNetworkOrder, std::size_t& index);
  std::int32_t SendFrame(Link& link, std::span<const unsigned char> frame);
  std::int32_t SendEcho(Link& link, std::uint32_t dest, const linuxnet::Mac& to, std::uint16_t sequence);
  void TakeArp(std::size_t link, const linuxnet::ArpAnswer& answer, Clock::time_point arrived);
  bool FromAnAnswerer(const linuxnet::LinkFrame& frame) const;

  SocketTransport& kernel_;
  std::vector<Link> links_;
  std::chrono::microseconds timeout_;
  std::unordered_map<std::uint32_t, Asked> asked_;
  std::int64_t arpSent_ = 0;
  std::int64_t ignored_ = 0;
  std::uint16_t ipIdentification_ = 0;
  int lastSendErrno_ = 0;
  std::string failure_;
};

// At most this many ARP requests per address and sweep: the first and one retry.
inline constexpr int kArpRequestsPerAddress = 2;

}  // namespace zn7qx::scan
