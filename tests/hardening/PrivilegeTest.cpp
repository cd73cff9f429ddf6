// The privilege model, checked on the real kernel: the probe program is run
// with file capabilities as an ordinary user, as root, and setuid, each in a
// fresh network namespace whose ping_group_range the test sets. Nothing is
// sent; only sockets are opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr const char* kNetRaw = "0000000000002000";         // CAP_NET_RAW
constexpr const char* kNetRawAdmin = "0000000000003000";    // + CAP_NET_ADMIN
constexpr const char* kNone = "0000000000000000";
constexpr const char* kNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

struct ProbeRun {
  int status = -1;
  std::string text;
  std::map<std::string, std::string> field;  // "after CapPrm" -> "0000..."
};

std::string Trim(std::string s) {
  const auto first = s.find_first_not_of(" \t");
  const auto last = s.find_last_not_of(" \t\r");
  return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

ProbeRun RunShell(const std::string& command) {
  ProbeRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[1024];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.text.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::size_t start = 0;
  while (start < run.text.size()) {
    std::size_t end = run.text.find('\n', start);
    if (end == std::string::npos) end = run.text.size();
    const std::string line = run.text.substr(start, end - start);
    start = end + 1;
    const bool status_line = line.rfind("before ", 0) == 0 || line.rfind("after ", 0) == 0 ||
                             line.rfind("child ", 0) == 0;
    const auto cut = status_line ? line.find(':') : line.find(' ');
    if (cut == std::string::npos) continue;
    run.field[line.substr(0, cut)] = Trim(line.substr(cut + 1));
  }
  return run;
}

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

class PrivilegeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: sets file capabilities and makes namespaces";
    for (const char* tool : {"setcap", "setpriv", "unshare", "grep"})
      if (!Have(tool)) GTEST_SKIP() << tool << " is not installed";
    char pattern[] = "/tmp/zn7qx-privilege-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);  // the unprivileged user runs copies from here
    // LeakSanitizer cannot stop the world of a process that is not dumpable
    // (file capabilities, setuid); leaks are checked by the rest of the suite.
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::string Copy(const std::string& name, const char* source = ZN7QX_PRIVILEGE_PROBE) {
    const fs::path target = fs::path(dir_) / name;
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    ::chmod(target.c_str(), 0755);
    return target.string();
  }

  // Runs command in a new network namespace whose ping sockets admit every
  // group (on) or none (off).
  static ProbeRun InNamespace(bool pingSockets, const std::string& command) {
    const std::string range = pingSockets ? "0 2147483647" : "1 0";
    return RunShell("unshare -n sh -c 'echo \"" + range +
                    "\" > /proc/sys/net/ipv4/ping_group_range && exec " + command + "' 2>&1");
  }

  static void ExpectChildHasNothing(const ProbeRun& run) {
    EXPECT_EQ(run.field.at("child_status"), "0") << run.text;
    for (const char* set : {"child CapInh", "child CapPrm", "child CapEff", "child CapAmb"})
      EXPECT_EQ(run.field.count(set) ? run.field.at(set) : "missing", kNone) << set << '\n' << run.text;
    EXPECT_EQ(run.field.count("child NoNewPrivs") ? run.field.at("child NoNewPrivs") : "", "1") << run.text;
  }

  std::string dir_;
};

TEST_F(PrivilegeTest, FileCapabilitiesKeepOnlyNetRawWhenPingSocketsAreRefused) {
  const std::string probe = Copy("probe");
  ASSERT_EQ(std::system(("setcap cap_net_raw,cap_net_admin+ep " + probe).c_str()), 0);
  const ProbeRun run = InNamespace(false, kNobody + probe);
  ASSERT_EQ(run.status, 0) << run.text;
  // The file really granted both, so the drop below is the call's doing.
  EXPECT_EQ(run.field.at("before CapPrm"), kNetRawAdmin) << run.text;
  EXPECT_EQ(run.field.at("kept_net_raw"), "1");
  EXPECT_EQ(run.field.at("after CapPrm"), kNetRaw) << run.text;
  EXPECT_EQ(run.field.at("after CapEff"), kNetRaw) << run.text;
  EXPECT_EQ(run.field.at("after CapInh"), kNone);
  EXPECT_EQ(run.field.at("after CapAmb"), kNone);
  EXPECT_EQ(run.field.at("after NoNewPrivs"), "1");
  EXPECT_EQ(run.field.at("raw_socket"), "1") << "the kept capability must still work";
  EXPECT_EQ(run.field.at("ping_socket"), "0");
  ExpectChildHasNothing(run);
}

