#include "scan/ScanRange.h"

#include <algorithm>
#include <charconv>

#include "scan/SafeText.h"

namespace zn7qx::scan {
namespace {

constexpr NumericAddress kLastAddress = 4294967295;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string BadAddress(std::string_view item, std::string_view part, std::string_view which,
                       std::string_view reason) {
  return "bad range " + QuoteForMessage(item) + ": the " + std::string(which) + " " +
         QuoteForMessage(part) + " " + std::string(reason);
}

}  // namespace

std::optional<NumericAddress> ParseDecimalAddress(std::string_view text, std::string& reason) {
  constexpr std::string_view kForm = " (write four decimal numbers from 0 to 255 joined by dots, like 192.168.1.1)";
  if (text.empty()) {
    reason = "is empty" + std::string(kForm);
    return std::nullopt;
  }
  if (std::any_of(text.begin(), text.end(), IsBlank)) {
    reason = "holds a blank" + std::string(kForm);
    return std::nullopt;
  }
  NumericAddress address = 0;
  std::size_t parts = 0;
  std::string_view rest = text;
  while (true) {
    const auto dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    ++parts;
    if (part.empty()) {
      reason = "has an empty part" + std::string(kForm);
      return std::nullopt;
    }
    if (part.size() > 1 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
      reason = "has a hexadecimal part, " + QuoteForMessage(part) + std::string(kForm);
      return std::nullopt;
    }
    if (!std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      reason = "has a part that is not a decimal number, " + QuoteForMessage(part) + std::string(kForm);
      return std::nullopt;
    }
    if (part.size() > 1 && part[0] == '0') {
      reason = "has a part with a leading zero, " + QuoteForMessage(part) +
               ", which other tools read as octal; write it without the zero";
      return std::nullopt;
    }
    if (part.size() > 3 || std::stoi(std::string(part)) > 255) {
      reason = "has a part above 255, " + QuoteForMessage(part) + std::string(kForm);
      return std::nullopt;
    }
    if (parts <= 4) address = address * 256 + std::stoi(std::string(part));  // more are refused below
    if (dot == std::string_view::npos) break;
    rest.remove_prefix(dot + 1);
  }
  if (parts == 1) {
    reason = "is a bare number, not four parts" + std::string(kForm);
    return std::nullopt;
  }
  if (parts != 4) {
    reason = "has " + std::to_string(parts) + " parts, not four" + std::string(kForm);
    return std::nullopt;
  }
  // 255.255.255.255 cannot be told from the window's parse failure, and
  // neither it nor 0.0.0.0 is an address to probe.
  if (address == 0 || address == kLastAddress) {
    reason = "is not accepted: 0.0.0.0 and 255.255.255.255 are never probed";
    return std::nullopt;
  }
  return address;
}


std::string QuoteForMessage(std::string_view text) { return "\"" + EscapeText(text) + "\""; }

std::optional<AddressRange> ParseRangeItem(std::string_view item, std::string& error) {
  if (item.empty()) {
    error = "bad range \"\": empty item (a stray comma?)";
    return std::nullopt;
  }
  if (const auto slash = item.find('/'); slash != std::string_view::npos) {
    const std::string_view base = item.substr(0, slash);
    const std::string_view bits = item.substr(slash + 1);
    std::string reason;
    const auto address = ParseDecimalAddress(base, reason);
    if (!address) {
      error = BadAddress(item, base, "address", reason);
      return std::nullopt;
    }
    unsigned prefix = 0;
    const auto [end, ec] = std::from_chars(bits.data(), bits.data() + bits.size(), prefix);
    if (bits.empty() || bits.size() > 2 || ec != std::errc{} || end != bits.data() + bits.size() ||
        prefix > 32) {
      error = "bad range " + QuoteForMessage(item) + ": the prefix length " +
              QuoteForMessage(bits) + " is not a number from 0 to 32";
      return std::nullopt;
    }
    const NumericAddress hostBits =
        prefix == 0 ? kLastAddress : (NumericAddress{1} << (32 - prefix)) - 1;
    const NumericAddress network = *address & (kLastAddress ^ hostBits);
    return AddressRange{network, network | hostBits};
  }
  if (const auto dash = item.find('-'); dash != std::string_view::npos) {
    const std::string_view startText = item.substr(0, dash);
    const std::string_view endText = item.substr(dash + 1);
    std::string reason;
    const auto first = ParseDecimalAddress(startText, reason);
    if (!first) {
      error = BadAddress(item, startText, "start address", reason);
      return std::nullopt;
    }
    const auto last = ParseDecimalAddress(endText, reason);
    if (!last) {
      error = BadAddress(item, endText, "end address", reason);
      return std::nullopt;
    }
    if (*last < *first) {
      error = "bad range " + QuoteForMessage(item) +
              ": the end address lies before the start address (the range contains " +
              std::to_string(*last - *first + 1) + " addresses)";
      return std::nullopt;
    }
    return AddressRange{*first, *last};
  }
  std::string reason;
  const auto single = ParseDecimalAddress(item, reason);
  if (!single) {
    error = BadAddress(item, item, "address", reason);
    return std::nullopt;
  }
  return AddressRange{*single, *single};
}

RangeParse ParseRanges(const std::vector<std::string>& arguments) {
  RangeParse result;
  for (const std::string& argument : arguments) {
    std::string_view rest = argument;
    while (true) {
      const auto comma = rest.find(',');
      const std::string_view item = rest.substr(0, comma);
      const auto range = ParseRangeItem(item, result.error);
      if (!range) {
        result.ranges.clear();
        return result;
      }
      result.ranges.push_back(*range);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  return result;
}

std::vector<AddressRange> MergeRanges(std::vector<AddressRange> ranges) {
  std::vector<AddressRange> merged;
  for (AddressRange& r : ranges) {
    r.first = std::max<NumericAddress>(r.first, 1);
    r.last = std::min<NumericAddress>(r.last, kLastAddress - 1);
  }
  std::erase_if(ranges, [](const AddressRange& r) { return r.last < r.first; });
  std::sort(ranges.begin(), ranges.end(),
            [](const AddressRange& a, const AddressRange& b) { return a.first < b.first; });
  for (const AddressRange& r : ranges) {
    if (!merged.empty() && r.first <= merged.back().last + 1) {
      merged.back().last = std::max(merged.back().last, r.last);
    } else {
      merged.push_back(r);
    }
  }
  return merged;
}

std::int64_t CountAddresses(const std::vector<AddressRange>& merged) {
  std::int64_t count = 0;
  for (const AddressRange& r : merged) count += r.last - r.first + 1;
  return count;
}

AddressRange SubnetRange(NumericAddress mask, NumericAddress address) {
  const SubnetEnds subnet = SubnetOf(mask, address);
  return AddressRange{NetworkToNumeric(subnet.network), NetworkToNumeric(subnet.broadcast)};
}

}  // namespace zn7qx::scan
