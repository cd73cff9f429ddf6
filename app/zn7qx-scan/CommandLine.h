#pragma once
// The option table: the command line read into the request.

#include <optional>

#include "app/zn7qx-scan/Request.h"

namespace zn7qx::cli {

// Reads the command line (and a site's file) into r; an exit status when the
// run ends here (help, version, bad usage).
std::optional<int> ParseCommandLine(int argc, char** argv, Request& r);

}  // namespace zn7qx::cli
