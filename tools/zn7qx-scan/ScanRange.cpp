#include "tools/zn7qx-scan/ScanRange.h"

#include <algorithm>
#include <charconv>

#include "tools/zn7qx-scan/SafeText.h"

namespace zn7qx::scan {
namespace {

constexpr NumericAddress kLastAddress = 4294967295;

// The window's test: the parser's failure value (also 255.255.255.255) and 0
// are both refused.
std::optional<NumericAddress> ParseAddress(std::string_view text) {
  const NetworkAddress parsed = DottedToNetwork(text);
  if (!IsUsableAddress(parsed)) return std::nullopt;
  return NetworkToNumeric(parsed);
}

std::string BadAddress(std::string_view item, std::string_view part, std::string_view which) {
  return "bad range " + QuoteForMessage(item) + ": the " + std::string(which) + " " +
         QuoteForMessage(part) +
         " is not an IPv4 address (use forms like 192.168.1.1; 0.0.0.0 and 255.255.255.255 are "
         "not accepted)";
}

}  // namespace

std::string QuoteForMessage(std::string_view text) { return "\"" + EscapeText(text) + "\""; }

std::optional<AddressRange> ParseRangeItem(std::string_view item, std::string& error) {
  if (item.empty()) {
    error = "bad range \"\": empty item (a stray comma?)";
    return std::nullopt;
  }
  if (const auto slash = item.find('/'); slash != std::string_view::npos) {
    const std::string_view base = item.substr(0, slash);
    const std::string_view bits = item.substr(slash + 1);
    const auto address = ParseAddress(base);
    if (!address) {
      error = BadAddress(item, base, "address");
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
    const auto first = ParseAddress(startText);
    if (!first) {
      error = BadAddress(item, startText, "start address");
      return std::nullopt;
    }
    const auto last = ParseAddress(endText);
    if (!last) {
      error = BadAddress(item, endText, "end address");
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
  const auto single = ParseAddress(item);
  if (!single) {
    error = BadAddress(item, item, "address");
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
