#pragma once
// The watch: the same sweep again and again, and what changed among the
// units from one sweep to the next.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "scan/Sweep.h"

namespace zn7qx::scan {

enum class Event : std::uint8_t { Appeared, Silent, Changed, Moved, Present };
// The word a change is written with.
const char* EventName(Event event);

struct Change {
  Event event = Event::Appeared;
  NumericAddress address = 0;
  NumericAddress from = 0;  // Moved: the address it left
  std::string text;
  std::string mac;         // "" when not known
  std::string oldText;     // Changed, Moved
  // Which unit, for as long as the watch knows it: its hardware address
  // when first heard with one, else the address it was first heard at.
  // It stays with the unit whatever its text or address becomes.
  std::string id;
};

// The units present, and what each sweep changes among them. A unit that
// does not answer is taken for gone after two sweeps in a row, so that one
// lost reply is no alarm. A hardware address, where both sides have one,
// says which unit is which: one that answers at a new address with a known
// unit's hardware address has moved, whatever now answers at its old one.
class WatchState {
 public:
  struct Unit {
    std::string id;
    NumericAddress address = 0;
    std::string text;
    std::string mac;
    int misses = 0;  // sweeps in a row without its answer
  };

  WatchState() = default;
  // As a saved watch left them (a restart).
  explicit WatchState(std::vector<Unit> units);

  // Units of one sweep; the changes, in address order (those gone last).
  std::vector<Change> Update(const std::vector<AddressResult>& answered);
  // Every unit present, as Present changes in address order.
  std::vector<Change> Present() const;
  std::size_t Count() const { return units_.size(); }
  const std::vector<Unit>& Units() const { return units_; }

 private:
  std::string NewId(const AddressResult& answer, const std::vector<Unit>& next) const;
  // In address order. One that missed a sweep keeps its address, which
  // another unit may have taken meanwhile.
  std::vector<Unit> units_;
  // Answers put off by the last sweep: address and text.
  std::vector<std::pair<NumericAddress, std::string>> putOff_;
  // Units told silent, latest last, so that one that answers again is
  // known for the same unit.
  static constexpr std::size_t kRemembered = 4096;
  std::vector<Unit> gone_;
};

// What a whole sweep of a watch brought.
struct SweepDone {
  std::int64_t number;  // from 1
  const SweepCounts& counts;
  const std::vector<Change>& changes;
  const WatchState& state;
};

struct WatchOptions {
  // From the start of one sweep to the start of the next; a sweep that takes
  // longer is followed at once.
  std::chrono::microseconds interval{std::chrono::seconds(5)};
  std::int64_t sweeps = 0;  // stop after so many; 0 = until stopped
  WatchState start;         // the units known before the first sweep (a restart)
  // After each whole sweep. False ends the watch (its output cannot be
  // written, say).
  std::function<bool(const SweepDone&)> afterSweep;
  // Once, the first time a sweep takes longer than the interval.
  std::function<void(std::chrono::microseconds took)> tooSlow;
  // A sweep that could not go on (its link went away): the watch ends.
  std::function<void(const std::string& why)> failed;
};

// Sweeps until options.sweeps, the sweep's stop flag or afterSweep says so;
// a sweep cut short by the stop is not counted. Returns the state after the last whole sweep.
WatchState RunWatch(const std::vector<AddressRange>& merged, EchoTransport& transport, SweepOptions sweep,
                    const WatchOptions& options, std::int64_t* sweepsDone = nullptr);

}  // namespace zn7qx::scan
