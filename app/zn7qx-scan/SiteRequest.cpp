#include "app/zn7qx-scan/SiteRequest.h"

#include <map>
#include <string>
#include <utility>

#include "app/zn7qx-scan/Console.h"
#include "scan/SafeText.h"
#include "scan/SiteConfig.h"

namespace zn7qx::cli {

using namespace zn7qx::scan;

std::optional<int> TakeSiteFile(Request& r, const std::function<bool(const char*)>& given) {
  const SiteConfig config = ReadSiteConfig(r.sitePath);
  if (!config.error.empty()) return Fail(kExitUsage, config.error);
  const std::map<std::string, std::pair<Setting*, const char*>> settings = {
      {"rate", {&r.rate, "--rate"}},          {"burst", {&r.burst, "--burst"}},
      {"timeout", {&r.timeout, "--timeout"}}, {"retries", {&r.retries, "--retries"}},
      {"max-addresses", {&r.maxAddresses, "--max-addresses"}}, {"interval", {&r.watch, "--watch"}}};
  for (const SiteSetting& s : config.settings) {
    if (s.name == "ranges") {
      if (r.ranges.empty()) r.siteRanges.push_back(s);
    } else if (const auto& [setting, option] = settings.at(s.name); !given(option)) {
      *setting = {s.value, s.where + ": " + s.name};
    }
  }
  if (r.siteRanges.empty() && r.ranges.empty())
    return Fail(kExitUsage, EscapeText(r.sitePath) + ": no ranges (a line such as \"ranges = 192.168.1.0/24\")");
  return std::nullopt;
}

}  // namespace zn7qx::cli
