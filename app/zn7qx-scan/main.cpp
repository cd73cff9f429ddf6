// zn7qx-scan: finds ZN7QX units in one fast sweep of ICMP echo requests.

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "net/ICMPPing.h"
#include "net/linux/EchoSocket.h"
#include "net/linux/Neighbours.h"
#include "net/linux/Privilege.h"
#include "net/mdlGetIPInfo.h"
#include "scan/Metrics.h"
#include "scan/SafeText.h"
#include "scan/ScanOutput.h"
#include "scan/ScanRange.h"
#include "scan/SiteConfig.h"
#include "scan/SocketTransport.h"
#include "scan/StopSignals.h"
#include "scan/Sweep.h"
#include "scan/Watch.h"

namespace {

using namespace zn7qx;
using namespace zn7qx::scan;

constexpr int kExitUnits = 0;
constexpr int kExitNoUnits = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotPermitted = 3;
constexpr int kExitWriteFailed = 4;

constexpr double kRateCeiling = 100000;
constexpr std::int64_t kBurstCeiling = 4096;
constexpr std::int64_t kTimeoutCeiling = 60000;
constexpr std::int64_t kRetriesCeiling = 10;
constexpr std::int64_t kDefaultMaxAddresses = 65536;
constexpr std::int64_t kMaxAddressesCeiling = 16777216;
constexpr double kDefaultWatchSeconds = 5;
constexpr double kWatchCeiling = 86400;

// Where a description wraps, the options' text continues in this column.
constexpr std::size_t kOptionColumn = 25;

const char* const kDescription =
    "Find Morvalent ZN7QX units on an IPv4 network in one fast sweep.\n"
    "\n"
    "Sends one ICMP echo request carrying the ZN7QX discovery text to every address\n"
    "of the RANGEs and lists the units that answer, as the window zn7qx-finder\n"
    "does, but with many requests in flight at once. A unit answers \"Found.\"\n"
    "followed by its own text; any other host echoes the request; silent addresses\n"
    "are skipped. Each address has its time-out from its own request, and the\n"
    "sweep ends once every address has answered or timed out. With no RANGE, the\n"
    "sweep covers the subnet of the first network interface with an IPv4 address,\n"
    "network and broadcast addresses included: the window's \"Default Range\".\n"
    "\n"
    "Sweep only networks you are allowed to scan. A sweep sends a request to every\n"
    "address of its ranges, which the owner of a network may take for an attack.\n";

std::string Footer() {
  return "Ranges:\n"
         "  A.B.C.D          one address\n"
         "  A.B.C.D-E.F.G.H  every address from the first to the second, both included\n"
         "  A.B.C.D/N        the block of 2^(32-N) addresses holding A.B.C.D\n"
         "\n"
         "  An address is four decimal numbers from 0 to 255 joined by dots. Forms that\n"
         "  other tools read another way are refused, with the reason: a leading zero\n"
         "  (010.0.0.1, octal to some), hexadecimal (0x7f.0.0.1), fewer than four\n"
         "  parts (10.1) and text after a blank. Several ranges may be given, as\n"
         "  separate arguments or joined by commas; an address in more than one is\n"
         "  probed once. 0.0.0.0 and 255.255.255.255 are refused as written addresses\n"
         "  and never probed.\n"
         "\n"
         "Output:\n"
         "  Standard output carries the results, in address order:\n"
         "    A.B.C.D: text          a unit and its text (the window's form)\n"
         "    A.B.C.D host           another answering host (--all)\n"
         "    A.B.C.D error: reason  an ICMP error about that address (--all)\n"
         "\n"
         "  Bytes of a unit's text that are not printable ASCII are shown as \\xNN, and\n"
         "  a backslash as \\\\. With --csv the columns are address, kind, text, status,\n"
         "  icmp_type, icmp_code, error and rtt_ms, each line ended by a line feed. With\n"
         "  the other format, --json, one document holds \"ranges\", \"results\" and\n"
         "  \"summary\", the text's bytes read as ISO 8859-1, every control character\n"
         "  and line separator in it written as a \\u escape. For an error, status is\n"
         "  the number the window shows, icmp_type and icmp_code are the ICMP message's,\n"
         "  and error is its wording as ping prints it, or the system's words for a\n"
         "  request that could not be sent. The hardware (MAC) address of a unit or\n"
         "  host on the local link is the one the kernel's neighbour table holds for\n"
         "  it right after its answer, on the link the route to it uses; there is\n"
         "  none (\"-\" in text, empty in CSV, null in JSON) for errors, addresses\n"
         "  behind a router and the machine's own. The CSV column and JSON field are\n"
         "  mac. Standard error carries a progress line (only on a terminal) and a\n"
         "  summary line, so that standard output stays clean.\n"
         "\n"
         "Watch:\n"
         "  With --watch the sweep starts again every SECONDS and writes only what\n"
         "  changed among the units, one line each with the time: appeared, silent\n"
         "  (after two sweeps in a row without an answer), changed (its text, or\n"
         "  another unit at the address) and moved (the same hardware address at a\n"
         "  new address). With --json each is one JSON object on a line of its own.\n"
         "  On a terminal a status line shows the sweeps and the units present.\n"
         "  Ctrl-C or SIGTERM ends it with a \"present\" line for each unit. A sweep\n"
         "  that takes longer than SECONDS is said once and followed at once; sweeps\n"
         "  never overlap. Run as a systemd service, with standard output in the\n"
         "  journal, each line starts with its priority: <4> (warning) for a unit gone\n"
         "  silent, <5> (notice) moved or changed, <6> (info) appeared or present.\n"
         "\n"
         "  --metrics FILE replaces FILE after every sweep, atomically, with the units\n"
         "  in the textfile format of Prometheus's node_exporter: zn7qx_unit_up for\n"
         "  each unit (labels address, mac, text; 1 while present, 0 for an hour after\n"
         "  it went silent), zn7qx_units_present, zn7qx_sweep_duration_seconds,\n"
         "  zn7qx_sweep_answers_total by kind and zn7qx_last_sweep_timestamp_seconds.\n"
         "  A FILE that cannot be written ends the watch.\n"
         "\n"
         "  What a watch costs the network: one request per address and sweep, so\n"
         "  N addresses every SECONDS are N/SECONDS requests a second on average (a\n"
         "  /24 every 5 s: 51 a second), each sweep sent at --rate. On the local\n"
         "  link the kernel also asks for the hardware address of each address it\n"
         "  has none for (ARP): up to 3 broadcasts for each silent one and sweep.\n"
         "\n"
         "Site files:\n"
         "  --config FILE reads a site's ranges and settings, one \"NAME = VALUE\" a line\n"
         "  (\"#\" starts a comment): ranges (RANGEs; the line may come more than once),\n"
         "  interval (the SECONDS of --watch), rate, burst, timeout, retries and\n"
         "  max-addresses, as the options of those names; the command line's own come\n"
         "  first. The file must belong to root (or the user) and be writable by its\n"
         "  owner alone. Anything unknown or wrong is told with the file and the line.\n"
         "    ranges = 192.168.1.0/24, 192.168.5.10-192.168.5.40\n"
         "    interval = 10\n"
         "\n"
         "Limits:\n"
         "  At most " + std::to_string(kDefaultMaxAddresses) +
         " addresses per run unless --max-addresses allows more (up to\n"
         "  " + std::to_string(kMaxAddressesCeiling) +
         "). Requests go out at a steady pace, at most " + std::to_string(static_cast<int>(kRateCeiling)) +
         " per second\n"
         "  (default " + std::to_string(static_cast<int>(kDefaultRate)) + "), after a first burst of up to " +
         std::to_string(kBurstCeiling) + " (default " + std::to_string(kDefaultBurst) + ", the size of\n"
         "  the window's largest scan): 512 addresses take about the time-out, 65536\n"
         "  about 3.6 s. Lower --rate and --burst on slow or shared links.\n"
         "\n"
         "Environment:\n"
         "  TERM   when unset or \"dumb\", no progress line is drawn\n"
         "\n"
         "Exit status:\n"
         "  0    one or more units found\n"
         "  1    no unit found\n"
         "  2    bad usage: unknown option, bad value, bad range, too many addresses,\n"
         "       or no local subnet to default to\n"
         "  3    ICMP echo is not permitted to this process\n"
         "  4    the results could not all be written (a full disk, say)\n"
         "  130  interrupted by SIGINT (Ctrl-C): the results so far are still written,\n"
         "       then it dies by the signal, so that a script that ran it stops too\n"
         "  143  ended by SIGTERM, the same way\n"
         "  A watch ends only so, or with 4.\n"
         "\n"
         "Privileges:\n"
         "  No root is needed where the kernel allows ICMP datagram (\"ping\") sockets\n"
         "  to the user's group: net.ipv4.ping_group_range, as on most desktops.\n"
         "  Elsewhere give the program CAP_NET_RAW:\n"
         "    sudo setcap cap_net_raw+ep /usr/bin/zn7qx-scan\n"
         "  It keeps only that capability, and only when the ping socket is not allowed;\n"
         "  it refuses to run set-user-ID or set-group-ID. There is no need to run it as\n"
         "  root.\n"
         "\n"
         "Examples:\n"
         "  zn7qx-scan                              the local subnet\n"
         "  zn7qx-scan 192.168.1.0/24               one /24\n"
         "  zn7qx-scan 10.0.0.1-10.0.3.254 --all    a range, with other hosts and errors\n"
         "  zn7qx-scan 10.1.0.0/16 --json > units.json\n"
         "                                          a /16, as JSON into a file\n"
         "  zn7qx-scan 172.16.5.4,172.16.9.0/28 --csv --rate 2000\n"
         "                                          two ranges, as CSV, at a gentler pace\n"
         "  zn7qx-scan 192.168.1.0/24 --mac       units with their hardware addresses\n"
         "  zn7qx-scan 192.168.1.0/24 --watch 10  units coming and going, every 10 s\n";
}

// The option list, one option a line in the form of GNU programs, so that
// help2man reads it as it reads theirs; a description's lines after its
// first continue in kOptionColumn.
std::string OptionLines(const CLI::App& app) {
  std::string out;
  for (const CLI::Option* opt : app.get_options()) {
    if (!opt->nonpositional()) continue;
    std::string names = "  ";
    names += opt->get_snames().empty() ? "    " : "-" + opt->get_snames().front() + ", ";
    names += "--" + opt->get_lnames().front();
    if (const std::string type = opt->get_type_name(); !type.empty()) names += type[0] == '[' ? type : "=" + type;
    names += "  ";
    if (names.size() < kOptionColumn) names.resize(kOptionColumn, ' ');
    std::string description = opt->get_description();
    std::string::size_type at = 0;
    while ((at = description.find('\n', at)) != std::string::npos) {
      description.insert(at + 1, kOptionColumn, ' ');
      at += kOptionColumn + 1;
    }
    out += names + description + "\n";
  }
  return out;
}

// The usage line first, as the platform's programs write it.
std::string HelpText(const CLI::App& app) {
  return "Usage: zn7qx-scan [OPTION]... [RANGE]...\n" + std::string(kDescription) + "\nOptions:\n" +
         OptionLines(app) + "\n" + Footer();
}

// A number as a person writes it: decimal digits, and where fraction is
// allowed a decimal point with digits after it; no sign, blank, exponent or
// hexadecimal. Nothing for anything else.
std::optional<double> ReadNumber(const std::string& text, bool fraction) {
  const auto point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string part = point == std::string::npos ? std::string() : text.substr(point + 1);
  const auto digits = [](const std::string& t) {
    return !t.empty() && t.size() <= 15 &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(whole)) return std::nullopt;
  if (point != std::string::npos && (!fraction || !digits(part))) return std::nullopt;
  return std::stod(text);
}

// A numeric setting as written, and where: "--rate" on the command line, or
// "FILE:LINE: rate" in a site's file.
struct Setting {
  std::string text;
  std::string label;
};

// Reads a numeric setting; an empty optional after writing the message when
// the text is not a number in [low, high].
template <typename T>
std::optional<T> ReadOption(const Setting& setting, T low, T high, const char* after = "") {
  constexpr bool whole = std::is_integral_v<T>;
  const auto value = ReadNumber(setting.text, !whole);
  if (value && *value >= static_cast<double>(low) && *value <= static_cast<double>(high))
    return static_cast<T>(*value);
  std::ostringstream message;
  message << "zn7qx-scan: " << setting.label << " must be " << (whole ? "a whole number " : "") << "between "
          << low << " and " << high << after << ", not " << QuoteForMessage(setting.text) << '\n';
  std::cerr << message.str();
  return std::nullopt;
}

// Whether standard output is the system journal (systemd's JOURNAL_STREAM
// names its device and inode), which reads a "<N>" priority before a line.
bool StandardOutputIsTheJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  struct stat about {};
  if (stream == nullptr || fstat(STDOUT_FILENO, &about) != 0) return false;
  return std::string(stream) == std::to_string(about.st_dev) + ":" + std::to_string(about.st_ino);
}

