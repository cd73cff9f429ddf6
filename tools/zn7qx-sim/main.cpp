// zn7qx-sim: a simulated network of ZN7QX units and ordinary hosts.

#include <CLI/CLI.hpp>
#include <iostream>

#include "NamespaceCheck.h"
#include "SimConfig.h"
#include "Simulator.h"

namespace {

constexpr const char* Description = R"(zn7qx-sim answers ICMP echo requests as a whole network would: some
addresses as ZN7QX units (reply data "Found." followed by the unit's text),
some as ordinary hosts (the request's data echoed), some late, twice, with an
ICMP error, or with exactly given bytes; every other address stays silent.
It serves one link (--link) at layer 2: each host it simulates answers
address resolution (ARP) with a hardware address of its own and takes the
frames sent to it there, the router (--router or "router") takes those for
the ranges behind it, and answers go back from the hardware address the
request was sent to. What it answers may change while it runs.

It runs only inside an isolated network namespace (loopback and veth links,
no default route) and refuses to start anywhere else. The usual way to run it
is through the test harness, which builds the namespaces, hands it the veth
and routes the ranges behind the router to it:

  tools/zn7qx-sim/with-sim-network.sh --config site.json -- COMMAND...

Configuration (JSON):
  {"router": "198.18.0.254",
   "replies": [
     {"address": "198.18.0.10", "as": "unit", "text": "Unit-7"},
     {"range": "198.18.0.20-198.18.0.29", "as": "host"},
     {"range": "198.19.0.0/16", "as": "host"},
     {"address": "198.18.0.30", "as": "late", "delay_ms": 450},
     {"address": "198.18.0.31", "as": "duplicate", "count": 3},
     {"address": "198.18.0.32", "as": "error", "icmp_type": 3, "icmp_code": 1},
     {"address": "198.18.0.33", "as": "data", "data_hex": "466f756e642e00ff"}],
   "flood": {"count": 20000, "rate": 5000}}
  A single address wins over a range; among ranges the later entry wins.
  Any answering entry also takes: delay_ms, count, interval_ms, source (answer
  from another address), ttl, bad_checksum, wrong_identifier, wrong_sequence
  (true, or an offset), truncate_to (ICMP message bytes, header included; the
  checksum covers what is left unless bad_checksum; Linux drops anything under
  8 bytes before a socket sees it), mac (the host's hardware address;
  default 02:5a and the address's four bytes, a range's addresses each their
  own unless given), after_ms and until_ms (the entry is in force only from
  and until so long after the first echo request; later entries for the address
  win while in force, so a unit can appear, vanish, change its text or move
  with its mac to another address), every_ms (that window again and again).
  Errors take from (the sending router; default: "router", else the target),
  error_word, quote_bytes (default 8).
  flood: count (required, at most 10000000), rate (per second, at most
  1000000), start_after_ms, stale_after_ms, seed, to, kinds (forged_reply,
  stale_reply, bad_checksum, truncated, malformed, foreign_error). It starts
  with the first echo request and is sent to its sender, from the router.

Output: a ready line on standard output once listening (and --ready-file),
then on exit (SIGTERM, SIGINT, SIGHUP or --max-seconds) the counters.
Exit status: 0 after a normal stop, 1 on a failure to start, 2 for bad usage
or configuration, 3 when the namespace is not isolated.)";

}  // namespace

int main(int argc, char** argv) {
  using namespace zn7qx::sim;
  CLI::App app{Description, "zn7qx-sim"};
  app.formatter(std::make_shared<CLI::Formatter>());
  app.get_formatter()->column_width(30);

  std::vector<std::string> configPaths;
  SimOptions options;
  IsolationRules probeSide;
  std::vector<std::string> exclude;
  std::string router;
  bool checkOnly = false;
  bool noSysctl = false;
  app.add_option("-c,--config", configPaths,
                 "simulator configuration (JSON); repeatable, each file laid over the ones before it (its "
                 "replies added, its router and flood taking over); without one every address is silent");
  app.add_option("--link", options.link, "the interface to serve (a veth of this namespace)");
  app.add_option("--max-seconds", options.maxSeconds, "stop by itself after this long (default 600)")
      ->check(CLI::Range(0.1, 86400.0));
  app.add_option("--ready-file", options.readyFile, "write the pid to this file once listening");
  app.add_option("--exclude", exclude, "never answer for this address (the prober's own); repeatable");
  app.add_option("--router", router, "source of ICMP errors that name no \"from\" (unless the config has \"router\")");
  app.add_flag("--check-isolation", checkOnly, "only say whether this namespace is isolated (exit 0 or 3)");
  app.add_option("--probe-link", probeSide.probeLink,
                 "with --check-isolation: the probe side, whose only link besides loopback is this veth");
  app.add_option("--ranges", probeSide.ranges,
                 "with --check-isolation: space-separated CIDRs every IPv4 route must stay inside");
  app.add_flag("--no-sysctl", noSysctl,
               "do not set the link's arp_ignore to 8 (refuse instead when it is not)");
  CLI11_PARSE(app, argc, argv);
  options.setSysctl = !noSysctl;

  // Before anything else: nothing is opened or changed outside a test namespace.
  if (auto problems = IsolationProblemsHere(checkOnly ? probeSide : IsolationRules{}); !problems.empty()) {
    std::cerr << "zn7qx-sim: refusing to run: this network namespace is not isolated:\n";
    for (const auto& p : problems) std::cerr << "  - " << p << "\n";
    std::cerr << "Run it inside a network namespace whose only links are loopback and veth pairs, "
                 "e.g. through tools/zn7qx-sim/with-sim-network.sh.\n";
    return 3;
  }
  if (checkOnly) {
    std::cout << "zn7qx-sim: this network namespace is isolated\n";
    return 0;
  }

  if (options.link.empty()) {
    std::cerr << "zn7qx-sim: --link names the interface to serve\n";
    return 2;
  }
  SimConfig config;
  try {
    config = SimConfig::FromFiles(configPaths);
    for (const std::string& e : exclude) {
      auto a = ParseIp4(e);
      if (!a) throw ConfigError("--exclude: not an IPv4 address: " + e);
      options.exclude.insert(*a);
    }
    if (!router.empty() && !config.Router()) {
      auto a = ParseIp4(router);
      if (!a) throw ConfigError("--router: not an IPv4 address: " + router);
      config.SetDefaultErrorSource(*a);
    }
  } catch (const ConfigError& e) {
    std::cerr << "zn7qx-sim: " << e.what() << "\n";
    return 2;
  }
  Simulator sim(std::move(config), std::move(options));
  return sim.Run(std::cout, std::cerr);
}
