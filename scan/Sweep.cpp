#include "scan/Sweep.h"

#include <algorithm>
#include <cerrno>
#include <deque>

#include "net/ICMPPing.h"
#include "net/UnitReply.h"
#include "net/linux/LinkFrames.h"

namespace zn7qx::scan {

std::optional<std::string> UnitTextOfReplyData(std::string_view data) {
  // The window sees the reply through the probe's record, whose data area
  // holds the first 250 bytes; judge the same bytes.
  return UnitTextFromReply(data.substr(0, sizeof(ICMP_ECHO_REPLY::Data)));
}

namespace {

using std::chrono::nanoseconds;

constexpr std::size_t kSequences = 65536;
// Sends in one go when the pace has fallen behind (a late wake-up).
constexpr int kSendsPerRound = 64;
// Back-off when the kernel has no room for another request (its buffers,
// or the neighbour table): our own congestion, never the address's fault.
// The pause doubles up to its ceiling; only a kernel that refuses every
// request for the whole give-up time has the address filed with the error.
constexpr nanoseconds kNoBufferPause = std::chrono::milliseconds(1);
constexpr nanoseconds kNoBufferPauseCeiling = std::chrono::milliseconds(64);
constexpr nanoseconds kNoBufferGiveUp = std::chrono::seconds(30);
// Events taken per round before the pace and time-outs are looked at again.
constexpr int kDrainLimit = 4096;
constexpr nanoseconds kProgressEvery = std::chrono::milliseconds(100);
// How often the neighbour table's size is read while the sweep waits on it.
constexpr nanoseconds kTableReadEvery = std::chrono::milliseconds(50);

// A refusal for want of room in the kernel, which passes when it drains.
bool Congestion(std::int32_t status, int error) {
  return status == IP_NO_RESOURCES && (error == ENOBUFS || error == EAGAIN || error == ENOMEM || error == 0);
}

struct Target {
  NumericAddress address = 0;
  std::uint8_t attempt = 0;  // requests already sent to it
};

struct Slot {
  Target target;
  std::uint32_t dest = 0;  // network order
  Clock::time_point sent{};
  std::uint32_t generation = 0;
  bool busy = false;
};

struct InFlight {
  std::uint16_t sequence;
  std::uint32_t generation;
  Clock::time_point deadline;
};

class SweepRun {
 public:
  SweepRun(const std::vector<AddressRange>& merged, EchoTransport& transport,
           const SweepOptions& options)
      : ranges_(merged), transport_(transport), options_(options),
        slots_(64) {
    result_.counts.addresses = CountAddresses(merged);
    // Written so that NaN, too, falls to the slowest pace.
    const double rate = options.rate >= 1.0 ? std::min(options.rate, 1e9) : 1.0;
    interval_ = nanoseconds(static_cast<std::int64_t>(1e9 / rate));
    if (interval_.count() < 1) interval_ = nanoseconds(1);
    if (!ranges_.empty()) nextAddress_ = ranges_.front().first;
    burst_ = std::max<std::int64_t>(options.burst, 1);
  }

  SweepResult Run() {
    transport_.BeginSweep();
    const Clock::time_point start = transport_.Now();
    start_ = start;
    paceBase_ = start;
    lastProgress_ = start;
    while (true) {
      if (options_.stop != nullptr && options_.stop->load()) {
        result_.counts.interrupted = true;
        break;
      }
      if (std::string failure = transport_.Failure(); !failure.empty()) {
        result_.failure = std::move(failure);
        break;
      }
      Drain();
      Clock::time_point now = transport_.Now();
      ExpireUntil(now);
      SendDue(now);
      DropFinishedFront();
      if (!HaveWork() && busy_ == 0) break;
      if (now - lastProgress_ >= kProgressEvery) {
        lastProgress_ = now;
        LookUpHardware();
        Finish(now, false);
        if (options_.progress) options_.progress(result_.counts);
      }
      Clock::time_point until = Clock::time_point::max();
      if (HaveWork() && busy_ < kSequences)
        until = std::max({NextSendTime(), pauseUntil_, NextIsOnLink() ? NeighbourRoomAt() : Clock::time_point{}});
      if (!inFlight_.empty()) until = std::min(until, inFlight_.front().deadline);
      if (options_.hardware && lookedUp_ < result_.answered.size()) until = std::min(until, lastProgress_ + kProgressEvery);
      if (until == Clock::time_point::max()) break;  // nothing can happen any more
      transport_.Wait(until);
    }
    LookUpHardware();
    Finish(transport_.Now(), true);
    if (options_.progress) options_.progress(result_.counts);
    result_.nextSequence = static_cast<std::uint16_t>(firstSequence_ + slots_.size());
    return std::move(result_);
  }

