#include "net/EchoRecord.h"

#include <algorithm>
#include <cstring>

namespace zn7qx {

void FillEchoReply(ICMP_ECHO_REPLY& reply, const linuxnet::EchoEvent& event, std::uint32_t roundTripMs) {
  reply.Address = event.from;
  reply.Status = event.status;
  reply.RoundTripTime = roundTripMs;
  reply.Options.Ttl = event.ttl;
  reply.Options.Tos = event.tos;
  reply.Options.Flags = event.ipFlags;
  const std::size_t kept = std::min(event.data.size(), sizeof reply.Data);
  if (kept > 0) std::memcpy(reply.Data, event.data.data(), kept);
  reply.DataSize = static_cast<std::uint16_t>(kept);
}

}  // namespace zn7qx
