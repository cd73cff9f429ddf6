#pragma once
// A site's file for a standing watch (/etc/zn7qx/watch/SITE.conf): its
// ranges and the sweep's settings, one "name = value" a line. It decides
// what the machine sends, so only its owner may change it.

#include <string>
#include <vector>

namespace zn7qx::scan {

struct SiteSetting {
  std::string name;   // one of SiteSettingNames()
  std::string value;  // as written, blanks around it left out
  std::string where;  // "FILE:LINE", for messages
};

struct SiteConfig {
  std::vector<SiteSetting> settings;  // in file order; "ranges" may come more than once
  std::string error;                  // "FILE:LINE: what is wrong", or "FILE: ..."; empty when read
};

// The names a site's file may set: ranges, interval, rate, burst, timeout,
// retries, max-addresses.
const std::vector<std::string>& SiteSettingNames();

// Reads and checks the file's form: a regular file of at most 64 KiB, that
// no one but its owner (root or this user) may write; each line blank, a
// comment ("#" first), or NAME = VALUE with a known NAME, set once (but
// ranges), and an optional comment after a blank. Values are checked by the
// caller, which names "where" in its messages.
SiteConfig ReadSiteConfig(const std::string& path);

// The site a file is for: its name without folder and ".conf"
// (/etc/zn7qx/watch/hall-a.conf is hall-a).
std::string SiteName(const std::string& path);

}  // namespace zn7qx::scan
