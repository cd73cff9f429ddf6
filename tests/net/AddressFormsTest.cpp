// The three forms of an address, each row held in all four directions. Typed
// texts, as the window and the sweep read them, are in tests/shared/.

#include <gtest/gtest.h>

#include <cstdint>

#include "net/linux/Adapters.h"
#include "net/mdlConvertIPForms.h"

namespace zn7qx {
namespace {

struct FormsRow {
  const char* dotted;
  NetworkAddress network;
  NumericAddress numeric;
};

const FormsRow kFormsRows[] = {
    {"0.0.0.0", 0x00000000, 0},
    {"1.2.3.4", 0x04030201, 16909060},
    {"192.168.1.1", 0x0101A8C0, 3232235777},
    {"192.168.1.254", static_cast<NetworkAddress>(0xFE01A8C0u), 3232236030},
    {"255.255.255.0", 0x00FFFFFF, 4294967040},
    {"127.255.255.255", -129, 2147483647},
    {"128.0.0.0", 128, 2147483648},
    {"0.0.0.128", INT32_MIN, 128},
    {"255.255.255.255", -1, 4294967295},
};

TEST(AddressForms, EveryRowHoldsInAllFourDirections) {
  for (const FormsRow& row : kFormsRows) {
    EXPECT_EQ(DottedToNetwork(row.dotted), row.network) << row.dotted;
    EXPECT_EQ(NetworkToDotted(row.network), row.dotted);
    EXPECT_EQ(NetworkToNumeric(row.network), row.numeric) << row.dotted;
    EXPECT_EQ(NumericToNetwork(row.numeric), row.network) << row.dotted;
  }
}

TEST(AddressForms, TextsEndAtTheirNul) {
  EXPECT_EQ(StringFromPointer("abc\0def"), "abc");
  EXPECT_EQ(StringFromPointer(nullptr), "");
  // An adapter's 16-byte field always ends, however long the text given.
  const linuxnet::AddressText field("255.255.255.255.255");
  EXPECT_EQ(field.Text(), "255.255.255.255");
  EXPECT_EQ(field.String.back(), '\0');
}

}  // namespace
}  // namespace zn7qx
