// Reply bytes to outcome, for the window's scan tick and for the sweep: each
// row's ICMP message goes through the datagram path's parser (and, wrapped
// in an IPv4 header, the raw path's, which must agree), then to both.

#include <gtest/gtest.h>

#include "net/linux/IcmpPacket.h"
#include "scan/SafeText.h"
#include "scan/Sweep.h"
#include "tests/support/Addresses.h"
#include "tests/support/FakeView.h"
#include "tests/support/Packets.h"
#include "tests/support/ScriptedNetwork.h"
#include "tests/support/ScriptedTransport.h"
#include "ui/ScanController.h"

namespace zn7qx::test {
namespace {

using namespace std::string_literals;

enum class Damage { None, Checksum, Request, Code, Cut };

struct ReplyRow {
  std::string data;
  Damage damage;
  std::string outcome;  // "unit:<text>", "host", or "" for ignored
};

const std::string k244(244, 'x');
const ReplyRow kReplyRows[] = {
    {std::string(ProbePayload), Damage::None, "host"},
    {"Found.Unit-7\0\0\0"s, Damage::None, "unit:Unit-7"},
    {"Found.", Damage::None, "unit:"},
    {"found.lower", Damage::None, "host"},
    {"Found", Damage::None, "host"},
    {" Found.x", Damage::None, "host"},
    {"Found.<b>\x01\x1b[2J\xff\xe9\r\n"s, Damage::None, "unit:<b>\x01\x1b[2J\xff\xe9\r\n"},
    {"Found." + k244, Damage::None, "unit:" + k244},
    {"Found." + k244 + "yyyy", Damage::None, "unit:" + k244},
    {"Found.Checksum", Damage::Checksum, ""},
    {"Found.Request", Damage::Request, ""},
    {"Found.Code", Damage::Code, ""},
    {"Found.Cut", Damage::Cut, ""},
};

constexpr std::uint16_t kIdentifier = 0x4242;

// What the parsers make of the row's reply to request (identifier, sequence) from peer.
std::optional<linuxnet::EchoEvent> Received(const ReplyRow& row, std::uint16_t sequence, std::uint32_t peer) {
  Bytes icmp = Icmp(row.damage == Damage::Request ? 8 : 0, row.damage == Damage::Code ? 1 : 0, kIdentifier, sequence,
                    row.data);
  if (row.damage == Damage::Checksum) icmp.back() ^= 0x20;
  if (row.damage == Damage::Cut) icmp.resize(7);
  auto datagram = linuxnet::ParseDatagramReply(icmp, peer);
  const auto raw = linuxnet::ParseRawPacket(Ip(peer, Net("198.18.0.1"), icmp));
  EXPECT_EQ(datagram.has_value(), raw.has_value());
  if (datagram && raw) {
    EXPECT_EQ(datagram->data, raw->data);
  }
  return datagram;
}

std::string WindowOutcome(const ReplyRow& row) {
  ScriptedNetwork net;
  if (const auto event = Received(row, 1, Net("198.18.0.10")))
    net.Script("198.18.0.10", IP_SUCCESS, std::string(event->data.begin(), event->data.end()));
  FakeView view;
  ScanController controller(view, net.Seams());
  view.start = view.end = "198.18.0.10";
  controller.BeginScan();
  controller.PingTick(0);
  EXPECT_EQ(view.lastError, "");
  if (view.others.items == std::vector<std::string>{"198.18.0.10"}) return "host";
  const std::string lead = "198.18.0.10: ";
  if (view.units.items.size() == 1 && view.units.items[0].starts_with(lead)) return "unit:" + view.units.items[0].substr(lead.size());
  EXPECT_EQ(view.units.items, std::vector<std::string>{"No units found."});
  return "";
}

std::string SweepOutcome(const ReplyRow& row) {
  ScriptedTransport net;
  net.identifier = kIdentifier;
  net.scripts[Net("198.18.0.10")] = [&](ScriptedTransport& t, const SentRequest& r) {
    if (auto event = Received(row, r.sequence, r.dest)) t.Deliver(r.at + 1ms, *event);
  };
  const scan::SweepResult result = scan::RunSweep({{Num("198.18.0.10"), Num("198.18.0.10")}}, net, {});
  if (result.answered.empty()) return "";
  EXPECT_EQ(result.answered.size(), 1u);
  const scan::AddressResult& a = result.answered[0];
  EXPECT_EQ(a.address, Num("198.18.0.10"));
  return a.outcome == scan::Outcome::Unit ? "unit:" + a.unitText : a.outcome == scan::Outcome::Host ? "host" : "error";
}

TEST(ReplyOutcomes, TheWindowAndTheSweepFileEveryReplyAlike) {
  for (const ReplyRow& row : kReplyRows) {
    SCOPED_TRACE(scan::EscapeText(row.data));
    EXPECT_EQ(WindowOutcome(row), row.outcome);
    EXPECT_EQ(SweepOutcome(row), row.outcome);
  }
}

}  // namespace
}  // namespace zn7qx::test