 private:
  bool HaveWork() const { return !retries_.empty() || rangeIndex_ < ranges_.size(); }

  // Request k (from 0) is due at k - burst + 1 intervals after the start.
  Clock::time_point NextSendTime() const {
    return paceBase_ + interval_ * std::max<std::int64_t>(paced_ - burst_ + 1, 0);
  }

  Target TakeTarget() {
    if (!retries_.empty()) {
      const Target t = retries_.front();
      retries_.pop_front();
      return t;
    }
    const Target t{nextAddress_, 0};
    if (nextAddress_ < ranges_[rangeIndex_].last) {
      ++nextAddress_;
    } else if (++rangeIndex_ < ranges_.size()) {
      nextAddress_ = ranges_[rangeIndex_].first;
    }
    return t;
  }

  void PutBack(const Target& t) { retries_.push_front(t); }

  // Slots are numbered from 0; on the wire they start at firstSequence.
  std::uint16_t Wire(std::uint16_t slot) const { return static_cast<std::uint16_t>(firstSequence_ + slot); }

  void LookUpHardware() {
    if (!options_.hardware || lookedUp_ == result_.answered.size()) return;
    options_.hardware(std::span(result_.answered).subspan(lookedUp_));
    lookedUp_ = result_.answered.size();
  }

  // A sequence whose previous probe has finished, taken in turn so that
  // reuse comes as late as possible.
  std::optional<std::uint16_t> FreeSequence() {
    if (busy_ >= kSequences) return std::nullopt;
    while (nextSequence_ < slots_.size() && slots_[nextSequence_].busy)
      nextSequence_ = (nextSequence_ + 1) % kSequences;
    // The table grows as sequences are first used, so that a small sweep
    // does not clear memory for 65536 of them.
    if (nextSequence_ >= slots_.size())
      slots_.resize(std::min(kSequences, std::max(nextSequence_ + 1, slots_.size() * 2)));
    const auto s = static_cast<std::uint16_t>(nextSequence_);
    nextSequence_ = (nextSequence_ + 1) % kSequences;
    return s;
  }

  bool OnLink(NumericAddress a) const {
    const auto& links = options_.onLink;
    const auto it = std::upper_bound(links.begin(), links.end(), a,
                                     [](NumericAddress v, const AddressRange& r) { return v < r.first; });
    return it != links.begin() && a <= std::prev(it)->last;
  }

  bool NextIsOnLink() const {
    return options_.neighbourBudget > 0 && OnLink(retries_.empty() ? nextAddress_ : retries_.front().address);
  }

  // When the next on-link request may go without more of ours unresolved
  // in the neighbour table than the budget, nor the table at its ceiling;
  // the past when it may now.
  Clock::time_point NeighbourRoomAt() {
    if (options_.neighbourBudget <= 0) return Clock::time_point{};
    if (static_cast<std::int64_t>(holds_.size()) >= options_.neighbourBudget) return holds_.front();
    if (options_.neighbourCeiling <= 0 || !options_.neighbourEntries) return Clock::time_point{};
    const Clock::time_point now = transport_.Now();
    if (now - entriesReadAt_ >= kTableReadEvery) {
      entriesReadAt_ = now;
      entries_ = options_.neighbourEntries().value_or(0);
    }
    // Each request since the reading has made an entry of its own.
    return entries_ >= options_.neighbourCeiling ? entriesReadAt_ + kTableReadEvery : Clock::time_point{};
  }

