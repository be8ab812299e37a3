// Assertions of our own preconditions. Live in Debug and sanitizer builds, where a broken
// precondition should stop the test run at the spot; compiled out of release builds (NDEBUG),
// where the code after each assertion still degrades safely instead of aborting the host
// interpreter.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace strandify::detail {

[[noreturn]] inline void assertion_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: strandify assertion failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace strandify::detail

#ifdef NDEBUG
#define STRANDIFY_ASSERT(condition) static_cast<void>(0)
#else
#define STRANDIFY_ASSERT(condition) \
  ((condition) ? static_cast<void>(0) \
               : ::strandify::detail::assertion_failed(#condition, __FILE__, __LINE__))
#endif
