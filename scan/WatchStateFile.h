#pragma once
// A watch's units kept in a file between runs, so that a unit that went
// silent while the watch was stopped (a restart, a reboot) is still told.

#include <optional>
#include <string>

#include "scan/Watch.h"

namespace zn7qx::scan {

// The units as the file holds them: a first line naming the format and its
// version, then one unit a line (identity, address, hardware address,
// sweeps missed, and the text's bytes in hexadecimal).
std::string SavedUnits(const WatchState& state);

struct LoadedUnits {
  WatchState state;     // empty when the file could not be taken
  std::string problem;  // why not (missing, damaged, another version); empty when taken
  bool missing = false;  // no file yet: a first start
};
LoadedUnits LoadUnits(const std::string& path);

}  // namespace zn7qx::scan
