#include "SimConfig.h"

#include <arpa/inet.h>

#include <charconv>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace zn7qx::sim {

namespace {

using nlohmann::json;

constexpr std::size_t MaxAnsweringKept = 4096;
constexpr std::uint32_t MaxDelayMs = 60'000;
constexpr std::uint32_t MaxCount = 1000;
constexpr std::size_t MaxDataBytes = 1472;  // one unfragmented reply on a 1500-byte link
constexpr std::uint64_t MaxTimeMs = 86'400'000;

std::string Where(std::size_t index) { return "replies[" + std::to_string(index) + "]"; }

std::optional<std::uint64_t> UnsignedField(const json& entry, const char* key, std::uint64_t max,
                                           const std::string& where) {
  if (!entry.contains(key)) return std::nullopt;
  const json& v = entry.at(key);
  // A whole number JSON reads as unsigned is never negative, and may pass
  // INT64_MAX (the seed may use all 64 bits).
  if (!v.is_number_unsigned() || v.get<std::uint64_t>() > max) {
    throw ConfigError(where + ": \"" + key + "\" must be a whole number from 0 to " +
                      std::to_string(max));
  }
  return v.get<std::uint64_t>();
}

std::string StringField(const json& entry, const char* key, const std::string& where) {
  const json& v = entry.at(key);
  if (!v.is_string()) throw ConfigError(where + ": \"" + key + "\" must be a string");
  return v.get<std::string>();
}

Ip4 AddressField(const json& entry, const char* key, const std::string& where) {
  std::string text = StringField(entry, key, where);
  auto a = ParseIp4(text);
  if (!a) throw ConfigError(where + ": \"" + key + "\" is not an IPv4 address: " + text);
  return *a;
}

std::string HexBytes(const std::string& hex, const std::string& where) {
  std::string out;
  std::string digits;
  for (char c : hex) {
    if (c == ' ' || c == ':' || c == '-') continue;
    digits += c;
  }
  if (digits.size() % 2 != 0) throw ConfigError(where + ": \"data_hex\" has an odd number of digits");
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    unsigned value = 0;
    auto [p, ec] = std::from_chars(digits.data() + i, digits.data() + i + 2, value, 16);
    if (ec != std::errc() || p != digits.data() + i + 2) {
      throw ConfigError(where + ": \"data_hex\" holds a character that is not a hex digit");
    }
    out += static_cast<char>(value);
  }
  return out;
}

// A boolean modifier means "some other value"; a number gives the offset.
std::uint16_t OffsetField(const json& entry, const char* key, std::uint16_t whenTrue,
                          const std::string& where) {
  if (!entry.contains(key)) return 0;
  const json& v = entry.at(key);
  if (v.is_boolean()) return v.get<bool>() ? whenTrue : 0;
  if (v.is_number_integer() && v.get<std::int64_t>() >= 1 && v.get<std::int64_t>() <= 65535) {
    return static_cast<std::uint16_t>(v.get<std::int64_t>());
  }
  throw ConfigError(where + ": \"" + key + "\" must be true, false or an offset from 1 to 65535");
}

