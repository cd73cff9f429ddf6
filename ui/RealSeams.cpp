#include "ui/ScanSeams.h"

namespace zn7qx {

ScanSeams RealSeams() {
  ScanSeams s;
  s.socketsInitialize = [] { return SocketsInitialize(); };
  s.socketsCleanup = [] { SocketsCleanup(); };
  s.ping = [](const std::string& address, ICMP_ECHO_REPLY& reply) { return Ping(address, reply); };
  s.statusText = [](std::int32_t status) { return GetStatusText(status); };
  s.localSubnetMask = [] { return GetLocalSubnetMask(); };
  s.localIPAddress = [] { return GetLocalIPAddress(); };
  s.setIPInfoMessageSink = [](IPInfoMessageSink sink) { SetIPInfoMessageSink(std::move(sink)); };
  s.echoPermitted = [] { return EchoPermitted(); };
  s.echoPermissionAdvice = [] { return std::string(EchoPermissionAdvice()); };
  return s;
}

}  // namespace zn7qx
