// What a watch reports from one sweep to the next, and when it sweeps: over
// the network in memory, where a sweep takes no real time.

#include <gtest/gtest.h>

#include <sstream>

#include "scan/Metrics.h"
#include "scan/Watch.h"
#include "tests/support/Addresses.h"
#include "tests/support/ScriptedTransport.h"

namespace zn7qx::test {
namespace {

using scan::Event;

// "10=A@m" is a unit at 198.18.0.10 with text A and hardware address m
// ("10=A@" none); "10" alone a host there.
std::vector<scan::AddressResult> Sweep(const std::string& units) {
  std::vector<scan::AddressResult> answered;
  std::istringstream words(units);
  for (std::string w; words >> w;) {
    const auto equals = w.find('='), at = w.find('@');
    scan::AddressResult& r = answered.emplace_back();
    r.address = Num("198.18.0." + w.substr(0, equals));
    if (equals == std::string::npos) continue;
    r.outcome = scan::Outcome::Unit;
    r.unitText = w.substr(equals + 1, at - equals - 1);
    r.mac = w.substr(at + 1);
  }
  return answered;
}

std::string Said(const std::vector<scan::Change>& changes) {
  std::string said;
  for (const scan::Change& c : changes) {
    said += said.empty() ? "" : ", ";
    said += std::string(scan::EventName(c.event)) + " ";
    if (c.event == Event::Moved) said += Dotted(c.from).substr(9) + ">";
    said += Dotted(c.address).substr(9) + "=" + c.text + "@" + c.mac;
    if (c.event == Event::Changed) said += " was " + c.oldText;
  }
  return said;
}

TEST(Watch, ReportsOnlyWhatChangedAmongTheUnitsAndHoldsEveryUnitPresent) {
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> sweeps;  // units answering, what is said
    std::string present;  // the units present after the last sweep
  } rows[] = {
      {"silent after two sweeps in a row",
       {{"10=A@a", "appeared 10=A@a"}, {"", ""}, {"10=A@a", ""}, {"", ""}, {"10", "silent 10=A@a"}, {"", ""}}, ""},
      {"a new text", {{"10=A@a", "appeared 10=A@a"}, {"10=B@a", "changed 10=B@a was A"}, {"10=B@a", ""}}, "10=B@a"},
      {"moved up, another unit at its old address",
       {{"10=A@a", "appeared 10=A@a"}, {"10=B@b 12=A@a", "appeared 10=B@b, moved 10>12=A@a"}},
       "10=B@b, 12=A@a"},
      {"moved down, another unit at its old address",
       {{"12=A@a", "appeared 12=A@a"}, {"10=A@a 12=B@b", "moved 12>10=A@a, appeared 12=B@b"}},
       "10=A@a, 12=B@b"},
      {"two units swap their addresses",
       {{"10=A@a 12=B@b", "appeared 10=A@a, appeared 12=B@b"}, {"10=B@b 12=A@a", "moved 12>10=B@b, moved 10>12=A@a"},
        {"10=B@b 12=A@a", ""}}, "10=B@b, 12=A@a"},
      {"moved to the address of one not heard",
       {{"10=A@a 12=B@b", "appeared 10=A@a, appeared 12=B@b"}, {"12=A@a", "moved 10>12=A@a"},
        {"12=A@a", "silent 12=B@b"}}, "12=A@a"},
      {"moved with a new text, on the first sweep it is missed",
       {{"10=A@a", "appeared 10=A@a"}, {"", ""}, {"12=C@a", "moved 10>12=C@a"}}, "12=C@a"},
      {"the same hardware address at two that answer",
       {{"10=A@a", "appeared 10=A@a"}, {"10=A@a 12=A@a", "appeared 12=A@a"}}, "10=A@a, 12=A@a"},
      {"without hardware addresses no move",
       {{"10=A@", "appeared 10=A@"}, {"12=A@", "appeared 12=A@"}, {"12=A@", "silent 10=A@"}}, "12=A@"},
      {"another unit at the address",
       {{"10=A@a", "appeared 10=A@a"}, {"10=A@b", "appeared 10=A@b"}, {"10=A@", "silent 10=A@a"}, {"10=A@b", ""}},
       "10=A@b"},
  };
  for (const auto& row : rows) {
    scan::WatchState state;
    int sweep = 0;
    for (const auto& [units, said] : row.sweeps) {
      ++sweep;
      EXPECT_EQ(Said(state.Update(Sweep(units))), said) << row.name << ", sweep " << sweep;
    }
    std::string present = Said(state.Present());
    for (std::string::size_type at; (at = present.find("present ")) != std::string::npos;) present.erase(at, 8);
    EXPECT_EQ(present, row.present) << row.name;
    EXPECT_EQ(state.Count(), state.Present().size()) << row.name;
  }
}

TEST(Watch, SweepsEveryIntervalBackToBackWhenSlowerAndTakesNoLateAnswerOfAnEarlierSweep) {
  const struct {
    double rate;
    std::vector<std::chrono::milliseconds> starts;  // each wait ends 1 ms late
    int saidSlow;
    int ignored;  // late answers a sweep met: those between sweeps are drained there
  } rows[] = {
      {1000, {0ms, 1001ms, 2001ms, 3001ms, 4001ms}, 0, 1},
      // 12 requests at 10 a second, each 1 ms late: 1.11 s and the last one's time-out.
      {10, {0ms, 1412ms, 2824ms, 4236ms, 5648ms}, 1, 2},
  };
  for (const auto& row : rows) {
    ScriptedTransport net;
    net.oversleep = 1ms;
    // The first sweep's request to .1 draws late answers: at 0.5 s, between
    // the first two sweeps when they are a second apart, and 3.2 s later,
    // when a later sweep's request to it is in flight.
    net.scripts[Net("198.18.0.1")] = [first = true](ScriptedTransport& t, const SentRequest& r) mutable {
      if (!std::exchange(first, false)) return;
      t.Deliver(r.at + 500ms, t.Reply(r, "Found.Late"));
      t.Deliver(r.at + 3200ms, t.Reply(r, "Found.Ghost"));
    };
    net.scripts[Net("198.18.0.2")] = AnswerAsUnit("Two");
    scan::SweepOptions sweep;
    sweep.rate = row.rate;
    sweep.burst = 1;
    sweep.hardware = [](std::span<scan::AddressResult> answers) {
      for (auto& a : answers) a.mac = "m" + Dotted(a.address);
    };
    scan::WatchOptions watch;
    watch.interval = 1s;
    watch.sweeps = 5;
    int slow = 0;
    std::string said;
    watch.tooSlow = [&](std::chrono::microseconds) { ++slow; };
    int ignored = 0;
    watch.afterSweep = [&](const scan::SweepDone& done) {
      said += Said(done.changes) + ";";
      ignored += static_cast<int>(done.counts.ignored);
      return true;
    };
    std::int64_t done = 0;
    RunWatch({{Num("198.18.0.1"), Num("198.18.0.12")}}, net, sweep, watch, &done);
    EXPECT_EQ(done, 5);
    std::vector<std::chrono::milliseconds> starts;
    for (const SentRequest& s : net.sent)
      if (s.dest == Net("198.18.0.1")) starts.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(s.at - net.start()));
    EXPECT_EQ(starts, row.starts);
    EXPECT_EQ(slow, row.saidSlow);
    EXPECT_EQ(said, "appeared 2=Two@m198.18.0.2;;;;;");
    EXPECT_EQ(ignored, row.ignored);
  }
}

