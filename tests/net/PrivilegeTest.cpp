// Least privilege of both programs, started with file capabilities as an
// ordinary user, as root, and set-ID, in a fresh namespace with only loopback,
// its ping sockets allowed or not, read in /proc while they run. A child could
// gain nothing: empty inheritable, ambient (and, for root, bounding) sets, no_new_privs.

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

TEST(Privilege, EachStartKeepsAtMostNetRawAndNothingForAChild) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root: sets file capabilities and makes namespaces";
  char pattern[] = "/tmp/zn7qx-privilege-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern, copy = dir / "program";
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);  // the ordinary user runs the copy from here
  const std::string fileCaps = "setcap cap_net_raw,cap_net_admin+ep ";
  // The sets once the drop is done (no_new_privs is its last step).
  const std::string running = " & pid=$!; for i in $(seq 100); do grep -q ^NoNewPrivs:.1 /proc/$pid/status && break; "
                              "sleep 0.05; done; grep -e ^Cap -e ^NoNewPrivs /proc/$pid/status | sed s/^/after\\ /; "
                              "kill $pid";
  const std::string scan = std::string(ZN7QX_SCAN_PROGRAM), finder = std::string(ZN7QX_FINDER_PROGRAM);
  const std::string watch = " 198.18.0.1 --watch 3600 -q" + running;
  const std::vector<std::string> bare = {"after CapInh: " + kNoCaps, "after CapAmb: " + kNoCaps, "after NoNewPrivs: 1"};
  const struct {
    std::string program, setup;  // setup: run on the copy
    bool asNobody, pingSockets;
    std::string run;
    int status;
    std::vector<std::string> lines;
  } rows[] = {
      {scan, fileCaps, true, true, watch, 0, {"after CapPrm: " + kNoCaps, "after CapEff: " + kNoCaps}},
      {scan, fileCaps, true, false, watch, 0, {"after CapPrm: " + kNetRaw, "after CapEff: " + kNetRaw}},
      {finder, fileCaps, true, true, running, 0, {"after CapPrm: " + kNoCaps, "after CapEff: " + kNoCaps}},
      {finder, fileCaps, true, false, running, 0, {"after CapPrm: " + kNetRaw, "after CapEff: " + kNetRaw}},
      {scan, "true", false, true, watch, 0, {"after CapPrm: " + kNoCaps, "after CapBnd: " + kNoCaps}},
      // Refused before anything, not even reading the arguments.
      {scan, "chmod 4755", true, false, " --help", 3,
       {"zn7qx-scan: refusing to run set-user-ID (real user 65534, effective user 0)"}},
      {scan, "chmod 2755", true, false, " --help", 3,
       {"zn7qx-scan: refusing to run set-group-ID (real group 65534, effective group 0)"}},
      {finder, "chmod 4755", true, false, " --version", 1, {"zn7qx-finder: refusing to run set-user-ID"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.program + " " + row.setup + (row.pingSockets ? ", ping sockets" : ""));
    std::filesystem::copy_file(row.program, copy, std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(std::system(("chmod 755 " + copy.string() + " && " + row.setup + " " + copy.string()).c_str()), 0);
    int status = 0;
    std::string text = Output("ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen unshare -n sh -c 'echo \"" +
                                  std::string(row.pingSockets ? "0 2147483647" : "1 0") +
                                  "\" > /proc/sys/net/ipv4/ping_group_range && [ $(ip -o link show | wc -l) = 1 ] || exit 9; " +
                                  (row.asNobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                                  copy.string() + row.run + "' 2>&1",
                              status);
    std::replace(text.begin(), text.end(), '\t', ' ');
    EXPECT_EQ(status, row.status) << text;
    for (const std::string& line : row.lines) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    for (const std::string& line : row.status == 0 ? bare : std::vector<std::string>{"Usage", "zn7qx-finder 1"})
      EXPECT_EQ(text.find(line) == std::string::npos, row.status != 0) << line << "\n" << text;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zn7qx::test
