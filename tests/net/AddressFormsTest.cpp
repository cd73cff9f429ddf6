#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "net/mdlConvertIPForms.h"

namespace zn7qx {
namespace {

struct FormsRow {
  const char* dotted;
  NetworkAddress network;
  NumericAddress numeric;
};

const FormsRow kRows[] = {
    {"0.0.0.0", 0x00000000, 0},
    {"1.2.3.4", 0x04030201, 16909060},
    {"10.0.0.1", 0x0100000A, 167772161},
    {"192.168.1.1", 0x0101A8C0, 3232235777},
    {"192.168.1.254", static_cast<NetworkAddress>(0xFE01A8C0u), 3232236030},
    {"255.255.255.0", 0x00FFFFFF, 4294967040},
    {"127.255.255.255", -129, 2147483647},
    {"128.0.0.0", 128, 2147483648},
    {"128.0.0.1", 16777344, 2147483649},
    {"0.0.0.128", INT32_MIN, 128},
    {"255.255.255.255", -1, 4294967295},
};

class FormsTable : public ::testing::TestWithParam<FormsRow> {};

TEST_P(FormsTable, HoldsInAllFourDirections) {
  const FormsRow& row = GetParam();
  EXPECT_EQ(DottedToNetwork(row.dotted), row.network);
  EXPECT_EQ(NetworkToDotted(row.network), row.dotted);
  EXPECT_EQ(NetworkToNumeric(row.network), row.numeric);
  EXPECT_EQ(NumericToNetwork(row.numeric), row.network);
}

INSTANTIATE_TEST_SUITE_P(Rows, FormsTable, ::testing::ValuesIn(kRows));

TEST(NumericToNetwork, EitherSideOfTheSignBoundary) {
  EXPECT_EQ(NumericToNetwork(2147483647), -129);
  EXPECT_EQ(NumericToNetwork(2147483648), 128);
}

TEST(NumericConversions, AreExactInversesOverAllValues) {
  // Every one of the 2^32 values, split over two threads.
  auto sweep = [](std::uint64_t from, std::uint64_t to, std::uint64_t* bad) {
    for (std::uint64_t v = from; v < to; ++v) {
      const auto network = static_cast<NetworkAddress>(static_cast<std::uint32_t>(v));
      const NumericAddress numeric = NetworkToNumeric(network);
      if (numeric < 0 || numeric > 4294967295LL || NumericToNetwork(numeric) != network ||
          NetworkToNumeric(NumericToNetwork(static_cast<NumericAddress>(v))) !=
              static_cast<NumericAddress>(v)) {
        ++*bad;
      }
    }
  };
  constexpr std::uint64_t kAll = 1ULL << 32;
  std::uint64_t bad[2] = {0, 0};
  std::thread upper(sweep, kAll / 2, kAll, &bad[1]);
  sweep(0, kAll / 2, &bad[0]);
  upper.join();
  EXPECT_EQ(bad[0] + bad[1], 0u);
}

TEST(NumericConversions, KeepAddressOrder) {
  // Consecutive addresses differ by one, also across octet and sign boundaries.
  const char* pairs[][2] = {{"127.255.255.255", "128.0.0.0"},
                            {"10.0.0.255", "10.0.1.0"},
                            {"0.0.0.127", "0.0.0.128"},
                            {"255.255.255.254", "255.255.255.255"}};
  for (auto& p : pairs) {
    EXPECT_EQ(NetworkToNumeric(DottedToNetwork(p[1])) - NetworkToNumeric(DottedToNetwork(p[0])), 1)
        << p[0] << " -> " << p[1];
  }
}

TEST(DottedToNetwork, RejectsWhatThePlatformParserRejects) {
  for (const char* text : {"", "abc", "junk 1.2.3.4", "1.2.3.4.5", "256.1.1.1", "1..2.3", " ",
                           "1.2.3.4x", "\xC3\xA9.1.1.1"}) {
    EXPECT_EQ(DottedToNetwork(text), kParseFailure) << '"' << text << '"';
  }
}

TEST(DottedToNetwork, AcceptsThePlatformParsersShortAndHexForms) {
  EXPECT_EQ(NetworkToDotted(DottedToNetwork("10.1")), "10.0.0.1");
  EXPECT_EQ(NetworkToDotted(DottedToNetwork("192.168.257")), "192.168.1.1");
  EXPECT_EQ(NetworkToDotted(DottedToNetwork("0x7f.1")), "127.0.0.1");
  EXPECT_EQ(NetworkToDotted(DottedToNetwork("010.0.0.1")), "8.0.0.1");
  EXPECT_EQ(NetworkToDotted(DottedToNetwork("3232235777")), "192.168.1.1");
  // glibc stops at white space and ignores what follows it.
  EXPECT_EQ(NetworkToDotted(DottedToNetwork("1.2.3.4 junk")), "1.2.3.4");
}

TEST(DottedToNetwork, RefusesAnEmbeddedNulInsteadOfParsingItsPrefix) {
  EXPECT_EQ(DottedToNetwork(std::string("1.2.3.4\0junk", 12)), kParseFailure);
}

TEST(DottedToNetwork, HandlesVeryLongText) {
  EXPECT_EQ(DottedToNetwork(std::string(1 << 20, '1')), kParseFailure);
  EXPECT_EQ(DottedToNetwork(std::string(1 << 20, '.')), kParseFailure);
}

TEST(StringFromPointer, CopiesUpToTheNul) {
  EXPECT_EQ(StringFromPointer(""), "");
  EXPECT_EQ(StringFromPointer("abc\0def"), "abc");
  EXPECT_EQ(StringFromPointer(nullptr), "");
}

}  // namespace
}  // namespace zn7qx
