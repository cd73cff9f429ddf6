#pragma once
// Whether this process sits in a network namespace that cannot reach any
// real network. The one check behind the simulator's refusal, the harness's
// look at the probe side, and every test or benchmark that sends ICMP.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zn7qx::sim {

struct LinkInfo {
  std::string name;
  std::string driver;  // "veth", "" for loopback or unknown
  bool loopback = false;
};

// What is read off a namespace.
struct NamespaceFacts {
  std::vector<LinkInfo> links;
  std::string procNetRoute;      // /proc/self/net/route
  std::string procNetIpv6Route;  // /proc/self/net/ipv6_route
  bool initNamespace = false;    // the network namespace of process 1
};

// What is asked of it. Always: every link is loopback or a veth, and there is
// no default route. With a probe link (the probe side of the harness): that
// veth is the only link besides loopback, and this is not process 1's
// namespace. With ranges (CIDRs): every IPv4 route stays inside them or
// 127.0.0.0/8.
struct IsolationRules {
  std::string probeLink;
  std::string ranges;  // space-separated CIDRs
};

// The reasons the namespace is not isolated; empty when it is.
std::vector<std::string> IsolationProblems(const NamespaceFacts& facts, const IsolationRules& rules);
NamespaceFacts FactsHere();
std::vector<std::string> IsolationProblemsHere(const IsolationRules& rules);

// For what the harness runs on the probe side: the rules it hands over in
// ZN7QX_PROBE_IF and ZN7QX_TEST_RANGES, and without them, a refusal. Empty
// when isolated, else the reasons in one line.
std::string ProbeSideProblems();

// For programs that send (benchmarks): stops with a message unless isolated.
void ExitUnlessIsolated(const char* program);

// Packets received and dropped on the probe link (ZN7QX_PROBE_IF), read
// from this namespace's own /proc/self/net/dev.
struct LinkCounters {
  std::uint64_t packets = 0;
  std::uint64_t drops = 0;
};
std::optional<LinkCounters> ProbeLinkCounters();

}  // namespace zn7qx::sim
