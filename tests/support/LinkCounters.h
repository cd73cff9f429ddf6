#pragma once
// The receive counters of the probe's link (ZN7QX_PROBE_IF, set by the
// harness), read from this namespace's own /proc/self/net/dev: sysfs may
// still show another namespace's.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace zn7qx::testsupport {

struct LinkCounters {
  std::uint64_t packets = 0;
  std::uint64_t drops = 0;
};

inline std::optional<LinkCounters> ProbeLinkCounters() {
  const char* link = std::getenv("ZN7QX_PROBE_IF");
  if (link == nullptr) return std::nullopt;
  std::ifstream dev("/proc/self/net/dev");
  std::string line;
  const std::string name = std::string(link) + ":";
  while (std::getline(dev, line)) {
    std::istringstream fields(line);
    std::string first;
    std::uint64_t bytes = 0, errors = 0;
    LinkCounters c;
    fields >> first;
    if (first == name && fields >> bytes >> c.packets >> errors >> c.drops) return c;
  }
  return std::nullopt;
}

}  // namespace zn7qx::testsupport
