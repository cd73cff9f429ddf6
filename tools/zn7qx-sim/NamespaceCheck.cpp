#include "NamespaceCheck.h"

#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

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

}  // namespace

std::vector<std::string> IsolationProblems(const std::vector<LinkInfo>& links, const std::string& route,
                                           const std::string& route6) {
  std::vector<std::string> problems;
  for (const LinkInfo& l : links) {
    if (l.loopback || l.driver == "veth") continue;
    problems.push_back("interface " + l.name + " (driver " + (l.driver.empty() ? "unknown" : l.driver) +
                       ") is neither loopback nor veth");
  }
  // /proc/net/route: Iface Destination Gateway Flags RefCnt Use Metric Mask ...
  std::istringstream lines(route);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string iface, dest, gw, flags, refcnt, use, metric, mask;
    if (!(f >> iface >> dest >> gw >> flags >> refcnt >> use >> metric >> mask)) continue;
    if (dest == "00000000" && mask == "00000000") problems.push_back("a default route via " + iface);
  }
  // /proc/net/ipv6_route: dest prefixlen src srclen nexthop metric refcnt use flags iface
  std::istringstream lines6(route6);
  while (std::getline(lines6, line)) {
    std::istringstream f(line);
    std::string dest, plen, src, slen, hop, metric, refcnt, use, flags, iface;
    if (!(f >> dest >> plen >> src >> slen >> hop >> metric >> refcnt >> use >> flags >> iface)) continue;
    if (dest == std::string(32, '0') && plen == "00" && iface != "lo") {
      problems.push_back("an IPv6 default route via " + iface);
    }
  }
  return problems;
}

std::vector<std::string> IsolationProblemsHere() {
  std::vector<LinkInfo> links;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {"cannot list the interfaces"};
  std::set<std::string> seen;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_name || !seen.insert(i->ifa_name).second) continue;
    LinkInfo l;
    l.name = i->ifa_name;
    l.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    if (fd >= 0 && !l.loopback) l.driver = Driver(fd, l.name);
    links.push_back(l);
  }
  if (fd >= 0) close(fd);
  freeifaddrs(list);
  return IsolationProblems(links, ReadAll("/proc/self/net/route"), ReadAll("/proc/self/net/ipv6_route"));
}

}  // namespace zn7qx::sim
