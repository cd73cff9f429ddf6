#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/zn7qx-scan/ScanRange.h"

namespace zn7qx::scan {
namespace {

using namespace std::string_literals;

NumericAddress Num(const char* dotted) { return NetworkToNumeric(DottedToNetwork(dotted)); }

AddressRange R(const char* first, const char* last) { return {Num(first), Num(last)}; }

std::optional<AddressRange> Parse(std::string_view item) {
  std::string error;
  auto range = ParseRangeItem(item, error);
  EXPECT_EQ(range.has_value(), error.empty()) << item;
  return range;
}

std::string ErrorOf(std::string_view item) {
  std::string error;
  EXPECT_FALSE(ParseRangeItem(item, error)) << item;
  return error;
}

TEST(ScanRange, ReadsSingleAddressesDashRangesAndCidrBlocks) {
  EXPECT_EQ(Parse("198.18.0.7"), R("198.18.0.7", "198.18.0.7"));
  EXPECT_EQ(Parse("198.18.0.1-198.18.1.254"), R("198.18.0.1", "198.18.1.254"));
  EXPECT_EQ(Parse("198.18.0.9-198.18.0.9"), R("198.18.0.9", "198.18.0.9"));
  EXPECT_EQ(Parse("198.18.0.77/23"), R("198.18.0.0", "198.18.1.255"));
  EXPECT_EQ(Parse("198.19.4.5/16"), R("198.19.0.0", "198.19.255.255"));
  EXPECT_EQ(Parse("198.18.3.4/32"), R("198.18.3.4", "198.18.3.4"));
  EXPECT_EQ(Parse("198.18.3.4/31"), R("198.18.3.4", "198.18.3.5"));
  EXPECT_EQ(Parse("10.1.2.3/0"), R("0.0.0.0", "255.255.255.255"));
  // Across the sign boundary of the 32-bit network form.
  EXPECT_EQ(Parse("127.255.255.250-128.0.0.5"), R("127.255.255.250", "128.0.0.5"));
}

TEST(ScanRange, AcceptsTheParsersOtherFormsAsTheWindowDoes) {
  EXPECT_EQ(Parse("10.1"), R("10.0.0.1", "10.0.0.1"));
  EXPECT_EQ(Parse("0x0a.0.0.1-012.0.0.3"), R("10.0.0.1", "10.0.0.3"));
  EXPECT_EQ(Parse("167772161"), R("10.0.0.1", "10.0.0.1"));
}

TEST(ScanRange, RefusesBadAddressesWithAClearMessage) {
  for (const char* bad : {"abc", "1.2.3.256", "1.2.3.4x", "", " 1.2.3.4", "1..2.3", "1.2.3.4.5",
                          "0.0.0.0", "255.255.255.255", "0", "-1.2.3.4", "1.2.3.4-", "1.2.3.4--1.2.3.5",
                          "1.2.3.4-255.255.255.255", "0.0.0.0-1.2.3.4", "1.2.3.4-5.6.7.8-9.9.9.9"}) {
    const std::string error = ErrorOf(bad);
    EXPECT_NE(error.find("bad range"), std::string::npos) << bad << ": " << error;
  }
  EXPECT_NE(ErrorOf("1.2.3.x-1.2.3.9").find("the start address \"1.2.3.x\""), std::string::npos);
  EXPECT_NE(ErrorOf("1.2.3.1-1.2.3.x").find("the end address \"1.2.3.x\""), std::string::npos);
  // A NUL would make the C parser stop early and accept a prefix.
  EXPECT_FALSE(Parse("1.2.3.4\0junk"s));
}

TEST(ScanRange, RefusesBadPrefixLengths) {
  for (const char* bad : {"1.2.3.4/33", "1.2.3.4/", "1.2.3.4/-1", "1.2.3.4/+8", "1.2.3.4/8x", "1.2.3.4/ 8",
                          "1.2.3.4/008", "1.2.3.4/99999999999999999999", "/24", "0.0.0.0/8", "1.2.3.4/24/8"}) {
    EXPECT_FALSE(Parse(bad)) << bad;
  }
  EXPECT_NE(ErrorOf("1.2.3.4/33").find("prefix length \"33\""), std::string::npos);
}

TEST(ScanRange, RefusesAnEndBeforeTheStartWithItsCount) {
  const std::string error = ErrorOf("198.18.0.10-198.18.0.2");
  EXPECT_NE(error.find("end address lies before the start"), std::string::npos) << error;
  EXPECT_NE(error.find("-7 addresses"), std::string::npos) << error;
}

TEST(ScanRange, KeepsControlBytesOutOfMessages) {
  const std::string error = ErrorOf("\x1b[2J\r\n1.2.3");
  for (const char c : error) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << static_cast<int>(c);
  EXPECT_NE(error.find("\\x1b[2J\\x0d\\x0a"), std::string::npos) << error;
}

TEST(ScanRange, TakesSeveralArgumentsAndCommaLists) {
  const RangeParse p = ParseRanges({"198.18.0.1,198.18.0.5-198.18.0.6", "198.18.1.0/30"});
  ASSERT_TRUE(p.error.empty()) << p.error;
  ASSERT_EQ(p.ranges.size(), 3u);
  EXPECT_EQ(p.ranges[2], R("198.18.1.0", "198.18.1.3"));

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"198.18.0.1,"}, {",198.18.0.1"}, {"198.18.0.1,,198.18.0.2"}, {"198.18.0.1", "nope"}, {""}}) {
    const RangeParse q = ParseRanges(bad);
    EXPECT_FALSE(q.error.empty());
    EXPECT_TRUE(q.ranges.empty());
  }
}

TEST(ScanRange, MergesOverlapsAndNeighboursAndNeverProbesTheTwoExtremes) {
  const auto merged = MergeRanges({R("198.18.0.10", "198.18.0.20"), R("198.18.0.1", "198.18.0.5"),
                                   R("198.18.0.6", "198.18.0.8"), R("198.18.0.15", "198.18.0.30"),
                                   R("198.18.0.3", "198.18.0.3")});
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0], R("198.18.0.1", "198.18.0.8"));
  EXPECT_EQ(merged[1], R("198.18.0.10", "198.18.0.30"));
  EXPECT_EQ(CountAddresses(merged), 8 + 21);

  const auto whole = MergeRanges({R("0.0.0.0", "255.255.255.255")});
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0], R("0.0.0.1", "255.255.255.254"));
  EXPECT_EQ(CountAddresses(whole), 4294967294);
  EXPECT_TRUE(MergeRanges({}).empty());
}

TEST(ScanRange, SubnetRangeIsTheWindowsDefaultRange) {
  EXPECT_EQ(SubnetRange(Num("255.255.255.0"), Num("192.168.1.37")), R("192.168.1.0", "192.168.1.255"));
  EXPECT_EQ(SubnetRange(Num("255.255.254.0"), Num("10.0.2.15")), R("10.0.2.0", "10.0.3.255"));
  EXPECT_EQ(SubnetRange(Num("255.255.255.255"), Num("172.16.5.4")), R("172.16.5.4", "172.16.5.4"));
  EXPECT_EQ(SubnetRange(0, 0), R("0.0.0.0", "255.255.255.255"));
}

}  // namespace
}  // namespace zn7qx::scan
