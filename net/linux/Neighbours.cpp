#include "net/linux/Neighbours.h"

#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "net/linux/LinkFrames.h"

namespace zn7qx::linuxnet {

namespace {

// What "reachable right after the answer" takes: REACHABLE and PERMANENT
// hold a confirmed address; STALE, DELAY and PROBE one the kernel sends to
// as it stands, so the request that drew the answer went out to it and the
// answer came from the host behind it. INCOMPLETE holds none yet, FAILED
// only what was left when resolution failed, NOARP none of the host's own.
constexpr std::uint16_t kTrusted = NUD_REACHABLE | NUD_PERMANENT | NUD_STALE | NUD_DELAY | NUD_PROBE;

constexpr std::size_t kBufferBytes = 32768;

// The message's attributes by type (up to max), after a header of offset bytes.
template <std::size_t max>
std::array<const nlattr*, max + 1> Attributes(const nlmsghdr* message, std::size_t offset) {
  std::array<const nlattr*, max + 1> all{};
  mnl_attr_parse(message, static_cast<unsigned>(offset), [](const nlattr* a, void* into) {
    if (mnl_attr_type_valid(a, max) >= 0) (*static_cast<std::array<const nlattr*, max + 1>*>(into))[mnl_attr_get_type(a)] = a;
    return MNL_CB_OK;
  }, &all);
  return all;
}

struct Dump {
  const std::unordered_map<std::uint32_t, std::vector<NeighbourEntry>*>* wanted;
};

int TakeNeighbour(const nlmsghdr* message, void* data) {
  if (message->nlmsg_type != RTM_NEWNEIGH || message->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) return MNL_CB_OK;
  const auto* nd = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
  if (nd->ndm_family != AF_INET) return MNL_CB_OK;
  const auto attributes = Attributes<NDA_MAX>(message, sizeof(ndmsg));
  const nlattr* destination = attributes[NDA_DST];
  if (destination == nullptr || mnl_attr_get_payload_len(destination) != 4) return MNL_CB_OK;
  const auto& wanted = *static_cast<Dump*>(data)->wanted;
  const auto it = wanted.find(mnl_attr_get_u32(destination));
  if (it == wanted.end()) return MNL_CB_OK;
  NeighbourEntry entry{nd->ndm_ifindex, nd->ndm_state, {}};
  if (const nlattr* hardware = attributes[NDA_LLADDR]) {
    const auto* bytes = static_cast<const std::uint8_t*>(mnl_attr_get_payload(hardware));
    entry.hardware.assign(bytes, bytes + mnl_attr_get_payload_len(hardware));
  }
  it->second->push_back(std::move(entry));
  return MNL_CB_OK;
}

int TakeRoute(const nlmsghdr* message, void* data) {
  if (message->nlmsg_type != RTM_NEWROUTE || message->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return MNL_CB_OK;
  const auto* rt = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(message));
  auto& route = *static_cast<RouteToAddress*>(data);
  const auto attributes = Attributes<RTA_MAX>(message, sizeof(rtmsg));
  const nlattr* device = attributes[RTA_OIF];
  route.ifindex = device != nullptr && mnl_attr_get_payload_len(device) == 4 ? static_cast<int>(mnl_attr_get_u32(device)) : 0;
  route.onLink = rt->rtm_type == RTN_UNICAST && attributes[RTA_GATEWAY] == nullptr && attributes[RTA_VIA] == nullptr &&
                 route.ifindex > 0;
  return MNL_CB_OK;
}

}  // namespace

std::string HardwareAddressOf(const std::vector<NeighbourEntry>& entries, const RouteToAddress& route) {
  if (!route.onLink) return {};
  for (const NeighbourEntry& e : entries) {
    if (e.ifindex != route.ifindex || (e.state & kTrusted) == 0) continue;
    if (e.hardware.empty() || std::all_of(e.hardware.begin(), e.hardware.end(), [](std::uint8_t b) { return b == 0; }))
      continue;
    return MacText(e.hardware);
  }
  return {};
}

NeighbourTable::NeighbourTable() {
  socket_ = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
  if (socket_ == nullptr || mnl_socket_bind(socket_, 0, MNL_SOCKET_AUTOPID) < 0) {
    error_ = std::strerror(errno);
    if (socket_ != nullptr) mnl_socket_close(socket_);
    socket_ = nullptr;
    return;
  }
  portId_ = mnl_socket_get_portid(socket_);
}

NeighbourTable::~NeighbourTable() {
  if (socket_ != nullptr) mnl_socket_close(socket_);
}

// Sends the request in buffer and runs take over every answer until the
// kernel is done (a dump's end, or the one answer of a plain request).
bool NeighbourTable::Request(void* buffer, std::size_t size, int (*take)(const nlmsghdr*, void*), void* into) {
  auto* request = static_cast<nlmsghdr*>(buffer);
  request->nlmsg_seq = ++sequence_;
  const bool dump = (request->nlmsg_flags & NLM_F_DUMP) != 0;
  if (mnl_socket_sendto(socket_, request, request->nlmsg_len) < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  for (;;) {
    const ssize_t got = mnl_socket_recvfrom(socket_, buffer, size);
    if (got < 0) {
      error_ = std::strerror(errno);
      return false;
    }
    const int run = mnl_cb_run(buffer, static_cast<std::size_t>(got), sequence_, portId_, take, into);
    if (run == MNL_CB_ERROR) {
      // A plain request's own error (no route, say) is an answer too.
      if (!dump) return true;
      error_ = std::strerror(errno);
      return false;
    }
    if (run == MNL_CB_STOP || !dump) return true;
  }
}

std::optional<std::vector<std::string>> NeighbourTable::LookUp(std::span<const std::uint32_t> addresses) {
  if (socket_ == nullptr) return std::nullopt;
  std::vector<std::vector<NeighbourEntry>> entries(addresses.size());
  std::unordered_map<std::uint32_t, std::vector<NeighbourEntry>*> wanted;
  for (std::size_t i = 0; i < addresses.size(); ++i) wanted.emplace(addresses[i], &entries[i]);
  std::vector<char> buffer(kBufferBytes);

  nlmsghdr* dump = mnl_nlmsg_put_header(buffer.data());
  dump->nlmsg_type = RTM_GETNEIGH;
  dump->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(dump, sizeof(ndmsg)))->ndm_family = AF_INET;
  Dump data{&wanted};
  if (!Request(buffer.data(), buffer.size(), TakeNeighbour, &data)) return std::nullopt;

  std::vector<std::string> hardware(addresses.size());
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    if (entries[i].empty()) continue;  // most addresses: no route needs asking for
    nlmsghdr* get = mnl_nlmsg_put_header(buffer.data());
    get->nlmsg_type = RTM_GETROUTE;
    get->nlmsg_flags = NLM_F_REQUEST;
    auto* rt = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(get, sizeof(rtmsg)));
    rt->rtm_family = AF_INET;
    rt->rtm_dst_len = 32;
    mnl_attr_put_u32(get, RTA_DST, addresses[i]);
    RouteToAddress route;
    if (!Request(buffer.data(), buffer.size(), TakeRoute, &route)) return std::nullopt;
    hardware[i] = HardwareAddressOf(entries[i], route);
  }
  return hardware;
}

}  // namespace zn7qx::linuxnet
