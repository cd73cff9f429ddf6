// zn7qx-scan: finds ZN7QX units in one fast sweep of ICMP echo requests.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "net/ICMPPing.h"
#include "net/linux/EchoSocket.h"
#include "net/linux/Privilege.h"
#include "net/mdlGetIPInfo.h"
#include "tools/zn7qx-scan/ScanOutput.h"
#include "tools/zn7qx-scan/ScanRange.h"
#include "tools/zn7qx-scan/SocketTransport.h"
#include "tools/zn7qx-scan/Sweep.h"

namespace {

using namespace zn7qx;
using namespace zn7qx::scan;

constexpr int kExitUnits = 0;
constexpr int kExitNoUnits = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotPermitted = 3;
constexpr int kExitInterrupted = 130;

constexpr double kRateCeiling = 100000;
constexpr std::int64_t kBurstCeiling = 4096;
constexpr std::int64_t kDefaultMaxAddresses = 65536;
constexpr std::int64_t kMaxAddressesCeiling = 16777216;

std::atomic<bool> g_stop{false};
extern "C" void OnSignal(int) { g_stop.store(true); }

const char* const kDescription =
    "zn7qx-scan - find Morvalent ZN7QX units on an IPv4 network in one fast sweep\n"
    "\n"
    "Sends one ICMP echo request carrying the ZN7QX discovery text to every address of\n"
    "the given ranges and lists the units that answer, as the window does, but with\n"
    "many requests in flight at once. A unit answers \"Found.\" followed by its own text;\n"
    "any other host echoes the request; silent addresses are skipped. Each address is\n"
    "given its time-out from its own request, and the sweep ends as soon as every\n"
    "address has answered or timed out.\n"
    "\n"
    "With no RANGE, the sweep covers the subnet of the first network interface that has\n"
    "an IPv4 address, network and broadcast addresses included, exactly the range the\n"
    "window's \"Default Range\" proposes.\n";

std::string Footer() {
  return "RANGES\n"
         "  A.B.C.D            one address\n"
         "  A.B.C.D-E.F.G.H    every address from the first to the second, both included\n"
         "  A.B.C.D/N          the block of 2^(32-N) addresses holding A.B.C.D\n"
         "  Several ranges may be given, as separate arguments or joined by commas; an\n"
         "  address in more than one is probed once. Addresses are read by the same parser\n"
         "  as the window's address boxes, so its short forms (10.1 for 10.0.0.1) work too.\n"
         "  0.0.0.0 and 255.255.255.255 are refused as written addresses and never probed.\n"
         "\n"
         "OUTPUT\n"
         "  Standard output carries the results, in address order:\n"
         "    A.B.C.D: text            a unit and its text (the window's form)\n"
         "    A.B.C.D host             another answering host (--all)\n"
         "    A.B.C.D error: reason    an ICMP error about that address (--all)\n"
         "  Bytes of a unit's text that are not printable ASCII are shown as \\xNN, and a\n"
         "  backslash as \\\\. --csv writes the columns address,kind,text,status,\n"
         "  status_text,rtt_ms; --json writes {\"ranges\",\"results\",\"summary\"}, the text's\n"
         "  bytes read as ISO 8859-1. Standard error carries a progress line (only on a\n"
         "  terminal) and a one-line summary, so that standard output stays clean.\n"
         "\n"
         "LIMITS\n"
         "  At most " + std::to_string(kDefaultMaxAddresses) +
         " addresses per run unless --max-addresses allows more (up to\n"
         "  " + std::to_string(kMaxAddressesCeiling) +
         "). Requests go out at a steady pace, at most " + std::to_string(static_cast<int>(kRateCeiling)) +
         " per second\n"
         "  (default " + std::to_string(static_cast<int>(kDefaultRate)) + "), after a first burst of up to " +
         std::to_string(kBurstCeiling) + " (default " + std::to_string(kDefaultBurst) + ", the size of\n"
         "  the window's largest scan): a /23 takes about the time-out, a /16 about 3.6 s.\n"
         "  Lower --rate and --burst on slow or shared links.\n"
         "\n"
         "EXIT STATUS\n"
         "  0  one or more units found\n"
         "  1  no unit found\n"
         "  2  bad usage: unknown option, bad value, bad range, too many addresses, or no\n"
         "     local subnet to default to\n"
         "  3  ICMP echo is not permitted to this process\n"
         "  130 interrupted (the results so far are still printed)\n"
         "\n"
         "PRIVILEGES\n"
         "  No root needed where the kernel allows ICMP datagram (\"ping\") sockets to the\n"
         "  user's group: net.ipv4.ping_group_range, as on most desktops. Otherwise give\n"
         "  the program CAP_NET_RAW: sudo setcap cap_net_raw+ep \"$(command -v zn7qx-scan)\".\n"
         "  It keeps only that capability, and only when the ping socket is not allowed.\n"
         "  There is no need to run it as root.\n"
         "\n"
         "EXAMPLES\n"
         "  zn7qx-scan                              the local subnet\n"
         "  zn7qx-scan 192.168.1.0/24               one /24\n"
         "  zn7qx-scan 10.0.0.1-10.0.3.254 --all    a range, with other hosts and errors\n"
         "  zn7qx-scan 10.1.0.0/16 --json > units.json\n"
         "  zn7qx-scan 172.16.5.4,172.16.9.0/28 --csv --rate 2000\n";
}

int Fail(int status, const std::string& message) {
  std::cerr << "zn7qx-scan: " << message << '\n';
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing runs set-ID, not even the argument parser; the capabilities are
  // dropped below, once the socket is set up.
  linuxnet::RefuseSetIdStart("zn7qx-scan", kExitNotPermitted);

  CLI::App app(kDescription, "zn7qx-scan");
  app.footer(Footer());
  app.get_formatter()->column_width(30);

  std::vector<std::string> rangeArguments;
  double rate = kDefaultRate;
  int timeoutMs = PingTimeoutMs;
  int retries = 0;
  std::int64_t burst = kDefaultBurst;
  std::int64_t maxAddresses = kDefaultMaxAddresses;
  bool all = false, csv = false, json = false, quiet = false;

  app.add_option("RANGE", rangeArguments, "Addresses to sweep (see RANGES); default: the local subnet");
  app.add_option("-r,--rate", rate, "Requests per second, at a steady pace (1 to " + std::to_string(static_cast<int>(kRateCeiling)) + ")")
      ->default_val(kDefaultRate)
      ->type_name("N")
      ->check(CLI::Range(1.0, kRateCeiling).description(""));
  app.add_option("--burst", burst, "Requests sent at once at the start, before the steady pace (1 to " +
                                       std::to_string(kBurstCeiling) + ")")
      ->default_val(kDefaultBurst)
      ->type_name("N")
      ->check(CLI::Range(std::int64_t{1}, kBurstCeiling).description(""));
  app.add_option("-t,--timeout", timeoutMs, "Milliseconds to wait for each address, from its own request (1 to 60000)")
      ->default_val(PingTimeoutMs)
      ->type_name("MS")
      ->check(CLI::Range(1, 60000).description(""));
  app.add_option("--retries", retries, "Requests sent again to addresses that timed out (0 to 10)")
      ->default_val(0)
      ->type_name("N")
      ->check(CLI::Range(0, 10).description(""));
  app.add_option("--max-addresses", maxAddresses, "Refuse to sweep more addresses than this (up to " + std::to_string(kMaxAddressesCeiling) + ")")
      ->default_val(kDefaultMaxAddresses)
      ->type_name("N")
      ->check(CLI::Range(std::int64_t{1}, kMaxAddressesCeiling).description(""));
  app.add_flag("-a,--all", all, "Also list other answering hosts and errors");
  auto* csvFlag = app.add_flag("--csv", csv, "Write CSV (with a header line)");
  app.add_flag("--json", json, "Write one JSON document")->excludes(csvFlag);
  app.add_flag("-q,--quiet", quiet, "No progress line and no summary on standard error");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    return Fail(kExitUsage, std::string(e.what()) + " (see --help)");
  }
  // The range check lets NaN through (every comparison with it is false).
  if (!std::isfinite(rate)) return Fail(kExitUsage, "--rate: not a number of requests per second (see --help)");

