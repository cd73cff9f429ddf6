// Seeded random site histories through the watch and its metrics: units move,
// swap, are replaced, change their text and fall silent, and a hardware address
// is at times not read (never twice in a row, as the neighbour table behaves).
// What the watch says must be true of the site; the metrics must agree.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "scan/Metrics.h"
#include "scan/Watch.h"

namespace zn7qx::test {
namespace {

using scan::Event;

struct TrueUnit {
  int address = 0;  // 0: gone for good
  std::string text, mac;
  int quietFor = 0;  // sweeps it will not answer
  bool macReadLast = true;
  std::vector<int> answered;  // the sweeps it answered
};

class Site {
 public:
  explicit Site(std::uint32_t seed) : random_(seed) {}

  // One sweep's answers after a random change or two; every hardware address
  // read when full is set.
  std::vector<scan::AddressResult> Sweep(int number, bool full) {
    log += " |" + std::to_string(number);
    if (!full)
      for (int n = Pick(3); n > 0; --n) Change();
    std::vector<scan::AddressResult> answers;
    for (std::size_t t = 0; t < units_.size(); ++t) {
      TrueUnit& u = units_[t];
      if (u.address == 0) continue;
      if (u.quietFor > 0) {
        --u.quietFor;
        continue;
      }
      scan::AddressResult& r = answers.emplace_back();
      r.address = u.address;
      r.outcome = scan::Outcome::Unit;
      r.unitText = u.text;
      const bool read = full || !u.macReadLast || (u.answered.empty() && !macsRead_) || Pick(10) != 0;
      r.mac = read ? u.mac : "";
      if (!read) log += " unread" + u.mac;
      u.macReadLast = read;
      u.answered.push_back(number);
    }
    for (const scan::AddressResult& r : answers) macsRead_ = macsRead_ || !r.mac.empty();
    return answers;
  }
  // Which true unit answered at an address this sweep; -1 for none.
  int At(int address, int number) const {
    for (std::size_t t = 0; t < units_.size(); ++t)
      if (units_[t].address == address && !units_[t].answered.empty() && units_[t].answered.back() == number)
        return static_cast<int>(t);
    return -1;
  }
  const TrueUnit& Unit(int t) const { return units_[static_cast<std::size_t>(t)]; }
  std::string log;

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  bool Taken(int address) const {
    return std::any_of(units_.begin(), units_.end(), [&](const TrueUnit& u) { return u.address == address; });
  }
  int FreeAddress() {
    for (int tries = 0; tries < 50; ++tries)
      if (const int a = 1 + Pick(24); !Taken(a)) return a;
    return 0;
  }
  TrueUnit* Any() {
    std::vector<TrueUnit*> live;
    for (TrueUnit& u : units_)
      if (u.address != 0) live.push_back(&u);
    return live.empty() ? nullptr : live[static_cast<std::size_t>(Pick(static_cast<int>(live.size())))];
  }
  void New(int address) {
    if (address == 0) return;
    const int n = static_cast<int>(units_.size());
    units_.push_back({address, "T" + std::to_string(n), "m" + std::to_string(n), 0, true, {}});
    log += " new@" + std::to_string(address);
  }
  void Change() {
    TrueUnit* u = Any();
    switch (Pick(7)) {
      case 0: New(FreeAddress()); break;
      case 1:  // moves
        if (const int a = FreeAddress(); u != nullptr && a != 0) log += " move" + u->mac, u->address = a;
        break;
      case 2:  // two swap their addresses
        if (TrueUnit* v = Any(); u != nullptr && v != u) log += " swap", std::swap(u->address, v->address);
        break;
      case 3:  // replaced: another unit where it was
        if (u != nullptr) {
          const int a = u->address;
          log += " gone" + u->mac, u->address = 0;
          New(a);
        }
        break;
      case 4:
        if (u != nullptr) log += " text" + u->mac, u->text += "'";
        break;
      case 5:  // silent for a while, a single sweep at times
        if (u != nullptr) u->quietFor = 1 + Pick(4), log += " quiet" + u->mac + "x" + std::to_string(u->quietFor);
        break;
      default:
        if (u != nullptr) log += " gone" + u->mac, u->address = 0;
    }
  }
  std::mt19937 random_;
  std::vector<TrueUnit> units_;
  // Until a hardware address has been read, a unit without one is taken
  // for one behind a router: no first answer goes unread before that.
  bool macsRead_ = false;
};

// What is wrong with one sweep's changes and metrics; empty when nothing.
std::string Judge(const Site& site, int number, const std::vector<scan::Change>& changes,
                  std::map<std::string, int>& unitOf, std::map<std::string, std::pair<NumericAddress, std::string>>& known,
                  const scan::WatchState& state, const std::string& metrics) {
  const std::string sweep = "sweep " + std::to_string(number) + ": ";
  for (const scan::Change& c : changes) {
    const int at = site.At(static_cast<int>(c.address), number);
    const std::string what = sweep + scan::EventName(c.event) + " " + c.id + " at " + std::to_string(c.address);
    if (c.event != Event::Appeared && known.count(c.id) == 0) return "false " + what + " (not a unit it knew)";
    switch (c.event) {
      case Event::Appeared:
        if (at < 0 || known.count(c.id) != 0) return "false " + what;
        for (const auto& [id, unit] : unitOf)
          if (unit == at && known.count(id) != 0) return "false " + what + " (already known as " + id + ")";
        unitOf[c.id] = at;
        known[c.id] = {c.address, c.text};
        break;
      case Event::Moved:
        if (at < 0 || unitOf[c.id] != at || known[c.id].first != c.from) return "false " + what;
        known[c.id] = {c.address, c.text};
        break;
      case Event::Changed:
        if (at < 0 || unitOf[c.id] != at || known[c.id].first != c.address || known[c.id].second == c.text)
          return "false " + what;
        known[c.id].second = c.text;
        break;
      case Event::Silent: {
        const auto& heard = site.Unit(unitOf[c.id]).answered;
        if (known.erase(c.id) == 0 || (!heard.empty() && heard.back() >= number - 1)) return "false " + what;
        break;
      }
      case Event::Present: return "a present change in a sweep";
    }
  }
  // The metrics: each unit once, up while present, never up and down at once.
  std::set<std::string> up, down, present;
  for (const scan::Change& p : state.Present()) present.insert(p.id);
  for (std::size_t at = 0; (at = metrics.find("\nzn7qx_unit_up{unit=\"", at)) != std::string::npos; ++at) {
    const std::size_t start = at + 21, end = metrics.find('"', start);
    const std::string id = metrics.substr(start, end - start);
    if (up.count(id) + down.count(id) != 0) return sweep + id + " twice in the metrics";
    (metrics.compare(end, 5, "\"} 1\n") == 0 ? up : down).insert(id);
  }
  if (up != present) return sweep + "the metrics' units up are not the watch's";
  // Nor one unit of the site under two series.
  std::set<int> seen;
  for (const auto* ids : {&up, &down})
    for (const std::string& id : *ids)
      if (!seen.insert(unitOf[id]).second) return sweep + "unit m" + std::to_string(unitOf[id]) + " twice in the metrics";
  return {};
}

TEST(WatchHistory, RandomSitesDrawNoFalseChangeAndTheMetricsAgree) {
  constexpr int kHistories = 3000, kSweeps = 30, kSettle = 8;
  int failed = 0;
  std::string first;
  for (std::uint32_t seed = 1; seed <= kHistories; ++seed) {
    Site site(seed);
    scan::WatchState state;
    scan::WatchMetrics metrics;
    std::map<std::string, int> unitOf;
    std::map<std::string, std::pair<NumericAddress, std::string>> known;
    std::string problem;
    std::set<int> answering;
    for (int n = 1; n <= kSweeps + kSettle && problem.empty(); ++n) {
      const auto answers = site.Sweep(n, n > kSweeps);
      answering.clear();
      for (const auto& r : answers) answering.insert(site.At(static_cast<int>(r.address), n));
      const std::vector<scan::Change> changes = state.Update(answers);
      scan::SweepCounts counts;
      metrics.Update({n, counts, changes, state}, scan::Clock::time_point{} + std::chrono::seconds(n), n);
      problem = Judge(site, n, changes, unitOf, known, state, metrics.Text());
    }
    // Settled, with every hardware address read: the watch holds the site.
    std::set<int> held;
    for (const scan::Change& p : state.Present()) held.insert(unitOf[p.id]);
    if (problem.empty() && held != answering) problem = "the units present after settling are not the site's";
    if (!problem.empty() && failed++ == 0) first = "seed " + std::to_string(seed) + ": " + problem + "; history:" + site.log;
  }
  EXPECT_EQ(failed, 0) << first;
}

}  // namespace
}  // namespace zn7qx::test
