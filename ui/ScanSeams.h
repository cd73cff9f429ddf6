#pragma once
// The controller's doors to the network services, so that tests can script
// every probe and every local address without touching the network.

#include <cstdint>
#include <functional>
#include <string>

#include "net/ICMPPing.h"
#include "net/mdlConvertIPForms.h"
#include "net/mdlGetIPInfo.h"

namespace zn7qx {

struct ScanSeams {
  std::function<bool()> socketsInitialize;
  std::function<void()> socketsCleanup;
  std::function<std::int32_t(const std::string& address, ICMP_ECHO_REPLY& reply)> ping;
  std::function<std::string(std::int32_t status)> statusText;
  std::function<NumericAddress()> localSubnetMask;
  std::function<NumericAddress()> localIPAddress;
  std::function<void(IPInfoMessageSink sink)> setIPInfoMessageSink;
  std::function<bool()> echoPermitted;
  std::function<std::string()> echoPermissionAdvice;
};

// The seams wired to the real network services.
ScanSeams RealSeams();

}  // namespace zn7qx