Behaviour ParseBehaviour(const json& entry, const std::string& where) {
  static const std::set<std::string> known = {
      "address", "range", "as", "text", "delay_ms", "count", "interval_ms", "icmp_type",
      "icmp_code", "error_word", "quote_bytes", "from", "source", "data_hex", "data_text",
      "bad_checksum", "wrong_identifier", "wrong_sequence", "truncate_to", "ttl", "mac",
      "after_ms", "until_ms", "every_ms", "comment"};
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    if (!known.count(it.key())) throw ConfigError(where + ": unknown key \"" + it.key() + "\"");
  }
  if (!entry.contains("as")) throw ConfigError(where + ": \"as\" is missing");
  const std::string as = StringField(entry, "as", where);

  Behaviour b;
  if (as == "silent") {
    b.kind = Kind::Silent;
  } else if (as == "unit") {
    b.kind = Kind::Unit;
    std::string text = entry.contains("text") ? StringField(entry, "text", where) : std::string();
    b.data = "Found." + text;
  } else if (as == "host" || as == "late" || as == "duplicate") {
    b.kind = Kind::Host;
  } else if (as == "data") {
    b.kind = Kind::Data;
    if (entry.contains("data_hex") == entry.contains("data_text")) {
      throw ConfigError(where + ": \"data\" needs exactly one of \"data_hex\" and \"data_text\"");
    }
    b.data = entry.contains("data_hex") ? HexBytes(StringField(entry, "data_hex", where), where)
                                        : StringField(entry, "data_text", where);
  } else if (as == "error") {
    b.kind = Kind::Error;
  } else {
    throw ConfigError(where + ": \"as\" must be unit, host, silent, late, duplicate, error or data, not \"" +
                      as + "\"");
  }
  if (b.kind != Kind::Unit && entry.contains("text")) {
    throw ConfigError(where + ": \"text\" belongs to \"as\": \"unit\"");
  }
  if (b.kind != Kind::Data && (entry.contains("data_hex") || entry.contains("data_text"))) {
    throw ConfigError(where + ": \"data_hex\"/\"data_text\" belong to \"as\": \"data\"");
  }
  if (b.data.size() > MaxDataBytes) {
    throw ConfigError(where + ": reply data longer than " + std::to_string(MaxDataBytes) + " bytes");
  }

  if (auto v = UnsignedField(entry, "delay_ms", MaxDelayMs, where)) b.delayMs = static_cast<std::uint32_t>(*v);
  if (as == "late" && !entry.contains("delay_ms")) throw ConfigError(where + ": \"late\" needs \"delay_ms\"");
  if (as == "duplicate") b.count = 2;
  if (auto v = UnsignedField(entry, "count", MaxCount, where)) {
    if (*v == 0) throw ConfigError(where + ": \"count\" must be at least 1");
    b.count = static_cast<std::uint32_t>(*v);
  }
  if (auto v = UnsignedField(entry, "interval_ms", MaxDelayMs, where)) b.intervalMs = static_cast<std::uint32_t>(*v);

  const bool errorOnly = entry.contains("icmp_type") || entry.contains("icmp_code") ||
                         entry.contains("error_word") || entry.contains("quote_bytes") ||
                         entry.contains("from");
  if (errorOnly && b.kind != Kind::Error) {
    throw ConfigError(where + ": icmp_type, icmp_code, error_word, quote_bytes and from belong to \"as\": \"error\"");
  }
  if (auto v = UnsignedField(entry, "icmp_type", 255, where)) b.icmpType = static_cast<std::uint8_t>(*v);
  if (auto v = UnsignedField(entry, "icmp_code", 255, where)) b.icmpCode = static_cast<std::uint8_t>(*v);
  if (auto v = UnsignedField(entry, "error_word", 0xFFFFFFFFu, where)) b.errorWord = static_cast<std::uint32_t>(*v);
  if (auto v = UnsignedField(entry, "quote_bytes", 1400, where)) b.quoteBytes = static_cast<std::uint32_t>(*v);
  if (entry.contains("from") && entry.contains("source")) {
    throw ConfigError(where + ": give \"from\" or \"source\", not both");
  }
  if (entry.contains("from")) b.source = AddressField(entry, "from", where);
  if (entry.contains("source")) b.source = AddressField(entry, "source", where);

  if (entry.contains("bad_checksum")) {
    if (!entry.at("bad_checksum").is_boolean()) throw ConfigError(where + ": \"bad_checksum\" must be true or false");
    b.badChecksum = entry.at("bad_checksum").get<bool>();
  }
  b.identifierOffset = OffsetField(entry, "wrong_identifier", 0x1357, where);
  b.sequenceOffset = OffsetField(entry, "wrong_sequence", 0x8000, where);
  if (auto v = UnsignedField(entry, "truncate_to", 65535, where)) b.truncateTo = static_cast<std::uint32_t>(*v);
  if (auto v = UnsignedField(entry, "ttl", 255, where)) {
    if (*v == 0) throw ConfigError(where + ": \"ttl\" must be at least 1");
    b.ttl = static_cast<std::uint8_t>(*v);
  }
  if (entry.contains("mac")) {
    const std::string text = StringField(entry, "mac", where);
    b.mac = ParseMac(text);
    if (!b.mac) throw ConfigError(where + ": \"mac\" is not a unicast hardware address like 02:00:5e:10:00:01: " + text);
  }
  if (auto v = UnsignedField(entry, "every_ms", MaxTimeMs, where)) b.everyMs = b.untilMs = *v;
  if (auto v = UnsignedField(entry, "after_ms", MaxTimeMs, where)) b.afterMs = *v;
  if (auto v = UnsignedField(entry, "until_ms", MaxTimeMs, where)) {
    if (b.everyMs > 0 && *v > b.everyMs) throw ConfigError(where + ": \"until_ms\" lies beyond \"every_ms\"");
    b.untilMs = *v;
  }
  if (b.untilMs <= b.afterMs) throw ConfigError(where + ": \"until_ms\" must come after \"after_ms\"");
  return b;
}