// Whether the terminal on standard error can take the progress line's
// carriage return and erase-line code.
bool TerminalDrawsProgress() {
  if (isatty(STDERR_FILENO) != 1) return false;
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
}

int Fail(int status, const std::string& message) {
  std::cerr << "zn7qx-scan: " << message << '\n';
  return status;
}

// Whether everything written to standard output since errno was cleared got
// out; says why not, once.
bool WrittenOut() {
  std::cout.flush();
  if (std::cout) return true;
  static bool said = false;
  if (!std::exchange(said, true))
    std::cerr << "zn7qx-scan: write error on standard output: " << (errno != 0 ? std::strerror(errno) : "write error")
              << '\n';
  return false;
}

// What the command line, and a site's file, ask for, as written.
struct Request {
  std::vector<std::string> ranges;      // the RANGE arguments
  std::vector<SiteSetting> siteRanges;  // a site's "ranges" lines, when no RANGE is given
  // Numbers are read as text and checked later, so that a bad one is told in
  // plain words.
  Setting rate{std::to_string(static_cast<int>(kDefaultRate)), "--rate"};
  Setting burst{std::to_string(kDefaultBurst), "--burst"};
  Setting timeout{std::to_string(PingTimeoutMs), "--timeout"};
  Setting retries{"0", "--retries"};
  Setting maxAddresses{std::to_string(kDefaultMaxAddresses), "--max-addresses"};
  Setting watch{"", "--watch"};
  std::string sitePath, metricsPath;
  bool all = false, csv = false, json = false, quiet = false, mac = false, watching = false;
};

