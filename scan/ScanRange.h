#pragma once
// The address ranges a sweep covers: parsed from the command line as plain
// decimal dotted quads, merged, counted and walked in address order.

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

// An address as typed on a command line: four decimal numbers from 0 to 255
// joined by dots. The other forms the window's boxes take through inet_addr
// are refused, since they read differently from what a technician typing
// them means (010.0.0.1 is 8.0.0.1 there, 0x7f.1 is 127.0.0.1): a leading
// zero, hexadecimal, fewer or more than four parts, a bare number, any blank
// (inet_addr ignores what follows one). 0.0.0.0 and 255.255.255.255 are
// refused as the window refuses them. On refusal, reason says why, in words
// that follow "the address \"...\"".
std::optional<NumericAddress> ParseDecimalAddress(std::string_view text, std::string& reason);

// One item: "A.B.C.D", "A.B.C.D-E.F.G.H" or "A.B.C.D/N", addresses as
// ParseDecimalAddress reads them.
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
