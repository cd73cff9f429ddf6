#pragma once
// Address numbers for test tables, through the product's own conversions.

#include <cstdint>
#include <string>

#include "net/mdlConvertIPForms.h"

namespace zn7qx::test {

inline NumericAddress Num(const std::string& dotted) { return NetworkToNumeric(DottedToNetwork(dotted)); }
inline std::uint32_t Net(const std::string& dotted) { return static_cast<std::uint32_t>(DottedToNetwork(dotted)); }
inline std::string Dotted(NumericAddress number) { return NetworkToDotted(NumericToNetwork(number)); }

}  // namespace zn7qx::test