// The request read: what this run does.
struct Plan {
  SweepOptions sweep;
  std::chrono::microseconds interval{0};
  std::vector<AddressRange> merged;
  std::int64_t count = 0;
};

// A site's file gives what the command line does not; given holds the
// options that the command line gave a value.
std::optional<int> TakeSiteFile(Request& r, const std::function<bool(const char*)>& given) {
  const SiteConfig config = ReadSiteConfig(r.sitePath);
  if (!config.error.empty()) return Fail(kExitUsage, config.error);
  const std::map<std::string, std::pair<Setting*, const char*>> settings = {
      {"rate", {&r.rate, "--rate"}},          {"burst", {&r.burst, "--burst"}},
      {"timeout", {&r.timeout, "--timeout"}}, {"retries", {&r.retries, "--retries"}},
      {"max-addresses", {&r.maxAddresses, "--max-addresses"}}, {"interval", {&r.watch, "--watch"}}};
  for (const SiteSetting& s : config.settings) {
    if (s.name == "ranges") {
      if (r.ranges.empty()) r.siteRanges.push_back(s);
    } else if (const auto& [setting, option] = settings.at(s.name); !given(option)) {
      *setting = {s.value, s.where + ": " + s.name};
    }
  }
  if (r.siteRanges.empty() && r.ranges.empty())
    return Fail(kExitUsage, EscapeText(r.sitePath) + ": no ranges (a line such as \"ranges = 192.168.1.0/24\")");
  return std::nullopt;
}

