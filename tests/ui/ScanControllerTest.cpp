// The window's handlers without a display: the scan tick, cancel, the default
// range, opening and closing. Typed ranges are in tests/shared/.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/Addresses.h"
#include "tests/support/FakeView.h"
#include "tests/support/ScriptedNetwork.h"
#include "ui/ScanController.h"

namespace zn7qx::test {
namespace {

using Items = std::vector<std::string>;

class Controller : public ::testing::Test {
 protected:
  FakeView view;
  ScriptedNetwork net;
  ScanController controller{view, net.Seams()};
};

// One probe per tick: what the status line and the error line show after it.
TEST_F(Controller, EachTickProbesOneAddressClearsTheLastErrorAndFilesTheAnswer) {
  const struct {
    std::string address;
    std::int32_t status;
    std::string data, lastError;
  } rows[] = {
      {"198.18.0.1", IP_DEST_HOST_UNREACHABLE, "", "Last ping error: Destination Host Unreachable"},
      {"198.18.0.2", IP_REQ_TIMED_OUT, "", ""},  // a time-out is silence, not an error
      {"198.18.0.3", IP_SUCCESS, "Found.A", ""},
      {"198.18.0.5", IP_SUCCESS, std::string(ProbePayload), ""},
      {"198.18.0.6", IP_TTL_EXPIRED_TRANSIT, "Found.not-a-unit", "Last ping error: TimeToLive Expired Transit"},
  };
  for (const auto& row : rows) {
    view.queue.items.push_back(row.address);
    net.Script(row.address, row.status, row.data);
  }
  view.lastError = "Last ping error: from before";
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    controller.PingTick(0);
    EXPECT_EQ(net.pinged.back(), rows[i].address);
    EXPECT_EQ(view.lastError, rows[i].lastError) << rows[i].address;
    if (i + 1 < std::size(rows)) {
      EXPECT_EQ(view.status, "Pinging " + rows[i].address + ". Addresses remaining: " + std::to_string(4 - i));
    }
  }
  EXPECT_EQ(view.units.items, Items{"198.18.0.3: A"});
  EXPECT_EQ(view.others.items, Items{"198.18.0.5"}) << "an error reply is not a host";
  EXPECT_EQ(view.status, "Completed scanning. 1 ZN7QX unit(s) found.");
  EXPECT_EQ(net.initializeCalls, 5);
  EXPECT_EQ(net.cleanupCalls, 5) << "every probe's start-up released";

