// The window and the sweep decide what a reply means through the same code;
// this drives both over the same replies and compares what each lists.

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "net/EchoRecord.h"
#include "net/ICMPPing.h"
#include "tests/scan/ScriptedTransport.h"
#include "tests/support/FakeView.h"
#include "tools/zn7qx-scan/Sweep.h"
#include "ui/ScanController.h"

namespace zn7qx::scan::test {
namespace {

using namespace std::string_literals;
using testsupport::FakeView;

// What comes back from one address: reply data, an error status, or nothing.
struct Case {
  std::string data;
  std::int32_t status = IP_SUCCESS;
  bool silent = false;
};

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      {std::string(ProbePayload)},
      {"Found.Unit-7\0\0\0"s},
      {"Found."},
      {"found.lower"},
      {"Found"},
      {""},
      {"Found.A\0B"s},
      {"Found.<b>\x01\x1b[2J\xff"s},
      {"Found." + std::string(244, 'x')},             // exactly fills the record
      {"Found." + std::string(400, 'y')},             // longer than the record
      {"XFound.shifted"},
      {"", IP_DEST_HOST_UNREACHABLE},
      {"", IP_TTL_EXPIRED_TRANSIT},
      {"", IP_DEST_PORT_UNREACHABLE},
      {"", IP_SUCCESS, true},
  };
  return cases;
}

std::string AddressOf(std::size_t i) { return "198.18.0." + std::to_string(i + 1); }

linuxnet::EchoEvent EventFor(const Case& c, std::uint32_t dest, std::uint16_t id, std::uint16_t seq) {
  linuxnet::EchoEvent e;
  e.kind = c.status == IP_SUCCESS ? linuxnet::EchoEvent::Kind::Reply : linuxnet::EchoEvent::Kind::Error;
  e.peer = e.from = dest;
  e.identifier = id;
  e.sequence = seq;
  e.status = c.status;
  if (c.status == IP_SUCCESS) e.data.assign(c.data.begin(), c.data.end());
  return e;
}

// address -> "unit:<text>", "host", "error:<status text>"; silent ones absent.
using Listing = std::map<std::string, std::string>;

Listing WindowListing(const std::vector<Case>& cases) {
  FakeView view;
  ScanSeams seams;
  seams.socketsInitialize = [] { return true; };
  seams.socketsCleanup = [] {};
  seams.statusText = GetStatusText;
  seams.ping = [&](const std::string& address, ICMP_ECHO_REPLY& reply) -> std::int32_t {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      if (AddressOf(i) != address) continue;
      if (cases[i].silent) {
        reply.Status = IP_REQ_TIMED_OUT;
        return IP_REQ_TIMED_OUT;
      }
      // What the real probe does with the event the echo socket hands it.
      FillEchoReply(reply, EventFor(cases[i], static_cast<std::uint32_t>(DottedToNetwork(address)), 1, 1), 1);
      return reply.Status;
    }
    ADD_FAILURE() << "unexpected probe of " << address;
    return -1;
  };
  ScanController controller(view, seams);
  view.start = AddressOf(0);
  view.end = AddressOf(cases.size() - 1);
  controller.BeginScan();
  Listing listing;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::size_t units = view.units.items.size(), others = view.others.items.size();
    controller.PingTick(0);
    const std::string address = AddressOf(i);
    if (view.units.items.size() > units) {
      const std::string item = view.units.items.back();
      EXPECT_EQ(item.rfind(address + ": ", 0), 0u) << item;
      listing[address] = "unit:" + item.substr(address.size() + 2);
    } else if (view.others.items.size() > others) {
      EXPECT_EQ(view.others.items.back(), address);
      listing[address] = "host";
    } else if (!view.lastError.empty()) {
      listing[address] = "error:" + view.lastError.substr(std::string("Last ping error: ").size());
    }
  }
  EXPECT_TRUE(view.messages.empty()) << "unexpected message box: " << view.messages.front().text;
  return listing;
}

Listing SweepListing(const std::vector<Case>& cases) {
  ScriptedTransport net;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].silent) continue;
    const Case c = cases[i];
    net.scripts[Net(AddressOf(i).c_str())] = [c](ScriptedTransport& t, const SentRequest& r) {
      t.Deliver(r.at + 1ms, EventFor(c, r.dest, t.identifier, r.sequence));
    };
  }
  const NumericAddress first = NetworkToNumeric(DottedToNetwork(AddressOf(0)));
  const SweepResult result =
      RunSweep({{first, first + static_cast<NumericAddress>(cases.size()) - 1}}, net, SweepOptions{});
  Listing listing;
  for (const AddressResult& a : result.answered) {
    const std::string address = NetworkToDotted(NumericToNetwork(a.address));
    switch (a.outcome) {
      case Outcome::Unit: listing[address] = "unit:" + a.unitText; break;
      case Outcome::Host: listing[address] = "host"; break;
      case Outcome::Error: listing[address] = "error:" + GetStatusText(a.status); break;
    }
  }
  return listing;
}

TEST(WindowAndSweep, ListTheSameUnitsHostsAndErrorsForTheSameReplies) {
  const auto cases = Cases();
  const Listing window = WindowListing(cases);
  const Listing sweep = SweepListing(cases);
  EXPECT_EQ(window, sweep);
  // And the listing is what these replies mean, not an agreement on nothing.
  EXPECT_EQ(window.at("198.18.0.1"), "host");
  EXPECT_EQ(window.at("198.18.0.2"), "unit:Unit-7");
  EXPECT_EQ(window.at("198.18.0.3"), "unit:");
  EXPECT_EQ(window.at("198.18.0.4"), "host");
  EXPECT_EQ(window.at("198.18.0.7"), "unit:A");
  EXPECT_EQ(window.at("198.18.0.9"), "unit:" + std::string(244, 'x'));
  EXPECT_EQ(window.at("198.18.0.10"), "unit:" + std::string(244, 'y'));
  EXPECT_EQ(window.at("198.18.0.12"), "error:Destination Host Unreachable");
  EXPECT_EQ(window.count("198.18.0.15"), 0u);
  EXPECT_EQ(window.size(), 14u);
}

TEST(WindowAndSweep, DefaultToTheSameRange) {
  const struct {
    const char* mask;
    const char* address;
  } rows[] = {{"255.255.255.0", "192.168.1.37"}, {"255.255.254.0", "10.0.2.15"},
              {"255.255.255.255", "172.16.5.4"}, {"255.255.0.0", "198.19.7.1"}};
  for (const auto& row : rows) {
    FakeView view;
    ScanSeams seams;
    seams.localSubnetMask = [&] { return NetworkToNumeric(DottedToNetwork(row.mask)); };
    seams.localIPAddress = [&] { return NetworkToNumeric(DottedToNetwork(row.address)); };
    ScanController controller(view, seams);
    controller.SetDefaultRange();
    const AddressRange r = SubnetRange(seams.localSubnetMask(), seams.localIPAddress());
    EXPECT_EQ(NetworkToDotted(NumericToNetwork(r.first)), view.start) << row.address;
    EXPECT_EQ(NetworkToDotted(NumericToNetwork(r.last)), view.end) << row.address;
  }
}

}  // namespace
}  // namespace zn7qx::scan::test
