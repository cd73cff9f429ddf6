#include "app/zn7qx-scan/Plan.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include "app/zn7qx-scan/Console.h"
#include "net/mdlGetIPInfo.h"
#include "scan/Metrics.h"
#include "scan/SafeText.h"

namespace zn7qx::cli {

using namespace zn7qx::scan;

namespace {

// A number as a person writes it: decimal digits, and where fraction is
// allowed a decimal point with digits after it; no sign, blank, exponent or
// hexadecimal. Nothing for anything else.
std::optional<double> ReadNumber(const std::string& text, bool fraction) {
  const auto point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string part = point == std::string::npos ? std::string() : text.substr(point + 1);
  const auto digits = [](const std::string& t) {
    return !t.empty() && t.size() <= 15 &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(whole)) return std::nullopt;
  if (point != std::string::npos && (!fraction || !digits(part))) return std::nullopt;
  return std::stod(text);
}

// Reads a numeric setting; an empty optional after writing the message when
// the text is not a number in [low, high].
template <typename T>
std::optional<T> ReadOption(const Setting& setting, T low, T high, const char* after = "") {
  constexpr bool whole = std::is_integral_v<T>;
  const auto value = ReadNumber(setting.text, !whole);
  if (value && *value >= static_cast<double>(low) && *value <= static_cast<double>(high))
    return static_cast<T>(*value);
  std::ostringstream message;
  message << "zn7qx-scan: " << setting.label << " must be " << (whole ? "a whole number " : "") << "between "
          << low << " and " << high << after << ", not " << QuoteForMessage(setting.text) << '\n';
  std::cerr << message.str();
  return std::nullopt;
}

}  // namespace

std::optional<int> MakePlan(const Request& r, Plan& plan) {
  const auto rate = ReadOption<double>(r.rate, 1, kRateCeiling);
  const auto burst = ReadOption<std::int64_t>(r.burst, 1, kBurstCeiling);
  const auto timeoutMs = ReadOption<std::int64_t>(r.timeout, 1, kTimeoutCeiling);
  const auto retries = ReadOption<std::int64_t>(r.retries, 0, kRetriesCeiling);
  const auto maxAddresses = ReadOption<std::int64_t>(r.maxAddresses, 1, kMaxAddressesCeiling);
  std::optional<double> watchSeconds = kDefaultWatchSeconds;
  if (!r.watch.text.empty())
    watchSeconds = ReadOption<double>(r.watch, 1, kWatchCeiling,
                                      r.watch.label == "--watch" ? " seconds (a RANGE right after --watch is read as them)"
                                                                 : " seconds");
  if (!rate || !burst || !timeoutMs || !retries || !maxAddresses || !watchSeconds) return kExitUsage;
  if (r.watching && (r.csv || r.all))
    return Fail(kExitUsage, std::string(r.csv ? "--csv" : "--all") +
                                " does not go with --watch, which follows units (--json writes one object per change)");
  if (!r.metricsPath.empty() && !r.watching) return Fail(kExitUsage, "--metrics goes with --watch");
  if (!r.statePath.empty() && !r.watching) return Fail(kExitUsage, "--state goes with --watch");
  if (!r.statePath.empty())
    if (const std::string problem = MetricsFolderProblem(r.statePath); !problem.empty())
      return Fail(kExitUsage, "--state: " + problem);
  if (!r.metricsPath.empty())
    if (const std::string problem = MetricsFolderProblem(r.metricsPath); !problem.empty())
      return Fail(kExitUsage, "--metrics: " + problem);
  plan.sweep.rate = *rate;
  plan.sweep.burst = *burst;
  plan.sweep.timeout = std::chrono::milliseconds(*timeoutMs);
  plan.sweep.retries = static_cast<int>(*retries);
  plan.interval = std::chrono::microseconds(static_cast<std::int64_t>(*watchSeconds * 1e6));

  std::vector<AddressRange> written;
  if (!r.ranges.empty()) {
    RangeParse parsed = ParseRanges(r.ranges);
    if (!parsed.error.empty()) return Fail(kExitUsage, parsed.error);
    written = std::move(parsed.ranges);
  } else if (!r.siteRanges.empty()) {
    for (const SiteSetting& line : r.siteRanges) {
      RangeParse parsed = ParseRanges({line.value});
      if (!parsed.error.empty()) return Fail(kExitUsage, line.where + ": " + parsed.error);
      written.insert(written.end(), parsed.ranges.begin(), parsed.ranges.end());
    }
  } else {
    SetIPInfoMessageSink([](const std::string& text) { std::cerr << "zn7qx-scan: " << text << '\n'; });
    const NumericAddress mask = GetLocalSubnetMask();
    const NumericAddress address = GetLocalIPAddress();
    if (address == 0) return Fail(kExitUsage, "no network interface with an IPv4 address was found; give a RANGE");
    written.push_back(SubnetRange(mask, address));
  }
  plan.merged = MergeRanges(written);
  plan.count = CountAddresses(plan.merged);
  if (plan.count < 1) return Fail(kExitUsage, "the ranges hold no address that can be probed");
  const bool fromSite = !r.siteRanges.empty();
  if (plan.count > *maxAddresses)
    return Fail(kExitUsage, (fromSite ? EscapeText(r.sitePath) + ": " : "") + "the ranges hold " +
                                std::to_string(plan.count) + " addresses, more than the limit of " +
                                std::to_string(*maxAddresses) + " (raise it with " +
                                (fromSite ? "max-addresses" : "--max-addresses") + ")");
  return std::nullopt;
}

}  // namespace zn7qx::cli
