#pragma once
// Every end-to-end test that sends ICMP first makes sure it runs in a
// namespace of the test's own: only loopback and veth links, no default
// route, and not the namespace of the machine's init process.

#include <gtest/gtest.h>

#if __has_include("tests/support/Isolation.h")
#include "tests/support/Isolation.h"
#define ZN7QX_E2E_SHARED_ISOLATION 1
#endif

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zn7qx::e2e {

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
  return ok ? std::string(info.driver) : std::string();
}

// Reasons this namespace is not isolated; empty when it is.
inline std::vector<std::string> OwnIsolationProblems() {
  std::vector<std::string> problems;
  if (struct if_nameindex* links = if_nameindex()) {
    for (struct if_nameindex* l = links; l->if_index != 0; ++l) {
      const std::string name = l->if_name;
      if (name == "lo") continue;
      if (LinkDriver(name) != "veth") problems.push_back("link " + name + " is not a veth");
    }
    if_freenameindex(links);
  } else {
    problems.push_back("cannot list links");
  }
  std::ifstream routes("/proc/self/net/route");
  std::string line;
  std::getline(routes, line);  // heading
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
    fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask;
    if (destination == "00000000" && mask == "00000000") problems.push_back("default route via " + iface);
  }
  struct stat mine {}, init {};
  if (stat("/proc/self/ns/net", &mine) == 0 && stat("/proc/1/ns/net", &init) == 0 && mine.st_ino == init.st_ino &&
      mine.st_dev == init.st_dev) {
    problems.push_back("this is the network namespace of process 1");
  }
  return problems;
}

inline void AssertEchoIsolated() {
#ifdef ZN7QX_E2E_SHARED_ISOLATION
  ZN7QX_ASSERT_ISOLATED();
#endif
  const auto problems = OwnIsolationProblems();
  std::string all;
  for (const auto& p : problems) all += p + "; ";
  ASSERT_TRUE(problems.empty()) << "not isolated, nothing sent: " << all;
}

}  // namespace zn7qx::e2e
