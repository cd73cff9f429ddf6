#pragma once
// Names the program shows about itself.

#include <string_view>

namespace zn7qx {

// Title of the program's own notices (adapter failures, ICMP permission).
inline constexpr std::string_view kApplicationName = "ZN7QX IP Address Finder";

}  // namespace zn7qx
