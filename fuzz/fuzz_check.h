// Stops a fuzz run at the first broken promise, saying which.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace svcentry {

inline void Require(bool holds, const char* promise) {
  if (!holds) {
    std::fprintf(stderr, "broken: %s\n", promise);
    std::abort();
  }
}

}  // namespace svcentry