FloodConfig ParseFlood(const json& f) {
  const std::string where = "flood";
  if (!f.is_object()) throw ConfigError("flood must be an object");
  static const std::set<std::string> known = {"count", "rate", "start_after_ms", "stale_after_ms",
                                              "seed", "kinds", "to", "comment"};
  for (auto it = f.begin(); it != f.end(); ++it) {
    if (!known.count(it.key())) throw ConfigError(where + ": unknown key \"" + it.key() + "\"");
  }
  FloodConfig c;
  if (!f.contains("count")) throw ConfigError("flood: \"count\" is missing (the flood is always bounded)");
  c.count = *UnsignedField(f, "count", MaxFloodCount, where);
  if (auto v = UnsignedField(f, "rate", MaxFloodRate, where)) {
    if (*v == 0) throw ConfigError("flood: \"rate\" must be at least 1");
    c.rate = static_cast<std::uint32_t>(*v);
  }
  if (auto v = UnsignedField(f, "start_after_ms", 3'600'000, where)) c.startAfterMs = static_cast<std::uint32_t>(*v);
  if (auto v = UnsignedField(f, "stale_after_ms", 3'600'000, where)) c.staleAfterMs = static_cast<std::uint32_t>(*v);
  if (auto v = UnsignedField(f, "seed", UINT64_MAX, where)) c.seed = *v;
  if (f.contains("to")) c.to = AddressField(f, "to", where);
  if (f.contains("kinds")) {
    const json& k = f.at("kinds");
    if (!k.is_array()) throw ConfigError("flood: \"kinds\" must be a list");
    for (const json& name : k) {
      std::optional<FloodKind> kind = name.is_string() ? FloodKindFromName(name.get<std::string>()) : std::nullopt;
      if (!kind) {
        throw ConfigError("flood: unknown kind " + name.dump() +
                          " (forged_reply, stale_reply, bad_checksum, truncated, malformed, foreign_error)");
      }
      c.kinds.push_back(*kind);
    }
  }
  return c;
}

}  // namespace

std::optional<Ip4> ParseIp4(std::string_view text) {
  // Strict dotted quad: four decimal parts, no leading/trailing junk.
  Ip4 value = 0;
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (p == end || *p != '.') return std::nullopt;
      ++p;
    }
    if (p == end || *p < '0' || *p > '9') return std::nullopt;
    unsigned octet = 0;
    const char* start = p;
    auto [q, ec] = std::from_chars(p, end, octet, 10);
    if (ec != std::errc() || octet > 255 || q - start > 3) return std::nullopt;
    value = (value << 8) | octet;
    p = q;
  }
  if (p != end) return std::nullopt;
  return value;
}

std::optional<Mac> ParseMac(std::string_view text) {
  Mac mac{};
  if (text.size() != 17) return std::nullopt;
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const char* p = text.data() + 3 * i;
    if (i > 0 && p[-1] != ':') return std::nullopt;
    auto [q, ec] = std::from_chars(p, p + 2, mac[i], 16);
    if (ec != std::errc() || q != p + 2) return std::nullopt;
  }
  if ((mac[0] & 1) != 0 || mac == Mac{}) return std::nullopt;
  return mac;
}

