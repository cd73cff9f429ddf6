// Typed address text, through both parsers that take it. The window's two
// boxes through BeginScan: the first line is the start text, the rest the end
// text (NUL and all). The sweep's range arguments: each line is one argument,
// which may hold several comma-separated items.
//
// Properties. The window: the parser agrees with inet_addr; a refused range
// shows exactly one critical box and leaves every list empty; an accepted one
// queues 1 to 512 consecutive addresses from the start text's to the end
// text's; BeginScan never reaches the network (its seams are empty, so a call
// would throw). The sweep: an error with no ranges, or ranges with no error,
// each within the address space; merging gives sorted, disjoint, non-touching
// ranges without 0.0.0.0 and 255.255.255.255 that cover exactly the input's
// addresses; a message carries no control byte to the terminal.

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "net/mdlConvertIPForms.h"
#include "tests/support/FakeView.h"
#include "tools/zn7qx-scan/ScanRange.h"
#include "ui/ScanController.h"

namespace {

using zn7qx::NumericAddress;
constexpr NumericAddress kLast = 4294967295;

// The platform parser itself, for texts it can see whole.
zn7qx::NetworkAddress Expected(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return zn7qx::kParseFailure;
  return static_cast<zn7qx::NetworkAddress>(::inet_addr(std::string(text).c_str()));
}

bool Usable(zn7qx::NetworkAddress a) { return a != zn7qx::kParseFailure && a != 0; }

void Window(std::string_view startText, std::string_view endText) {
  const zn7qx::NetworkAddress start = zn7qx::DottedToNetwork(startText), end = zn7qx::DottedToNetwork(endText);
  ZN7QX_FUZZ_CHECK(start == Expected(startText) && end == Expected(endText));
  ZN7QX_FUZZ_CHECK(zn7qx::NumericToNetwork(zn7qx::NetworkToNumeric(start)) == start);

  zn7qx::test::FakeView view;
  view.start = std::string(startText);
  view.end = std::string(endText);
  view.units.items = {"left over"};  // must be cleared whatever happens
  view.others.items = {"198.18.0.99"};
  zn7qx::ScanController controller(view, zn7qx::ScanSeams{});
  controller.BeginScan();
  ZN7QX_FUZZ_CHECK(view.status == "Beginning Scan...");
  ZN7QX_FUZZ_CHECK(view.units.items.empty() && view.others.items.empty());
  ZN7QX_FUZZ_CHECK(view.start == startText && view.end == endText);  // the boxes are not touched

  const NumericAddress count = zn7qx::NetworkToNumeric(end) - zn7qx::NetworkToNumeric(start) + 1;
  if (!view.messages.empty()) {
    ZN7QX_FUZZ_CHECK(view.messages.size() == 1 && view.queue.items.empty());
    const auto& box = view.messages.front();
    ZN7QX_FUZZ_CHECK(box.icon == zn7qx::MessageIcon::Critical);
    if (!Usable(start)) {
      ZN7QX_FUZZ_CHECK(box.title == "Start Address Incorrect");
    } else if (!Usable(end)) {
      ZN7QX_FUZZ_CHECK(box.title == "End Address Incorrect");
    } else {
      ZN7QX_FUZZ_CHECK(box.title == "Too Many Addresses" && (count > 512 || count < 1));
      ZN7QX_FUZZ_CHECK(box.text.ends_with("(The range selected contains " + std::to_string(count) + " addresses.)"));
    }
    return;
  }
  ZN7QX_FUZZ_CHECK(Usable(start) && Usable(end) && count >= 1 && count <= 512);
  ZN7QX_FUZZ_CHECK(static_cast<NumericAddress>(view.queue.items.size()) == count);
  NumericAddress expected = zn7qx::NetworkToNumeric(start);
  for (const std::string& item : view.queue.items)
    ZN7QX_FUZZ_CHECK(item == zn7qx::NetworkToDotted(zn7qx::NumericToNetwork(expected++)));
}

bool Covered(const std::vector<zn7qx::scan::AddressRange>& ranges, NumericAddress n) {
  for (const auto& r : ranges)
    if (r.first <= n && n <= r.last) return true;
  return false;
}

void Sweep(const std::vector<std::string>& arguments) {
  const auto parsed = zn7qx::scan::ParseRanges(arguments);
  ZN7QX_FUZZ_CHECK(parsed.error.empty() != parsed.ranges.empty() || arguments.empty());
  for (const char c : parsed.error) ZN7QX_FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  for (const auto& r : parsed.ranges) ZN7QX_FUZZ_CHECK(0 <= r.first && r.first <= r.last && r.last <= kLast);

  const auto merged = zn7qx::scan::MergeRanges(parsed.ranges);
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < merged.size(); ++i) {
    const auto& m = merged[i];
    ZN7QX_FUZZ_CHECK(1 <= m.first && m.first <= m.last && m.last <= kLast - 1);
    if (i > 0) ZN7QX_FUZZ_CHECK(merged[i - 1].last + 1 < m.first);
    sum += m.last - m.first + 1;
    // The ends come from the input (or are clipped to 1 and kLast - 1), and
    // just outside them nothing is covered.
    ZN7QX_FUZZ_CHECK(Covered(parsed.ranges, m.first) && Covered(parsed.ranges, m.last));
    ZN7QX_FUZZ_CHECK(m.first == 1 || !Covered(parsed.ranges, m.first - 1));
    ZN7QX_FUZZ_CHECK(m.last == kLast - 1 || !Covered(parsed.ranges, m.last + 1));
  }
  ZN7QX_FUZZ_CHECK(zn7qx::scan::CountAddresses(merged) == sum && sum <= kLast - 1);
  for (const auto& r : parsed.ranges)
    for (const auto n : {r.first, r.last, r.first + (r.last - r.first) / 2})
      ZN7QX_FUZZ_CHECK(Covered(merged, n) == (n != 0 && n != kLast));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto cut = input.find('\n');
  Window(input.substr(0, cut), cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1));
  std::vector<std::string> lines;
  for (std::size_t start = 0; start <= input.size() && lines.size() < 64;) {
    const auto end = std::min(input.find('\n', start), input.size());
    lines.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  Sweep(lines);
  return 0;
}