  // Ranges first: bad usage is reported before anything touches the network.
  std::vector<AddressRange> written;
  if (!rangeArguments.empty()) {
    RangeParse parsed = ParseRanges(rangeArguments);
    if (!parsed.error.empty()) return Fail(kExitUsage, parsed.error);
    written = std::move(parsed.ranges);
  } else {
    SetIPInfoMessageSink([](const std::string& text) { std::cerr << "zn7qx-scan: " << text << '\n'; });
    const NumericAddress mask = GetLocalSubnetMask();
    const NumericAddress address = GetLocalIPAddress();
    if (address == 0)
      return Fail(kExitUsage, "no network interface with an IPv4 address was found; give a RANGE");
    written.push_back(SubnetRange(mask, address));
  }
  const std::vector<AddressRange> merged = MergeRanges(written);
  const std::int64_t count = CountAddresses(merged);
  if (count < 1) return Fail(kExitUsage, "the ranges hold no address that can be probed");
  if (count > maxAddresses)
    return Fail(kExitUsage, "the ranges hold " + std::to_string(count) + " addresses, more than the limit of " +
                                std::to_string(maxAddresses) + " (raise it with --max-addresses)");

  linuxnet::EchoSocket socket = linuxnet::EchoSocket::Open();
  if (!socket) {
    std::cerr << "zn7qx-scan: ICMP echo is not permitted to this process.\n" << EchoPermissionAdvice() << '\n';
    return kExitNotPermitted;
  }
  EnlargeSocketBuffers(socket.fd());
  // The socket is open: nothing further needs any privilege.
  linuxnet::EnforceLeastPrivilege("zn7qx-scan", kExitNotPermitted);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  const bool showProgress = !quiet && isatty(STDERR_FILENO) == 1;
  SweepOptions options;
  options.rate = rate;
  options.burst = burst;
  options.timeout = std::chrono::milliseconds(timeoutMs);
  options.retries = retries;
  options.stop = &g_stop;
  if (showProgress) {
    options.progress = [](const SweepCounts& c) { std::cerr << "\r\033[K" << ProgressLine(c) << std::flush; };
  }

  SocketTransport transport(std::move(socket));
  const SweepResult result = RunSweep(merged, transport, options);
  if (showProgress) std::cerr << "\r\033[K" << std::flush;

  OutputOptions output;
  output.all = all;
  output.format = json ? Format::Json : csv ? Format::Csv : Format::Text;
  WriteResults(std::cout, result, merged, output);
  if (!quiet) std::cerr << SummaryLine(result.counts) << '\n';

  if (result.counts.interrupted) return kExitInterrupted;
  return result.counts.units > 0 ? kExitUnits : kExitNoUnits;
}
