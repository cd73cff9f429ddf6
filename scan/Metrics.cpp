#include "scan/Metrics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "net/mdlConvertIPForms.h"
#include "scan/SafeText.h"
#include "scan/ScanRange.h"

namespace zn7qx::scan {

namespace {

// A label value as the format takes it; the unit's bytes first as the text
// output writes them, so that no control character gets out raw.
std::string Label(const std::string& bytes) {
  std::string out;
  for (const char c : EscapeText(bytes)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}


std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string Folder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

WatchMetrics::WatchMetrics(std::string site, std::chrono::seconds keepSilent)
    : site_(Label(site)), keepSilent_(keepSilent) {}

void WatchMetrics::Update(const SweepDone& sweep, Clock::time_point now, double wallSeconds) {
  for (const Change& c : sweep.changes)
    if (c.event == Event::Silent) silent_.push_back({c, now});
  present_ = sweep.state.Present();
  // Gone for good after an hour, and no longer silent once present again.
  std::erase_if(silent_, [&](const Silent& s) {
    return now - s.since >= keepSilent_ ||
           std::any_of(present_.begin(), present_.end(), [&](const Change& p) { return p.id == s.unit.id; });
  });
  units_ += sweep.counts.units;
  hosts_ += sweep.counts.hosts;
  errors_ += sweep.counts.errors;
  duration_ = static_cast<double>(sweep.counts.elapsed.count()) / 1e6;
  lastSweep_ = wallSeconds;
}

std::string WatchMetrics::Text() const {
  // One series a unit, by its identity: a unit heard again is up, never up
  // and down at once; what changes (address, text) is in its _info series.
  std::vector<std::pair<const Change*, int>> units;
  std::set<std::string> written;
  for (const Change& c : present_)
    if (written.insert(c.id).second) units.emplace_back(&c, 1);
  for (const Silent& s : silent_)
    if (written.insert(s.unit.id).second) units.emplace_back(&s.unit, 0);
  // The site's label, before a series' own labels, and alone.
  const std::string with = site_.empty() ? "" : "site=\"" + site_ + "\",";
  const std::string site = site_.empty() ? "" : "{site=\"" + site_ + "\"}";
  std::string text =
      "# HELP zn7qx_unit_up Whether a ZN7QX unit answers: 1 while present, 0 for an hour after it went silent.\n"
      "# TYPE zn7qx_unit_up gauge\n";
  for (const auto& [c, up] : units)
    text += "zn7qx_unit_up{" + with + "unit=\"" + Label(c->id) + "\"} " + std::to_string(up) + "\n";
  text += "# HELP zn7qx_unit_info A ZN7QX unit's address, hardware address and text, as last heard.\n"
          "# TYPE zn7qx_unit_info gauge\n";
  for (const auto& [c, up] : units)
    text += "zn7qx_unit_info{" + with + "unit=\"" + Label(c->id) + "\",address=\"" +
            NetworkToDotted(NumericToNetwork(c->address)) + "\",mac=\"" + Label(c->mac) + "\",text=\"" +
            Label(c->text) + "\"} 1\n";
  text += "# HELP zn7qx_units_present ZN7QX units present after the last sweep.\n"
          "# TYPE zn7qx_units_present gauge\n"
          "zn7qx_units_present" + site + " " + std::to_string(present_.size()) + "\n"
          "# HELP zn7qx_sweep_duration_seconds How long the last sweep took.\n"
          "# TYPE zn7qx_sweep_duration_seconds gauge\n"
          "zn7qx_sweep_duration_seconds" + site + " " + Number(duration_) + "\n"
          "# HELP zn7qx_sweep_answers_total Answers to the watch's sweeps since it started, by kind.\n"
          "# TYPE zn7qx_sweep_answers_total counter\n"
          "zn7qx_sweep_answers_total{" + with + "kind=\"unit\"} " + std::to_string(units_) + "\n"
          "zn7qx_sweep_answers_total{" + with + "kind=\"host\"} " + std::to_string(hosts_) + "\n"
          "zn7qx_sweep_answers_total{" + with + "kind=\"error\"} " + std::to_string(errors_) + "\n"
          "# HELP zn7qx_last_sweep_timestamp_seconds When the last sweep ended, in seconds since the epoch.\n"
          "# TYPE zn7qx_last_sweep_timestamp_seconds gauge\n"
          "zn7qx_last_sweep_timestamp_seconds" + site + " " + Number(lastSweep_) + "\n";
  return text;
}

std::string ReplaceFile(const std::string& path, const std::string& text) {
  const std::string folder = Folder(path);
  const std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  // Hidden and without the final ".prom", so that no reader takes it half written.
  std::string temporary = folder + "/." + base + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return "cannot write " + EscapeText(path) + ": " + std::strerror(errno);
  int error = 0;
  for (std::size_t done = 0; done < text.size() && error == 0;) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno != EINTR) error = errno;
    if (wrote > 0) done += static_cast<std::size_t>(wrote);
  }
  // Readable by the exporter, which runs as another user.
  if (error == 0 && (fchmod(fd, 0644) != 0 || fsync(fd) != 0)) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error == 0) return {};
  unlink(temporary.c_str());
  return "cannot write " + EscapeText(path) + ": " + std::strerror(error);
}

std::string MetricsFolderProblem(const std::string& path) {
  const std::string folder = Folder(path), quoted = QuoteForMessage(folder);
  struct stat about {};
  if (stat(folder.c_str(), &about) != 0) return "the folder " + quoted + ": " + std::strerror(errno);
  if (!S_ISDIR(about.st_mode)) return quoted + " is not a folder";
  if (access(folder.c_str(), W_OK | X_OK) != 0) return "cannot write into " + quoted + ": " + std::strerror(errno);
  return {};
}

}  // namespace zn7qx::scan
