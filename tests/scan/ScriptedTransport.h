#pragma once
// A network in memory for the sweep: a virtual clock, and per address a
// script of what comes back after each request. Time only moves when the
// sweep waits, so the tests are exact and take no real time.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "net/ICMPPing.h"
#include "net/mdlConvertIPForms.h"
#include "tools/zn7qx-scan/EchoTransport.h"

namespace zn7qx::scan::test {

using namespace std::chrono_literals;

inline std::uint32_t Net(const char* dotted) { return static_cast<std::uint32_t>(DottedToNetwork(dotted)); }

struct SentRequest {
  std::uint32_t dest;
  std::uint16_t sequence;
  Clock::time_point at;
};

class ScriptedTransport final : public EchoTransport {
 public:
  // What a request to an address brings back; scheduled relative to its send.
  using Script = std::function<void(ScriptedTransport&, const SentRequest&)>;

  explicit ScriptedTransport(std::chrono::microseconds timeout = 300ms) : timeout_(timeout) {}

  std::map<std::uint32_t, Script> scripts;
  std::map<std::uint32_t, std::int32_t> sendFailures;  // status Send returns, once per entry
  std::vector<SentRequest> sent;
  std::uint16_t identifier = 0x4242;
  int waits = 0;
  // Each wait ends this much later than asked, as on a busy machine.
  std::chrono::microseconds oversleep{0};

  Clock::time_point Now() override { return now_; }
  std::uint16_t Identifier() const override { return identifier; }

  std::int32_t Send(std::uint32_t dest, std::uint16_t sequence) override {
    if (auto failure = sendFailures.find(dest); failure != sendFailures.end()) {
      const std::int32_t status = failure->second;
      sendFailures.erase(failure);
      return status;
    }
    // A sequence goes out again only once its previous request has been
    // answered or has timed out.
    if (auto last = open_.find(sequence); last != open_.end()) {
      EXPECT_GE(now_, last->second.at + timeout_) << "sequence " << sequence << " reused while in flight";
    }
    const SentRequest request{dest, sequence, now_};
    sent.push_back(request);
    open_[sequence] = request;
    if (auto script = scripts.find(dest); script != scripts.end()) script->second(*this, request);
    return IP_SUCCESS;
  }

  std::optional<linuxnet::EchoEvent> Receive() override {
    if (queue_.empty() || queue_.begin()->first > now_) return std::nullopt;
    linuxnet::EchoEvent event = queue_.begin()->second;
    queue_.erase(queue_.begin());
    // Once answered by a matching event the sequence may be reused at once.
    if (auto open = open_.find(event.sequence);
        open != open_.end() && event.identifier == identifier && event.peer == open->second.dest) {
      open_.erase(open);
    }
    return event;
  }

  bool Readable() override { return !queue_.empty() && queue_.begin()->first <= now_; }

  void Wait(Clock::time_point until) override {
    ++waits;
    Clock::time_point next = until;
    if (!queue_.empty()) next = std::min(next, queue_.begin()->first);
    if (next > now_) now_ = next + oversleep;
  }

  // Puts an event on the wire to arrive at the given time.
  void Deliver(Clock::time_point at, linuxnet::EchoEvent event) {
    event.received = at;
    queue_.emplace(at, std::move(event));
  }

  linuxnet::EchoEvent Reply(const SentRequest& r, std::string_view data) const {
    linuxnet::EchoEvent e;
    e.kind = linuxnet::EchoEvent::Kind::Reply;
    e.peer = e.from = r.dest;
    e.identifier = identifier;
    e.sequence = r.sequence;
    e.data.assign(data.begin(), data.end());
    return e;
  }

  linuxnet::EchoEvent Error(const SentRequest& r, std::int32_t status, std::uint32_t router) const {
    linuxnet::EchoEvent e;
    e.kind = linuxnet::EchoEvent::Kind::Error;
    e.peer = r.dest;
    e.from = router;
    e.identifier = identifier;
    e.sequence = r.sequence;
    e.status = status;
    return e;
  }

  Clock::time_point start() const { return kStart; }

  static inline const Clock::time_point kStart = Clock::time_point{} + std::chrono::hours(1);

 private:
  std::chrono::microseconds timeout_;
  Clock::time_point now_ = kStart;
  std::multimap<Clock::time_point, linuxnet::EchoEvent> queue_;
  std::map<std::uint16_t, SentRequest> open_;
};

// Common scripts.
inline ScriptedTransport::Script AnswerAsHost(std::chrono::microseconds after = 1ms) {
  return [after](ScriptedTransport& t, const SentRequest& r) {
    t.Deliver(r.at + after, t.Reply(r, ProbePayload));
  };
}

inline ScriptedTransport::Script AnswerAsUnit(std::string text, std::chrono::microseconds after = 1ms) {
  return [text, after](ScriptedTransport& t, const SentRequest& r) {
    t.Deliver(r.at + after, t.Reply(r, "Found." + text));
  };
}

}  // namespace zn7qx::scan::test
