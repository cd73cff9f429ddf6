#pragma once
// The controller's seams answering from a script instead of the network:
// nothing is sent. Replies go through the probe's own record filling.

#include <map>
#include <string>
#include <vector>

#include "net/EchoRecord.h"
#include "ui/ScanSeams.h"

namespace zn7qx::test {

class ScriptedNetwork {
 public:
  // Every address not scripted times out.
  void Script(const std::string& address, std::int32_t status, const std::string& data = {}) {
    replies_[address] = {status, data};
  }
  void Unit(const std::string& address, const std::string& text) { Script(address, IP_SUCCESS, "Found." + text); }
  void Host(const std::string& address) { Script(address, IP_SUCCESS, std::string(ProbePayload)); }

  ScanSeams Seams() {
    ScanSeams s;
    s.socketsInitialize = [this] { ++initializeCalls; return socketsWork; };
    s.socketsCleanup = [this] { ++cleanupCalls; };
    s.ping = [this](const std::string& address, ICMP_ECHO_REPLY& reply, const PingWaitHook&) {
      pinged.push_back(address);
      reply = {};
      linuxnet::EchoEvent event;
      event.status = IP_REQ_TIMED_OUT;
      if (auto it = replies_.find(address); it != replies_.end()) {
        event.status = it->second.first;
        event.data.assign(it->second.second.begin(), it->second.second.end());
      }
      FillEchoReply(reply, event, 1);
      return reply.Status;
    };
    s.statusText = GetStatusText;
    // A failing adapter listing tells the sink on every query, as the real one does.
    const auto query = [this](const NumericAddress& value) {
      if (!adapterMessage.empty() && messageSink) messageSink(adapterMessage);
      return adapterMessage.empty() ? value : 0;
    };
    s.localSubnetMask = [query, this] { return query(localMask); };
    s.localIPAddress = [query, this] { return query(localAddress); };
    s.setIPInfoMessageSink = [this](IPInfoMessageSink sink) { messageSink = std::move(sink); };
    s.echoPermitted = [this] { return echoPermitted; };
    s.echoPermissionAdvice = [] { return std::string("Allow it with sysctl net.ipv4.ping_group_range."); };
    return s;
  }

  bool socketsWork = true;
  bool echoPermitted = true;
  NumericAddress localMask = 0xFFFFFF00;     // 255.255.255.0
  NumericAddress localAddress = 0xC6120025;  // 198.18.0.37
  std::string adapterMessage;                // what a failing listing says
  int initializeCalls = 0, cleanupCalls = 0;
  std::vector<std::string> pinged;
  IPInfoMessageSink messageSink;

 private:
  std::map<std::string, std::pair<std::int32_t, std::string>> replies_;
};

}  // namespace zn7qx::test
