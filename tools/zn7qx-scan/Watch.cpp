#include "tools/zn7qx-scan/Watch.h"


namespace zn7qx::scan {

std::vector<Change> WatchState::Update(const std::vector<AddressResult>& answered) {
  std::map<NumericAddress, const AddressResult*> now;
  for (const AddressResult& r : answered)
    if (r.outcome == Outcome::Unit) now.emplace(r.address, &r);
  // Whether the unit at this address answered this sweep with this hardware address.
  const auto stillThere = [&](NumericAddress address, const std::string& mac) {
    const auto it = now.find(address);
    return it != now.end() && (it->second->mac.empty() || it->second->mac == mac);
  };

  // Present units by hardware address, for those that moved.
  std::multimap<std::string, NumericAddress> byMac;
  for (const auto& [address, u] : units_)
    if (!u.mac.empty() && !stillThere(address, u.mac)) byMac.emplace(u.mac, address);

  std::vector<Change> changes;
  for (const auto& [address, r] : now) {
    auto known = units_.find(address);
    if (known != units_.end() && (known->second.mac.empty() || r->mac.empty() || known->second.mac == r->mac)) {
      Unit& u = known->second;
      if (u.text != r->unitText) changes.push_back({Event::Changed, address, 0, r->unitText, r->mac, u.text, ""});
      u.text = r->unitText;
      if (!r->mac.empty()) u.mac = r->mac;
      u.misses = 0;
      continue;
    }
    if (known != units_.end()) {
      // Another unit at the address: one that has the same hardware address
      // would have answered with it.
      changes.push_back({Event::Changed, address, 0, r->unitText, r->mac, known->second.text, known->second.mac});
      known->second = {r->unitText, r->mac, 0};
      continue;
    }
    const auto left = r->mac.empty() ? byMac.end() : byMac.find(r->mac);
    if (left != byMac.end()) {
      const auto gone = units_.find(left->second);
      changes.push_back({Event::Moved, address, gone->first, r->unitText, r->mac, gone->second.text, ""});
      units_.erase(gone);
      byMac.erase(left);
    } else {
      changes.push_back({Event::Appeared, address, 0, r->unitText, r->mac, "", ""});
    }
    units_[address] = {r->unitText, r->mac, 0};
  }
  for (auto it = units_.begin(); it != units_.end();) {
    if (!now.count(it->first) && ++it->second.misses >= 2) {
      changes.push_back({Event::Silent, it->first, 0, it->second.text, it->second.mac, "", ""});
      it = units_.erase(it);
    } else {
      ++it;
    }
  }
  return changes;
}

std::vector<Change> WatchState::Present() const {
  std::vector<Change> present;
  for (const auto& [address, u] : units_) present.push_back({Event::Present, address, 0, u.text, u.mac, "", ""});
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
    if (options.afterSweep) options.afterSweep(done, changes, state);
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
