#pragma once
// The request checked into what this run does, before anything touches the
// network.

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/zn7qx-scan/Request.h"
#include "scan/ScanRange.h"
#include "scan/Sweep.h"

namespace zn7qx::cli {

struct Plan {
  scan::SweepOptions sweep;
  std::chrono::microseconds interval{0};
  std::vector<scan::AddressRange> merged;
  std::int64_t count = 0;
};

// Checks the request's numbers and ranges, and merges the ranges; an exit
// status when they are bad.
std::optional<int> MakePlan(const Request& r, Plan& plan);

}  // namespace zn7qx::cli
