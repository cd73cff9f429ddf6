#pragma once
// A network in memory for the sweep: per address a script of what comes back,
// on a virtual clock that moves only when the sweep waits (or sends, if set).

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>
#include <vector>

#include "net/ICMPPing.h"
#include "scan/EchoTransport.h"

namespace zn7qx::test {

using scan::Clock;
using namespace std::chrono_literals;

struct SentRequest {
  std::uint32_t dest;
  std::uint16_t sequence;
  Clock::time_point at;
};

class ScriptedTransport final : public scan::EchoTransport {
 public:
  // What a request to an address brings back, scheduled from its send.
  using Script = std::function<void(ScriptedTransport&, const SentRequest&)>;

  explicit ScriptedTransport(std::chrono::microseconds timeout = 300ms) : timeout_(timeout) {}

  std::map<std::uint32_t, Script> scripts;
  // What Send returns for an address, once, and the errno behind it.
  std::map<std::uint32_t, std::pair<std::int32_t, int>> sendFailures;
  std::vector<SentRequest> sent;
  std::uint16_t identifier = 0x4242;
  std::chrono::microseconds oversleep{0};  // each wait ends this much late, as on a busy machine
  std::chrono::microseconds sendTakes{0};  // each send call returns this much after it started
  // Every send before this time is refused for want of buffers (ENOBUFS).
  Clock::time_point refuseUntil{};

  Clock::time_point Now() override { return now_; }
  std::uint16_t Identifier() const override { return identifier; }
  bool Readable() override { return !queue_.empty() && queue_.begin()->first <= now_; }
  int LastSendErrno() const override { return lastSendErrno_; }
  Clock::time_point start() const { return kStart; }

  std::int32_t Send(std::uint32_t dest, std::uint16_t sequence) override {
    if (now_ < refuseUntil) {
      lastSendErrno_ = ENOBUFS;
      return IP_NO_RESOURCES;
    }
    if (auto failure = sendFailures.find(dest); failure != sendFailures.end()) {
      const auto [status, error] = failure->second;
      sendFailures.erase(failure);
      lastSendErrno_ = error;
      return status;
    }
    // A sequence goes out again only once its request is answered or timed out.
    if (auto last = open_.find(sequence); last != open_.end()) {
      EXPECT_GE(now_, last->second.at + timeout_) << "sequence " << sequence << " reused while in flight";
    }
    const SentRequest request{dest, sequence, now_};
    sent.push_back(request);
    open_[sequence] = request;
    if (auto script = scripts.find(dest); script != scripts.end()) script->second(*this, request);
    now_ += sendTakes;
    return IP_SUCCESS;
  }

  std::optional<linuxnet::EchoEvent> Receive() override {
    if (!Readable()) return std::nullopt;
    linuxnet::EchoEvent event = queue_.begin()->second;
    queue_.erase(queue_.begin());
    if (auto open = open_.find(event.sequence);
        open != open_.end() && event.identifier == identifier && event.peer == open->second.dest)
      open_.erase(open);
    return event;
  }

  void Wait(Clock::time_point until) override {
    if (!queue_.empty()) until = std::min(until, queue_.begin()->first);
    if (until > now_) now_ = until + oversleep;
  }

  void Deliver(Clock::time_point at, linuxnet::EchoEvent event) {
    event.received = at;
    queue_.emplace(at, std::move(event));
  }

  linuxnet::EchoEvent Reply(const SentRequest& r, std::string_view data) const {
    linuxnet::EchoEvent e;
    e.peer = e.from = r.dest;
    e.identifier = identifier;
    e.sequence = r.sequence;
    e.data.assign(data.begin(), data.end());
    return e;
  }

  // An ICMP error about the request, filed as type 3 code 1 whatever its status.
  linuxnet::EchoEvent Error(const SentRequest& r, std::int32_t status, std::uint32_t router) const {
    linuxnet::EchoEvent e = Reply(r, "");
    e.kind = linuxnet::EchoEvent::Kind::Error;
    e.from = router;
    e.status = status;
    e.icmpType = 3;
    e.icmpCode = 1;
    return e;
  }

 private:
  static inline const Clock::time_point kStart = Clock::time_point{} + std::chrono::hours(1);
  std::chrono::microseconds timeout_;
  int lastSendErrno_ = 0;
  Clock::time_point now_ = kStart;
  std::multimap<Clock::time_point, linuxnet::EchoEvent> queue_;
  std::map<std::uint16_t, SentRequest> open_;
};

inline ScriptedTransport::Script AnswerAsHost(std::chrono::microseconds after = 1ms) {
  return [after](ScriptedTransport& t, const SentRequest& r) { t.Deliver(r.at + after, t.Reply(r, ProbePayload)); };
}

inline ScriptedTransport::Script AnswerAsUnit(std::string text, std::chrono::microseconds after = 1ms) {
  return [text, after](ScriptedTransport& t, const SentRequest& r) { t.Deliver(r.at + after, t.Reply(r, "Found." + text)); };
}

}  // namespace zn7qx::test
