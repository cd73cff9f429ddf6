#pragma once
// Whether this process sits in a network namespace that cannot reach any
// real network: only loopback and veth links, and no default route.

#include <string>
#include <vector>

namespace zn7qx::sim {

struct LinkInfo {
  std::string name;
  std::string driver;  // "veth", "" for loopback or unknown
  bool loopback = false;
};

// The reasons this namespace is not isolated; empty when it is.
std::vector<std::string> IsolationProblems(const std::vector<LinkInfo>& links,
                                           const std::string& procNetRoute,
                                           const std::string& procNetIpv6Route);

// The same for the namespace this process is in.
std::vector<std::string> IsolationProblemsHere();

}  // namespace zn7qx::sim
