#pragma once
// What the command line, and a site's file, ask for, as written, with the
// program's exit statuses and the bounds of its settings.

#include <cstdint>
#include <string>
#include <vector>

#include "net/ICMPPing.h"
#include "scan/SiteConfig.h"
#include "scan/Sweep.h"

namespace zn7qx::cli {

inline constexpr int kExitUnits = 0;
inline constexpr int kExitNoUnits = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotPermitted = 3;
inline constexpr int kExitWriteFailed = 4;
inline constexpr int kExitLinkFailed = 5;

inline constexpr double kRateCeiling = 100000;
inline constexpr std::int64_t kBurstCeiling = 4096;
inline constexpr std::int64_t kTimeoutCeiling = 60000;
inline constexpr std::int64_t kRetriesCeiling = 10;
inline constexpr std::int64_t kDefaultMaxAddresses = 65536;
inline constexpr std::int64_t kMaxAddressesCeiling = 16777216;
inline constexpr double kDefaultWatchSeconds = 5;
inline constexpr double kWatchCeiling = 86400;

// A numeric setting as written, and where: "--rate" on the command line, or
// "FILE:LINE: rate" in a site's file.
struct Setting {
  std::string text;
  std::string label;
};

struct Request {
  std::vector<std::string> ranges;            // the RANGE arguments
  std::vector<scan::SiteSetting> siteRanges;  // a site's "ranges" lines, when no RANGE is given
  // Numbers are read as text and checked later, so that a bad one is told in
  // plain words.
  Setting rate{std::to_string(static_cast<int>(scan::kDefaultRate)), "--rate"};
  Setting burst{std::to_string(scan::kDefaultBurst), "--burst"};
  Setting timeout{std::to_string(PingTimeoutMs), "--timeout"};
  Setting retries{"0", "--retries"};
  Setting maxAddresses{std::to_string(kDefaultMaxAddresses), "--max-addresses"};
  Setting watch{"", "--watch"};
  std::string sitePath, metricsPath, statePath;
  bool all = false, csv = false, json = false, quiet = false, mac = false, watching = false;
};

}  // namespace zn7qx::cli