// What Prometheus reads of a watch: each unit up while present, down from
// the sweep it went silent until an hour later, then gone; labels escaped.
TEST(Watch, MetricsHoldEachUnitUpThenDownForAnHourThenGone) {
  const std::string b = R"(zn7qx_unit_up{unit="b"})";
  const std::string a = R"(zn7qx_unit_up{unit="a"} 1)";
  const struct {
    int minute;
    std::string units;  // as Sweep() reads them; B's text is "B\"\\x\n"
    std::string up;     // the zn7qx_unit_up lines after the sweep
  } sweeps[] = {
      {0, "10=A@a 11=B@b", a + b + " 1"},
      {1, "10=A@a", a + b + " 1"},   // missed once: still present
      {2, "10=A@a", a + b + " 0"},   // silent
      {61, "10=A@a", a + b + " 0"},
      {62, "10=A@a", a},             // an hour silent: gone
      {63, "10=A@a 11=B@b", a + b + " 1"},
  };
  scan::WatchState state;
  scan::WatchMetrics metrics;
  const Clock::time_point start{};
  std::int64_t number = 0, answers = 0;
  for (const auto& s : sweeps) {
    std::vector<scan::AddressResult> answered = Sweep(s.units);
    for (auto& r : answered) r.unitText = r.unitText == "B" ? "B\"\\x\n" : r.unitText;
    scan::SweepCounts counts;
    counts.units = static_cast<std::int64_t>(answered.size());
    answers += counts.units;
    counts.elapsed = std::chrono::milliseconds(250);
    const std::vector<scan::Change> changes = state.Update(answered);
    metrics.Update({++number, counts, changes, state}, start + std::chrono::minutes(s.minute), 1e9 + s.minute * 60);
    const std::string text = metrics.Text();
    std::string up;
    for (std::size_t at = 0; (at = text.find("\nzn7qx_unit_up{", at)) != std::string::npos;)
      up += text.substr(at + 1, text.find('\n', at + 1) - at - 1), at += 1;
    EXPECT_EQ(up, s.up) << "minute " << s.minute;
    // What changes is in the _info series, there as long as the unit's up or down.
    EXPECT_EQ(text.find(R"(zn7qx_unit_info{unit="b",address="198.18.0.11",mac="b",text="B\"\\\\x\\x0a"} 1)") !=
                  std::string::npos, s.up.find(b) != std::string::npos) << "minute " << s.minute;
    for (const std::string& line : {"zn7qx_units_present " + std::to_string(state.Count()),
                                    "zn7qx_sweep_answers_total{kind=\"unit\"} " + std::to_string(answers),
                                    std::string("zn7qx_sweep_duration_seconds 0.25"),
                                    "zn7qx_last_sweep_timestamp_seconds " + std::to_string(1000000000 + s.minute * 60)})
      EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << "minute " << s.minute;
  }
}

// The watches of several sites share one node_exporter: every series names its site.
TEST(Watch, MetricsNameTheirSiteInEverySeries) {
  scan::WatchState state;
  scan::WatchMetrics metrics("hall \"a\"");
  const std::vector<scan::Change> changes = state.Update(Sweep("10=A@a"));
  metrics.Update({1, {}, changes, state}, Clock::time_point{}, 1e9);
  std::istringstream text(metrics.Text());
  int series = 0;
  for (std::string line; std::getline(text, line); series += line[0] != '#')
    EXPECT_TRUE(line[0] == '#' || line.find(R"({site="hall \"a\"")") != std::string::npos) << line;
  EXPECT_EQ(series, 8);
}

}  // namespace
}  // namespace zn7qx::test
