// Under CI (.ci/run exports CI=true) a missing X server or tool fails the test, naming what is
// missing: a skip there would pass a broken X server or a missing package as green.
#pragma once
#include <gtest/gtest.h>
#include <cstdlib>
#define ORVTEST_NEED(available, what)                                                           \
  do {                                                                                          \
    if (!(available)) {                                                                         \
      if (const char* ci = std::getenv("CI"); ci && *ci) GTEST_FAIL() << "missing in CI: " << what; \
      GTEST_SKIP() << what;                                                                     \
    }                                                                                           \
  } while (0)
