#pragma once
// The address and mask of the first network adapter that has an IPv4 address.

#include <functional>
#include <string>

#include "net/mdlConvertIPForms.h"

namespace zn7qx {

// 0 when no adapter qualifies or the listing failed (after a message).
NumericAddress GetLocalSubnetMask();
NumericAddress GetLocalIPAddress();

// Where the failure messages go; the window installs a modal box. Without a
// sink they are written to standard error.
using IPInfoMessageSink = std::function<void(const std::string& text)>;
void SetIPInfoMessageSink(IPInfoMessageSink sink);

}  // namespace zn7qx
