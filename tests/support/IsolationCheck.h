#pragma once
// Whether this process is in a test network namespace that cannot reach a
// real network. Every test or benchmark that sends ICMP asks this first.
// Header-only, no test framework; Isolation.h adds the GoogleTest form.

#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace zn7qx::testsupport {

namespace detail {

inline std::string ReadFile(const char* path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool ParseCidr(const std::string& text, std::uint32_t& first, std::uint32_t& last) {
  unsigned a, b, c, d, bits;
  char tail;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u/%u%c", &a, &b, &c, &d, &bits, &tail) != 5) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255 || bits > 32) return false;
  const std::uint32_t ip = (a << 24) | (b << 16) | (c << 8) | d;
  const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
  first = ip & mask;
  last = first | ~mask;
  return true;
}

// /proc/net/route writes addresses as the in-memory (network order) word in hex.
inline std::uint32_t FromRouteHex(const std::string& hex) {
  const auto v = static_cast<std::uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
  return ((v & 0xFF) << 24) | ((v & 0xFF00) << 8) | ((v >> 8) & 0xFF00) | (v >> 24);
}

inline std::string Dotted(std::uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
         std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

}  // namespace detail

// The decision itself, on given facts, so that it can be tested anywhere.
// interfaces: names of this namespace's links; probeIf: the one veth the
// harness gave (may be empty); procNetRoute/procNetIpv6Route: the texts of
// /proc/net/route and /proc/net/ipv6_route; ranges: space-separated CIDRs
// the routes must stay inside (empty: not checked). Empty result = isolated.
inline std::string IsolationProblemFrom(const std::vector<std::string>& interfaces, const std::string& probeIf,
                                        const std::string& procNetRoute, const std::string& procNetIpv6Route,
                                        const std::string& ranges) {
  std::string problems;
  auto add = [&](const std::string& p) { problems += (problems.empty() ? "" : "; ") + p; };
  for (const std::string& name : interfaces) {
    if (name == "lo" || (!probeIf.empty() && name == probeIf)) continue;
    add("interface " + name + " is neither lo nor the test's veth" +
        (probeIf.empty() ? " (ZN7QX_PROBE_IF is not set: run under tests/netns/with-sim-network.sh)" : ""));
  }

  std::vector<std::pair<std::uint32_t, std::uint32_t>> allowed{{0x7F000000u, 0x7FFFFFFFu}};
  std::istringstream rangeWords(ranges);
  for (std::string cidr; rangeWords >> cidr;) {
    std::uint32_t f, l;
    if (!detail::ParseCidr(cidr, f, l)) {
      add("cannot read test range " + cidr);
      continue;
    }
    allowed.emplace_back(f, l);
  }

  std::istringstream lines(procNetRoute);
  std::string line;
  std::getline(lines, line);  // column names
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string iface, dest, gw, flags, refcnt, use, metric, mask;
    if (!(f >> iface >> dest >> gw >> flags >> refcnt >> use >> metric >> mask)) continue;
    const std::uint32_t d = detail::FromRouteHex(dest), m = detail::FromRouteHex(mask);
    if (m == 0) {
      add("default route via " + iface);
      continue;
    }
    if (ranges.empty()) continue;
    const std::uint32_t first = d & m, last = first | ~m;
    bool inside = false;
    for (const auto& [af, al] : allowed) inside = inside || (first >= af && last <= al);
    if (!inside) add("route to " + detail::Dotted(first) + " beyond the test's ranges (via " + iface + ")");
  }

  std::istringstream lines6(procNetIpv6Route);
  while (std::getline(lines6, line)) {
    std::istringstream f(line);
    std::string dest, plen, src, slen, hop, metric, refcnt, use, flags, iface;
    if (!(f >> dest >> plen >> src >> slen >> hop >> metric >> refcnt >> use >> flags >> iface)) continue;
    if (plen == "00" && iface != "lo") add("IPv6 default route via " + iface);
  }
  return problems;
}

inline std::vector<std::string> InterfaceNames() {
  std::vector<std::string> names;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {"(cannot list interfaces)"};
  std::set<std::string> seen;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (i->ifa_name && seen.insert(i->ifa_name).second) names.emplace_back(i->ifa_name);
  }
  freeifaddrs(list);
  return names;
}

// The kernel driver behind a link ("veth" for the harness's), empty when it
// cannot be told.
inline std::string LinkDriver(const std::string& name) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  ethtool_drvinfo info{};
  info.cmd = ETHTOOL_GDRVINFO;
  ifreq request{};
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  request.ifr_data = reinterpret_cast<char*>(&info);
  const bool ok = ioctl(fd, SIOCETHTOOL, &request) == 0;
  close(fd);
  return ok ? std::string(info.driver, strnlen(info.driver, sizeof info.driver)) : std::string();
}

inline bool InInitsNetworkNamespace() {
  struct stat mine {}, init {};
  return stat("/proc/self/ns/net", &mine) == 0 && stat("/proc/1/ns/net", &init) == 0 && mine.st_ino == init.st_ino &&
         mine.st_dev == init.st_dev;
}

// Empty when this process's network namespace is isolated; else why not.
inline std::string IsolationProblem() {
  const char* probeIf = std::getenv("ZN7QX_PROBE_IF");
  const char* ranges = std::getenv("ZN7QX_TEST_RANGES");
  std::string problems =
      IsolationProblemFrom(InterfaceNames(), probeIf ? probeIf : "", detail::ReadFile("/proc/self/net/route"),
                           detail::ReadFile("/proc/self/net/ipv6_route"), ranges ? ranges : "");
  auto add = [&](const std::string& p) { problems += (problems.empty() ? "" : "; ") + p; };
  // The name alone could be any link's: the harness's is a veth.
  if (probeIf != nullptr && *probeIf != '\0' && LinkDriver(probeIf) != "veth")
    add(std::string("interface ") + probeIf + " is not a veth");
  if (InInitsNetworkNamespace()) add("this is the network namespace of process 1");
  return problems;
}

// For programs without a test framework (benchmarks): stop before sending.
inline void ExitUnlessIsolated(const char* program) {
  const std::string problem = IsolationProblem();
  if (problem.empty()) return;
  std::fprintf(stderr, "%s: refusing to send: not in an isolated test network namespace: %s\n", program,
               problem.c_str());
  std::exit(1);
}

}  // namespace zn7qx::testsupport