TEST_F(PrivilegeTest, FileCapabilitiesAreAllDroppedWhenPingSocketsWork) {
  const std::string probe = Copy("probe");
  ASSERT_EQ(std::system(("setcap cap_net_raw,cap_net_admin+ep " + probe).c_str()), 0);
  const ProbeRun run = InNamespace(true, kNobody + probe);
  ASSERT_EQ(run.status, 0) << run.text;
  EXPECT_EQ(run.field.at("before CapPrm"), kNetRawAdmin) << run.text;
  EXPECT_EQ(run.field.at("kept_net_raw"), "0");
  EXPECT_EQ(run.field.at("after CapPrm"), kNone) << run.text;
  EXPECT_EQ(run.field.at("after CapEff"), kNone);
  EXPECT_EQ(run.field.at("raw_socket"), "0");
  EXPECT_EQ(run.field.at("ping_socket"), "1");
  ExpectChildHasNothing(run);
}

TEST_F(PrivilegeTest, RootKeepsOnlyNetRawAndItsChildrenGainNothing) {
  const std::string probe = Copy("probe");
  const ProbeRun run = InNamespace(false, probe);
  ASSERT_EQ(run.status, 0) << run.text;
  EXPECT_NE(run.field.at("before CapPrm"), kNetRaw) << run.text;
  EXPECT_EQ(run.field.at("after CapPrm"), kNetRaw) << run.text;
  EXPECT_EQ(run.field.at("after CapEff"), kNetRaw);
  EXPECT_EQ(run.field.at("after CapBnd"), kNone) << "a child of root would regain the bounding set";
  EXPECT_EQ(run.field.at("raw_socket"), "1");
  ExpectChildHasNothing(run);
  EXPECT_EQ(run.field.at("child CapBnd"), kNone);
}

TEST_F(PrivilegeTest, RootDropsEverythingWhenPingSocketsWork) {
  const std::string probe = Copy("probe");
  const ProbeRun run = InNamespace(true, probe);
  ASSERT_EQ(run.status, 0) << run.text;
  EXPECT_EQ(run.field.at("after CapPrm"), kNone) << run.text;
  EXPECT_EQ(run.field.at("ping_socket"), "1");
  ExpectChildHasNothing(run);
}

TEST_F(PrivilegeTest, SetUserIdAndSetGroupIdStartsAreRefused) {
  const std::string setuid = Copy("probe-setuid");
  ASSERT_EQ(::chmod(setuid.c_str(), 04755), 0);
  ProbeRun run = RunShell(kNobody + setuid + " 2>&1");
  EXPECT_EQ(run.status, 3) << run.text;
  EXPECT_NE(run.text.find("refusing to run set-user-ID (real user 65534, effective user 0)"),
            std::string::npos)
      << run.text;
  EXPECT_EQ(run.field.count("after CapPrm"), 0u) << "must stop before doing anything";

  const std::string setgid = Copy("probe-setgid");
  ASSERT_EQ(::chmod(setgid.c_str(), 02755), 0);
  run = RunShell(kNobody + setgid + " 2>&1");
  EXPECT_EQ(run.status, 3) << run.text;
  EXPECT_NE(run.text.find("refusing to run set-group-ID (real group 65534, effective group 0)"),
            std::string::npos)
      << run.text;
}

#ifdef ZN7QX_SCAN_PROGRAM
// The sweep does some set-up before it drops its capabilities; a set-ID start
// is still refused before anything else, even before --help is read.
TEST_F(PrivilegeTest, SweepRefusesSetUserIdBeforeReadingItsArguments) {
  const std::string setuid = Copy("scan-setuid", ZN7QX_SCAN_PROGRAM);
  ASSERT_EQ(::chmod(setuid.c_str(), 04755), 0);
  const ProbeRun run = RunShell(kNobody + setuid + " --help 2>&1");
  EXPECT_EQ(run.status, 3) << run.text;
  EXPECT_NE(run.text.find("zn7qx-scan: refusing to run set-user-ID"), std::string::npos) << run.text;
  EXPECT_EQ(run.text.find("Usage"), std::string::npos) << run.text;
}
#endif

}  // namespace
