#include "ui/ScanSeams.h"

#include <filesystem>
#include <system_error>

namespace zn7qx {

namespace {

// The advice names the program generically; the window knows its own path.
std::string AdviceForThisProgram() {
  std::string advice(EchoPermissionAdvice());
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::string placeholder = "<program>";
  if (!error && !self.empty()) {
    for (auto at = advice.find(placeholder); at != std::string::npos; at = advice.find(placeholder, at)) {
      advice.replace(at, placeholder.size(), self.string());
      at += self.string().size();
    }
  }
  return advice;
}

}  // namespace

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
  s.echoPermissionAdvice = [] { return AdviceForThisProgram(); };
  return s;
}

}  // namespace zn7qx