  // An idle tick re-enables the element that fired.
  view.timersEnabled.clear();
  controller.PingTick(3);
  EXPECT_EQ(view.timersEnabled, std::vector<int>{3});
}

TEST_F(Controller, SummariesCountTheUnitsListedNeverAPlaceholder) {
  enum class After { Nothing, Cancel, Close };  // what the user does after the first probe
  struct Row {
    Items units;  // scripted units among three addresses
    After after;
    bool socketsWork;
    std::size_t probes;
    std::string status;
    Items listed;
  } rows[] = {
      {{"198.18.0.1", "198.18.0.3"}, After::Nothing, true, 3, "Completed scanning. 2 ZN7QX unit(s) found.",
       {"198.18.0.1: U", "198.18.0.3: U"}},
      {{}, After::Nothing, true, 3, "Completed scanning. No ZN7QX units found.", {"No units found."}},
      {{"198.18.0.1"}, After::Cancel, true, 1, "Scan canceled. Found 1 ZN7QX unit(s).", {"198.18.0.1: U"}},
      {{}, After::Cancel, true, 1, "Scan canceled. Found 0 ZN7QX unit(s).", {"Scan canceled. No units found."}},
      // Closed in mid-scan: no probe after, and the sockets released.
      {{"198.18.0.1"}, After::Close, true, 1, "Pinging 198.18.0.1. Addresses remaining: 2", {"198.18.0.1: U"}},
      // Nothing was probed: no summary, which would read as an empty network.
      {{}, After::Nothing, false, 0, "Windows Sockets not responding correctly.", {}},
  };
  for (const Row& row : rows) {
    FakeView v;
    ScriptedNetwork n;
    n.socketsWork = row.socketsWork;
    for (const std::string& unit : row.units) n.Unit(unit, "U");
    ScanController c(v, n.Seams());
    if (row.after == After::Close) c.OnOpen();
    v.start = "198.18.0.1";
    v.end = "198.18.0.3";
    v.lastError = "Last ping error: from before";
    c.BeginScan();
    c.PingTick(0);
    if (row.after == After::Cancel) c.CancelScan();
    if (row.after == After::Close) c.OnClose();
    for (int i = 0; i < 4; ++i) c.PingTick(0);
    EXPECT_EQ(v.status, row.status);
    EXPECT_EQ(v.units.items, row.listed);
    EXPECT_EQ(v.lastError, "");
    EXPECT_TRUE(v.queue.items.empty());
    EXPECT_EQ(n.pinged.size(), row.probes) << "none after a cancel, a close or a failed start-up";
    EXPECT_EQ(n.cleanupCalls, n.initializeCalls - (row.socketsWork ? 0 : 1)) << "each start-up released once";
    if (row.listed.empty() || row.after == After::Close) continue;
    // A cancel after the summary, and a second one, count the units alone;
    // the placeholder stays as the only item.
    for (int i = 0; i < 2; ++i) c.CancelScan();
    EXPECT_EQ(v.status, "Scan canceled. Found " + std::to_string(row.units.size()) + " ZN7QX unit(s).");
    EXPECT_EQ(v.units.items, row.listed);
  }
}

TEST_F(Controller, DefaultRangeIsTheFirstAdaptersSubnetEndsIncluded) {
  const struct {
    const char *address, *mask, *start, *end;
  } rows[] = {
      {"192.168.1.37", "255.255.255.0", "192.168.1.0", "192.168.1.255"},
      {"10.0.2.15", "255.255.254.0", "10.0.2.0", "10.0.3.255"},
      {"198.19.200.1", "255.254.0.0", "198.18.0.0", "198.19.255.255"},
      {"172.16.5.4", "255.255.255.255", "172.16.5.4", "172.16.5.4"},
      {"172.16.5.4", "255.255.255.254", "172.16.5.4", "172.16.5.5"},
      {"0.0.0.0", "0.0.0.0", "0.0.0.0", "255.255.255.255"},  // no adapter
  };
  for (const auto& row : rows) {
    net.localAddress = Num(row.address);
    net.localMask = Num(row.mask);
    view.start = "edited";
    controller.SetDefaultRange();
    EXPECT_EQ(view.start, row.start) << row.address;
    EXPECT_EQ(view.end, row.end) << row.address;
  }
}

// The notice names the program's file in a command for a root shell: whatever
// the path holds, the shell must see one inert word.
TEST(PermissionAdvice, NamesTheProgramAsOneInertShellWord) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "zn7qx-advice-test";
  std::filesystem::create_directories(dir);
  const std::string marker = (dir / "ran").string();
  const std::string lead = "setcap cap_net_raw+ep ";
  for (const std::string& path :
       {std::string("/usr/bin/zn7qx-finder"), std::string("/opt/My Tools/o'neil"), "/tmp/$(touch " + marker + ")",
        "/tmp/`touch " + marker + "`;touch " + marker, std::string("/tmp/a\"b\\c*?[x]&|<>#!~")}) {
    const std::string advice = AdviceNamingProgram(EchoPermissionAdvice(), path);
    const auto at = advice.find(lead) + lead.size();
    const std::string word = advice.substr(at, advice.find('\n', at) - at);
    std::string seen;
    if (std::FILE* shell = ::popen(("printf '%s' " + word).c_str(), "r")) {
      char buffer[256];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, shell)) > 0;) seen.append(buffer, n);
      ::pclose(shell);
    }
    EXPECT_EQ(seen, path);
  }
  EXPECT_FALSE(std::filesystem::exists(marker)) << "the shell ran part of a path";
  std::filesystem::remove_all(dir);
  // Without a file to name, the placeholder stays.
  const std::string generic(EchoPermissionAdvice());
  EXPECT_NE(generic.find("<program>"), std::string::npos);
  EXPECT_EQ(AdviceNamingProgram(generic, ""), generic);
  EXPECT_EQ(AdviceNamingProgram(generic, "/usr/bin/zn7qx-finder (deleted)"), generic);
}

}  // namespace
}  // namespace zn7qx::test
