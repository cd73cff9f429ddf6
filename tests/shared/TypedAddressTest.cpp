// Typed address texts through every parser that takes them: the window's two
// boxes through "Begin Scan", and the sweep's ranges (a start and an end
// become A-B). One row per case; each side's outcome as a short text.

#include <gtest/gtest.h>

#include <algorithm>

#include "scan/ScanRange.h"
#include "tests/support/Addresses.h"
#include "tests/support/FakeView.h"
#include "tests/support/ScriptedNetwork.h"
#include "ui/ScanController.h"

namespace zn7qx::test {
namespace {

using namespace std::string_literals;

const std::string kStartError =
    "The format of the start address is incorrect.\r\nFormat should be like: 192.168.1.1\r\n"
    "Also, the address cannot be 0.0.0.0 or 255.255.255.255";
const std::string kEndError =
    "The format of the end address is incorrect.\r\nFormat should be like: 192.168.1.255\r\n"
    "Also, the address cannot be 0.0.0.0 or 255.255.255.255";
const std::string kTooMany = "Please select a range containing no more than 512 addresses.\r\n";
const std::string kTooFew = "Please select a range containing at least one address.\r\n";

// "first..last" of the queue, or what the box said: "start", "end",
// "more than 512: N", "at least one: N".
std::string WindowOutcome(const std::string& start, const std::string& end) {
  FakeView view;
  view.units.items = {"198.18.0.9: left over"};
  view.others.items = {"198.18.0.8"};
  ScriptedNetwork net;
  ScanController controller(view, net.Seams());
  view.start = start;
  view.end = end;
  controller.BeginScan();
  EXPECT_EQ(view.status, "Beginning Scan...");
  EXPECT_TRUE(view.units.items.empty() && view.others.items.empty()) << "lists cleared whatever happens";
  EXPECT_TRUE(net.pinged.empty()) << "commands never probe";
  const auto& queue = view.queue.items;
  for (std::size_t i = 0; i < queue.size(); ++i) EXPECT_EQ(queue[i], Dotted(Num(queue[0]) + static_cast<NumericAddress>(i)));
  if (view.messages.empty()) return queue.empty() ? "nothing" : queue.front() + ".." + queue.back();
  EXPECT_EQ(view.messages.size(), 1u);
  EXPECT_TRUE(queue.empty());
  const MessageBoxRequest& box = view.messages[0];
  EXPECT_EQ(box.icon, MessageIcon::Critical);
  if (box.title == "Start Address Incorrect" && box.text == kStartError) return "start";
  if (box.title == "End Address Incorrect" && box.text == kEndError) return "end";
  for (const auto& [lead, outcome] : {std::pair{kTooMany, "more than 512: "}, {kTooFew, "at least one: "}}) {
    const std::string n = box.text.substr(std::min(box.text.size(), lead.size() + 29));
    if (box.title == "Too Many Addresses" && box.text == lead + "(The range selected contains " + n &&
        n.ends_with(" addresses.)"))
      return outcome + n.substr(0, n.find(' '));
  }
  return "box " + box.title + ": " + box.text;
}

// "first..last", or "refused" and the message.
std::string SweepOutcome(const std::string& start, const std::string& end) {
  std::string error;
  const auto range = scan::ParseRangeItem(start == end ? start : start + "-" + end, error);
  if (!range) return "refused: " + error;
  EXPECT_TRUE(error.empty());
  return Dotted(range->first) + ".." + Dotted(range->last);
}

struct TypedRow {
  std::string start, end;
  std::string window, sweep;  // a sweep outcome of "refused: X" needs X in the message
};

TypedRow Same(const std::string& text, const std::string& window, const std::string& sweep) {
  return {text, text, window, sweep};
}

const std::string kMany(1 << 20, '1');

// The sweep reads plain decimal dotted quads only: a technician typing
// 010.0.0.1 never means 8.0.0.1. The window keeps its boxes' parser.
const std::string kFour = " (write four decimal numbers from 0 to 255 joined by dots, like 192.168.1.1)";
const TypedRow kTypedRows[] = {
    Same("198.18.0.7", "198.18.0.7..198.18.0.7", "198.18.0.7..198.18.0.7"),
    Same("10.1", "10.0.0.1..10.0.0.1", "refused: \"10.1\" has 2 parts, not four" + kFour),
    Same("198.18.257", "198.18.1.1..198.18.1.1", "refused: has a part above 255, \"257\"" + kFour),
    Same("010.0.0.1", "8.0.0.1..8.0.0.1", "refused: has a part with a leading zero, \"010\", which other tools read as octal"),
    Same("3232235777", "192.168.1.1..192.168.1.1", "refused: has a part above 255, \"3232235777\""),
    {"0xC6.0x12.0.1", "198.18.2", "198.18.0.1..198.18.0.2", "refused: the start address \"0xC6.0x12.0.1\" has a hexadecimal part"},
    Same("198.18.0.1 junk", "198.18.0.1..198.18.0.1", "refused: \"198.18.0.1 junk\" holds a blank" + kFour),
    Same("", "start", "refused: empty"),
    Same("abc", "start", "refused: has a part that is not a decimal number, \"abc\"" + kFour),
    Same("0", "start", "refused: \"0\" is a bare number, not four parts" + kFour),
    Same("0.0.0.0", "start", "refused: is not accepted: 0.0.0.0 and 255.255.255.255 are never probed"),
    Same("255.255.255.255", "start", "refused: is not accepted"),
    Same("256.1.1.1", "start", "refused: has a part above 255, \"256\""),
    Same("1.2.3.4.5", "start", "refused: has 5 parts, not four"),
    Same("1..2.3", "start", "refused: has an empty part"),
    Same(" 1.2.3.4", "start", "refused: holds a blank"),
    Same("198.18.0.1\0junk"s, "start", "refused: \\x00junk"),
    Same("\x1b[2J\r\n1.2.3", "start", "refused: \\x1b[2J\\x0d\\x0a"),
    Same(kMany, "start", "refused"),
    {"198.18.0.1", "0.0.0.0", "end", "refused: the end address \"0.0.0.0\" is not accepted"},
    // How many: at most 512 for the window, in 64 bits either way.
    {"198.18.0.0", "198.18.1.255", "198.18.0.0..198.18.1.255", "198.18.0.0..198.18.1.255"},
    {"198.18.0.0", "198.18.2.0", "more than 512: 513", "198.18.0.0..198.18.2.0"},
    {"198.18.0.10", "198.18.0.9", "at least one: 0", "refused: the range contains 0 addresses"},
    {"0.0.0.1", "255.255.255.254", "more than 512: 4294967294", "0.0.0.1..255.255.255.254"},
    {"255.255.255.254", "0.0.0.1", "at least one: -4294967292", "refused: -4294967292 addresses"},
    {"127.255.255.250", "128.0.0.5", "127.255.255.250..128.0.0.5", "127.255.255.250..128.0.0.5"},
    {"255.255.255.250", "255.255.255.254", "255.255.255.250..255.255.255.254", "255.255.255.250..255.255.255.254"},
};

TEST(TypedAddresses, EveryParserGivesEachTextItsOutcome) {
  for (const TypedRow& row : kTypedRows) {
    SCOPED_TRACE("\"" + row.start.substr(0, 40) + "\" to \"" + row.end.substr(0, 40) + "\"");
    EXPECT_EQ(WindowOutcome(row.start, row.end), row.window);
    const std::string sweep = SweepOutcome(row.start, row.end);
    if (row.sweep.starts_with("refused")) {
      EXPECT_TRUE(sweep.starts_with("refused: bad range")) << sweep;
      EXPECT_NE(sweep.find(row.sweep.substr(std::min<std::size_t>(row.sweep.size(), 9))), std::string::npos) << sweep;
      EXPECT_TRUE(std::all_of(sweep.begin(), sweep.end(), [](char c) { return c >= 0x20 && c < 0x7f; }))
          << "a raw control byte in: " << sweep;
    } else {
      EXPECT_EQ(sweep, row.sweep);
    }
  }
}

}  // namespace
}  // namespace zn7qx::test
