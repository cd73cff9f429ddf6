#include <gtest/gtest.h>

#include <atomic>

#include "net/ICMPPing.h"
#include "tests/scan/ScriptedTransport.h"
#include "tools/zn7qx-scan/Sweep.h"

namespace zn7qx::scan::test {
namespace {

using namespace std::string_literals;

std::vector<AddressRange> Range(const char* first, const char* last) {
  return {AddressRange{NetworkToNumeric(DottedToNetwork(first)), NetworkToNumeric(DottedToNetwork(last))}};
}

NumericAddress Num(const char* dotted) { return NetworkToNumeric(DottedToNetwork(dotted)); }

SweepOptions Options(double rate = 1000, std::chrono::microseconds timeout = 300ms, int retries = 0) {
  SweepOptions o;
  o.rate = rate;
  o.burst = 1;  // paced from the first request, so that send times are exact
  o.timeout = timeout;
  o.retries = retries;
  return o;
}

TEST(Sweep, SortsUnitsHostsAndSilentAddressesInAddressOrder) {
  ScriptedTransport net;
  // Answers arrive out of address order: the list must not follow them.
  net.scripts[Net("198.18.0.3")] = AnswerAsUnit("Unit-3", 50ms);
  net.scripts[Net("198.18.0.1")] = AnswerAsUnit("Unit-1", 200ms);
  net.scripts[Net("198.18.0.2")] = AnswerAsHost(10ms);
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.5"), net, Options());

  ASSERT_EQ(r.answered.size(), 3u);
  EXPECT_EQ(r.answered[0].address, Num("198.18.0.1"));
  EXPECT_EQ(r.answered[0].outcome, Outcome::Unit);
  EXPECT_EQ(r.answered[0].unitText, "Unit-1");
  EXPECT_EQ(r.answered[1].outcome, Outcome::Host);
  EXPECT_EQ(r.answered[2].unitText, "Unit-3");
  EXPECT_EQ(r.answered[2].roundTripMicros, 50000u);
  EXPECT_EQ(r.counts.addresses, 5);
  EXPECT_EQ(r.counts.sent, 5);
  EXPECT_EQ(r.counts.units, 2);
  EXPECT_EQ(r.counts.hosts, 1);
  EXPECT_EQ(r.counts.silent, 2);
  EXPECT_EQ(net.sent.size(), 5u);
  for (std::size_t i = 0; i < net.sent.size(); ++i)
    EXPECT_EQ(NetworkToNumeric(static_cast<NetworkAddress>(net.sent[i].dest)), Num("198.18.0.1") + static_cast<NumericAddress>(i));
}

TEST(Sweep, PacesRequestsAtTheRateAndTimesEachOutFromItsOwnSend) {
  ScriptedTransport net;
  // Every address answers 250 ms after its own request: inside its own
  // time-out, though long after the first request's.
  for (int i = 1; i <= 20; ++i) {
    const std::string a = "198.18.0." + std::to_string(i);
    net.scripts[Net(a.c_str())] = AnswerAsHost(250ms);
  }
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.20"), net, Options(100));
  EXPECT_EQ(r.counts.hosts, 20);
  ASSERT_EQ(net.sent.size(), 20u);
  for (std::size_t i = 0; i < net.sent.size(); ++i) EXPECT_EQ(net.sent[i].at - net.start(), 10ms * i) << i;
  // Early end: the last answer, not the last time-out, ends the sweep.
  EXPECT_EQ(r.counts.elapsed, 190ms + 250ms);
}

TEST(Sweep, SendsTheBurstAtOnceAndThenKeepsThePace) {
  ScriptedTransport net;
  SweepOptions o = Options(1000);
  o.burst = 4;
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.10"), net, o);
  ASSERT_EQ(net.sent.size(), 10u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(net.sent[i].at, net.start()) << i;
  // Then one per millisecond, as if the burst had been paced from the start.
  for (std::size_t i = 4; i < 10; ++i) EXPECT_EQ(net.sent[i].at - net.start(), 1ms * (i - 3)) << i;
  EXPECT_EQ(r.counts.elapsed, 6ms + 300ms);
}

TEST(Sweep, EndsOneTimeOutAfterTheLastRequestWhenSomeStaySilent) {
  ScriptedTransport net;
  net.scripts[Net("198.18.0.1")] = AnswerAsHost();
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.10"), net, Options(1000, 300ms));
  EXPECT_EQ(r.counts.elapsed, 9ms + 300ms);
  EXPECT_EQ(r.counts.silent, 9);
}

TEST(Sweep, IgnoresLateDuplicateAndStaleReplies) {
  ScriptedTransport net;
  // Late: 301 ms after its request, past its 300 ms.
  net.scripts[Net("198.18.0.1")] = AnswerAsHost(301ms);
  // Answers three times; the first one counts, the others are dropped.
  net.scripts[Net("198.18.0.2")] = [](ScriptedTransport& t, const SentRequest& r) {
    t.Deliver(r.at + 5ms, t.Reply(r, "Found.First"));
    t.Deliver(r.at + 6ms, t.Reply(r, "Found.Second"));
    t.Deliver(r.at + 7ms, t.Reply(r, ProbePayload));
  };
  // A stale answer: a sequence nobody sent in this sweep, from 198.18.0.3.
  net.scripts[Net("198.18.0.3")] = [](ScriptedTransport& t, const SentRequest& r) {
    auto stale = t.Reply(r, "Found.Stale");
    stale.sequence = static_cast<std::uint16_t>(r.sequence + 1000);
    t.Deliver(r.at + 1ms, stale);
  };
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.3"), net, Options());
  ASSERT_EQ(r.answered.size(), 1u);
  EXPECT_EQ(r.answered[0].address, Num("198.18.0.2"));
  EXPECT_EQ(r.answered[0].unitText, "First");
  EXPECT_EQ(r.counts.ignored, 4);  // late, two duplicates, stale
  EXPECT_EQ(r.counts.silent, 2);
}

TEST(Sweep, JudgesLatenessByArrivalNotByWhenTheSweepGetsToIt) {
  // The sweep wakes 7 ms late and finds the reply waiting: whether it came
  // in time depends on when it arrived.
  for (const auto& [after, counted] : {std::pair{299ms, true}, std::pair{301ms, false}}) {
    ScriptedTransport net;
    net.oversleep = 7ms;
    net.scripts[Net("198.18.0.1")] = AnswerAsUnit("Unit", after);
    const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.1"), net, Options());
    EXPECT_EQ(r.counts.units, counted ? 1 : 0) << after.count();
    EXPECT_EQ(r.counts.ignored, counted ? 0 : 1) << after.count();
  }
}

TEST(Sweep, TakesOnlyOurIdentifierAndTheAddressProbedWithThatSequence) {
  ScriptedTransport net;
  net.scripts[Net("198.18.0.1")] = [](ScriptedTransport& t, const SentRequest& r) {
    auto other = t.Reply(r, "Found.OtherProgram");
    other.identifier = static_cast<std::uint16_t>(t.identifier + 1);
    t.Deliver(r.at + 1ms, other);
    // Right identifier and sequence, but from an address we never asked.
    auto elsewhere = t.Reply(r, "Found.Elsewhere");
    elsewhere.peer = elsewhere.from = Net("198.18.0.99");
    t.Deliver(r.at + 2ms, elsewhere);
  };
  // The same sequence and identifier, replied by 198.18.0.3 for 198.18.0.2:
  // the reply belongs to neither.
  net.scripts[Net("198.18.0.2")] = [](ScriptedTransport& t, const SentRequest& r) {
    auto swapped = t.Reply(r, ProbePayload);
    swapped.peer = swapped.from = Net("198.18.0.3");
    t.Deliver(r.at + 1ms, swapped);
  };
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.3"), net, Options());
  EXPECT_TRUE(r.answered.empty());
  EXPECT_EQ(r.counts.ignored, 3);
  EXPECT_EQ(r.counts.silent, 3);
}

TEST(Sweep, FilesIcmpErrorsUnderTheQuotedAddress) {
  ScriptedTransport net;
  // A router (198.18.0.254) reports 198.18.0.2 unreachable.
  net.scripts[Net("198.18.0.2")] = [](ScriptedTransport& t, const SentRequest& r) {
    t.Deliver(r.at + 3ms, t.Error(r, IP_DEST_HOST_UNREACHABLE, Net("198.18.0.254")));
  };
  // An error that carries 198.18.0.3's sequence but quotes another
  // destination is not 198.18.0.3's error.
  net.scripts[Net("198.18.0.3")] = [](ScriptedTransport& t, const SentRequest& r) {
    auto e = t.Error(r, IP_TTL_EXPIRED_TRANSIT, Net("198.18.0.254"));
    e.peer = Net("198.18.0.4");
    t.Deliver(r.at + 1ms, e);
  };
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.4"), net, Options());
  ASSERT_EQ(r.answered.size(), 1u);
  EXPECT_EQ(r.answered[0].address, Num("198.18.0.2"));
  EXPECT_EQ(r.answered[0].outcome, Outcome::Error);
  EXPECT_EQ(r.answered[0].status, IP_DEST_HOST_UNREACHABLE);
  EXPECT_EQ(r.counts.errors, 1);
  EXPECT_EQ(r.counts.ignored, 1);
}

TEST(Sweep, LocalSendFailuresAreErrorsAndAFullQueueIsWaitedOut) {
  ScriptedTransport net;
  net.sendFailures[Net("198.18.0.1")] = IP_BAD_DESTINATION;  // e.g. a broadcast address
  net.sendFailures[Net("198.18.0.2")] = IP_NO_RESOURCES;     // once; then it goes out
  net.scripts[Net("198.18.0.2")] = AnswerAsUnit("AfterWait");
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.2"), net, Options());
  ASSERT_EQ(r.answered.size(), 2u);
  EXPECT_EQ(r.answered[0].outcome, Outcome::Error);
  EXPECT_EQ(r.answered[0].status, IP_BAD_DESTINATION);
  EXPECT_EQ(r.answered[1].unitText, "AfterWait");
  EXPECT_EQ(r.counts.sent, 1);
}

TEST(Sweep, RetriesOnlyWhenAskedAndOnlyTimedOutAddresses) {
  const auto answerSecondTime = [] {
    auto count = std::make_shared<int>(0);
    return [count](ScriptedTransport& t, const SentRequest& r) {
      if (++*count == 2) t.Deliver(r.at + 1ms, t.Reply(r, "Found.Retry"));
    };
  };
  {
    ScriptedTransport net;
    net.scripts[Net("198.18.0.1")] = answerSecondTime();
    const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.2"), net, Options());
    EXPECT_EQ(r.counts.units, 0);
    EXPECT_EQ(r.counts.sent, 2);
  }
  {
    ScriptedTransport net;
    net.scripts[Net("198.18.0.1")] = answerSecondTime();
    net.scripts[Net("198.18.0.2")] = AnswerAsHost();
    const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.3"), net, Options(1000, 300ms, 2));
    EXPECT_EQ(r.counts.units, 1);
    EXPECT_EQ(r.counts.hosts, 1);
    // 1: twice, 2: once, 3: three times.
    EXPECT_EQ(r.counts.sent, 6);
    ASSERT_EQ(r.answered.size(), 2u);
    EXPECT_EQ(r.answered[0].unitText, "Retry");
  }
}

TEST(Sweep, ReusesSequencesSafelyBeyond65536Requests) {
  ScriptedTransport net;
  // 70000 addresses from 198.18.0.0 on; every third one answers. The fake
  // fails the test if a sequence goes out while its request is in flight.
  const NumericAddress first = Num("198.18.0.0");
  for (NumericAddress a = first; a < first + 70000; a += 3)
    net.scripts[static_cast<std::uint32_t>(NumericToNetwork(a))] = AnswerAsHost(2ms);
  // 198.18.0.0 answers at once, and its answer comes again 700 ms later,
  // when its sequence has gone out anew to 198.19.0.0 (request 65537): the
  // old answer must not be credited to the new address.
  net.scripts[static_cast<std::uint32_t>(NumericToNetwork(first))] = [](ScriptedTransport& t, const SentRequest& r) {
    t.Deliver(r.at + 2ms, t.Reply(r, ProbePayload));
    t.Deliver(r.at + 700ms, t.Reply(r, "Found.Ghost"));
  };
  const std::vector<AddressRange> range{{first, first + 69999}};
  const SweepResult r = RunSweep(range, net, Options(100000));
  EXPECT_EQ(r.counts.sent, 70000);
  EXPECT_EQ(r.counts.hosts, (70000 + 2) / 3);
  EXPECT_EQ(r.counts.units, 0);
  EXPECT_EQ(r.counts.ignored, 1);
  for (const AddressResult& a : r.answered) ASSERT_EQ((a.address - first) % 3, 0) << a.address;
}

TEST(Sweep, NeverHasMoreThan65536InFlight) {
  // 100000/s for 1 s of time-out would need 100000 sequences at once: the
  // sweep has to wait for sequences to come free.
  ScriptedTransport net(1s);
  const NumericAddress first = Num("198.18.0.0");
  const std::vector<AddressRange> range{{first, first + 69999}};
  const SweepResult r = RunSweep(range, net, Options(100000, 1s));
  EXPECT_EQ(r.counts.sent, 70000);
  EXPECT_EQ(r.counts.silent, 70000);
  ASSERT_EQ(net.sent.size(), 70000u);
  EXPECT_GE(net.sent[65536].at - net.sent[0].at, 1s);
}

TEST(Sweep, AFloodOfForeignPacketsChangesNothing) {
  ScriptedTransport net;
  net.scripts[Net("198.18.0.1")] = [](ScriptedTransport& t, const SentRequest& r) {
    for (int i = 0; i < 20000; ++i) {
      auto noise = t.Reply(r, "Found.Noise");
      noise.identifier = static_cast<std::uint16_t>(t.identifier ^ 0x5555);
      t.Deliver(r.at + std::chrono::microseconds(i), noise);
    }
    t.Deliver(r.at + 20ms, t.Reply(r, "Found.Real"));
  };
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.2"), net, Options());
  ASSERT_EQ(r.answered.size(), 1u);
  EXPECT_EQ(r.answered[0].unitText, "Real");
  EXPECT_EQ(r.counts.ignored, 20000);
  EXPECT_EQ(r.counts.elapsed, 1ms + 300ms);
}

TEST(Sweep, StopsWhenAskedAndSaysSo) {
  ScriptedTransport net;
  std::atomic<bool> stop{false};
  SweepOptions o = Options(10);
  o.stop = &stop;
  int calls = 0;
  o.progress = [&](const SweepCounts& c) {
    ++calls;
    if (c.sent >= 3) stop = true;
  };
  const SweepResult r = RunSweep(Range("198.18.0.1", "198.18.0.100"), net, o);
  EXPECT_TRUE(r.counts.interrupted);
  EXPECT_LT(r.counts.sent, 10);
  EXPECT_GE(calls, 2);
}

TEST(Sweep, JudgesUnitRepliesAsTheWindowsRecordDoes) {
  // The window sees only the record's 250-byte data area.
  const std::string prefix = "Found.";
  EXPECT_EQ(UnitTextOfReplyData(prefix + std::string(300, 'x'))->size(), 244u);
  EXPECT_EQ(UnitTextOfReplyData("Found.A\0B"s), "A");
  EXPECT_FALSE(UnitTextOfReplyData(ProbePayload));
  EXPECT_FALSE(UnitTextOfReplyData("Found"));
}

}  // namespace
}  // namespace zn7qx::scan::test
