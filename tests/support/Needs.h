// A safety test that needs a tool, a right or a device the machine may lack
// (strace, the ACL tools, root, a loop device) is skipped where it is
// missing; under CI=true, where CI installed what it needs, that is a
// failure, so that a green CI means it ran.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

#define KVO_NEEDS(condition, what)                                                        \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      const char* ci = std::getenv("CI");                                                 \
      if (ci != nullptr && std::string_view(ci) == "true") FAIL() << "CI lacks " << what; \
      GTEST_SKIP() << "needs " << what;                                                   \
    }                                                                                     \
  } while (0)
