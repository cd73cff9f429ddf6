#include "scan/Watch.h"

#include <algorithm>
#include <map>

#include "net/mdlConvertIPForms.h"

namespace zn7qx::scan {

const char* EventName(Event event) {
  switch (event) {
    case Event::Appeared: return "appeared";
    case Event::Silent: return "silent";
    case Event::Changed: return "changed";
    case Event::Moved: return "moved";
    case Event::Present: return "present";
  }
  return "changed";
}

WatchState::WatchState(std::vector<Unit> units) : units_(std::move(units)) {
  std::stable_sort(units_.begin(), units_.end(), [](const Unit& a, const Unit& b) { return a.address < b.address; });
}

std::string WatchState::NewId(const AddressResult& answer, const std::vector<Unit>& next) const {
  const auto taken = [&](const std::string& id) {
    const auto same = [&](const Unit& u) { return u.id == id; };
    return std::any_of(units_.begin(), units_.end(), same) || std::any_of(next.begin(), next.end(), same) ||
           std::any_of(gone_.begin(), gone_.end(), same);
  };
  const std::string base = answer.mac.empty() ? NetworkToDotted(NumericToNetwork(answer.address)) : answer.mac;
  std::string id = base;
  for (int n = 2; taken(id); ++n) id = base + "#" + std::to_string(n);
  return id;
}

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
  // address order. First a hardware address read that a known unit has:
  // that unit, where it was or moved.
  for (std::size_t i = 0; i < answers.size(); ++i)
    if (!answers[i]->mac.empty()) match(byMac.equal_range(answers[i]->mac), i, [](const Unit&) { return true; });
  // Then the same unit at its own address: a first hardware address read;
  // none read, with the same text, or where the unit has never had one
  // (behind a router). Of two units at one address (one of them not heard
  // lately), the one heard last sweep first.
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const AddressResult& r = *answers[i];
    for (const int misses : {0, 1})
      match(byAddress.equal_range(r.address), i, [&](const Unit& u) {
        return u.misses == misses && (r.mac.empty() ? u.mac.empty() || u.text == r.unitText : u.mac.empty());
      });
  }
  // The one unit not heard yet with the same text, of those whose hardware
  // address was never read when one is read now, else of those that have
  // one: it moved. Without any, two answers of one text may be two units.
  const auto sameText = [&](std::size_t i, bool withMac) {
    std::size_t found = kNone, count = 0;
    for (std::size_t k = 0; k < units_.size(); ++k)
      if (!taken[k] && units_[k].mac.empty() != withMac && units_[k].text == answers[i]->unitText)
        found = k, ++count;
    if (known[i] == kNone && count == 1) known[i] = found, taken[found] = true;
  };
  for (std::size_t i = 0; i < answers.size(); ++i)
    if (known[i] == kNone && !answers[i]->mac.empty()) sameText(i, false);
  // An answer whose hardware address was not read, on a site where they are
  // read, may be any unit known or gone: it is judged on the next sweep,
  // which reads it, rather than told wrong now. The same answer put off
  // already, or one where no hardware address is ever read, is judged now
  // on what is known.
  const auto hasMac = [](const auto& x) { return !x.mac.empty(); };
  const auto answerHasMac = [](const AddressResult* r) { return !r->mac.empty(); };
  const bool macsRead = std::any_of(answers.begin(), answers.end(), answerHasMac) ||
                        std::any_of(units_.begin(), units_.end(), hasMac) ||
                        std::any_of(gone_.begin(), gone_.end(), hasMac);
  std::vector<std::pair<NumericAddress, std::string>> putOff;
  std::vector<bool> skip(answers.size(), false);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const AddressResult& r = *answers[i];
    if (known[i] != kNone || !r.mac.empty()) continue;
    if (macsRead && std::find(putOff_.begin(), putOff_.end(), std::pair(r.address, r.unitText)) == putOff_.end()) {
      putOff.emplace_back(r.address, r.unitText);
      skip[i] = true;
      continue;
    }
    sameText(i, true);
    match(byAddress.equal_range(r.address), i, [](const Unit&) { return true; });
  }
  putOff_ = std::move(putOff);

  std::vector<Change> changes;
  std::vector<Unit> next;
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const AddressResult& r = *answers[i];
    if (skip[i]) continue;
    if (known[i] == kNone) {
      // A unit gone silent that answers again keeps its identity: by its
      // hardware address, or where it never had one, its address and text.
      const auto back = std::find_if(gone_.begin(), gone_.end(), [&](const Unit& g) {
        return r.mac.empty() ? g.mac.empty() && g.address == r.address && g.text == r.unitText : g.mac == r.mac;
      });
      std::string id = back != gone_.end() ? back->id : NewId(r, next);
      if (back != gone_.end()) gone_.erase(back);
      changes.push_back({Event::Appeared, r.address, 0, r.unitText, r.mac, "", id});
      next.push_back({std::move(id), r.address, r.unitText, r.mac, 0});
      continue;
    }
    const Unit& u = units_[known[i]];
    if (u.address != r.address) {
      changes.push_back({Event::Moved, r.address, u.address, r.unitText, r.mac, u.text, u.id});
    } else if (u.text != r.unitText) {
      changes.push_back({Event::Changed, r.address, 0, r.unitText, r.mac, u.text, u.id});
    }
    next.push_back({u.id, r.address, r.unitText, r.mac.empty() ? u.mac : r.mac, 0});
  }
  std::vector<Change> silent;
  for (std::size_t k = 0; k < units_.size(); ++k) {
    if (taken[k]) continue;
    Unit u = units_[k];
    // An answer put off may be its: counted as heard, so that it is never
    // told silent early (at worst a sweep late).
    u.misses = putOff_.empty() ? u.misses + 1 : 0;
    if (u.misses >= 2) {
      silent.push_back({Event::Silent, u.address, 0, u.text, u.mac, "", u.id});
      gone_.push_back(std::move(u));
    } else {
      next.push_back(std::move(u));
    }
  }
  // The units gone longest are forgotten first.
  if (gone_.size() > kRemembered) gone_.erase(gone_.begin(), gone_.end() - static_cast<std::ptrdiff_t>(kRemembered));
  std::stable_sort(silent.begin(), silent.end(), [](const Change& a, const Change& b) { return a.address < b.address; });
  changes.insert(changes.end(), silent.begin(), silent.end());
  std::stable_sort(next.begin(), next.end(), [](const Unit& a, const Unit& b) { return a.address < b.address; });
  units_ = std::move(next);
  return changes;
}

std::vector<Change> WatchState::Present() const {
  std::vector<Change> present;
  for (const Unit& u : units_) present.push_back({Event::Present, u.address, 0, u.text, u.mac, "", u.id});
  return present;
}

WatchState RunWatch(const std::vector<AddressRange>& merged, EchoTransport& transport, SweepOptions sweep,
                    const WatchOptions& options, std::int64_t* sweepsDone) {
  WatchState state = options.start;
  bool saidSlow = false;
  const auto stopped = [&] { return sweep.stop != nullptr && sweep.stop->load(); };
  std::int64_t done = 0;
  // Each sweep is due an interval after the last was due, so that late
  // wake-ups do not add up over a long watch.
  Clock::time_point start = transport.Now();
  while (options.sweeps == 0 || done < options.sweeps) {
    // A signal held back while the output was written (a reader that
    // blocked it, say) is let through before anything is sent.
    transport.Wait(transport.Now());
    if (stopped()) break;
    const SweepResult result = RunSweep(merged, transport, sweep);
    if (result.counts.interrupted) break;  // half a sweep would look like units gone
    if (!result.failure.empty()) {
      if (options.failed) options.failed(result.failure);
      break;
    }
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
