#include "scan/Watch.h"

#include <algorithm>
#include <map>

namespace zn7qx::scan {

std::vector<Change> WatchState::Update(const std::vector<AddressResult>& answered) {
  std::vector<const AddressResult*> answers;
  for (const AddressResult& r : answered)
    if (r.outcome == Outcome::Unit) answers.push_back(&r);
  std::stable_sort(answers.begin(), answers.end(),
                   [](const AddressResult* a, const AddressResult* b) { return a->address < b->address; });

  std::multimap<NumericAddress, std::size_t> byAddress;
  std::multimap<std::string, std::size_t> byMac;
  for (std::size_t k = 0; k < units_.size(); ++k) {
    byAddress.emplace(units_[k].address, k);
    if (!units_[k].mac.empty()) byMac.emplace(units_[k].mac, k);
  }
  // Which known unit each answer is, once matched; each is matched once.
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> known(answers.size(), kNone);
  std::vector<bool> taken(units_.size(), false);
  const auto match = [&](auto range, std::size_t i, auto fits) {
    for (auto it = range.first; it != range.second && known[i] == kNone; ++it)
      if (!taken[it->second] && fits(units_[it->second])) {
        known[i] = it->second;
        taken[it->second] = true;
      }
  };
  // All of one step before the next, so that the result does not depend on
  // address order. First the same unit at its own address: the same hardware
  // address, else one side without any.
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const std::string& mac = answers[i]->mac;
    match(byAddress.equal_range(answers[i]->address), i, [&](const Unit& u) { return !mac.empty() && u.mac == mac; });
    match(byAddress.equal_range(answers[i]->address), i, [&](const Unit& u) { return mac.empty() || u.mac.empty(); });
  }
  // Then a known hardware address at another address: that unit moved.
  for (std::size_t i = 0; i < answers.size(); ++i)
    if (!answers[i]->mac.empty()) match(byMac.equal_range(answers[i]->mac), i, [](const Unit&) { return true; });
  // Then another unit at the address of one that has not been seen.
  for (std::size_t i = 0; i < answers.size(); ++i)
    match(byAddress.equal_range(answers[i]->address), i, [](const Unit&) { return true; });

  std::vector<Change> changes;
  std::vector<Unit> next;
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const AddressResult& r = *answers[i];
    if (known[i] == kNone) {
      changes.push_back({Event::Appeared, r.address, 0, r.unitText, r.mac, "", ""});
      next.push_back({r.address, r.unitText, r.mac, 0});
      continue;
    }
    const Unit& u = units_[known[i]];
    if (u.address != r.address) {
      changes.push_back({Event::Moved, r.address, u.address, r.unitText, r.mac, u.text, ""});
    } else if (!u.mac.empty() && !r.mac.empty() && u.mac != r.mac) {
      changes.push_back({Event::Changed, r.address, 0, r.unitText, r.mac, u.text, u.mac});  // another unit
    } else if (u.text != r.unitText) {
      changes.push_back({Event::Changed, r.address, 0, r.unitText, r.mac, u.text, ""});
    }
    next.push_back({r.address, r.unitText, r.mac.empty() ? u.mac : r.mac, 0});
  }
  std::vector<Change> gone;
  for (std::size_t k = 0; k < units_.size(); ++k) {
    if (taken[k]) continue;
    Unit u = units_[k];
    if (++u.misses >= 2) {
      gone.push_back({Event::Silent, u.address, 0, u.text, u.mac, "", ""});
    } else {
      next.push_back(std::move(u));
    }
  }
  std::stable_sort(gone.begin(), gone.end(), [](const Change& a, const Change& b) { return a.address < b.address; });
  changes.insert(changes.end(), gone.begin(), gone.end());
  std::stable_sort(next.begin(), next.end(), [](const Unit& a, const Unit& b) { return a.address < b.address; });
  units_ = std::move(next);
  return changes;
}

std::vector<Change> WatchState::Present() const {
  std::vector<Change> present;
  for (const Unit& u : units_) present.push_back({Event::Present, u.address, 0, u.text, u.mac, "", ""});
  return present;
}

WatchState RunWatch(const std::vector<AddressRange>& merged, EchoTransport& transport, SweepOptions sweep,
                    const WatchOptions& options, std::int64_t* sweepsDone) {
  WatchState state;
  bool saidSlow = false;
  const auto stopped = [&] { return sweep.stop != nullptr && sweep.stop->load(); };
  std::int64_t done = 0;
  // Each sweep is due an interval after the last was due, so that late
  // wake-ups do not add up over a long watch.
  Clock::time_point start = transport.Now();
  while (options.sweeps == 0 || done < options.sweeps) {
    const SweepResult result = RunSweep(merged, transport, sweep);
    if (result.counts.interrupted) break;  // half a sweep would look like units gone
    sweep.firstSequence = result.nextSequence;
    ++done;
    const std::vector<Change> changes = state.Update(result.answered);
    if (options.afterSweep && !options.afterSweep({done, result.counts, changes, state})) break;
    Clock::time_point next = start + options.interval;
    if (transport.Now() >= next) {
      if (!saidSlow && options.tooSlow)
        options.tooSlow(std::chrono::duration_cast<std::chrono::microseconds>(transport.Now() - start));
      saidSlow = true;
      next = transport.Now();
    }
    if (options.sweeps != 0 && done >= options.sweeps) break;
    // Late answers to the last sweep are of no use to the next one.
    while (!stopped() && transport.Now() < next) {
      transport.Wait(next);
      for (int i = 0; i < 4096 && transport.Readable(); ++i) (void)transport.Receive();
    }
    if (stopped()) break;
    start = next;
  }
  if (sweepsDone != nullptr) *sweepsDone = done;
  return state;
}

}  // namespace zn7qx::scan
