#include "app/zn7qx-scan/CommandLine.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <iostream>
#include <string>

#include "app/zn7qx-scan/Console.h"
#include "app/zn7qx-scan/HelpText.h"
#include "app/zn7qx-scan/SiteRequest.h"

namespace zn7qx::cli {

std::optional<int> ParseCommandLine(int argc, char** argv, Request& r) {
  CLI::App app(kDescription, "zn7qx-scan");
  app.formatter_fn([](const CLI::App* shown, std::string, CLI::AppFormatMode) { return HelpText(*shown); });
  // Help and version come last in the list.
  app.set_help_flag();
  // An option given twice takes its last value, as with getopt.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("RANGE", r.ranges, "Addresses to sweep");
  app.add_flag("-a,--all", r.all, "also list other answering hosts and errors, each\nwith its hardware address as --mac shows it");
  auto* csvFlag = app.add_flag("--csv", r.csv, "write CSV, with a header line");
  app.add_flag("--json", r.json, "write one JSON document")->excludes(csvFlag);
  app.add_flag("-m,--mac", r.mac, "show the hardware address of each unit in a column\nof its own (--all always does)");
  app.add_flag("-q,--quiet", r.quiet, "no progress line and no summary on standard error");
  app.add_option("-r,--rate", r.rate.text,
                 "requests per second, at a steady pace: 1 to " + std::to_string(static_cast<int>(kRateCeiling)) +
                     "\n(default " + r.rate.text + ")")
      ->type_name("N");
  app.add_option("--burst", r.burst.text,
                 "requests sent at once at the start, before the steady\npace: 1 to " +
                     std::to_string(kBurstCeiling) + " (default " + r.burst.text + ")")
      ->type_name("N");
  app.add_option("-t,--timeout", r.timeout.text,
                 "milliseconds to wait for each address, from its own\nrequest: 1 to " +
                     std::to_string(kTimeoutCeiling) + " (default " + r.timeout.text + ")")
      ->type_name("MS");
  app.add_option("--retries", r.retries.text,
                 "requests sent again to addresses that timed out:\n0 to " + std::to_string(kRetriesCeiling) +
                     " (default " + r.retries.text + ")")
      ->type_name("N");
  app.add_option("--watch", r.watch.text,
                 "sweep again every SECONDS and write what changed:\n1 to " +
                     std::to_string(static_cast<int>(kWatchCeiling)) + " (default " +
                     std::to_string(static_cast<int>(kDefaultWatchSeconds)) + ")")
      ->expected(0, 1)
      ->type_name("[=SECONDS]");
  app.add_option("--max-addresses", r.maxAddresses.text,
                 "refuse to sweep more addresses than N: 1 to\n" + std::to_string(kMaxAddressesCeiling) +
                     " (default " + r.maxAddresses.text + ")")
      ->type_name("N");
  app.add_option("--config", r.sitePath, "read the RANGEs and settings of a site from FILE\n(see Site files below)")
      ->type_name("FILE");
  app.add_option("--metrics", r.metricsPath,
                 "with --watch: after every sweep, replace FILE with\nthe units for Prometheus (see Watch below)")
      ->type_name("FILE");
  app.add_option("--state", r.statePath,
                 "with --watch: keep the units in FILE, so that a watch\nstarted again goes on where it stopped")
      ->type_name("FILE");
  app.set_help_flag("-h,--help", "show this help and exit");
  app.set_version_flag("--version", std::string("zn7qx-scan ") + ZN7QX_VERSION, "show the version and exit");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    errno = 0;
    std::cout << app.help();
    return WrittenOut() ? 0 : kExitWriteFailed;
  } catch (const CLI::CallForVersion& e) {
    errno = 0;
    std::cout << e.what() << '\n';
    return WrittenOut() ? 0 : kExitWriteFailed;
  } catch (const CLI::ParseError& e) {
    std::string what = e.what();
    // CLI11 says "--rate: 1 required N missing".
    if (const auto colon = what.find(':');
        colon != std::string::npos && what.size() > 8 && what.ends_with(" missing"))
      what = what.substr(0, colon) + " needs a value";
    return Fail(kExitUsage, what + " (see --help)");
  }
  r.watching = app.count("--watch") > 0;
  // A bare --watch gives no interval.
  const auto given = [&](const char* option) { return std::string(option) == "--watch" ? !r.watch.text.empty()
                                                                                      : app.count(option) > 0; };
  if (app.count("--config") > 0) return TakeSiteFile(r, given);
  return std::nullopt;
}

}  // namespace zn7qx::cli
