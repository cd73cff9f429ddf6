#include "NamespaceCheck.h"

#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "SimConfig.h"

namespace zn7qx::sim {

namespace {

std::string ReadAll(const char* path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Driver(int fd, const std::string& name) {
  ethtool_drvinfo info{};
  info.cmd = ETHTOOL_GDRVINFO;
  ifreq req{};
  std::strncpy(req.ifr_name, name.c_str(), IFNAMSIZ - 1);
  req.ifr_data = reinterpret_cast<char*>(&info);
  if (ioctl(fd, SIOCETHTOOL, &req) != 0) return "";
  return std::string(info.driver, strnlen(info.driver, sizeof info.driver));
}

// /proc/net/route writes addresses as the in-memory (network order) word in hex.
Ip4 FromRouteHex(const std::string& hex) {
  const auto v = static_cast<std::uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
  return ((v & 0xFF) << 24) | ((v & 0xFF00) << 8) | ((v >> 8) & 0xFF00) | (v >> 24);
}

bool InInitsNetworkNamespace() {
  struct stat mine {}, init {};
  return stat("/proc/self/ns/net", &mine) == 0 && stat("/proc/1/ns/net", &init) == 0 &&
         mine.st_ino == init.st_ino && mine.st_dev == init.st_dev;
}

}  // namespace

std::vector<std::string> IsolationProblems(const NamespaceFacts& facts, const IsolationRules& rules) {
  std::vector<std::string> problems;
  const bool probeSide = !rules.probeLink.empty();
  for (const LinkInfo& l : facts.links) {
    if (l.loopback) continue;
    if (probeSide && l.name != rules.probeLink) {
      problems.push_back("interface " + l.name + " is neither loopback nor the probe link " + rules.probeLink);
    } else if (l.driver != "veth") {
      problems.push_back("interface " + l.name + " (driver " + (l.driver.empty() ? "unknown" : l.driver) +
                         ") is neither loopback nor veth");
    }
  }
  if (probeSide && facts.initNamespace) problems.push_back("this is the network namespace of process 1");

  std::vector<Ip4Range> allowed{{0x7F000000u, 0x7FFFFFFFu}};
  std::istringstream words(rules.ranges);
  for (std::string cidr; words >> cidr;) {
    if (auto r = ParseIp4Range(cidr)) {
      allowed.push_back(*r);
    } else {
      problems.push_back("cannot read test range " + cidr);
    }
  }
  // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
  std::istringstream lines(facts.procNetRoute);
  std::string line;
  std::getline(lines, line);  // column names
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string iface, dest, gw, flags, refcnt, use, metric, mask;
    if (!(f >> iface >> dest >> gw >> flags >> refcnt >> use >> metric >> mask)) continue;
    const Ip4 m = FromRouteHex(mask);
    if (m == 0) {
      problems.push_back("a default route via " + iface);
      continue;
    }
    if (rules.ranges.empty()) continue;
    const Ip4 first = FromRouteHex(dest) & m, last = first | ~m;
    bool inside = false;
    for (const Ip4Range& a : allowed) inside = inside || (a.Contains(first) && a.Contains(last));
    if (!inside) problems.push_back("a route to " + FormatIp4(first) + " beyond the test's ranges (via " + iface + ")");
  }
  // dest prefixlen src srclen nexthop metric refcnt use flags iface
  std::istringstream lines6(facts.procNetIpv6Route);
  while (std::getline(lines6, line)) {
    std::istringstream f(line);
    std::string dest, plen, src, slen, hop, metric, refcnt, use, flags, iface;
    if (!(f >> dest >> plen >> src >> slen >> hop >> metric >> refcnt >> use >> flags >> iface)) continue;
    if (plen == "00" && iface != "lo") problems.push_back("an IPv6 default route via " + iface);
  }
  return problems;
}

NamespaceFacts FactsHere() {
  NamespaceFacts facts;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    // An unreadable list must not pass for an empty one.
    facts.links.push_back({"(cannot list the interfaces)", "", false});
  } else {
    std::set<std::string> seen;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    for (ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_name || !seen.insert(i->ifa_name).second) continue;
      LinkInfo l{i->ifa_name, "", (i->ifa_flags & IFF_LOOPBACK) != 0};
      if (fd >= 0 && !l.loopback) l.driver = Driver(fd, l.name);
      facts.links.push_back(l);
    }
    if (fd >= 0) close(fd);
    freeifaddrs(list);
  }
  facts.procNetRoute = ReadAll("/proc/self/net/route");
  facts.procNetIpv6Route = ReadAll("/proc/self/net/ipv6_route");
  facts.initNamespace = InInitsNetworkNamespace();
  return facts;
}

std::vector<std::string> IsolationProblemsHere(const IsolationRules& rules) {
  return IsolationProblems(FactsHere(), rules);
}

std::string ProbeSideProblems() {
  const char* link = std::getenv("ZN7QX_PROBE_IF");
  const char* ranges = std::getenv("ZN7QX_TEST_RANGES");
  if (link == nullptr || *link == '\0') return "ZN7QX_PROBE_IF is not set: run under the simulated network's harness";
  std::string joined;
  for (const std::string& p : IsolationProblemsHere({link, ranges ? ranges : ""}))
    joined += (joined.empty() ? "" : "; ") + p;
  return joined;
}

void ExitUnlessIsolated(const char* program) {
  const std::string problems = ProbeSideProblems();
  if (problems.empty()) return;
  std::fprintf(stderr, "%s: refusing to send: not in an isolated test network namespace: %s\n", program,
               problems.c_str());
  std::exit(1);
}

std::optional<LinkCounters> ProbeLinkCounters() {
  const char* link = std::getenv("ZN7QX_PROBE_IF");
  if (link == nullptr) return std::nullopt;
  std::ifstream dev("/proc/self/net/dev");
  const std::string name = std::string(link) + ":";
  for (std::string line; std::getline(dev, line);) {
    std::istringstream fields(line);
    std::string first;
    std::uint64_t bytes = 0, errors = 0;
    LinkCounters c;
    fields >> first;
    if (first == name && fields >> bytes >> c.packets >> errors >> c.drops) return c;
  }
  return std::nullopt;
}

}  // namespace zn7qx::sim
