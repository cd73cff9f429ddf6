#include "scan/ScanOutput.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "net/ICMPPing.h"
#include "net/linux/IcmpPacket.h"
#include "scan/SafeText.h"

namespace zn7qx::scan {
namespace {

std::string Dotted(NumericAddress address) { return NetworkToDotted(NumericToNetwork(address)); }

bool Shown(const AddressResult& r, const OutputOptions& options) {
  return options.all || r.outcome == Outcome::Unit;
}

const char* KindName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Unit: return "unit";
    case Outcome::Host: return "host";
    case Outcome::Error: return "error";
  }
  return "error";
}

std::string Milliseconds(std::uint32_t micros) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", micros / 1000.0);
  return text;
}

std::string IcmpWords(std::uint8_t type, std::uint8_t code) {
  static constexpr const char* kUnreachable[] = {
      "Destination Net Unreachable",
      "Destination Host Unreachable",
      "Destination Protocol Unreachable",
      "Destination Port Unreachable",
      "Frag needed and DF set",
      "Source Route Failed",
      "Destination Net Unknown",
      "Destination Host Unknown",
      "Source Host Isolated",
      "Destination Net Prohibited",
      "Destination Host Prohibited",
      "Destination Net Unreachable for Type of Service",
      "Destination Host Unreachable for Type of Service",
      "Packet filtered",
      "Precedence Violation",
      "Precedence Cutoff",
  };
  switch (type) {
    case linuxnet::IcmpDestUnreachableType:
      if (code < std::size(kUnreachable)) return kUnreachable[code];
      return "Dest Unreachable, Bad Code: " + std::to_string(code);
    case linuxnet::IcmpSourceQuenchType: return "Source Quench";
    case linuxnet::IcmpTimeExceededType:
      if (code == 0) return "Time to live exceeded";
      if (code == 1) return "Frag reassembly time exceeded";
      return "Time exceeded, Bad Code: " + std::to_string(code);
    case linuxnet::IcmpParameterProblemType: return "Parameter problem";
    default: return "Bad ICMP type: " + std::to_string(type);
  }
}

std::string OptionalNumber(const AddressResult& r, std::uint8_t value) {
  return r.origin == ErrorOrigin::Icmp ? std::to_string(value) : std::string();
}

// RFC 4180: quote when needed, double the quotes.
std::string CsvField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The width of "aa:bb:cc:dd:ee:ff", so that the column lines up.
constexpr int kMacWidth = 17;

std::string MacColumn(const std::string& mac) {
  std::string column = mac.empty() ? "-" : mac;
  if (column.size() < kMacWidth) column.resize(kMacWidth, ' ');
  return column + " ";
}

void WriteText(std::ostream& out, const SweepResult& result, const OutputOptions& options) {
  for (const AddressResult& r : result.answered) {
    if (!Shown(r, options)) continue;
    if (options.mac) out << MacColumn(r.mac);
    switch (r.outcome) {
      case Outcome::Unit: out << Dotted(r.address) << ": " << EscapeText(r.unitText) << '\n'; break;
      case Outcome::Host: out << Dotted(r.address) << " host\n"; break;
      case Outcome::Error: out << Dotted(r.address) << " error: " << GetStatusText(r.status) << '\n'; break;
    }
  }
}

void WriteCsv(std::ostream& out, const SweepResult& result, const OutputOptions& options) {
  out << "address,kind,text,status,icmp_type,icmp_code,error,rtt_ms,mac\n";
  for (const AddressResult& r : result.answered) {
    if (!Shown(r, options)) continue;
    out << Dotted(r.address) << ',' << KindName(r.outcome) << ','
        << CsvField(r.outcome == Outcome::Unit ? EscapeText(r.unitText) : std::string()) << ','
        << r.status << ',' << OptionalNumber(r, r.icmpType) << ',' << OptionalNumber(r, r.icmpCode) << ','
        << CsvField(ErrorWords(r)) << ',' << Milliseconds(r.roundTripMicros) << ',' << r.mac << '\n';
  }
}

void WriteJson(std::ostream& out, const SweepResult& result, const std::vector<AddressRange>& ranges,
               const OutputOptions& options) {
  nlohmann::ordered_json doc;
  doc["ranges"] = nlohmann::json::array();
  for (const AddressRange& r : ranges) doc["ranges"].push_back(RangeText(r));
  nlohmann::ordered_json& list = doc["results"] = nlohmann::json::array();
  for (const AddressResult& r : result.answered) {
    if (!Shown(r, options)) continue;
    nlohmann::ordered_json item;
    item["address"] = Dotted(r.address);
    item["kind"] = KindName(r.outcome);
    if (r.outcome == Outcome::Unit) item["text"] = Latin1ToUtf8(r.unitText);
    item["status"] = r.status;
    if (r.outcome == Outcome::Error) {
      if (r.origin == ErrorOrigin::Icmp) {
        item["icmp_type"] = r.icmpType;
        item["icmp_code"] = r.icmpCode;
      }
      item["error"] = ErrorWords(r);
    }
    item["rtt_ms"] = r.roundTripMicros / 1000.0;
    item["mac"] = r.mac.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(r.mac);
    list.push_back(std::move(item));
  }
  const SweepCounts& c = result.counts;
  doc["summary"] = {{"addresses", c.addresses}, {"sent", c.sent},     {"units", c.units},
                    {"hosts", c.hosts},         {"errors", c.errors}, {"silent", c.silent},
                    {"ignored", c.ignored},     {"elapsed_ms", c.elapsed.count() / 1000.0},
                    {"interrupted", c.interrupted},
                    {"arp_requests", c.arpSent >= 0 ? nlohmann::ordered_json(c.arpSent) : nlohmann::ordered_json()},
                    {"deferred", c.deferred}};
  out << EscapeJsonControls(doc.dump(2)) << '\n';
}

}  // namespace