std::string FormatMac(const Mac& mac) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t b : mac) {
    if (!text.empty()) text += ':';
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

Mac DefaultMac(Ip4 a) {
  return {0x02, 0x5a, static_cast<std::uint8_t>(a >> 24), static_cast<std::uint8_t>(a >> 16),
          static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
}

std::string FormatIp4(Ip4 a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
         std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

std::optional<Ip4Range> ParseIp4Range(std::string_view text) {
  if (auto dash = text.find('-'); dash != std::string_view::npos) {
    auto a = ParseIp4(text.substr(0, dash));
    auto b = ParseIp4(text.substr(dash + 1));
    if (!a || !b || *b < *a) return std::nullopt;
    return Ip4Range{*a, *b};
  }
  if (auto slash = text.find('/'); slash != std::string_view::npos) {
    auto a = ParseIp4(text.substr(0, slash));
    std::string_view bits = text.substr(slash + 1);
    unsigned n = 0;
    auto [p, ec] = std::from_chars(bits.data(), bits.data() + bits.size(), n, 10);
    if (!a || bits.empty() || ec != std::errc() || p != bits.data() + bits.size() || n > 32) return std::nullopt;
    const Ip4 mask = n == 0 ? 0 : ~Ip4{0} << (32 - n);
    return Ip4Range{*a & mask, (*a & mask) | ~mask};
  }
  auto a = ParseIp4(text);
  if (!a) return std::nullopt;
  return Ip4Range{*a, *a};
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Silent: return "silent";
    case Kind::Unit: return "unit";
    case Kind::Host: return "host";
    case Kind::Data: return "data";
    case Kind::Error: return "error";
  }
  return "?";
}

const char* FloodKindName(FloodKind kind) {
  switch (kind) {
    case FloodKind::ForgedReply: return "forged_reply";
    case FloodKind::StaleReply: return "stale_reply";
    case FloodKind::BadChecksum: return "bad_checksum";
    case FloodKind::Truncated: return "truncated";
    case FloodKind::Malformed: return "malformed";
    case FloodKind::ForeignError: return "foreign_error";
  }
  return "?";
}

std::optional<FloodKind> FloodKindFromName(std::string_view name) {
  for (FloodKind k : {FloodKind::ForgedReply, FloodKind::StaleReply, FloodKind::BadChecksum,
                      FloodKind::Truncated, FloodKind::Malformed, FloodKind::ForeignError}) {
    if (name == FloodKindName(k)) return k;
  }
  return std::nullopt;
}

SimConfig SimConfig::FromJsonText(std::string_view text) {
  SimConfig c;
  c.Overlay(text);
  return c;
}

SimConfig SimConfig::FromFiles(const std::vector<std::string>& paths) {
  SimConfig c;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ConfigError("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    try {
      c.Overlay(text.str());
    } catch (const ConfigError& e) {
      throw ConfigError(path + ": " + e.what());
    }
  }
  return c;
}

void SimConfig::Overlay(std::string_view text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error& e) {
    throw ConfigError(std::string("not valid JSON: ") + e.what());
  }
  if (!doc.is_object()) throw ConfigError("the configuration must be a JSON object");
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    if (it.key() != "replies" && it.key() != "flood" && it.key() != "router" && it.key() != "comment") {
      throw ConfigError("unknown top-level key \"" + it.key() + "\" (replies, flood, router)");
    }
  }
  if (doc.contains("router")) router_ = AddressField(doc, "router", "router");
  if (doc.contains("replies")) {
    const json& replies = doc.at("replies");
    if (!replies.is_array()) throw ConfigError("\"replies\" must be a list");
    for (std::size_t i = 0; i < replies.size(); ++i) {
      const json& entry = replies[i];
      const std::string where = Where(i);
      if (!entry.is_object()) throw ConfigError(where + " must be an object");
      if (entry.contains("address") == entry.contains("range")) {
        throw ConfigError(where + ": give exactly one of \"address\" and \"range\"");
      }
      Behaviour b = ParseBehaviour(entry, where);
      const std::size_t index = behaviours_.size();
      behaviours_.push_back(std::move(b));
      const bool answers = behaviours_.back().kind != Kind::Silent;
      if (entry.contains("address")) {
        Ip4 a = AddressField(entry, "address", where);
        byAddress_[a].push_back(index);
        if (answers && answering_.size() < MaxAnsweringKept) answering_.push_back(a);
      } else {
        std::string rangeText = StringField(entry, "range", where);
        auto r = ParseIp4Range(rangeText);
        if (!r) throw ConfigError(where + ": \"range\" is not A.B.C.D-E.F.G.H or A.B.C.D/N: " + rangeText);
        ranges_.push_back({*r, index});
        for (std::uint64_t k = 0; answers && k < r->Size() && answering_.size() < MaxAnsweringKept; k += 1 + r->Size() / 64) {
          answering_.push_back(static_cast<Ip4>(r->first + k));
        }
      }
    }
  }
  if (doc.contains("flood")) flood_ = ParseFlood(doc.at("flood"));
  if (router_) SetDefaultErrorSource(*router_);
}

void SimConfig::SetDefaultErrorSource(Ip4 router) {
  router_ = router;
  for (Behaviour& b : behaviours_) {
    if (b.kind == Kind::Error && !b.source) b.source = router;
  }
}

const Behaviour& SimConfig::Lookup(Ip4 target, std::uint64_t ms) const {
  if (auto it = byAddress_.find(target); it != byAddress_.end()) {
    for (auto i = it->second.rbegin(); i != it->second.rend(); ++i)
      if (behaviours_[*i].InForceAt(ms)) return behaviours_[*i];
  }
  for (auto it = ranges_.rbegin(); it != ranges_.rend(); ++it) {
    if (it->range.Contains(target) && behaviours_[it->behaviour].InForceAt(ms)) return behaviours_[it->behaviour];
  }
  return silent_;
}

std::optional<Mac> SimConfig::HostMac(Ip4 address, std::uint64_t ms) const {
  const Behaviour& b = Lookup(address, ms);
  if (b.kind == Kind::Silent && address != router_) return std::nullopt;
  return b.mac.value_or(DefaultMac(address));
}

}  // namespace zn7qx::sim