// Reads the command line (and a site's file) into r; an exit status when the
// run ends here (help, version, bad usage).
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

// Checks the request's numbers and ranges, and merges the ranges, before
// anything touches the network; an exit status when they are bad.
std::optional<int> MakePlan(const Request& r, Plan& plan) {
  const auto rate = ReadOption<double>(r.rate, 1, kRateCeiling);
  const auto burst = ReadOption<std::int64_t>(r.burst, 1, kBurstCeiling);
  const auto timeoutMs = ReadOption<std::int64_t>(r.timeout, 1, kTimeoutCeiling);
  const auto retries = ReadOption<std::int64_t>(r.retries, 0, kRetriesCeiling);
  const auto maxAddresses = ReadOption<std::int64_t>(r.maxAddresses, 1, kMaxAddressesCeiling);
  std::optional<double> watchSeconds = kDefaultWatchSeconds;
  if (!r.watch.text.empty())
    watchSeconds = ReadOption<double>(r.watch, 1, kWatchCeiling,
                                      r.watch.label == "--watch" ? " seconds (a RANGE right after --watch is read as them)"
                                                                 : " seconds");
  if (!rate || !burst || !timeoutMs || !retries || !maxAddresses || !watchSeconds) return kExitUsage;
  if (r.watching && (r.csv || r.all))
    return Fail(kExitUsage, std::string(r.csv ? "--csv" : "--all") +
                                " does not go with --watch, which follows units (--json writes one object per change)");
  if (!r.metricsPath.empty() && !r.watching) return Fail(kExitUsage, "--metrics goes with --watch");
  if (!r.metricsPath.empty())
    if (const std::string problem = MetricsFolderProblem(r.metricsPath); !problem.empty())
      return Fail(kExitUsage, "--metrics: " + problem);
  plan.sweep.rate = *rate;
  plan.sweep.burst = *burst;
  plan.sweep.timeout = std::chrono::milliseconds(*timeoutMs);
  plan.sweep.retries = static_cast<int>(*retries);
  plan.interval = std::chrono::microseconds(static_cast<std::int64_t>(*watchSeconds * 1e6));

  std::vector<AddressRange> written;
  if (!r.ranges.empty()) {
    RangeParse parsed = ParseRanges(r.ranges);
    if (!parsed.error.empty()) return Fail(kExitUsage, parsed.error);
    written = std::move(parsed.ranges);
  } else if (!r.siteRanges.empty()) {
    for (const SiteSetting& line : r.siteRanges) {
      RangeParse parsed = ParseRanges({line.value});
      if (!parsed.error.empty()) return Fail(kExitUsage, line.where + ": " + parsed.error);
      written.insert(written.end(), parsed.ranges.begin(), parsed.ranges.end());
    }
  } else {
    SetIPInfoMessageSink([](const std::string& text) { std::cerr << "zn7qx-scan: " << text << '\n'; });
    const NumericAddress mask = GetLocalSubnetMask();
    const NumericAddress address = GetLocalIPAddress();
    if (address == 0) return Fail(kExitUsage, "no network interface with an IPv4 address was found; give a RANGE");
    written.push_back(SubnetRange(mask, address));
  }
  plan.merged = MergeRanges(written);
  plan.count = CountAddresses(plan.merged);
  if (plan.count < 1) return Fail(kExitUsage, "the ranges hold no address that can be probed");
  const bool fromSite = !r.siteRanges.empty();
  if (plan.count > *maxAddresses)
    return Fail(kExitUsage, (fromSite ? EscapeText(r.sitePath) + ": " : "") + "the ranges hold " +
                                std::to_string(plan.count) + " addresses, more than the limit of " +
                                std::to_string(*maxAddresses) + " (raise it with " +
                                (fromSite ? "max-addresses" : "--max-addresses") + ")");
  return std::nullopt;
}

