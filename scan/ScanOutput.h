#pragma once
// What the sweep prints: lines for people (the window's form), CSV and JSON
// for programs, a progress line and a summary for the terminal.

#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "scan/ScanRange.h"
#include "scan/Sweep.h"
#include "scan/Watch.h"

namespace zn7qx::scan {

enum class Format { Text, Csv, Json };

struct OutputOptions {
  Format format = Format::Text;
  bool all = false;  // other hosts and errors as well as units
  bool mac = false;  // text: the hardware address in a column of its own
};

// Units as "A.B.C.D: text"; with all, other hosts as "A.B.C.D host" and
// errors as "A.B.C.D error: <status text>". Address order. With mac, each
// line starts with the hardware address, or "-" padded to its width. CSV
// has the columns address,kind,text,status,icmp_type,icmp_code,error,rtt_ms,
// mac and ends its lines with LF; JSON gives the same fields, those of
// errors only for errors, and "mac" null where there is none.
void WriteResults(std::ostream& out, const SweepResult& result,
                  const std::vector<AddressRange>& ranges, const OutputOptions& options);

std::string RangeText(const AddressRange& range);

// An error in Linux's words: an ICMP message as ping (iputils) prints it
// ("Destination Host Unreachable", "Time to live exceeded"), a local failure
// as strerror gives its errno ("Network is unreachable"). When neither is
// known, the status number's text. Empty for replies.
std::string ErrorWords(const AddressResult& result);

// "Completed scanning. 2 ZN7QX unit(s) found. 512 addresses: ..." (or the
// window's cancel wording when the sweep was interrupted).
std::string SummaryLine(const SweepCounts& counts);

std::string ProgressLine(const SweepCounts& counts);

// One line of a watch: text for people, or a JSON object (JSON Lines).
// time is ISO 8601 with the zone's offset.
void WriteChange(std::ostream& out, const Change& change, Format format, const std::string& time,
                 std::int64_t sweep);
std::string IsoTime(std::time_t when);
// The priority of a change in the system journal (kernel-log levels): a unit
// gone silent 4 (warning), moved or changed 5 (notice), else 6 (info).
int JournalPriority(Event event);
// "Sweep 12: 5 ZN7QX unit(s) present."
std::string WatchStatusLine(std::int64_t sweeps, std::size_t units);

}  // namespace zn7qx::scan
