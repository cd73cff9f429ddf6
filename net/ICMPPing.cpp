#include "net/ICMPPing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <span>

#include "net/EchoRecord.h"
#include "net/linux/EchoSocket.h"
#include "net/mdlConvertIPForms.h"

namespace zn7qx {

namespace {

std::atomic<int> startups{0};

// One sequence number per probe, process-wide, starting at a random point so
// that two runs of the program do not ask the same questions.
std::uint16_t NextSequence() {
  static std::atomic<std::uint16_t> next{[] {
    std::random_device device;
    return static_cast<std::uint16_t>(device());
  }()};
  return next.fetch_add(1, std::memory_order_relaxed);
}

std::span<const unsigned char> PayloadBytes() {
  return {reinterpret_cast<const unsigned char*>(ProbePayload.data()), ProbePayload.size()};
}

}  // namespace

bool SocketsInitialize() {
  startups.fetch_add(1);
  return true;
}

void SocketsCleanup() {
  int count = startups.load();
  while (count > 0 && !startups.compare_exchange_weak(count, count - 1)) {
  }
}

int SocketsStartupCount() { return startups.load(); }

std::int32_t Ping(const std::string& address, ICMP_ECHO_REPLY& reply, const PingWaitHook& whileWaiting) {
  using Clock = std::chrono::steady_clock;
  std::memset(&reply, 0, sizeof reply);

  const NetworkAddress parsed = DottedToNetwork(address);
  if (!IsUsableAddress(parsed)) return -1;
  const auto dest = static_cast<std::uint32_t>(parsed);

  auto socket = linuxnet::EchoSocket::Open();
  if (!socket) return -1;

  const std::uint16_t sequence = NextSequence();
  const auto sent = Clock::now();
  const auto deadline = sent + std::chrono::milliseconds(PingTimeoutMs);
  // A send refused for want of room (a full neighbour table, full buffers,
  // often another program's doing) is tried again while the time-out lasts;
  // the wait between tries runs the caller's hook as any other wait does.
  std::int32_t sendStatus = socket.Send(dest, sequence, PayloadBytes());
  for (auto pause = std::chrono::milliseconds(2);
       sendStatus == IP_NO_RESOURCES && (errno == ENOBUFS || errno == EAGAIN || errno == ENOMEM) &&
       Clock::now() + pause < deadline;
       pause = std::min(pause * 2, std::chrono::milliseconds(40))) {
    (void)socket.WaitFor(sequence, dest, Clock::now() + pause, whileWaiting);
    sendStatus = socket.Send(dest, sequence, PayloadBytes());
  }
  if (sendStatus != IP_SUCCESS) {
    reply.Address = dest;
    reply.Status = sendStatus;
    return reply.Status;
  }

  const auto event = socket.WaitFor(sequence, dest, deadline, whileWaiting);
  if (!event) {
    reply.Status = IP_REQ_TIMED_OUT;
    return reply.Status;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(event->received - sent);
  FillEchoReply(reply, *event, static_cast<std::uint32_t>(std::max<std::int64_t>(0, elapsed.count())));
  return reply.Status;
}

std::string GetStatusText(std::int32_t status) {
  switch (status) {
    case IP_SUCCESS: return "Success!";
    case IP_BUF_TOO_SMALL: return "Buffer Too Small";
    case IP_DEST_NET_UNREACHABLE: return "Destination Net Unreachable";
    case IP_DEST_HOST_UNREACHABLE: return "Destination Host Unreachable";
    case IP_DEST_PROT_UNREACHABLE: return "Destination Protocol Unreachable";
    case IP_DEST_PORT_UNREACHABLE: return "Destination Port Unreachable";
    case IP_NO_RESOURCES: return "No Resources";
    case IP_BAD_OPTION: return "Bad Option";
    case IP_HW_ERROR: return "Hardware Error";
    case IP_PACKET_TOO_BIG: return "Packet Too Big";
    case IP_REQ_TIMED_OUT: return "Request Timed Out";
    case IP_BAD_REQ: return "Bad Request";
    case IP_BAD_ROUTE: return "Bad Route";
    case IP_TTL_EXPIRED_TRANSIT: return "TimeToLive Expired Transit";
    case IP_TTL_EXPIRED_REASSEM: return "TimeToLive Expired Reassembly";
    case IP_PARAM_PROBLEM: return "Parameter Problem";
    case IP_SOURCE_QUENCH: return "Source Quench";
    case IP_OPTION_TOO_BIG: return "Option Too Big";
    case IP_BAD_DESTINATION: return "Bad Destination";
    case IP_NEGOTIATING_IPSEC: return "Negotiating IPSEC";
    case IP_GENERAL_FAILURE: return "General Failure";
    default: return "Unknown Response";
  }
}

bool EchoPermitted() { return linuxnet::CanOpenEchoSocket(); }

std::string_view EchoPermissionAdvice() {
  return "This program may not send ICMP echo requests. Either let your group use "
         "unprivileged ping sockets:\n"
         "    sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
         "(or only your own group: \"GID GID\" with the number that `id -g` prints; put the "
         "setting in /etc/sysctl.d/ to keep it), or give the program the one capability it "
         "needs:\n"
         "    sudo setcap cap_net_raw+ep <program>\n"
         "Do not run the program as root.";
}

}  // namespace zn7qx
