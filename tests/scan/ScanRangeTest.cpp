// The sweep's own range syntax (CIDR blocks, comma lists, several arguments)
// and how ranges merge; addresses and A-B spans are in tests/shared/.

#include <gtest/gtest.h>

#include "scan/ScanRange.h"
#include "tests/support/Addresses.h"

namespace zn7qx::test {
namespace {

std::string Ranges(const std::vector<std::string>& arguments) {
  const scan::RangeParse p = scan::ParseRanges(arguments);
  if (!p.error.empty()) {
    EXPECT_TRUE(p.ranges.empty());
    return "refused: " + p.error;
  }
  std::string text;
  for (const auto& r : p.ranges) text += (text.empty() ? "" : " ") + Dotted(r.first) + ".." + Dotted(r.last);
  return text;
}

TEST(ScanRange, ReadsBlocksListsAndArguments) {
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"198.18.0.77/23"}, "198.18.0.0..198.18.1.255"},
      {{"198.18.3.4/32"}, "198.18.3.4..198.18.3.4"},
      {{"198.18.3.4/31"}, "198.18.3.4..198.18.3.5"},
      {{"10.1.2.3/0"}, "0.0.0.0..255.255.255.255"},
      {{"198.18.0.1,198.18.0.5-198.18.0.6", "198.18.1.0/30"},
       "198.18.0.1..198.18.0.1 198.18.0.5..198.18.0.6 198.18.1.0..198.18.1.3"},
      {{"1.2.3.4/33"}, "refused: bad range \"1.2.3.4/33\": the prefix length \"33\" is not a number from 0 to 32"},
      {{"1.2.3.4/"}, "refused: bad range"},
      {{"1.2.3.4/-1"}, "refused: bad range"},
      {{"1.2.3.4/008"}, "refused: bad range"},
      {{"/24"}, "refused: bad range"},
      {{"198.18.0.1,"}, "refused: bad range \"\": empty item (a stray comma?)"},
      {{"198.18.0.1,,198.18.0.2"}, "refused: bad range \"\""},
      {{"198.18.0.1", "nope"}, "refused: bad range \"nope\""},
  };
  for (const auto& [arguments, expected] : rows) {
    const std::string got = Ranges(arguments);
    if (expected.starts_with("refused")) {
      EXPECT_TRUE(got.starts_with(expected)) << arguments[0] << ": " << got;
    } else {
      EXPECT_EQ(got, expected) << arguments[0];
    }
  }
}

TEST(ScanRange, MergesOverlapsAndNeighboursAndNeverProbesTheTwoExtremes) {
  const auto merged = scan::MergeRanges({{Num("198.18.0.10"), Num("198.18.0.20")}, {Num("198.18.0.1"), Num("198.18.0.5")},
                                         {Num("198.18.0.6"), Num("198.18.0.8")}, {Num("198.18.0.15"), Num("198.18.0.30")}});
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0], (scan::AddressRange{Num("198.18.0.1"), Num("198.18.0.8")}));
  EXPECT_EQ(merged[1], (scan::AddressRange{Num("198.18.0.10"), Num("198.18.0.30")}));
  EXPECT_EQ(scan::CountAddresses(merged), 8 + 21);
  const auto whole = scan::MergeRanges({{0, 4294967295}});
  EXPECT_EQ(whole, (std::vector<scan::AddressRange>{{1, 4294967294}}));
}

}  // namespace
}  // namespace zn7qx::test