  void SendDue(Clock::time_point now) {
    if (now < pauseUntil_) return;
    while (!holds_.empty() && holds_.front() <= now) holds_.pop_front();
    // A stall (a busy machine, a late wake-up) is made up by one burst at
    // most: never more than the burst plus the rate in any stretch of time,
    // as a token bucket of the burst's depth allows.
    if (paced_ >= burst_ - 1 && now - NextSendTime() > interval_ * (burst_ - 1)) paceBase_ = now - interval_ * paced_;
    for (int burst = 0; burst < kSendsPerRound && HaveWork() && now >= NextSendTime(); ++burst) {
      const auto sequence = FreeSequence();
      if (!sequence) return;
      const Target target = TakeTarget();
      const bool onLink = options_.neighbourBudget > 0 && OnLink(target.address);
      if (onLink && now < NeighbourRoomAt()) {
        nextSequence_ = *sequence;
        PutBack(target);
        return;
      }
      const auto dest = static_cast<std::uint32_t>(NumericToNetwork(target.address));
      // Before the send: a fast answer may arrive before the call returns.
      const Clock::time_point sentAt = transport_.Now();
      const std::int32_t status = transport_.Send(dest, Wire(*sequence));
      if (!transport_.Failure().empty()) {
        PutBack(target);  // not the address's fault: the sweep ends here
        return;
      }
      if (Congestion(status, transport_.LastSendErrno()) &&
          (refusedSince_ == Clock::time_point{} || now - refusedSince_ < kNoBufferGiveUp)) {
        // Wait a moment and send the same again, longer each time it is refused.
        if (refusedSince_ == Clock::time_point{}) refusedSince_ = now;
        ++result_.counts.deferred;
        nextSequence_ = *sequence;
        PutBack(target);
        noBufferPause_ = std::min(noBufferPause_ * 2, kNoBufferPauseCeiling);
        pauseUntil_ = now + noBufferPause_;
        return;
      }
      refusedSince_ = {};
      noBufferPause_ = kNoBufferPause / 2;
      ++paced_;
      if (onLink) {
        holds_.push_back(sentAt + options_.neighbourHold);
        ++entries_;
      }
      if (status != IP_SUCCESS) {
        AddressResult& filed = File(target.address, Outcome::Error, status, {}, 0);
        const int error = transport_.LastSendErrno();
        filed.origin = error != 0 ? ErrorOrigin::Local : ErrorOrigin::Unknown;
        filed.errorNumber = error;
        continue;
      }
      ++result_.counts.sent;
      Slot& slot = slots_[*sequence];
      slot.target = Target{target.address, static_cast<std::uint8_t>(target.attempt + 1)};
      slot.dest = dest;
      slot.sent = sentAt;
      slot.busy = true;
      ++slot.generation;
      ++busy_;
      inFlight_.push_back(InFlight{*sequence, slot.generation, slot.sent + options_.timeout});
    }
  }

  void Drain() {
    for (int round = 0; round < kDrainLimit; ++round) {
      if (auto event = transport_.Receive()) {
        Handle(*event);
      } else if (!transport_.Readable()) {
        return;
      }
    }
  }

  void Handle(const linuxnet::EchoEvent& event) {
    // Another program's identifier, a sequence with nothing in flight (a
    // late or repeated answer), or an answer from or about another address
    // than the one this sequence went to: not ours to take.
    const auto sequence = static_cast<std::uint16_t>(event.sequence - firstSequence_);
    if (event.identifier != transport_.Identifier() || sequence >= slots_.size() || !slots_[sequence].busy ||
        event.peer != slots_[sequence].dest) {
      ++ignored_;
      return;
    }
    Slot& slot = slots_[sequence];
    if (event.kind == linuxnet::EchoEvent::Kind::Error && Congestion(IP_NO_RESOURCES, event.localErrno) &&
        event.localErrno != 0) {
      // Dropped on its way out for want of room: made again, not the address's error.
      ++result_.counts.deferred;
      Release(slot);
      retries_.push_front(Target{slot.target.address, static_cast<std::uint8_t>(slot.target.attempt - 1)});
      return;
    }
    const Clock::time_point received =
        event.received == Clock::time_point{} ? transport_.Now() : event.received;
    if (received > slot.sent + options_.timeout) {
      ++ignored_;  // came after its time-out; expires below
      return;
    }
    const auto rtt = std::chrono::ceil<std::chrono::microseconds>(received - slot.sent);
    const auto micros = static_cast<std::uint32_t>(std::max<std::int64_t>(rtt.count(), 0));
    if (event.kind == linuxnet::EchoEvent::Kind::Reply) {
      const std::string_view data(reinterpret_cast<const char*>(event.data.data()),
                                  event.data.size());
      auto text = UnitTextOfReplyData(data);
      AddressResult& filed = File(slot.target.address, text ? Outcome::Unit : Outcome::Host, IP_SUCCESS,
                                  text ? std::move(*text) : std::string(), micros);
      if (event.hardware) filed.mac = linuxnet::MacText(*event.hardware);
    } else {
      AddressResult& filed = File(slot.target.address, Outcome::Error, event.status, {}, micros);
      if (event.localErrno != 0) {
        filed.origin = ErrorOrigin::Local;
        filed.errorNumber = event.localErrno;
      } else if (event.icmpType != linuxnet::IcmpEchoReplyType) {
        filed.origin = ErrorOrigin::Icmp;
        filed.icmpType = event.icmpType;
        filed.icmpCode = event.icmpCode;
      } else {
        filed.origin = ErrorOrigin::Unknown;
      }
    }
    Release(slot);
  }

