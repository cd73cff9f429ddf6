// The echo socket's waiting, on descriptors of our own (a pipe, a local socket
// pair carrying IPv4 packets as the raw path reads them): nothing is sent.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "net/ICMPPing.h"
#include "net/linux/EchoSocket.h"
#include "tests/support/Addresses.h"
#include "tests/support/Packets.h"

namespace zn7qx::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(EchoSocket, AnAnswerArrivedWhenTheKernelStampedItUnlessTheClockWasSetBack) {
  const auto wall = std::chrono::system_clock::time_point(std::chrono::seconds(2000000000));
  const Clock::time_point now = Clock::time_point() + std::chrono::hours(1);
  const struct {
    timespec stamp;
    Clock::time_point arrived;
  } rows[] = {
      {{1999999999, 750000000}, now - milliseconds(250)},
      {{2000000001, 0}, now},  // the clock was set back since: no sense of age
      {{1999999900, 0}, now},  // a stamp too old to trust
  };
  for (const auto& row : rows) EXPECT_EQ(linuxnet::ArrivalTime(row.stamp, wall, now), row.arrived) << row.stamp.tv_sec;
}

TEST(EchoSocket, AWaitThatCannotGoOnIsAGeneralFailureNotSilence) {
  for (const auto kind : {linuxnet::SocketKind::Datagram, linuxnet::SocketKind::Raw}) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    auto socket = linuxnet::EchoSocket::Adopt(ends[0], kind, 0x4242);
    ASSERT_EQ(write(ends[1], "x", 1), 1);  // readable, but no socket to receive from
    const auto start = Clock::now();
    const auto event = socket.WaitFor(7, Net("198.18.0.10"), start + milliseconds(PingTimeoutMs));
    close(ends[1]);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->status, IP_GENERAL_FAILURE);
    EXPECT_EQ(event->localErrno, ENOTSOCK);
    EXPECT_LT(Clock::now() - start, milliseconds(50));
  }
}

// The hook gets a turn every few milliseconds, often while it finds work; an
// answer counts by its arrival, also one that came while the hook ran late.
TEST(EchoSocket, AWaitCallsItsHookEveryFewMillisecondsAndALateAnswerIsNone) {
  const Bytes reply = Ip(Net("198.18.0.10"), Net("198.18.0.1"), Icmp(0, 0, 0x4242, 7, "Found.A"));
  struct Row { int answerMs, holdMs; bool busy, answered; };  // no answer at all below 0
  for (const Row row : {Row{-1, 0, false, false}, Row{-1, 0, true, false}, Row{100, 0, false, true},
                        Row{320, 0, false, false}, Row{200, 330, false, true}}) {
    SCOPED_TRACE(testing::Message() << row.answerMs << (row.busy ? ", a busy hook" : ""));
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, ends), 0);
    auto socket = linuxnet::EchoSocket::Adopt(ends[0], linuxnet::SocketKind::Raw, 0x4242);
    const auto start = Clock::now(), deadline = start + milliseconds(PingTimeoutMs);
    auto last = start;
    Clock::duration gap{};
    bool sent = row.answerMs < 0;
    int calls = 0;
    const auto event = socket.WaitFor(7, Net("198.18.0.10"), deadline, [&] {
      gap = std::max(gap, Clock::now() - last);
      ++calls;
      // The late answer comes while the hook still runs at the deadline.
      if (!sent && Clock::now() >= std::min(start + milliseconds(row.answerMs), deadline - milliseconds(15))) {
        std::this_thread::sleep_until(start + milliseconds(row.answerMs));
        sent = send(ends[1], reply.data(), reply.size(), 0) == static_cast<ssize_t>(reply.size());
        std::this_thread::sleep_until(start + milliseconds(row.holdMs));
      }
      last = Clock::now();
      return row.busy;
    });
    close(ends[1]);
    EXPECT_TRUE(sent);
    EXPECT_EQ(event.has_value(), row.answered);
    EXPECT_LT(gap, milliseconds(50));
    EXPECT_GE(Clock::now() - start, milliseconds(row.answered ? row.answerMs : PingTimeoutMs));
    EXPECT_TRUE(row.busy ? calls > 200 : calls < 100) << calls << " calls";
  }
}

}  // namespace
}  // namespace zn7qx::test
