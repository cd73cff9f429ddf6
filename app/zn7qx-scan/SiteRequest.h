#pragma once
// A site's file read into the request.

#include <functional>
#include <optional>

#include "app/zn7qx-scan/Request.h"

namespace zn7qx::cli {

// A site's file gives what the command line does not; given holds the
// options that the command line gave a value. An exit status when the file
// is refused.
std::optional<int> TakeSiteFile(Request& r, const std::function<bool(const char*)>& given);

}  // namespace zn7qx::cli
