#include "scan/WatchStateFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "net/mdlConvertIPForms.h"
#include "scan/SafeText.h"

namespace zn7qx::scan {

namespace {

constexpr const char* kFirstLine = "zn7qx-watch units 1";
constexpr std::size_t kLargest = 16 << 20;

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

std::optional<std::string> FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (const char c : hex.substr(i, 2)) {
      const char* at = std::strchr("0123456789abcdef", c);
      if (c == '\0' || at == nullptr) return std::nullopt;
      value = value * 16 + static_cast<int>(at - "0123456789abcdef");
    }
    out += static_cast<char>(value);
  }
  return out;
}

// A field without blanks or control bytes, as identities and hardware
// addresses are.
bool Plain(const std::string& field) {
  for (const unsigned char c : field)
    if (c <= ' ' || c >= 0x7f) return false;
  return true;
}

}  // namespace

std::string SavedUnits(const WatchState& state) {
  std::string text = std::string(kFirstLine) + "\n";
  for (const WatchState::Unit& u : state.Units())
    text += u.id + ' ' + NetworkToDotted(NumericToNetwork(u.address)) + ' ' + (u.mac.empty() ? "-" : u.mac) + ' ' +
            std::to_string(u.misses) + ' ' + (u.text.empty() ? "-" : Hex(u.text)) + '\n';
  return text;
}

LoadedUnits LoadUnits(const std::string& path) {
  const std::string file = QuoteForMessage(path);
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return {{}, "no units kept in " + file + " (" + std::strerror(errno) + "): the watch starts afresh", errno == ENOENT};
  std::string first;
  if (!std::getline(in, first) || first != kFirstLine)
    return {{}, file + " is not a file of this version's units: the watch starts afresh"};
  std::vector<WatchState::Unit> units;
  std::size_t number = 1, size = first.size();
  for (std::string line; std::getline(in, line);) {
    ++number;
    size += line.size() + 1;
    std::istringstream fields(line);
    WatchState::Unit u;
    std::string address, mac, misses, text, more;
    const auto damaged = [&] {
      return LoadedUnits{{}, file + ":" + std::to_string(number) + " is damaged: the watch starts afresh"};
    };
    if (size > kLargest || !(fields >> u.id >> address >> mac >> misses >> text) || (fields >> more) || !Plain(u.id) ||
        !Plain(mac) || (misses != "0" && misses != "1"))
      return damaged();
    const NetworkAddress parsed = DottedToNetwork(address);
    const std::optional<std::string> bytes = text == "-" ? std::optional<std::string>("") : FromHex(text);
    if (NetworkToDotted(parsed) != address || !bytes) return damaged();
    u.address = NetworkToNumeric(parsed);
    u.mac = mac == "-" ? "" : mac;
    u.misses = misses[0] - '0';
    u.text = *bytes;
    units.push_back(std::move(u));
  }
  if (!in.eof()) return {{}, "cannot read " + file + ": " + std::strerror(errno) + ": the watch starts afresh"};
  return {WatchState(std::move(units)), {}};
}

}  // namespace zn7qx::scan
