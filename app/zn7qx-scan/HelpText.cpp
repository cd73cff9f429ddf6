#include "app/zn7qx-scan/HelpText.h"

#include <cstddef>
#include <string>

#include "app/zn7qx-scan/Request.h"
#include "scan/Sweep.h"

namespace zn7qx::cli {

using namespace zn7qx::scan;

namespace {

// Where a description wraps, the options' text continues in this column.
constexpr std::size_t kOptionColumn = 25;

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
         "  host on the local link is the one its answer came from where the sweep\n"
         "  resolves the link itself, else the one the kernel's neighbour table holds\n"
         "  for it right after its answer, on the link the route to it uses; there is\n"
         "  none (\"-\" in text, empty in CSV, null in JSON) for errors, addresses\n"
         "  behind a router and the machine's own. The CSV column and JSON field are\n"
         "  mac. Standard error carries a progress line (only on a terminal) and a\n"
         "  summary line, so that standard output stays clean.\n"
         "\n"
         "Watch:\n"
         "  With --watch the sweep starts again every SECONDS and writes only what\n"
         "  changed among the units, one line each with the time: appeared (also a\n"
         "  unit back after it went silent), silent (after two sweeps in a row\n"
         "  without an answer), changed (its text) and moved (its hardware address\n"
         "  at a new address). Another unit at a known unit's address appears, and\n"
         "  the one it replaced goes silent. An answer without a hardware address,\n"
         "  where others have one, is told a sweep later, once the next sweep has\n"
         "  had the chance to read it. With --json each is one JSON object on a line\n"
         "  of its own.\n"
         "  On a terminal a status line shows the sweeps and the units present.\n"
         "  Ctrl-C or SIGTERM ends it with a \"present\" line for each unit. A sweep\n"
         "  that takes longer than SECONDS is said once and followed at once; sweeps\n"
         "  never overlap. Run as a systemd service, with standard output in the\n"
         "  journal, each line starts with its priority: <4> (warning) for a unit gone\n"
         "  silent, <5> (notice) moved or changed, <6> (info) appeared or present.\n"
         "\n"
         "  --metrics FILE replaces FILE after every sweep, atomically, with the units\n"
         "  in the textfile format of Prometheus's node_exporter: zn7qx_unit_up for\n"
         "  each unit (label unit, its hardware address when first heard, else its\n"
         "  address; 1 while present, 0 for an hour after it went silent),\n"
         "  zn7qx_unit_info (labels unit, address, mac, text, as last heard),\n"
         "  zn7qx_units_present, zn7qx_sweep_duration_seconds,\n"
         "  zn7qx_sweep_answers_total by kind and zn7qx_last_sweep_timestamp_seconds.\n"
         "  With --config, every series has the label site, the site file's name\n"
         "  without its folder and \".conf\", so that several sites' watches can share\n"
         "  one node_exporter. A FILE that cannot be written ends the watch.\n"
         "\n"
         "  --state FILE keeps the units in FILE, replaced atomically after each sweep\n"
         "  that changed them, so that a watch started again (a restart, a reboot)\n"
         "  tells a unit that went silent meanwhile. A FILE missing, damaged or of\n"
         "  another version is said once, and the watch starts afresh.\n"
         "\n"
         "  What a watch costs the network: one request per address and sweep, so\n"
         "  N addresses every SECONDS are N/SECONDS requests a second on average (a\n"
         "  /24 every 5 s: 51 a second), each sweep sent at --rate, plus on the local\n"
         "  link its ARP broadcasts (see On the local link).\n"
         "\n"
         "On the local link:\n"
         "  An address on the machine's own link is first resolved (ARP): a broadcast\n"
         "  that every device there takes in. With CAP_NET_RAW the sweep asks itself\n"
         "  on a packet socket: one ARP request per address, counted in --rate and\n"
         "  --burst, one more for a silent one only with --retries, and the echo\n"
         "  request only to the hosts that answered; the summary and JSON say how\n"
         "  many ARP requests went out. Without it the kernel asks, up to 3 times\n"
         "  for each silent address, and each address takes an entry of the kernel's\n"
         "  neighbour table, which the whole machine shares (1024 by default): the\n"
         "  sweep then keeps no more than a quarter of it waiting and the table under\n"
         "  three eighths full, so that other programs can still reach new\n"
         "  addresses. That holds it to 20 to 30 addresses a second: a /22 takes\n"
         "  about half a minute, a /16 most of an hour, as the sweep says at start.\n"
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
         "  about 33 s. The default spares a link shared with small units: 2000\n"
         "  ARP broadcasts a second are an eighth of a 10 Mbit/s link; on a routed\n"
         "  range or a fast link --rate 20000 sweeps a /16 in under 4 s.\n"
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
         "  5    the link went away mid-sweep: the results so far are written\n"
         "  130  interrupted by SIGINT (Ctrl-C): the results so far are still written,\n"
         "       then it dies by the signal, so that a script that ran it stops too\n"
         "  143  ended by SIGTERM, the same way\n"
         "  A watch ends only so, or with 4 or 5.\n"
         "\n"
         "Privileges:\n"
         "  No root is needed where the kernel allows ICMP datagram (\"ping\") sockets\n"
         "  to the user's group: net.ipv4.ping_group_range, as on most desktops.\n"
         "  Elsewhere give the program CAP_NET_RAW:\n"
         "    sudo setcap cap_net_raw+ep /usr/bin/zn7qx-scan\n"
         "  It keeps only that capability, and only when the ping socket is not allowed;\n"
         "  it refuses to run set-user-ID or set-group-ID. There is no need to run it as\n"
         "  root. The capability also lets it resolve the local link itself (see On\n"
         "  the local link), which makes a large on-link range as fast as --rate.\n"
         "\n"
         "Examples:\n"
         "  zn7qx-scan                              the local subnet\n"
         "  zn7qx-scan 192.168.1.0/24               one /24\n"
         "  zn7qx-scan 10.0.0.1-10.0.3.254 --all    a range, with other hosts and errors\n"
         "  zn7qx-scan 10.1.0.0/16 --json > units.json\n"
         "                                          a /16, as JSON into a file\n"
         "  zn7qx-scan 172.16.5.4,172.16.9.0/28 --csv --rate 2000\n"
         "                                          two ranges, as CSV, at a gentler pace\n"
         "  zn7qx-scan 192.168.1.0/24 --mac         units with their hardware addresses\n"
         "  zn7qx-scan 192.168.1.0/24 --watch 10    units coming and going, every 10 s\n";
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

}  // namespace

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

// The usage line first, as the platform's programs write it.
std::string HelpText(const CLI::App& app) {
  return "Usage: zn7qx-scan [OPTION]... [RANGE]...\n" + std::string(kDescription) + "\nOptions:\n" +
         OptionLines(app) + "\n" + Footer();
}

}  // namespace zn7qx::cli
