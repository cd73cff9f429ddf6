// The test-side isolation check, on given facts and in this namespace.

#include <gtest/gtest.h>
#include <net/if.h>

#include <cstdlib>
#include <string>

#include "tests/support/Isolation.h"

using zn7qx::testsupport::IsolationProblemFrom;

namespace {
const std::string Header = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n";
// 198.18.0.0/24 on the veth, 198.19.0.0/16 via 198.18.0.254
const std::string Subnet = "zn7qx-probe\t000012C6\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
const std::string Routed = "zn7qx-probe\t000013C6\tFE0012C6\t0003\t0\t0\t0\t0000FFFF\t0\t0\t0\n";
const std::string Default = "zn7qx-probe\t00000000\tFE0012C6\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
const std::string Beyond = "zn7qx-probe\t0000000A\tFE0012C6\t0003\t0\t0\t0\t000000FF\t0\t0\t0\n";
const std::string Ranges = "198.18.0.0/24 198.19.0.0/16";
}  // namespace

TEST(IsolationCheck, AcceptsTheHarnessTopology) {
  EXPECT_EQ(IsolationProblemFrom({"lo", "zn7qx-probe"}, "zn7qx-probe", Header + Subnet + Routed, "", Ranges), "");
  EXPECT_EQ(IsolationProblemFrom({"lo"}, "", Header, "", ""), "");
}

TEST(IsolationCheck, ReportsEveryWayOut) {
  auto p = IsolationProblemFrom({"lo", "zn7qx-probe", "eth1"}, "zn7qx-probe", Header + Subnet, "", Ranges);
  EXPECT_NE(p.find("interface eth1"), std::string::npos) << p;
  p = IsolationProblemFrom({"lo", "zn7qx-probe"}, "", Header + Subnet, "", "");
  EXPECT_NE(p.find("ZN7QX_PROBE_IF is not set"), std::string::npos) << p;
  p = IsolationProblemFrom({"lo", "zn7qx-probe"}, "zn7qx-probe", Header + Subnet + Default, "", Ranges);
  EXPECT_NE(p.find("default route"), std::string::npos) << p;
  p = IsolationProblemFrom({"lo", "zn7qx-probe"}, "zn7qx-probe", Header + Default, "", "");
  EXPECT_NE(p.find("default route"), std::string::npos) << "checked even without ranges: " << p;
  p = IsolationProblemFrom({"lo", "zn7qx-probe"}, "zn7qx-probe", Header + Subnet + Beyond, "", Ranges);
  EXPECT_NE(p.find("route to 10.0.0.0 beyond"), std::string::npos) << p;
  p = IsolationProblemFrom({"lo", "zn7qx-probe"}, "zn7qx-probe", Header + Subnet + Routed, "", "198.18.0.0/24");
  EXPECT_NE(p.find("route to 198.19.0.0"), std::string::npos) << p;
  p = IsolationProblemFrom({"lo"}, "", Header, "", "198.18.0.0/99");
  EXPECT_NE(p.find("cannot read test range"), std::string::npos) << p;
  const std::string v6 =
      "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fe800000000000000000000000000001 "
      "00000400 00000001 00000000 00000003 wlan0\n";
  p = IsolationProblemFrom({"lo"}, "", Header, v6, "");
  EXPECT_NE(p.find("IPv6 default route via wlan0"), std::string::npos) << p;
}

TEST(IsolationCheck, OutsideTheHarnessThisNamespaceIsNotIsolated) {
  if (zn7qx::testsupport::InTestNetns()) GTEST_SKIP() << "running inside the test network";
  // Counted through if_nameindex, not the getifaddrs the check uses.
  bool onlyLoopback = true;
  if (struct if_nameindex* names = if_nameindex()) {
    for (struct if_nameindex* i = names; i->if_index != 0; ++i) onlyLoopback = onlyLoopback && std::string(i->if_name) == "lo";
    if_freenameindex(names);
  }
  if (onlyLoopback) GTEST_SKIP() << "this namespace has no interface besides lo";
  EXPECT_NE(zn7qx::testsupport::IsolationProblem(), "");
  EXPECT_FALSE(zn7qx::testsupport::AssertIsolated());
}
