// Hardware addresses read from with-layout.sh's real neighbour table: an entry
// in each state, on the route's link or another, behind a gateway, our own.

#include <gtest/gtest.h>

#include <cstdlib>

#include "net/linux/Neighbours.h"
#include "tests/support/Addresses.h"

namespace zn7qx::test {
namespace {

TEST(Neighbours, OnlyATrustedEntryOnTheRoutesLinkGivesAHardwareAddress) {
  const char* layout = std::getenv("ZN7QX_DISCOVERY_LAYOUT");
  ASSERT_STREQ(layout, "Neighbours") << "run through with-layout.sh Neighbours -- ...";
  const struct {
    const char* address;
    const char* mac;
  } rows[] = {
      {"198.18.7.2", "02:00:5e:10:07:02"},   // reachable
      {"198.18.7.3", "02:00:5e:10:07:03"},   // stale: sent to as it stands
      {"198.18.7.4", "02:00:5e:10:07:04"},   // delay
      {"198.18.7.5", "02:00:5e:10:07:05"},   // probe
      {"198.18.7.6", "02:00:5e:10:07:06"},   // permanent
      {"198.18.7.7", ""},                    // failed
      {"198.18.7.8", ""},                    // incomplete
      {"198.18.7.9", ""},                    // noarp
      {"198.18.7.10", ""},                   // only on another link than its route's
      {"198.18.7.11", ""},                   // all zeros
      {"198.18.7.12", "02:00:5e:10:07:12"},  // stale on its route's link, reachable on another
      {"198.19.7.5", ""},                    // behind a gateway
      {"198.18.7.1", ""},                    // our own
      {"198.18.7.13", ""},                   // no entry at all
  };
  std::vector<std::uint32_t> addresses;
  for (const auto& row : rows) addresses.push_back(Net(row.address));
  linuxnet::NeighbourTable table;
  const auto found = table.LookUp(addresses);
  ASSERT_TRUE(found) << table.error();
  for (std::size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ((*found)[i], rows[i].mac) << rows[i].address;
}

}  // namespace
}  // namespace zn7qx::test
