// The sweep over a network in memory (exact and instant): pace, time-outs,
// which answers it takes, send failures, retries and sequence reuse.

#include <gtest/gtest.h>

#include <cerrno>

#include "scan/Sweep.h"
#include "tests/support/Addresses.h"
#include "tests/support/ScriptedTransport.h"

namespace zn7qx::test {
namespace {

using scan::Outcome;
using scan::SweepResult;

std::vector<scan::AddressRange> Range(const std::string& first, const std::string& last) {
  return {{Num(first), Num(last)}};
}

scan::SweepOptions Paced(double rate = 1000, std::int64_t burst = 1) {
  scan::SweepOptions o;
  o.rate = rate;
  o.burst = burst;
  return o;
}

std::string Address(int last) { return "198.18.0." + std::to_string(last); }

TEST(Sweep, PacesItsRequestsAndTimesEachOutFromItsOwnSend) {
  const struct {
    double rate;
    std::int64_t burst;
    int addresses;
    std::chrono::milliseconds answerAfter;  // 0: silent
    std::vector<std::chrono::milliseconds> firstSends;
    std::chrono::milliseconds elapsed;
    std::chrono::milliseconds stall{0};  // each wait ends so much late
  } rows[] = {
      // Each answers 250 ms after its own request, long after the first one's time-out.
      {100, 1, 20, 250ms, {0ms, 10ms, 20ms}, 190ms + 250ms},
      // Stalls are made up by one burst at most, not by the 30 requests they cost.
      {1000, 4, 40, 0ms, {0ms, 0ms, 0ms, 0ms, 31ms, 31ms, 31ms, 31ms, 62ms}, 279ms + 300ms + 30ms, 30ms},
  };
  for (const auto& row : rows) {
    ScriptedTransport net;
    net.oversleep = row.stall;
    for (int i = 1; i <= row.addresses; ++i)
      if (row.answerAfter > 0ms) net.scripts[Net(Address(i))] = AnswerAsHost(row.answerAfter);
    const SweepResult r = RunSweep(Range(Address(1), Address(row.addresses)), net, Paced(row.rate, row.burst));
    EXPECT_EQ(net.sent.size(), static_cast<std::size_t>(row.addresses));
    for (std::size_t i = 0; i < row.firstSends.size() && i < net.sent.size(); ++i) EXPECT_EQ(net.sent[i].at - net.start(), row.firstSends[i]);
    for (std::size_t i = 0; i < net.sent.size(); ++i) EXPECT_EQ(net.sent[i].dest, Net(Address(static_cast<int>(i) + 1)));
    EXPECT_EQ(r.counts.elapsed, row.elapsed) << "the last answer or time-out ends the sweep";
    // In any stretch of time, no more than the burst plus the rate.
    for (std::size_t i = 0; i < net.sent.size(); ++i)
      for (std::size_t j = i; j < net.sent.size(); ++j)
        EXPECT_LE(static_cast<double>(j - i + 1),
                  static_cast<double>(row.burst) + row.rate * std::chrono::duration<double>(net.sent[j].at - net.sent[i].at).count())
            << "requests " << i << " to " << j;
    EXPECT_EQ(r.counts.hosts + r.counts.silent, row.addresses);
  }
}

// What arrives for 198.18.0.1's request, and whether the sweep takes it.
struct MatchRow {
  const char* name;
  std::function<void(ScriptedTransport&, const SentRequest&)> arrive;
  const char* filed;  // "unit:<text>", "error TYPE/CODE", or "" for none
  int ignored;
};

TEST(Sweep, TakesOnlyTheFirstTimelyAnswerToItsOwnRequest) {
  const auto reply = [](const char* data, std::chrono::microseconds after, auto change) {
    return [=](ScriptedTransport& t, const SentRequest& r) {
      auto e = t.Reply(r, data);
      change(e);
      t.Deliver(r.at + after, e);
    };
  };
  const auto same = [](linuxnet::EchoEvent&) {};
  const MatchRow rows[] = {
      {"in time", reply("Found.A", 299ms, same), "unit:A", 0},
      {"stamped before the send call returned", reply("Found.A", 10us, same), "unit:A", 0},
      {"late", reply("Found.A", 301ms, same), "", 1},
      {"another program's identifier", reply("Found.A", 1ms, [](auto& e) { e.identifier ^= 0x5555; }), "", 1},
      {"a sequence nobody sent", reply("Found.A", 1ms, [](auto& e) { e.sequence += 1000; }), "", 1},
      {"from another address", reply("Found.A", 1ms, [](auto& e) { e.peer = e.from = Net("198.18.0.99"); }), "", 1},
      {"repeated", [](ScriptedTransport& t, const SentRequest& r) {
         for (const char* d : {"Found.First", "Found.Second", "echo"}) t.Deliver(r.at + 5ms, t.Reply(r, d));
       }, "unit:First", 2},
      {"an error about it", [](ScriptedTransport& t, const SentRequest& r) {
         t.Deliver(r.at + 3ms, t.Error(r, IP_DEST_HOST_UNREACHABLE, Net("198.18.0.254")));
       }, "error 3/1", 0},
      {"an error quoting another destination", [](ScriptedTransport& t, const SentRequest& r) {
         auto e = t.Error(r, IP_TTL_EXPIRED_TRANSIT, Net("198.18.0.254"));
         e.peer = Net("198.18.0.4");
         t.Deliver(r.at + 1ms, e);
       }, "", 1},
  };
  for (const MatchRow& row : rows) {
    ScriptedTransport net;
    net.oversleep = 7ms;  // the sweep wakes late: a reply counts by when it arrived
    net.sendTakes = 20us;  // and a fast reply may arrive before the send call returns
    net.scripts[Net("198.18.0.1")] = row.arrive;
    const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.2"), net, Paced());
    std::string filed;
    for (const auto& a : r.answered) {
      EXPECT_EQ(a.address, Num("198.18.0.1")) << row.name;
      EXPECT_GT(a.roundTripMicros, 0u) << row.name;
      filed = a.outcome == Outcome::Unit ? "unit:" + a.unitText : "host";
      if (a.outcome == Outcome::Error)
        filed = "error " + std::to_string(a.icmpType) + "/" + std::to_string(a.icmpCode) +
                (a.origin == scan::ErrorOrigin::Icmp ? "" : " not from ICMP");
    }
    EXPECT_EQ(filed, row.filed) << row.name;
    EXPECT_EQ(r.counts.ignored, row.ignored) << row.name;
  }
}

TEST(Sweep, LocalSendFailuresAreErrorsOfTheirAddressAndAFullQueueIsWaitedOut) {
  ScriptedTransport net;
  net.sendFailures[Net("198.18.0.1")] = {IP_BAD_DESTINATION, EACCES};  // a broadcast address, say
  net.scripts[Net("198.18.0.2")] = AnswerAsUnit("AfterWait");
  // Other requests' ICMP errors kept failing it: made again later, and its
  // own answer filed, not their error.
  net.sendFailures[Net("198.18.0.3")] = {IP_NO_RESOURCES, EAGAIN};
  net.scripts[Net("198.18.0.3")] = AnswerAsHost();
  // The kernel's buffers (or its neighbour table) full for two seconds:
  // longer than any one wait, and still nobody's error.
  net.refuseUntil = net.start() + 2s;
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.3"), net, Paced());
  ASSERT_EQ(r.answered.size(), 3u);
  EXPECT_GE(net.sent.front().at, net.refuseUntil);
  EXPECT_LT(net.sent.front().at, net.refuseUntil + 100ms) << "the pause between tries grows, but not without end";
  EXPECT_GT(r.counts.deferred, 10);
  const scan::AddressResult& local = r.answered[0];
  EXPECT_TRUE(local.outcome == Outcome::Error && local.status == IP_BAD_DESTINATION &&
              local.origin == scan::ErrorOrigin::Local && local.errorNumber == EACCES);
  EXPECT_EQ(r.answered[1].unitText, "AfterWait");
  EXPECT_EQ(r.answered[2].outcome, Outcome::Host);
  EXPECT_EQ(r.counts.sent, 2);
}

TEST(Sweep, RetriesOnlyTimedOutAddressesAndOnlyWhenAsked) {
  for (const int retries : {0, 2}) {
    ScriptedTransport net;
    auto count = std::make_shared<int>(0);
    net.scripts[Net("198.18.0.1")] = [count](ScriptedTransport& t, const SentRequest& r) {
      if (++*count == 2) t.Deliver(r.at + 1ms, t.Reply(r, "Found.Retry"));
    };
    net.scripts[Net("198.18.0.2")] = AnswerAsHost();
    scan::SweepOptions o = Paced();
    o.retries = retries;
    const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.3"), net, o);
    EXPECT_EQ(r.counts.units, retries > 0 ? 1 : 0);
    // .1 twice, .2 once, .3 three times; or once each.
    EXPECT_EQ(r.counts.sent, retries > 0 ? 6 : 3);
  }
}

TEST(Sweep, ReusesSequencesOnlyOnceTheirRequestsHaveEnded) {
  // 70000 addresses; every third answers. The fake fails the test when a
  // sequence goes out while its request is in flight.
  ScriptedTransport net;
  const NumericAddress first = Num("198.18.0.0");
  for (NumericAddress a = first; a < first + 70000; a += 3)
    net.scripts[static_cast<std::uint32_t>(NumericToNetwork(a))] = AnswerAsHost(2ms);
  // Its answer comes again 700 ms later, when its sequence has gone out anew.
  net.scripts[Net("198.18.0.0")] = [](ScriptedTransport& t, const SentRequest& r) {
    t.Deliver(r.at + 2ms, t.Reply(r, ProbePayload));
    t.Deliver(r.at + 700ms, t.Reply(r, "Found.Ghost"));
  };
  const SweepResult r = RunSweep({{first, first + 69999}}, net, Paced(100000));
  EXPECT_EQ(r.counts.sent, 70000);
  EXPECT_EQ(r.counts.hosts, 23334);
  EXPECT_EQ(r.counts.units, 0);
  EXPECT_EQ(r.counts.ignored, 1);

  // 100000/s with a 1 s time-out outruns the sequences; the fake checks each reuse.
  ScriptedTransport slow(1s);
  scan::SweepOptions o = Paced(100000);
  o.timeout = 1s;
  const SweepResult s = RunSweep({{first, first + 69999}}, slow, o);
  ASSERT_EQ(slow.sent.size(), 70000u);
  EXPECT_EQ(s.counts.silent, 70000);
}

// On-link requests hold entries of the machine's one neighbour table: within a
// budget, and the table under a ceiling; routed addresses go at the pace.
TEST(Sweep, KeepsTheNeighbourTableWithinItsBudgetAndCeiling) {
  const struct {
    const char* name;
    std::int64_t budget, ceiling, entriesBefore;  // others' entries in the table until 2 s
    std::vector<std::chrono::milliseconds> sends;  // of on-link requests, from the start
  } rows[] = {
      {"budget", 3, 0, 0, {0ms, 1ms, 2ms, 1000ms, 1001ms, 1002ms, 2000ms, 2001ms}},
      {"table at its ceiling until 2 s", 10, 100, 100, {2000ms, 2001ms, 2002ms, 2003ms, 2004ms, 2005ms, 2006ms, 2007ms}},
      {"room for two only", 10, 100, 98, {0ms, 1ms, 2000ms, 2001ms, 2002ms, 2003ms, 2004ms, 2005ms}},
  };
  for (const auto& row : rows) {
    ScriptedTransport net;
    scan::SweepOptions o = Paced();
    o.onLink = Range("198.18.0.1", "198.18.0.8");
    o.neighbourBudget = row.budget;
    o.neighbourHold = 1s;
    o.neighbourCeiling = row.ceiling;
    o.neighbourEntries = [&net, &row]() -> std::optional<std::int64_t> {
      if (net.Now() >= net.start() + 2s) return 0;  // the kernel has cleared the table
      return row.entriesBefore + static_cast<std::int64_t>(net.sent.size());
    };
    net.scripts[Net("198.18.0.8")] = AnswerAsUnit("Last");
    auto ranges = Range("198.18.0.1", "198.18.0.8");
    ranges.push_back({Num("198.19.0.1"), Num("198.19.0.2")});
    const SweepResult r = RunSweep(ranges, net, o);
    ASSERT_EQ(net.sent.size(), 10u) << row.name;
    for (std::size_t i = 0; i < row.sends.size(); ++i) EXPECT_EQ(net.sent[i].at - net.start(), row.sends[i]) << row.name << " " << i;
    EXPECT_EQ(net.sent[9].at - net.sent[8].at, 1ms) << row.name << ": routed addresses wait for nothing but the pace";
    EXPECT_EQ(r.counts.units, 1) << row.name;
  }
}

}  // namespace
}  // namespace zn7qx::test
