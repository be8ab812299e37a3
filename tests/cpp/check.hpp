// A minimal test harness for the native core: no third-party test framework is needed.
// Every TEST registers itself; main() runs them all and prints "N passed, N failed".
#pragma once

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace check {

struct Case {
  const char* name;
  std::function<void()> body;
};

inline std::vector<Case>& registry() {
  static std::vector<Case> cases;
  return cases;
}

inline int& failures_in_case() {
  static int n = 0;
  return n;
}

struct Registrar {
  Registrar(const char* name, std::function<void()> body) {
    registry().push_back({name, std::move(body)});
  }
};

inline void report(const char* file, int line, const std::string& what) {
  ++failures_in_case();
  std::fprintf(stderr, "  %s:%d: %s\n", file, line, what.c_str());
}

inline int run_all() {
  int passed = 0, failed = 0;
  for (const Case& c : registry()) {
    failures_in_case() = 0;
    c.body();
    if (failures_in_case() == 0) {
      ++passed;
    } else {
      ++failed;
      std::fprintf(stderr, "FAILED %s\n", c.name);
    }
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

template <class A, class B>
std::string describe(const char* ea, const char* eb, const A& a, const B& b) {
  std::ostringstream os;
  os.precision(17);
  os << ea << " == " << eb << " (got " << a << " vs " << b << ")";
  return os.str();
}

}  // namespace check

#define CHECK_CAT2(a, b) a##b
#define CHECK_CAT(a, b) CHECK_CAT2(a, b)
#define TEST(name)                                                                  \
  static void name();                                                               \
  static check::Registrar CHECK_CAT(registrar_, name)(#name, name);                 \
  static void name()

#define CHECK(cond)                                                    \
  do {                                                                 \
    if (!(cond)) check::report(__FILE__, __LINE__, "CHECK(" #cond ")"); \
  } while (0)

#define CHECK_EQ(a, b)                                                                    \
  do {                                                                                    \
    const auto& check_a_ = (a);                                                           \
    const auto& check_b_ = (b);                                                           \
    if (!(check_a_ == check_b_))                                                          \
      check::report(__FILE__, __LINE__, check::describe(#a, #b, check_a_, check_b_));     \
  } while (0)

#define CHECK_NEAR(a, b, tol)                                                             \
  do {                                                                                    \
    const double check_a_ = (a);                                                          \
    const double check_b_ = (b);                                                          \
    if (!(std::fabs(check_a_ - check_b_) <= (tol)))                                       \
      check::report(__FILE__, __LINE__, check::describe(#a, #b, check_a_, check_b_));     \
  } while (0)
