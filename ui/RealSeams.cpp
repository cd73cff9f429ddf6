#include "ui/ScanSeams.h"

#include <filesystem>
#include <system_error>

namespace zn7qx {

namespace {

// A path as one word for the shell: the advice is a command to paste into a
// root shell, so a space, quote or $(...) in the path must stay inert.
std::string ShellWord(const std::string& path) {
  const bool plain = !path.empty() && path.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789/._+-") == std::string::npos;
  if (plain) return path;
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

ScanSeams RealSeams() {
  ScanSeams s;
  s.socketsInitialize = [] { return SocketsInitialize(); };
  s.socketsCleanup = [] { SocketsCleanup(); };
  s.ping = [](const std::string& address, ICMP_ECHO_REPLY& reply, const PingWaitHook& whileWaiting) {
    return Ping(address, reply, whileWaiting);
  };
  s.statusText = [](std::int32_t status) { return GetStatusText(status); };
  s.localSubnetMask = [] { return GetLocalSubnetMask(); };
  s.localIPAddress = [] { return GetLocalIPAddress(); };
  s.setIPInfoMessageSink = [](IPInfoMessageSink sink) { SetIPInfoMessageSink(std::move(sink)); };
  s.echoPermitted = [] { return EchoPermitted(); };
  s.echoPermissionAdvice = [] {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return AdviceNamingProgram(EchoPermissionAdvice(), error ? std::string() : self.string());
  };
  return s;
}

std::string AdviceNamingProgram(std::string_view advice, const std::string& programPath) {
  std::string text(advice);
  // A program replaced while running has no file to give the capability to.
  if (programPath.empty() || programPath.ends_with(" (deleted)")) return text;
  const std::string placeholder = "<program>";
  const std::string word = ShellWord(programPath);
  for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
    text.replace(at, placeholder.size(), word);
    at += word.size();
  }
  return text;
}

}  // namespace zn7qx
