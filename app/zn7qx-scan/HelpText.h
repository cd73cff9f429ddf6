#pragma once
// The help text: the usage line, the description, the option list made from
// the option table, and the sections after it (ranges, output, watch, site
// files, limits, exit status, privileges, examples).

#include <CLI/CLI.hpp>
#include <string>

namespace zn7qx::cli {

// The description above the options, also the option table's own.
extern const char* const kDescription;

std::string HelpText(const CLI::App& app);

}  // namespace zn7qx::cli
