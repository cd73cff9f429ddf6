#pragma once
// The controller's doors to the network services, so that tests can script
// every probe and every local address without touching the network.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/ICMPPing.h"
#include "net/mdlConvertIPForms.h"
#include "net/mdlGetIPInfo.h"

namespace zn7qx {

struct ScanSeams {
  std::function<bool()> socketsInitialize;
  std::function<void()> socketsCleanup;
  std::function<std::int32_t(const std::string& address, ICMP_ECHO_REPLY& reply, const PingWaitHook& whileWaiting)>
      ping;
  std::function<std::string(std::int32_t status)> statusText;
  std::function<NumericAddress()> localSubnetMask;
  std::function<NumericAddress()> localIPAddress;
  std::function<void(IPInfoMessageSink sink)> setIPInfoMessageSink;
  std::function<bool()> echoPermitted;
  std::function<std::string()> echoPermissionAdvice;
};

// The seams wired to the real network services.
ScanSeams RealSeams();

// The not-permitted advice with "<program>" replaced by the program's path,
// quoted as one shell word (the advice is pasted into a root shell). Left as
// it is when the path is empty or the file is gone (" (deleted)").
std::string AdviceNamingProgram(std::string_view advice, const std::string& programPath);

}  // namespace zn7qx
