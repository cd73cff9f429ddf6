#include "Flood.h"

#include <algorithm>
#include <string_view>

namespace zn7qx::sim {

namespace {
constexpr std::size_t RecentKept = 4096;
constexpr std::string_view FakeUnit = "Found.FLOOD-not-a-unit";
}  // namespace

FloodMaker::FloodMaker(const FloodConfig& config, std::vector<Ip4> answering)
    : config_(config), answering_(std::move(answering)), rng_(config.seed) {
  if (config_.kinds.empty()) {
    config_.kinds = {FloodKind::ForgedReply, FloodKind::StaleReply, FloodKind::BadChecksum,
                     FloodKind::Truncated, FloodKind::Malformed, FloodKind::ForeignError};
  }
}

void FloodMaker::Seen(const EchoRequest& request, Clock::time_point when) {
  Recent r{request.source, request.destination, request.identifier, request.sequence,
           {request.ipHeader.begin(), request.ipHeader.end()},
           {request.icmp.begin(), request.icmp.end()}, when};
  recent_.push_back(std::move(r));
  if (recent_.size() > RecentKept) recent_.pop_front();
}

const FloodMaker::Recent* FloodMaker::Latest() const { return recent_.empty() ? nullptr : &recent_.back(); }

const FloodMaker::Recent* FloodMaker::Stale(Clock::time_point now) {
  const auto age = std::chrono::milliseconds(config_.staleAfterMs);
  // recent_ is in arrival order; the old ones are at the front.
  std::size_t oldEnough = 0;
  while (oldEnough < recent_.size() && now - recent_[oldEnough].when >= age) ++oldEnough;
  if (oldEnough == 0) return nullptr;
  return &recent_[std::uniform_int_distribution<std::size_t>(0, oldEnough - 1)(rng_)];
}

Ip4 FloodMaker::SomeAddress(const Recent& r) {
  if (!answering_.empty() && (rng_() & 1)) {
    return answering_[std::uniform_int_distribution<std::size_t>(0, answering_.size() - 1)(rng_)];
  }
  return r.destination;
}

std::vector<std::uint8_t> FloodMaker::Garbage(std::size_t maxBytes) {
  std::vector<std::uint8_t> g(std::uniform_int_distribution<std::size_t>(0, maxBytes)(rng_));
  for (auto& b : g) b = static_cast<std::uint8_t>(rng_());
  return g;
}

std::uint16_t FloodMaker::OtherThan(std::uint16_t v) {
  return static_cast<std::uint16_t>(v + std::uniform_int_distribution<int>(1, 65535)(rng_));
}

std::optional<OutPacket> FloodMaker::Next(Clock::time_point now) {
  const Recent* latest = Latest();
  Recent none{};
  if (!latest) {
    if (!config_.to) return std::nullopt;
    none.source = *config_.to;
    none.destination = answering_.empty() ? *config_.to + 1 : answering_.front();
    none.identifier = static_cast<std::uint16_t>(rng_());
    none.sequence = static_cast<std::uint16_t>(rng_());
    latest = &none;
  }
  const Ip4 to = config_.to.value_or(latest->source);
  FloodKind kind = config_.kinds[std::uniform_int_distribution<std::size_t>(0, config_.kinds.size() - 1)(rng_)];
  const Recent* stale = kind == FloodKind::StaleReply ? Stale(now) : nullptr;
  if (kind == FloodKind::StaleReply && !stale) kind = FloodKind::ForgedReply;
  ++made_[static_cast<std::size_t>(kind)];

  std::vector<std::uint8_t> icmp;
  Ip4 from = SomeAddress(*latest);
  switch (kind) {
    case FloodKind::ForgedReply:
      // A unit-looking answer under someone else's identifier.
      icmp = EchoMessage(IcmpEchoReply, OtherThan(latest->identifier), latest->sequence, Bytes(FakeUnit));
      break;
    case FloodKind::StaleReply:
      // A reply to a request long past, from the address it went to.
      from = stale->destination;
      icmp = EchoMessage(IcmpEchoReply, stale->identifier, stale->sequence, Bytes(FakeUnit));
      break;
    case FloodKind::BadChecksum:
      from = latest->destination;
      icmp = EchoMessage(IcmpEchoReply, latest->identifier, latest->sequence, Bytes(FakeUnit));
      icmp[2] ^= 0x21;
      break;
    case FloodKind::Truncated: {
      from = latest->destination;
      icmp = EchoMessage(IcmpEchoReply, latest->identifier, latest->sequence, Bytes(FakeUnit));
      // Cut inside the data, keeping the whole message's checksum. Linux
      // drops ICMP shorter than its 8-byte header before any socket sees
      // it, so cuts inside the header would never reach the prober.
      icmp.resize(std::uniform_int_distribution<std::size_t>(8, icmp.size() - 1)(rng_));
      break;
    }
    case FloodKind::Malformed: {
      static constexpr std::uint8_t types[] = {0, 1, 2, 7, 9, 10, 13, 14, 15, 16, 17, 18, 30, 37, 42, 43, 200, 255};
      icmp = Garbage(88);
      icmp.resize(icmp.size() + 8);  // at least a header, or nobody would see it
      icmp[0] = types[std::uniform_int_distribution<std::size_t>(0, std::size(types) - 1)(rng_)];
      if (icmp[0] == IcmpEchoReply) icmp[1] = static_cast<std::uint8_t>(1 + rng_() % 255);  // code != 0
      if (rng_() & 1) SetChecksum(icmp);
      break;
    }
    case FloodKind::ForeignError: {
      // Unreachable or time exceeded, quoting something this probe did not send now.
      const bool timeExceeded = rng_() % 4 == 0;
      icmp = {static_cast<std::uint8_t>(timeExceeded ? 11 : 3),
              static_cast<std::uint8_t>(timeExceeded ? 0 : rng_() % 16), 0, 0, 0, 0, 0, 0};
      std::vector<std::uint8_t> quoted;
      switch (rng_() % 5) {
        case 0: {  // an echo request under another identifier
          auto inner = EchoMessage(IcmpEchoRequest, OtherThan(latest->identifier), latest->sequence, {});
          quoted = IpHeader(latest->source, latest->destination, 1, 64, 8 + 98);
          quoted.insert(quoted.end(), inner.begin(), inner.end());
          break;
        }
        case 1: {  // our identifier, a sequence long gone, to another address
          auto inner = EchoMessage(IcmpEchoRequest, latest->identifier, OtherThan(latest->sequence), {});
          quoted = IpHeader(latest->source, latest->destination ^ 0x1, 1, 64, 8 + 98);
          quoted.insert(quoted.end(), inner.begin(), inner.end());
          break;
        }
        case 2: {  // a UDP datagram
          quoted = IpHeader(latest->source, latest->destination, 17, 64, 8 + 32);
          std::vector<std::uint8_t> udp = {0x9c, 0x40, 0x82, 0x9a, 0x00, 0x28, 0x00, 0x00};
          quoted.insert(quoted.end(), udp.begin(), udp.end());
          break;
        }
        case 3:  // a quote cut short of the ICMP header
          quoted = latest->ipHeader;
          quoted.insert(quoted.end(), latest->icmp.begin(),
                        latest->icmp.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(latest->icmp.size(), rng_() % 8)));
          break;
        default:  // a quote whose IP header is nonsense
          quoted = Garbage(28);
          if (!quoted.empty()) quoted[0] = static_cast<std::uint8_t>(0x40 | (rng_() % 5));
          break;
      }
      icmp.insert(icmp.end(), quoted.begin(), quoted.end());
      SetChecksum(icmp);
      break;
    }
  }
  return BuildIcmpPacket(from, to, 64, icmp);
}

}  // namespace zn7qx::sim
