// A site's file: what it sets, and every way it can be wrong, each told with
// the file and the line.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "scan/SiteConfig.h"

namespace zn7qx::test {
namespace {

TEST(SiteConfig, ReadsNamesAndValuesAndTellsWhereAFileIsWrong) {
  char pattern[] = "/tmp/zn7qx-site-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern, file = dir + "/site.conf";
  const struct {
    const char* name;
    std::string text;
    mode_t mode;
    std::string read;
    uid_t owner = ::geteuid();  // "name=value@line ..." or the error after the file's name
  } rows[] = {
      {"settings, comments and blanks",
       "# site A\n\n ranges = 198.18.0.0/24, 198.18.1.5  # hall\nranges=198.18.2.1 ,\t198.18.2.3\ninterval\t=\t10\nrate = 2000#x\n",
       0644, "ranges=198.18.0.0/24,198.18.1.5@3 ranges=198.18.2.1,198.18.2.3@4 interval=10@5 rate=2000#x@6"},
      {"an unknown name", "ranges = 198.18.0.1\nrnages = 198.18.0.2\n", 0644,
       ":2: unknown setting \"rnages\" (known: ranges, interval, rate, burst, timeout, retries, max-addresses)"},
      {"no equals sign", "ranges 198.18.0.1\n", 0644, ":1: \"ranges 198.18.0.1\" is not NAME = VALUE"},
      {"no value", "interval =\n", 0644, ":1: interval has no value"},
      {"set twice", "rate = 1\n\nrate = 2\n", 0644, ":3: rate is set again (first at " + file + ":1)"},
      {"a control byte", "ranges = 198.18.0.1\x1b[2J\n", 0644, ":1: a control character in \"ranges = 198.18.0.1\\x1b[2J\""},
      {"too large", std::string(70000, '#'), 0644, ": larger than 64 KiB"},
      // Each mode and owner that lets another user change the site is a row.
      {"writable by the group", "ranges = 198.18.0.1\n", 0664, ": other users may change it (mode 0664, owner "},
      {"writable by others", "ranges = 198.18.0.1\n", 0646,
       ": other users may change it (mode 0646, owner " + std::to_string(::geteuid()) +
           "): it must belong to root (or this user) and be writable by its owner alone (chmod go-w)"},
      {"another user's", "ranges = 198.18.0.1\n", 0644, ": other users may change it (mode 0644, owner 65534)", 65534},
      {"missing", "", 0, ": cannot read it: No such file or directory"},
  };
  for (const auto& row : rows) {
    std::filesystem::remove(file);
    if (row.mode != 0) {
      std::ofstream(file) << row.text;
      ASSERT_EQ(::chmod(file.c_str(), row.mode), 0);
      if (row.owner != ::geteuid() && ::chown(file.c_str(), row.owner, static_cast<gid_t>(-1)) != 0) {
        std::cout << "SKIPPED row \"" << row.name << "\": only root can give the file to another user\n";
        continue;
      }
    }
    const scan::SiteConfig config = scan::ReadSiteConfig(file);
    std::string read = config.error.empty() ? "" : config.error.substr(file.size());
    for (const scan::SiteSetting& s : config.settings)
      read += (read.empty() ? "" : " ") + s.name + "=" + s.value + "@" + s.where.substr(file.size() + 1);
    EXPECT_EQ(read.substr(0, row.read.size()), row.read) << row.name;
    EXPECT_EQ(config.error.empty(), config.settings.size() > 0) << row.name;
  }
  EXPECT_NE(scan::ReadSiteConfig(dir).error.find(": not a regular file"), std::string::npos);
  std::filesystem::remove_all(dir);
}

TEST(SiteConfig, NamesTheSiteAfterItsFile) {
  for (const auto& [path, site] : {std::pair{"/etc/zn7qx/watch/hall-a.conf", "hall-a"}, {"hall-b.conf", "hall-b"},
                                    {"/srv/site", "site"}, {"/srv/.conf", ".conf"}})
    EXPECT_EQ(scan::SiteName(path), site) << path;
}

}  // namespace
}  // namespace zn7qx::test
