#pragma once
// A failed property is a finding: report it and stop, so libFuzzer keeps the
// input as a crash file.

#include <cstdio>
#include <cstdlib>

#define ZN7QX_FUZZ_CHECK(condition)                                                    \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (false)
