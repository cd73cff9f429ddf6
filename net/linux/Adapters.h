#pragma once
// The machine's network adapters as the IP helper service lists them: in the
// kernel's interface order, each with its first IPv4 address and mask as
// dotted text in a 16-byte field.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace zn7qx::linuxnet {

// A 16-byte field of NUL-terminated dotted-quad text; the text ends at the
// first NUL. Longer text is cut to 15 characters so the field always ends.
struct AddressText {
  std::array<char, 16> String{};

  AddressText() = default;
  // Implicit, so a record's field is assigned like the text it holds.
  AddressText(std::string_view text);
  AddressText(const char* text) : AddressText(std::string_view(text)) {}
  AddressText(const std::string& text) : AddressText(std::string_view(text)) {}
  std::string_view Text() const;
};

struct AdapterRecord {
  std::string Name;
  // "0.0.0.0" for an adapter that is down, has no carrier, or has no IPv4
  // address.
  AddressText IpAddress{"0.0.0.0"};
  AddressText IpMask{"0.0.0.0"};
};

struct AdapterListing {
  int status = 0;  // 0, or the errno of the failed listing
  std::vector<AdapterRecord> adapters;
};

// Lists the adapters with getifaddrs, in interface index order. Loopback
// interfaces are left out.
AdapterListing ListAdapters();

}  // namespace zn7qx::linuxnet
