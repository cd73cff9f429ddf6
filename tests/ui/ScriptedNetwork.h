#pragma once
// Seams that answer from a script instead of the network: nothing is sent.

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ui/ScanSeams.h"

namespace zn7qx::test {

struct ScriptedReply {
  std::int32_t status = IP_REQ_TIMED_OUT;
  std::string data;  // copied into the record's data area, cut at 250 bytes
};

class ScriptedNetwork {
 public:
  // Every address not scripted times out.
  void Script(const std::string& address, ScriptedReply reply) { replies_[address] = std::move(reply); }
  void Unit(const std::string& address, const std::string& text) {
    Script(address, {IP_SUCCESS, "Found." + text});
  }
  void Host(const std::string& address) { Script(address, {IP_SUCCESS, std::string(ProbePayload)}); }

  ScanSeams Seams() {
    ScanSeams s;
    s.socketsInitialize = [this] {
      ++initializeCalls;
      if (!socketsWork) return false;
      ++socketsOpen;
      return true;
    };
    s.socketsCleanup = [this] {
      ++cleanupCalls;
      --socketsOpen;
    };
    s.ping = [this](const std::string& address, ICMP_ECHO_REPLY& reply) {
      pinged.push_back(address);
      std::memset(&reply, 0, sizeof reply);
      ScriptedReply r;
      if (auto it = replies_.find(address); it != replies_.end()) r = it->second;
      std::memcpy(reply.Data, r.data.data(), std::min(r.data.size(), sizeof reply.Data));
      reply.DataSize = static_cast<std::uint16_t>(std::min(r.data.size(), sizeof reply.Data));
      reply.Status = r.status;
      return r.status;
    };
    s.statusText = [](std::int32_t status) {
      return status == IP_DEST_HOST_UNREACHABLE ? std::string("Destination Host Unreachable")
                                                : std::string("Unknown Response");
    };
    s.localSubnetMask = [this] {
      ++maskCalls;
      return localMask;
    };
    s.localIPAddress = [this] {
      ++addressCalls;
      return localAddress;
    };
    s.setIPInfoMessageSink = [this](IPInfoMessageSink sink) { messageSink = std::move(sink); };
    s.echoPermitted = [this] { return echoPermitted; };
    s.echoPermissionAdvice = [] { return std::string("Allow it with sysctl net.ipv4.ping_group_range."); };
    return s;
  }

  bool socketsWork = true;
  bool echoPermitted = true;
  NumericAddress localMask = 0xFFFFFF00;  // 255.255.255.0
  NumericAddress localAddress = 0xC6120025;  // 198.18.0.37
  int initializeCalls = 0, cleanupCalls = 0, socketsOpen = 0, maskCalls = 0, addressCalls = 0;
  std::vector<std::string> pinged;
  IPInfoMessageSink messageSink;

 private:
  std::map<std::string, ScriptedReply> replies_;
};

}  // namespace zn7qx::test