  void Release(Slot& slot) {
    slot.busy = false;
    --busy_;
  }

  void ExpireUntil(Clock::time_point now) {
    while (!inFlight_.empty() && inFlight_.front().deadline <= now) {
      const InFlight entry = inFlight_.front();
      inFlight_.pop_front();
      Slot& slot = slots_[entry.sequence];
      if (!slot.busy || slot.generation != entry.generation) continue;
      Release(slot);
      if (slot.target.attempt <= options_.retries) retries_.push_back(slot.target);
    }
  }

  void DropFinishedFront() {
    while (!inFlight_.empty()) {
      const Slot& slot = slots_[inFlight_.front().sequence];
      if (slot.busy && slot.generation == inFlight_.front().generation) return;
      inFlight_.pop_front();
    }
  }

  AddressResult& File(NumericAddress address, Outcome outcome, std::int32_t status, std::string text,
                      std::uint32_t micros) {
    switch (outcome) {
      case Outcome::Unit: ++result_.counts.units; break;
      case Outcome::Host: ++result_.counts.hosts; break;
      case Outcome::Error: ++result_.counts.errors; break;
    }
    return result_.answered.emplace_back(AddressResult{address, outcome, status, std::move(text), micros});
  }

  void Finish(Clock::time_point now, bool final) {
    SweepCounts& c = result_.counts;
    c.silent = c.addresses - c.units - c.hosts - c.errors;
    c.ignored = ignored_ + transport_.FramesIgnored();
    c.arpSent = transport_.ArpRequestsSent();
    c.elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - start_);
    if (final) {
      std::sort(result_.answered.begin(), result_.answered.end(),
                [](const AddressResult& a, const AddressResult& b) { return a.address < b.address; });
    }
  }

  const std::vector<AddressRange>& ranges_;
  EchoTransport& transport_;
  const SweepOptions& options_;
  std::uint16_t firstSequence_ = options_.firstSequence;
  std::int64_t ignored_ = 0;
  std::size_t lookedUp_ = 0;  // answers whose hardware address was asked for
  std::vector<Slot> slots_;  // by sequence
  std::size_t busy_ = 0;
  std::size_t nextSequence_ = 0;
  std::deque<InFlight> inFlight_;
  std::deque<Target> retries_;
  std::size_t rangeIndex_ = 0;
  NumericAddress nextAddress_ = 0;
  nanoseconds interval_{0};
  Clock::time_point start_{};
  Clock::time_point paceBase_{};
  std::int64_t paced_ = 0;
  std::int64_t burst_ = 1;
  Clock::time_point pauseUntil_{};
  Clock::time_point refusedSince_{};  // of the refusals in a row; epoch when none
  nanoseconds noBufferPause_ = kNoBufferPause / 2;
  std::deque<Clock::time_point> holds_;  // when our on-link requests' table entries go
  Clock::time_point entriesReadAt_{};
  std::int64_t entries_ = 0;  // in the neighbour table, as last read, and ours since
  Clock::time_point lastProgress_{};
  SweepResult result_;
};

}  // namespace

SweepResult RunSweep(const std::vector<AddressRange>& merged, EchoTransport& transport,
                     const SweepOptions& options) {
  return SweepRun(merged, transport, options).Run();
}

}  // namespace zn7qx::scan
