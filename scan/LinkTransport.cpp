#include "scan/LinkTransport.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "net/ICMPPing.h"

namespace zn7qx::scan {

namespace {

const std::span<const unsigned char> kPayload(reinterpret_cast<const unsigned char*>(ProbePayload.data()),
                                               ProbePayload.size());
// Frames read per Receive call before the caller gets its turn.
constexpr int kFramesPerCall = 64;

// The link is gone: nothing more can be sent or read on it.
bool LinkGone(int error) { return error == ENETDOWN || error == ENXIO || error == ENODEV; }

}  // namespace

LinkTransport::LinkTransport(SocketTransport& kernel, std::vector<Link> links, std::chrono::microseconds timeout)
    : kernel_(kernel), links_(std::move(links)), timeout_(timeout) {}

LinkTransport::Link* LinkTransport::LinkOf(std::uint32_t dest, std::size_t& index) {
  const std::int64_t number = ntohl(dest);
  for (index = 0; index < links_.size(); ++index) {
    const auto& s = links_[index].subnet;
    if (number >= s.first && number <= s.last && dest != s.self.address) return &links_[index];
  }
  return nullptr;
}

std::int32_t LinkTransport::SendFrame(Link& link, std::span<const unsigned char> frame) {
  const int error = link.socket.Send(frame);
  lastSendErrno_ = error;
  if (error == 0) return IP_SUCCESS;
  if (LinkGone(error)) {
    failure_ = "the link " + link.subnet.interface + " went away (" + std::strerror(error) + ")";
    return IP_GENERAL_FAILURE;
  }
  return linuxnet::StatusFromErrno(error);  // ENOBUFS, EAGAIN: "no resources", made again later
}

std::int32_t LinkTransport::SendEcho(Link& link, std::uint32_t dest, const linuxnet::Mac& to, std::uint16_t sequence) {
  const auto frame = linuxnet::BuildEchoFrame(link.subnet.self, to, dest, Identifier(), sequence, kPayload,
                                              ipIdentification_++);
  return SendFrame(link, frame);
}

std::int32_t LinkTransport::Send(std::uint32_t dest, std::uint16_t sequence) {
  std::size_t index = 0;
  Link* link = LinkOf(dest, index);
  if (link == nullptr) {
    const std::int32_t status = kernel_.Send(dest, sequence);
    lastSendErrno_ = kernel_.LastSendErrno();
    return status;
  }
  Asked& a = asked_[dest];
  if (a.answered) return SendEcho(*link, dest, a.mac, sequence);
  // A silent address is asked twice at most; a later retry goes nowhere
  // and times out as the address does.
  if (a.arps >= kArpRequestsPerAddress) return IP_SUCCESS;
  const std::int32_t status = SendFrame(*link, linuxnet::BuildArpRequest(link->subnet.self, dest));
  if (status != IP_SUCCESS) return status;
  ++a.arps;
  ++arpSent_;
  a.waiting = true;
  a.sequence = sequence;
  a.askedAt = Now();
  a.link = index;
  return IP_SUCCESS;
}

bool LinkTransport::FromAnAnswerer(const linuxnet::LinkFrame& frame) const {
  const auto it = asked_.find(frame.echo.peer);
  return it != asked_.end() && it->second.answered &&
         (frame.echo.kind == linuxnet::EchoEvent::Kind::Error || it->second.mac == frame.source);
}

void LinkTransport::TakeArp(std::size_t link, const linuxnet::ArpAnswer& answer, Clock::time_point arrived) {
  const auto it = asked_.find(answer.address);
  // Only an answer to a question of ours, on the link it went out on, in
  // time (by when it came: a busy machine may read it late).
  if (it == asked_.end() || !it->second.waiting || it->second.link != link ||
      arrived - it->second.askedAt > timeout_) {
    ++ignored_;
    return;
  }
  Asked& a = it->second;
  a.waiting = false;
  a.answered = true;
  a.mac = answer.mac;
  (void)SendEcho(links_[link], answer.address, a.mac, a.sequence);
}

std::optional<linuxnet::EchoEvent> LinkTransport::Receive() {
  // The kernel's socket also sees the answers to our framed requests (the
  // identifier is its own): those are read from the link, not twice.
  while (auto event = kernel_.Receive()) {
    std::size_t index = 0;
    if (LinkOf(event->peer, index) == nullptr) return event;
  }
  for (std::size_t i = 0; i < links_.size(); ++i) {
    Link& link = links_[i];
    for (int n = 0; n < kFramesPerCall; ++n) {
      Clock::time_point arrived;
      const auto frame = link.socket.Read(arrived);
      if (!frame) {
        if (link.socket.error() != 0 && failure_.empty())
          failure_ = "the link " + link.subnet.interface + " went away (" + std::strerror(link.socket.error()) + ")";
        break;
      }
      auto parsed = linuxnet::ParseLinkFrame(*frame, link.subnet.self);
      std::size_t index = 0;
      if (parsed.kind == linuxnet::LinkFrame::Kind::Arp) {
        TakeArp(i, parsed.arp, arrived);
      } else if (parsed.kind == linuxnet::LinkFrame::Kind::Echo && LinkOf(parsed.echo.peer, index) == nullptr) {
        continue;  // routed: the kernel's socket has it too
      } else if (parsed.kind == linuxnet::LinkFrame::Kind::Echo && !FromAnAnswerer(parsed)) {
        // About an address that never answered our ARP, or from another
        // hardware address than the one that did: no request of ours went there.
        ++ignored_;
      } else if (parsed.kind == linuxnet::LinkFrame::Kind::Echo) {
        parsed.echo.received = arrived;
        parsed.echo.hardware = parsed.source;
        return std::move(parsed.echo);
      } else {
        ++ignored_;
      }
    }
  }
  return std::nullopt;
}

bool LinkTransport::Readable() {
  if (kernel_.Readable()) return true;
  for (const Link& link : links_) {
    pollfd watch{link.socket.fd(), POLLIN, 0};
    if (poll(&watch, 1, 0) > 0 && (watch.revents & (POLLIN | POLLERR)) != 0) return true;
  }
  return false;
}

void LinkTransport::Wait(Clock::time_point until) {
  const auto left = std::max(std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()),
                             std::chrono::nanoseconds(0));
  timespec timeout{static_cast<time_t>(left.count() / 1'000'000'000),
                   static_cast<long>(left.count() % 1'000'000'000)};
  std::vector<pollfd> watch{{kernel_.fd(), POLLIN, 0}};
  for (const Link& link : links_) watch.push_back({link.socket.fd(), POLLIN, 0});
  (void)ppoll(watch.data(), watch.size(), &timeout, kernel_.waitMask());  // EINTR: the caller looks at its stop flag
}

}  // namespace zn7qx::scan
