// The two address boxes through BeginScan: "start\nend" (everything after the
// first line feed is the end text, NUL and all). The controller runs with
// plain lists and no probe at all; BeginScan must never reach the network.
//
// Properties: the parser agrees with inet_addr; a refused range shows exactly
// one critical box and leaves every list empty; an accepted range queues
// 1 to 512 consecutive addresses from the start text's to the end text's.

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "net/mdlConvertIPForms.h"
#include "tests/support/FakeView.h"
#include "ui/ScanController.h"

namespace {

using View = zn7qx::test::FakeView;

[[noreturn]] void NoNetwork() {
  std::fprintf(stderr, "BeginScan reached a network seam\n");
  std::abort();
}

zn7qx::ScanSeams NoSeams() {
  zn7qx::ScanSeams s;
  s.socketsInitialize = []() -> bool { NoNetwork(); };
  s.socketsCleanup = []() { NoNetwork(); };
  s.ping = [](const std::string&, zn7qx::ICMP_ECHO_REPLY&, const zn7qx::PingWaitHook&) -> std::int32_t {
    NoNetwork();
  };
  s.statusText = [](std::int32_t) -> std::string { NoNetwork(); };
  s.localSubnetMask = []() -> zn7qx::NumericAddress { NoNetwork(); };
  s.localIPAddress = []() -> zn7qx::NumericAddress { NoNetwork(); };
  s.setIPInfoMessageSink = [](zn7qx::IPInfoMessageSink) { NoNetwork(); };
  s.echoPermitted = []() -> bool { NoNetwork(); };
  s.echoPermissionAdvice = []() -> std::string { NoNetwork(); };
  return s;
}

// The platform parser itself, for texts it can see whole.
zn7qx::NetworkAddress Expected(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return zn7qx::kParseFailure;
  return static_cast<zn7qx::NetworkAddress>(::inet_addr(std::string(text).c_str()));
}

bool Usable(zn7qx::NetworkAddress a) { return a != zn7qx::kParseFailure && a != 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto cut = input.find('\n');
  const std::string_view startText = input.substr(0, cut);
  const std::string_view endText = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

  const zn7qx::NetworkAddress start = zn7qx::DottedToNetwork(startText);
  const zn7qx::NetworkAddress end = zn7qx::DottedToNetwork(endText);
  ZN7QX_FUZZ_CHECK(start == Expected(startText));
  ZN7QX_FUZZ_CHECK(end == Expected(endText));
  ZN7QX_FUZZ_CHECK(zn7qx::NumericToNetwork(zn7qx::NetworkToNumeric(start)) == start);

  View view;
  view.start = std::string(startText);
  view.end = std::string(endText);
  view.units.items = {"left over"};  // must be cleared whatever happens
  view.others.items = {"198.18.0.99"};
  zn7qx::ScanController controller(view, NoSeams());
  controller.BeginScan();

  ZN7QX_FUZZ_CHECK(view.status == "Beginning Scan...");
  ZN7QX_FUZZ_CHECK(view.units.items.empty() && view.others.items.empty());
  ZN7QX_FUZZ_CHECK(view.start == startText && view.end == endText);  // the boxes are not touched

  const zn7qx::NumericAddress count = zn7qx::NetworkToNumeric(end) - zn7qx::NetworkToNumeric(start) + 1;
  if (!view.messages.empty()) {
    ZN7QX_FUZZ_CHECK(view.messages.size() == 1);
    ZN7QX_FUZZ_CHECK(view.queue.items.empty());
    const auto& box = view.messages.front();
    ZN7QX_FUZZ_CHECK(box.icon == zn7qx::MessageIcon::Critical);
    if (!Usable(start)) {
      ZN7QX_FUZZ_CHECK(box.title == "Start Address Incorrect");
    } else if (!Usable(end)) {
      ZN7QX_FUZZ_CHECK(box.title == "End Address Incorrect");
    } else {
      ZN7QX_FUZZ_CHECK(box.title == "Too Many Addresses");
      ZN7QX_FUZZ_CHECK(count > 512 || count < 1);
      const std::string n = "(The range selected contains " + std::to_string(count) + " addresses.)";
      ZN7QX_FUZZ_CHECK(box.text.size() >= n.size() &&
                       box.text.compare(box.text.size() - n.size(), n.size(), n) == 0);
    }
    return 0;
  }

  ZN7QX_FUZZ_CHECK(Usable(start) && Usable(end));
  ZN7QX_FUZZ_CHECK(count >= 1 && count <= 512);
  ZN7QX_FUZZ_CHECK(static_cast<zn7qx::NumericAddress>(view.queue.items.size()) == count);
  ZN7QX_FUZZ_CHECK(view.queue.items.front() == zn7qx::NetworkToDotted(start));
  ZN7QX_FUZZ_CHECK(view.queue.items.back() == zn7qx::NetworkToDotted(end));
  zn7qx::NumericAddress previous = -1;
  for (const std::string& item : view.queue.items) {
    const zn7qx::NetworkAddress parsed = Expected(item);
    ZN7QX_FUZZ_CHECK(zn7qx::NetworkToDotted(parsed) == item);  // plain dotted quad
    const zn7qx::NumericAddress n = zn7qx::NetworkToNumeric(parsed);
    ZN7QX_FUZZ_CHECK(previous < 0 || n == previous + 1);
    previous = n;
  }
  return 0;
}
