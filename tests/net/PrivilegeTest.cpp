// Least privilege on the real kernel: the probe program (PrivilegeProbe.cpp)
// run with file capabilities as an ordinary user, as root, and set-ID, each
// in a fresh network namespace whose ping sockets the row allows or not.
// Nothing is sent; sockets are only opened.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace zn7qx::test {
namespace {

const std::string kNetRaw = "0000000000002000", kNoCaps = "0000000000000000";

std::string Output(const std::string& command, int& status) {
  std::string text;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[1024];
  for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  const int raw = pipe ? ::pclose(pipe) : -1;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return text;
}

TEST(Privilege, EachStartKeepsAtMostNetRawAndItsChildrenNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root: sets file capabilities and makes namespaces";
  char pattern[] = "/tmp/zn7qx-privilege-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern, copy = dir / "program";
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);  // the ordinary user runs the copy from here
  const std::string fileCaps = "setcap cap_net_raw,cap_net_admin+ep ";
  // Lines the output must hold (the probe's "name:\tvalue" lines, tabs as blanks).
  const std::vector<std::string> child = {"child CapInh: " + kNoCaps, "child CapPrm: " + kNoCaps,
                                          "child CapEff: " + kNoCaps, "child CapAmb: " + kNoCaps,
                                          "child NoNewPrivs: 1",   "child_status 0"};
  // The two programs are looked at while they run: the sweep watches an
  // address that no route leads to (nothing leaves the fresh namespace, which
  // holds only its loopback), the window sits open.
  const std::string running = " & pid=$!; for i in $(seq 100); do grep -q ^NoNewPrivs:.1 /proc/$pid/status && break; "
                              "sleep 0.05; done; grep -e ^Cap -e ^NoNewPrivs /proc/$pid/status | sed s/^/after\\ /; "
                              "kill $pid";
  const std::vector<std::string> droppedAll = {"after CapPrm: " + kNoCaps, "after CapEff: " + kNoCaps,
                                               "after CapAmb: " + kNoCaps, "after NoNewPrivs: 1"};
  const std::vector<std::string> keptNetRaw = {"after CapPrm: " + kNetRaw, "after CapEff: " + kNetRaw,
                                               "after CapInh: " + kNoCaps, "after NoNewPrivs: 1"};
  const struct {
    const char* program;
    std::string setup;  // run on the copy
    bool asNobody, pingSockets;
    int status;
    std::vector<std::string> lines;
    std::string run = " --help";
  } rows[] = {
      {ZN7QX_PRIVILEGE_PROBE, fileCaps, true, false, 0,
       {"before CapPrm: 0000000000003000", "after CapPrm: " + kNetRaw, "after CapEff: " + kNetRaw,
        "after CapInh: " + kNoCaps, "after CapAmb: " + kNoCaps, "after NoNewPrivs: 1", "raw_socket 1"}},
      {ZN7QX_PRIVILEGE_PROBE, fileCaps, true, true, 0,
       {"before CapPrm: 0000000000003000", "after CapPrm: " + kNoCaps, "after CapEff: " + kNoCaps, "ping_socket 1"}},
      {ZN7QX_PRIVILEGE_PROBE, "true", false, false, 0,
       {"after CapPrm: " + kNetRaw, "after CapEff: " + kNetRaw, "after CapBnd: " + kNoCaps, "child CapBnd: " + kNoCaps,
        "raw_socket 1"}},
      {ZN7QX_PRIVILEGE_PROBE, "true", false, true, 0, {"after CapPrm: " + kNoCaps, "after CapBnd: " + kNoCaps}},
      {ZN7QX_PRIVILEGE_PROBE, "chmod 4755", true, false, 3,
       {"refused refusing to run set-user-ID (real user 65534, effective user 0)"}},
      {ZN7QX_PRIVILEGE_PROBE, "chmod 2755", true, false, 3,
       {"refused refusing to run set-group-ID (real group 65534, effective group 0)"}},
      // The sweep does some set-up before it drops, but refuses set-ID first,
      // before it even reads its arguments.
      {ZN7QX_SCAN_PROGRAM, "chmod 4755", true, false, 3, {"zn7qx-scan: refusing to run set-user-ID"}},
      {ZN7QX_SCAN_PROGRAM, fileCaps, true, true, 0, droppedAll, " 198.18.0.1 --watch 3600 -q" + running},
      {ZN7QX_SCAN_PROGRAM, fileCaps, true, false, 0, keptNetRaw, " 198.18.0.1 --watch 3600 -q" + running},
      {ZN7QX_FINDER_PROGRAM, fileCaps, true, true, 0, droppedAll, running},
      {ZN7QX_FINDER_PROGRAM, fileCaps, true, false, 0, keptNetRaw, running},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.program) + " " + row.setup);
    std::filesystem::copy_file(row.program, copy, std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(::chmod(copy.c_str(), 0755), 0);
    ASSERT_EQ(std::system((row.setup + " " + copy.string()).c_str()), 0);
    int status = 0;
    std::string text = Output("ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen unshare -n sh -c 'echo \"" +
                               std::string(row.pingSockets ? "0 2147483647" : "1 0") +
                               "\" > /proc/sys/net/ipv4/ping_group_range && [ $(ip -o link show | wc -l) = 1 ] || exit 9; " +
                               (row.asNobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                               copy.string() + row.run + "' 2>&1",
                           status);
    std::replace(text.begin(), text.end(), '\t', ' ');
    ASSERT_EQ(status, row.status) << text;
    for (const std::string& line : row.lines) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    const bool probe = std::string_view(row.program) == ZN7QX_PRIVILEGE_PROBE;
    for (const std::string& line : status == 0 && probe ? child : std::vector<std::string>{})
      EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << "\n" << text;
    if (status != 0) {
      EXPECT_EQ(text.find("after"), std::string::npos) << "stopped before doing anything";
      EXPECT_EQ(text.find("Usage"), std::string::npos) << "not even reading its arguments";
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zn7qx::test
