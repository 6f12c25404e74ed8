// Test support: what a test does when its environment lacks an X server or a tool.
#pragma once
#include <cstdlib>

#include <gtest/gtest.h>

namespace orvtest {

// CI sets CI (.ci/run exports CI=true). A skip there would show a missing package or a broken
// X server as a green check, so there the test fails instead.
inline bool InCi() {
  const char* v = std::getenv("CI");
  return v && *v;
}

}  // namespace orvtest

// Ends the test (from the test body or SetUp) when `what` is missing: a failure naming it under
// CI, a skip elsewhere. `what` is streamed, e.g. ORVTEST_NEED(ok, "Xvfb: " << why).
#define ORVTEST_NEED(available, what)                                                  \
  do {                                                                                 \
    if (!(available)) {                                                                \
      if (::orvtest::InCi()) GTEST_FAIL() << "missing in CI: " << what;                \
      GTEST_SKIP() << what;                                                            \
    }                                                                                  \
  } while (0)