std::string ErrorWords(const AddressResult& r) {
  if (r.outcome != Outcome::Error) return {};
  switch (r.origin) {
    case ErrorOrigin::Icmp: return IcmpWords(r.icmpType, r.icmpCode);
    case ErrorOrigin::Local: return std::strerror(r.errorNumber);
    case ErrorOrigin::None:
    case ErrorOrigin::Unknown: break;
  }
  return GetStatusText(r.status);
}

std::string RangeText(const AddressRange& range) {
  if (range.first == range.last) return Dotted(range.first);
  return Dotted(range.first) + "-" + Dotted(range.last);
}

void WriteResults(std::ostream& out, const SweepResult& result, const std::vector<AddressRange>& ranges,
                  const OutputOptions& options) {
  switch (options.format) {
    case Format::Text: WriteText(out, result, options); break;
    case Format::Csv: WriteCsv(out, result, options); break;
    case Format::Json: WriteJson(out, result, ranges, options); break;
  }
  out.flush();
}

std::string SummaryLine(const SweepCounts& c) {
  std::string line;
  if (c.interrupted) {
    line = "Scan canceled. Found " + std::to_string(c.units) + " ZN7QX unit(s).";
  } else if (c.units > 0) {
    line = "Completed scanning. " + std::to_string(c.units) + " ZN7QX unit(s) found.";
  } else {
    line = "Completed scanning. No ZN7QX units found.";
  }
  char tail[160];
  std::snprintf(tail, sizeof tail, " %lld addresses: %lld other hosts, %lld errors, %lld silent; %.3f s.",
                static_cast<long long>(c.addresses), static_cast<long long>(c.hosts),
                static_cast<long long>(c.errors), static_cast<long long>(c.silent),
                static_cast<double>(c.elapsed.count()) / 1e6);
  line += tail;
  if (c.arpSent >= 0) line.insert(line.size() - 1, "; " + std::to_string(c.arpSent) + " ARP requests");
  return line;
}

std::string ProgressLine(const SweepCounts& c) {
  char text[160];
  std::snprintf(text, sizeof text, "%lld requests sent for %lld addresses; %lld unit(s), %lld other host(s), %lld error(s)",
                static_cast<long long>(c.sent), static_cast<long long>(c.addresses),
                static_cast<long long>(c.units), static_cast<long long>(c.hosts),
                static_cast<long long>(c.errors));
  return text;
}

void WriteChange(std::ostream& out, const Change& c, Format format, const std::string& time, std::int64_t sweep) {
  if (format == Format::Json) {
    nlohmann::ordered_json line;
    line["time"] = time;
    line["sweep"] = sweep;
    line["event"] = EventName(c.event);
    line["address"] = Dotted(c.address);
    if (c.event == Event::Moved) line["from"] = Dotted(c.from);
    line["text"] = Latin1ToUtf8(c.text);
    line["mac"] = c.mac.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(c.mac);
    if (c.event == Event::Changed && c.oldText != c.text) line["old_text"] = Latin1ToUtf8(c.oldText);
    out << EscapeJsonControls(line.dump()) << '\n';
    return;
  }
  std::string name = EventName(c.event);
  name.resize(8, ' ');
  out << time << ' ' << name << ' ' << MacColumn(c.mac);
  if (c.event == Event::Moved) out << Dotted(c.from) << " -> ";
  out << Dotted(c.address) << ": " << EscapeText(c.text);
  if (c.event == Event::Changed && c.oldText != c.text) out << "  (was: " << EscapeText(c.oldText) << ")";
  out << '\n';
}

std::string IsoTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string iso = text;
  // +0100 as +01:00
  if (iso.size() >= 5) iso.insert(iso.size() - 2, ":");
  return iso;
}

int JournalPriority(Event event) {
  switch (event) {
    case Event::Silent: return 4;
    case Event::Changed:
    case Event::Moved: return 5;
    case Event::Appeared:
    case Event::Present: break;
  }
  return 6;
}

std::string WatchStatusLine(std::int64_t sweeps, std::size_t units) {
  return "Sweep " + std::to_string(sweeps) + ": " + std::to_string(units) + " ZN7QX unit(s) present.";
}

}  // namespace zn7qx::scan