// What the run writes besides its results: a line on standard error, which
// first clears the progress line where one is drawn.
struct Voice {
  bool progress = false;
  void Say(const std::string& message) const {
    std::cerr << (progress ? "\r\033[K" : "") << "zn7qx-scan: " << message << '\n' << std::flush;
  }
  void Clear() const {
    if (progress) std::cerr << "\r\033[K" << std::flush;
  }
};

// Fills in the hardware addresses of answers from the kernel's neighbour
// table; says once when it cannot be read, and goes on without.
SweepOptions::Hardware NeighbourLookUp(std::optional<linuxnet::NeighbourTable>& neighbours, const Voice& voice) {
  return [&neighbours, &voice](std::span<AddressResult> answers) {
    if (!neighbours) return;
    std::vector<std::uint32_t> addresses;
    std::vector<AddressResult*> answered;
    for (AddressResult& r : answers) {
      if (r.outcome == Outcome::Error) continue;
      addresses.push_back(static_cast<std::uint32_t>(NumericToNetwork(r.address)));
      answered.push_back(&r);
    }
    if (addresses.empty()) return;
    const auto found = neighbours->LookUp(addresses);
    if (!found) {
      voice.Say("cannot read the kernel's neighbour table (" + neighbours->error() + "): no hardware addresses");
      neighbours.reset();
      return;
    }
    for (std::size_t i = 0; i < answered.size(); ++i) answered[i]->mac = (*found)[i];
  };
}

