#pragma once
// GoogleTest form of the isolation check: a test that sends ICMP starts with
//   ZN7QX_SKIP_UNLESS_IN_TEST_NETNS();   // optional: skip outside the harness
//   ZN7QX_ASSERT_ISOLATED();             // fail (and send nothing) if not isolated

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/IsolationCheck.h"

namespace zn7qx::testsupport {

inline ::testing::AssertionResult AssertIsolated() {
  const std::string problem = IsolationProblem();
  if (problem.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "not in an isolated test network namespace: " << problem;
}

inline bool InTestNetns() {
  const char* v = std::getenv("ZN7QX_TEST_NETNS");
  return v && std::string(v) == "1";
}

}  // namespace zn7qx::testsupport

#define ZN7QX_ASSERT_ISOLATED() ASSERT_TRUE(::zn7qx::testsupport::AssertIsolated())

#define ZN7QX_SKIP_UNLESS_IN_TEST_NETNS()                                                   \
  do {                                                                                      \
    if (!::zn7qx::testsupport::InTestNetns())                                               \
      GTEST_SKIP() << "needs the simulated network: run under tests/netns/with-sim-network.sh"; \
  } while (0)
