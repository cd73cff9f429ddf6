#include <gtest/gtest.h>

#include <string>

#include "net/UnitReply.h"

namespace zn7qx {
namespace {

using namespace std::string_literals;

TEST(UnitTextFromReply, TakesTheTextAfterThePrefixUpToTheFirstNul) {
  EXPECT_EQ(UnitTextFromReply("Found.Unit-7\0\0\0"s), "Unit-7");
  EXPECT_EQ(UnitTextFromReply("Found.A\0B"s), "A");
  EXPECT_EQ(UnitTextFromReply("Found."), "");
}

TEST(UnitTextFromReply, IsCaseSensitiveAndNeedsTheWholePrefix) {
  EXPECT_FALSE(UnitTextFromReply("found.Unit"));
  EXPECT_FALSE(UnitTextFromReply("Found"));
  EXPECT_FALSE(UnitTextFromReply(""));
  EXPECT_FALSE(UnitTextFromReply(" Found.x"));
  EXPECT_FALSE(UnitTextFromReply("Finding Morvalent ZN7QX.abc"));
}

TEST(UnitTextFromReply, CutsAtTheLimit) {
  const std::string longText(400, 'x');
  EXPECT_EQ(UnitTextFromReply("Found." + longText)->size(), 244u);
  EXPECT_EQ(UnitTextFromReply("Found." + longText, 10)->size(), 10u);
}

TEST(UnitTextFromReply, PassesOtherBytesThrough) {
  EXPECT_EQ(UnitTextFromReply("Found.<b>\xff\x01"s), "<b>\xff\x01"s);
}

}  // namespace
}  // namespace zn7qx
