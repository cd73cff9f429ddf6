#pragma once
// A watch's units for Prometheus, in node_exporter's textfile format: each
// unit up (1) while present, down (0) from the sweep it went silent until it
// has been silent for an hour, then gone; the units present; the last
// sweep's time and duration; the answers so far by kind. A site's name, when
// given, labels every series, so that the watches of several sites can share
// one node_exporter without two files writing the same series.

#include <chrono>
#include <string>
#include <vector>

#include "scan/Watch.h"

namespace zn7qx::scan {

class WatchMetrics {
 public:
  explicit WatchMetrics(std::string site = "", std::chrono::seconds keepSilent = std::chrono::hours(1));

  // After each sweep: now on the watch's clock, wallSeconds since the epoch.
  void Update(const SweepDone& sweep, Clock::time_point now, double wallSeconds);
  std::string Text() const;

 private:
  struct Silent {
    Change unit;
    Clock::time_point since;
  };
  std::string site_;  // as a label's value, or empty
  std::chrono::seconds keepSilent_;
  std::vector<Change> present_;
  std::vector<Silent> silent_;
  std::int64_t units_ = 0, hosts_ = 0, errors_ = 0;
  double duration_ = 0, lastSweep_ = 0;
};

// Replaces the file at path with text, atomically: written beside it under a
// hidden name, then renamed over it. Empty, or why it could not.
std::string ReplaceFile(const std::string& path, const std::string& text);

// Why a metrics file cannot be written into its folder now (a missing
// folder, no permission); empty when it can.
std::string MetricsFolderProblem(const std::string& path);

}  // namespace zn7qx::scan
