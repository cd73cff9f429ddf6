#include "scan/SiteConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "scan/SafeText.h"
#include "scan/ScanRange.h"

namespace zn7qx::scan {

namespace {

constexpr off_t kLargest = 64 * 1024;

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "A/24, B-C" as the command line takes it, "A/24,B-C": blanks around the
// commas are the usual way to write a list in a file.
std::string WithoutBlanksAroundCommas(const std::string& value) {
  std::string joined;
  for (std::size_t start = 0;;) {
    const std::size_t comma = value.find(',', start);
    joined += Trimmed(value.substr(start, comma - start));
    if (comma == std::string::npos) return joined;
    joined += ',';
    start = comma + 1;
  }
}

std::string NameList() {
  std::string list;
  for (const std::string& name : SiteSettingNames()) list += (list.empty() ? "" : ", ") + name;
  return list;
}

}  // namespace

const std::vector<std::string>& SiteSettingNames() {
  static const std::vector<std::string> names = {"ranges",  "interval", "rate",         "burst",
                                                 "timeout", "retries",  "max-addresses"};
  return names;
}

SiteConfig ReadSiteConfig(const std::string& path) {
  SiteConfig config;
  // As compilers name places: FILE:LINE, the path's control bytes escaped.
  const std::string file = EscapeText(path);
  const auto fail = [&](const std::string& message) {
    config.settings.clear();
    config.error = message;
    return config;
  };
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fail(file + ": cannot read it: " + std::strerror(errno));
  struct stat about {};
  std::string text;
  if (fstat(fd, &about) != 0 || !S_ISREG(about.st_mode)) {
    close(fd);
    return fail(file + ": not a regular file");
  }
  if ((about.st_mode & (S_IWGRP | S_IWOTH)) != 0 || (about.st_uid != 0 && about.st_uid != geteuid())) {
    close(fd);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(about.st_mode & 07777));
    return fail(file + ": other users may change it (mode " + mode + ", owner " + std::to_string(about.st_uid) +
                "): it must belong to root (or this user) and be writable by its owner alone (chmod go-w)");
  }
  if (about.st_size > kLargest) {
    close(fd);
    return fail(file + ": larger than 64 KiB");
  }
  char buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || text.size() + static_cast<std::size_t>(got) > kLargest) {
      const int error = got < 0 ? errno : EFBIG;
      close(fd);
      return fail(file + ": cannot read it: " + std::strerror(error));
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);

  std::map<std::string, std::string> seen;  // name -> where
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size(); ++number) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::string where = file + ":" + std::to_string(number + 1);
    // A comment: the whole line, or from a "#" after a blank.
    for (std::size_t hash = line.find('#'); hash != std::string::npos; hash = line.find('#', hash + 1)) {
      if (hash == 0 || line[hash - 1] == ' ' || line[hash - 1] == '\t') {
        line.resize(hash);
        break;
      }
    }
    line = Trimmed(line);
    if (line.empty()) continue;
    if (std::any_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; }))
      return fail(where + ": a control character in " + QuoteForMessage(line));
    const auto equals = line.find('=');
    if (equals == std::string::npos) return fail(where + ": " + QuoteForMessage(line) + " is not NAME = VALUE");
    const std::string name = Trimmed(line.substr(0, equals));
    std::string value = Trimmed(line.substr(equals + 1));
    if (name == "ranges") value = WithoutBlanksAroundCommas(value);
    const auto& names = SiteSettingNames();
    if (std::find(names.begin(), names.end(), name) == names.end())
      return fail(where + ": unknown setting " + QuoteForMessage(name) + " (known: " + NameList() + ")");
    if (value.empty()) return fail(where + ": " + name + " has no value");
    if (const auto before = seen.find(name); before != seen.end() && name != "ranges")
      return fail(where + ": " + name + " is set again (first at " + before->second + ")");
    seen.emplace(name, where);
    config.settings.push_back({name, value, where});
  }
  return config;
}

std::string SiteName(const std::string& path) {
  std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  if (name.size() > 5 && name.ends_with(".conf")) name.resize(name.size() - 5);
  return name;
}

}  // namespace zn7qx::scan
