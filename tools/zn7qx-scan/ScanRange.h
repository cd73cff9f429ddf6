#pragma once
// The address ranges a sweep covers: parsed from the command line with the
// window's own address parser, merged, counted and walked in address order.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/mdlConvertIPForms.h"

namespace zn7qx::scan {

// Inclusive interval of NumericAddress values, first <= last.
struct AddressRange {
  NumericAddress first = 0;
  NumericAddress last = 0;
  friend bool operator==(const AddressRange&, const AddressRange&) = default;
};

struct RangeParse {
  std::vector<AddressRange> ranges;  // as written, one per item
  std::string error;                 // empty on success
};

// One item: "A.B.C.D", "A.B.C.D-E.F.G.H" or "A.B.C.D/N". Addresses take every
// form inet_addr accepts, as in the window; 0.0.0.0 and 255.255.255.255 are
// refused for the same reason (the latter cannot be told from a parse failure).
std::optional<AddressRange> ParseRangeItem(std::string_view item, std::string& error);

// Every argument may hold several items separated by commas.
RangeParse ParseRanges(const std::vector<std::string>& arguments);

// Sorted, overlaps and neighbours joined, 0.0.0.0 and 255.255.255.255 left
// out: those two are never probed (a CIDR block may reach them).
std::vector<AddressRange> MergeRanges(std::vector<AddressRange> ranges);

std::int64_t CountAddresses(const std::vector<AddressRange>& merged);

// The window's "Default Range": network address .. broadcast address of the
// local interface, both included.
AddressRange SubnetRange(NumericAddress mask, NumericAddress address);

// Shows a piece of user text inside a message without letting control bytes
// reach the terminal.
std::string QuoteForMessage(std::string_view text);

}  // namespace zn7qx::scan