// Sweeps again and again and writes what changed (and the metrics), until a
// signal or a failed write ends it.
int Watch(const Request& r, const Plan& plan, SocketTransport& transport, SweepOptions sweep, const Voice& voice) {
  sweep.progress = nullptr;
  WatchOptions watch;
  watch.interval = plan.interval;
  const Format format = r.json ? Format::Json : Format::Text;
  // In the journal each line carries its priority: a unit gone silent is a
  // warning, one moved or changed a notice.
  const bool journal = StandardOutputIsTheJournal();
  const auto writeChanges = [&](const std::vector<Change>& changes, std::int64_t number) {
    const std::string time = IsoTime(std::time(nullptr));
    errno = 0;
    for (const Change& c : changes) {
      if (journal) std::cout << '<' << JournalPriority(c.event) << '>';
      WriteChange(std::cout, c, format, time, number);
    }
    return WrittenOut();
  };
  std::optional<WatchMetrics> metrics;
  if (!r.metricsPath.empty()) metrics.emplace();
  watch.afterSweep = [&](const SweepDone& done) {
    if (!done.changes.empty()) {
      voice.Clear();
      if (!writeChanges(done.changes, done.number)) return false;
    }
    if (metrics) {
      metrics->Update(done, transport.Now(),
                      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
      if (const std::string problem = ReplaceFile(r.metricsPath, metrics->Text()); !problem.empty()) {
        voice.Say(problem);
        return false;
      }
    }
    if (voice.progress) std::cerr << "\r\033[K" << WatchStatusLine(done.number, done.state.Count()) << std::flush;
    return true;
  };
  watch.tooSlow = [&](std::chrono::microseconds took) {
    char text[200];
    std::snprintf(text, sizeof text, "a sweep of %lld addresses took %.1f s, longer than the %g s between sweeps: "
                  "the next ones follow at once", static_cast<long long>(plan.count),
                  static_cast<double>(took.count()) / 1e6, static_cast<double>(plan.interval.count()) / 1e6);
    voice.Say(text);
  };
  std::int64_t sweeps = 0;
  const WatchState state = RunWatch(plan.merged, transport, sweep, watch, &sweeps);
  voice.Clear();
  // The units present, unless the output already failed.
  if (WrittenOut()) (void)writeChanges(state.Present(), sweeps);
  if (!r.quiet)
    std::cerr << "Watch ended after " << sweeps << " sweep(s): " << state.Count() << " ZN7QX unit(s) present.\n";
  return kExitWriteFailed;  // a watch ends by a signal, or when it cannot write
}

// One sweep, its results written in the format asked for.
int SweepOnce(const Request& r, const Plan& plan, SocketTransport& transport, const SweepOptions& sweep,
              const Voice& voice) {
  const SweepResult result = RunSweep(plan.merged, transport, sweep);
  voice.Clear();
  OutputOptions output;
  output.all = r.all;
  output.mac = r.mac || r.all;  // a full listing names what answered
  output.format = r.json ? Format::Json : r.csv ? Format::Csv : Format::Text;
  errno = 0;
  WriteResults(std::cout, result, plan.merged, output);
  const bool wroteAll = WrittenOut();
  if (!r.quiet) std::cerr << SummaryLine(result.counts) << '\n';
  if (!wroteAll) return kExitWriteFailed;
  return result.counts.units > 0 ? kExitUnits : kExitNoUnits;
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing runs set-ID, not even the argument parser; the capabilities are
  // dropped below, once the socket is set up.
  linuxnet::RefuseSetIdStart("zn7qx-scan", kExitNotPermitted);
  Request request;
  if (const auto status = ParseCommandLine(argc, argv, request)) return *status;
  Plan plan;
  if (const auto status = MakePlan(request, plan)) return *status;

  linuxnet::EchoSocket socket = linuxnet::EchoSocket::Open();
  if (!socket) {
    std::cerr << "zn7qx-scan: ICMP echo is not permitted to this process.\n" << EchoPermissionAdvice() << '\n';
    return kExitNotPermitted;
  }
  EnlargeSocketBuffers(socket.fd());
  // The socket is open: nothing further needs any privilege.
  linuxnet::EnforceLeastPrivilege("zn7qx-scan", kExitNotPermitted);
  const StopSignals signals;

  const Voice voice{!request.quiet && TerminalDrawsProgress()};
  SweepOptions sweep = plan.sweep;
  sweep.stop = &signals.stop();
  if (voice.progress) sweep.progress = [](const SweepCounts& c) { std::cerr << "\r\033[K" << ProgressLine(c) << std::flush; };
  // Hardware addresses only where they are written.
  std::optional<linuxnet::NeighbourTable> neighbours;
  if (request.mac || request.all || request.json || request.csv || request.watching) neighbours.emplace();
  sweep.hardware = NeighbourLookUp(neighbours, voice);
  SocketTransport transport(std::move(socket), &signals.waitMask());

  const int status = request.watching ? Watch(request, plan, transport, sweep, voice)
                                      : SweepOnce(request, plan, transport, sweep, voice);
  // After the output, a signal that came ends the program as its own would.
  signals.DieIfReceived();
  return status;
}
