#pragma once
// A test that sends ICMP starts with ZN7QX_ASSERT_ISOLATED(): it fails, and
// sends nothing, unless it runs on the probe side of the simulated network.

#include <gtest/gtest.h>

#include "tools/zn7qx-sim/NamespaceCheck.h"

#define ZN7QX_ASSERT_ISOLATED()                                                      \
  do {                                                                               \
    const std::string problems = ::zn7qx::sim::ProbeSideProblems();                  \
    ASSERT_TRUE(problems.empty()) << "not in an isolated test network: " << problems; \
  } while (0)
